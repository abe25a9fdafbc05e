// Builds archive bytes for tests: entries with a name, a checksum, a size and
// chunk references, each of which a test may set to anything, and the right
// values computed independently of the reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace archive_builder {

struct Reference {
    uint32_t offset;
    uint32_t count;
};

struct Entry {
    std::string name;
    uint32_t checksum;
    uint32_t size;
    std::vector<Reference> references;
};

// Low half of the 64-bit FNV-1a, computed in 64 bits as defined.
inline uint32_t fnv64_low(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    return static_cast<uint32_t>(hash);
}

// The slices of pool laid end to end.
inline std::string contents(const std::string &pool, const std::vector<Reference> &references) {
    std::string bytes;
    for (const Reference &reference : references) bytes += pool.substr(reference.offset, reference.count);
    return bytes;
}

// A valid entry for the slices: size and checksum match them.
inline Entry entry(std::string name, const std::string &pool, std::vector<Reference> references) {
    std::string bytes = contents(pool, references);
    return Entry{std::move(name), fnv64_low(bytes), static_cast<uint32_t>(bytes.size()), std::move(references)};
}

inline void put_u32(std::string &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// The directory bytes; with end_mark, the zero byte after the last entry.
inline std::string directory(const std::vector<Entry> &entries, bool end_mark = true) {
    std::string out;
    for (const Entry &entry : entries) {
        out += entry.name;
        out += '\0';
        put_u32(out, entry.checksum);
        put_u32(out, entry.size);
        for (const Reference &reference : entry.references) {
            put_u32(out, reference.offset);
            put_u32(out, reference.count);
        }
        put_u32(out, 0);
        put_u32(out, 0);
    }
    if (end_mark) out += '\0';
    return out;
}

// Where each entry's fields begin in directory(entries).
struct Layout {
    size_t name, checksum, references, end;  // end: the byte after the end of list
};
inline std::vector<Layout> layout(const std::vector<Entry> &entries) {
    std::vector<Layout> out;
    size_t at = 0;
    for (const Entry &entry : entries) {
        Layout place{at, at + entry.name.size() + 1, 0, 0};
        place.references = place.checksum + 8;
        place.end = place.references + 8 * (entry.references.size() + 1);
        out.push_back(place);
        at = place.end;
    }
    return out;
}

}  // namespace archive_builder

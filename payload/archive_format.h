// The payload archive's format and the walk of its directory, in the one form
// that both the installer's reader and the packer's check of its own output
// use. Freestanding C++ only: it builds into the installer, which has no C
// runtime, as it does into the host packer. The functions are static inline:
// each file that includes them keeps its own copy, so the optimiser may fold
// a function called once into its caller, as the installer's size needs.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The archive is two blocks of bytes written by the packer at build time.
//
// payload_pool holds the stored bytes. An entry's file is a list of slices of
// the pool laid end to end; a slice may serve any number of entries, which is
// how builds that share most of their bytes are stored once.
//
// payload_directory is the entries, one after another, with no header, count,
// alignment or padding, and one zero byte after the last. One entry:
//
//   name       ASCII, at least one character, then a zero byte
//   checksum   u32: low 32 bits of the 64-bit FNV-1a of the file's bytes
//   size       u32: the file's length
//   slices     any number of (offset u32, count u32) into the pool
//   end        8 zero bytes
//
// Integers are little-endian and unaligned: the checksum starts right after
// the name's zero byte. No slice but the end has offset and count both 0, and
// the first all-zero 8-byte group after the checksum and size ends the entry.
// No name begins with another, so a request selects exactly one entry.
//
// A compressed archive's pool block holds the pool as one LZMA stream behind
// a header of 24 bytes, and the directory's slices count in the decoded pool:
//
//   magic      8 bytes: "QVX-LZMA"
//   decoded    u32: the pool's length once decoded
//   stream     u32: the stream's length
//   checksum   u64: 64-bit FNV-1a of the two lengths and the stream
//   stream     5 bytes of LZMA properties, then the coded pool and its end mark
//
// The checksum covers the lengths as well as the stream, so that damage to
// either is found before memory is asked for or a byte is decoded. A pool
// block that does not begin with the magic is a plain pool.
//
// A reader trusts none of it: every walk stops at the directory's end. The
// checksum covers an entry's bytes but not its name, so exactly one name must
// begin with the request; none, or a second one (a damaged name that now looks
// like another), is damage. So are slices that leave the pool or do not add up
// to the size, found before any memory is asked for, so that a damaged size is
// never reported as a shortage of memory.
namespace archive_format {

// The checksum and size, each slice, and the end of a list are this long.
constexpr size_t GROUP_BYTES = 8;

static inline uint32_t read_u32(const uint8_t *bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

static inline bool is_end_of_list(const uint8_t *group) {
    for (size_t i = 0; i < GROUP_BYTES; ++i)
        if (group[i]) return false;
    return true;
}

// The 64-bit FNV-1a cut to its low 32 bits: the high half of the state never
// reaches the low half, so 32-bit arithmetic gives the same value.
constexpr uint32_t CHECKSUM_START = 0x84222325;
static inline uint32_t checksum_step(uint32_t hash, uint8_t byte) { return (hash ^ byte) * 0x1B3; }

static inline uint32_t checksum(const uint8_t *bytes, size_t size) {
    uint32_t hash = CHECKSUM_START;
    for (size_t i = 0; i < size; ++i) hash = checksum_step(hash, bytes[i]);
    return hash;
}

// An entry as a walk found it; its name is where the walk stood before it.
struct entry {
    uint32_t checksum;
    uint32_t size;
    const uint8_t *references;  // the first slice; the list ends at the first all-zero group
};

// Where one step of a walk stopped.
enum class walk {
    entry,          // a whole entry
    end,            // the zero byte after the last entry, or the directory's end
    cut_in_name,    // damage: the directory ends inside a name
    cut_in_fields,  // damage: it ends inside the checksum and size
    cut_in_list,    // damage: it ends inside the slices
};

// Reads the entry at `at` into found and moves `at` past it.
static inline walk next_entry(const uint8_t *&at, const uint8_t *end, entry *found) {
    if (at == end || !*at) return walk::end;
    while (at < end && *at) ++at;
    if (at == end) return walk::cut_in_name;
    const uint8_t *fields = at + 1;
    if (end - fields < ptrdiff_t(GROUP_BYTES)) return walk::cut_in_fields;
    found->checksum = read_u32(fields);
    found->size = read_u32(fields + 4);
    found->references = fields + GROUP_BYTES;
    for (const uint8_t *group = found->references; end - group >= ptrdiff_t(GROUP_BYTES); group += GROUP_BYTES) {
        if (!is_end_of_list(group)) continue;
        at = group + GROUP_BYTES;
        return walk::entry;
    }
    return walk::cut_in_list;
}

// The compressed form's header, as above.
constexpr uint8_t COMPRESSED_MAGIC[8] = {'Q', 'V', 'X', '-', 'L', 'Z', 'M', 'A'};
constexpr size_t COMPRESSED_HEADER_BYTES = 24;

static inline uint64_t stream_checksum(const uint8_t *lengths, const uint8_t *stream, size_t stream_bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < 8; ++i) hash = (hash ^ lengths[i]) * 0x100000001b3ull;
    for (size_t i = 0; i < stream_bytes; ++i) hash = (hash ^ stream[i]) * 0x100000001b3ull;
    return hash;
}

// The pool block as its first bytes tell.
struct pool_block {
    bool compressed;
    uint64_t size;          // the pool's length, decoded
    const uint8_t *stream;  // compressed only: the LZMA stream, its properties first
    uint32_t stream_bytes;
};

// False when the block begins with the magic but is not one header and the
// stream it declares. The checksum is left to stream_intact, for the one
// reader that decodes.
static inline bool read_pool_block(const uint8_t *start, const uint8_t *end, pool_block *pool) {
    size_t bytes = size_t(end - start);
    *pool = pool_block{false, bytes, nullptr, 0};
    for (size_t i = 0; i < sizeof COMPRESSED_MAGIC; ++i)
        if (i == bytes || start[i] != COMPRESSED_MAGIC[i]) return true;
    pool->compressed = true;
    if (bytes < COMPRESSED_HEADER_BYTES) return false;
    pool->size = read_u32(start + 8);
    pool->stream_bytes = read_u32(start + 12);
    pool->stream = start + COMPRESSED_HEADER_BYTES;
    return bytes - COMPRESSED_HEADER_BYTES == pool->stream_bytes;
}

static inline bool stream_intact(const pool_block &pool) {
    const uint8_t *header = pool.stream - COMPRESSED_HEADER_BYTES;
    uint64_t stored = uint64_t(read_u32(header + 16)) | uint64_t(read_u32(header + 20)) << 32;
    return stream_checksum(header + 8, pool.stream, pool.stream_bytes) == stored;
}

// The entry name's zero byte differs from every byte of request, so the
// comparison never runs past it.
static inline bool begins_with(const uint8_t *name, const char *request) {
    for (; *request; ++request, ++name)
        if (*name != uint8_t(*request)) return false;
    return true;
}

// The one entry whose name begins with request. False when none or more than
// one does, or when the directory cannot be walked to its end: the whole
// directory, not only up to the first match, since a second match is a
// damaged name that would otherwise let one build stand in for another.
static inline bool find(const uint8_t *at, const uint8_t *end, const char *request, entry *selected) {
    bool found = false;
    for (;;) {
        const uint8_t *name = at;
        entry walked;
        walk step = next_entry(at, end, &walked);
        if (step != walk::entry) return step == walk::end && found;
        if (!begins_with(name, request)) continue;
        if (found) return false;
        *selected = walked;
        found = true;
    }
}

// True when every slice of an entry that a walk found lies inside the pool and
// their counts add up to the entry's size.
static inline bool slices_fit(const uint8_t *references, uint32_t size, uint64_t pool_bytes) {
    // 64 bits, so that neither sum can wrap.
    uint64_t total = 0;
    for (const uint8_t *slice = references; !is_end_of_list(slice); slice += GROUP_BYTES) {
        uint32_t offset = read_u32(slice);
        uint32_t count = read_u32(slice + 4);
        if (uint64_t(offset) + count > pool_bytes) return false;
        total += count;
    }
    return total == size;
}

}  // namespace archive_format

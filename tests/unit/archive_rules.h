// An independent reader of packed archives for the tests: it holds an archive
// to every rule the installer's reader relies on and rebuilds each entry.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <lzma.h>

#include "payload/packer/writer/packer.h"

namespace {

using bytes = std::vector<uint8_t>;
using packer::input_file;

// The 32-bit form of the checksum: same value as the low half of the 64-bit
// FNV-1a, computed another way so the test does not repeat the packer.
uint32_t expected_checksum(const bytes &data) {
    uint32_t hash = 0x84222325u;
    for (uint8_t b : data) hash = (hash ^ b) * 0x1B3u;
    return hash;
}

uint32_t read32(const bytes &d, size_t at) {
    return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}

// The pool a compressed block holds, decoded by liblzma rather than the
// installer's decoder (none where it does not decode); a block without the
// magic is the pool itself.
bytes decoded(const bytes &block) {
    if (block.size() < 29 || std::string(block.begin(), block.begin() + 8) != "QVX-LZMA") return block;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(filters, nullptr, &block[24], 5) != LZMA_OK) return {};
    bytes pool(read32(block, 8) + size_t(1));  // room to spare, so that the end mark is read
    size_t in = 29, out = 0;
    lzma_ret result = lzma_raw_buffer_decode(filters, nullptr, block.data(), &in, block.size(), pool.data(), &out, pool.size());
    free(filters[0].options);
    pool.pop_back();
    return result == LZMA_OK && in == block.size() && out == pool.size() ? pool : bytes{};
}

struct slice {
    uint32_t offset, count;
};

struct walked_entry {
    std::string name;
    uint32_t checksum, size;
    std::vector<slice> slices;
};

// Walks the directory, holds it to every rule and rebuilds each entry from the pool.
testing::AssertionResult holds_rules(const packer::archive &a, const std::vector<input_file> &inputs,
                                     std::vector<walked_entry> *walked = nullptr) {
    const bytes pool = decoded(a.pool);
    std::vector<walked_entry> entries;
    size_t at = 0;
    const bytes &d = a.directory;
    for (const input_file &input : inputs) {
        walked_entry e;
        while (at < d.size() && d[at]) e.name += char(d[at++]);
        if (at + 9 > d.size()) return testing::AssertionFailure() << "directory cut short in " << e.name;
        ++at;
        e.checksum = read32(d, at);
        e.size = read32(d, at + 4);
        at += 8;
        for (;;) {
            if (at + 8 > d.size()) return testing::AssertionFailure() << "no end of list for " << e.name;
            slice s{read32(d, at), read32(d, at + 4)};
            at += 8;
            if (s.offset == 0 && s.count == 0) break;
            if (s.count == 0) return testing::AssertionFailure() << "empty reference in " << e.name;
            if (uint64_t(s.offset) + s.count > pool.size())
                return testing::AssertionFailure() << "reference past the pool in " << e.name;
            e.slices.push_back(s);
        }
        if (e.name != input.name) return testing::AssertionFailure() << "entry " << e.name << " for " << input.name;
        if (e.checksum == 0 && e.size == 0) return testing::AssertionFailure() << "checksum and size 0 in " << e.name;
        bytes rebuilt;
        for (const slice &s : e.slices) rebuilt.insert(rebuilt.end(), &pool[s.offset], &pool[s.offset] + s.count);
        if (rebuilt.size() != e.size) return testing::AssertionFailure() << "counts differ from size in " << e.name;
        if (expected_checksum(rebuilt) != e.checksum) return testing::AssertionFailure() << "checksum of " << e.name;
        if (rebuilt != input.bytes) return testing::AssertionFailure() << e.name << " does not rebuild its input";
        entries.push_back(e);
    }
    if (d.size() != at + 1 || d[at] != 0)
        return testing::AssertionFailure() << "directory must end with exactly one zero byte";
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t first = 0;
        while (entries[first].name.compare(0, inputs[i].name.size(), inputs[i].name) != 0) ++first;
        if (first != i) return testing::AssertionFailure() << inputs[i].name << " is shadowed by " << entries[first].name;
    }
    if (walked) *walked = entries;
    return testing::AssertionSuccess();
}

}  // namespace

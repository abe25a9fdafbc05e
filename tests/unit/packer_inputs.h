// Inputs for the packer's tests and the checks they share, on top of the
// independent reader in archive_rules.h. Inline: each test file takes only
// some of them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "archive_rules.h"
#include "payload/packer/writer/packer.h"

namespace {

using packer::layout;

struct test_rng {
    uint64_t state;
    uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

inline bytes random_bytes(size_t size, uint64_t seed) {
    test_rng r{seed * 2654435761u + 1};
    bytes out(size);
    for (uint8_t &b : out) b = static_cast<uint8_t>(r.next() >> 24);
    return out;
}

inline bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The simple layout: first file whole, then new runs that follow each
// other in the pool, and slices of the first file on 256-byte boundaries.
inline testing::AssertionResult holds_simple_layout(const packer::archive &a, const std::vector<input_file> &inputs) {
    std::vector<walked_entry> entries;
    testing::AssertionResult rules = holds_rules(a, inputs, &entries);
    if (!rules) return rules;
    uint32_t first_size = entries[0].size;
    if (first_size && (entries[0].slices.size() != 1 || entries[0].slices[0].offset != 0))
        return testing::AssertionFailure() << "first entry is not stored whole";
    uint64_t next_new = first_size;
    for (size_t i = 1; i < entries.size(); ++i) {
        bool previous_new = false;
        for (const slice &s : entries[i].slices) {
            bool is_new = s.offset >= first_size;
            if (is_new) {
                if (s.offset != next_new) return testing::AssertionFailure() << "new bytes out of order";
                if (previous_new) return testing::AssertionFailure() << "two new runs side by side";
                next_new += s.count;
            } else if (s.offset == 0 || s.offset % 256 || s.count < 16 || s.offset + s.count > first_size) {
                return testing::AssertionFailure() << "bad reused slice at " << s.offset << " of " << s.count;
            }
            previous_new = is_new;
        }
    }
    if (next_new != a.pool.size()) return testing::AssertionFailure() << "pool holds unreferenced bytes";
    return testing::AssertionSuccess();
}

inline packer::archive pack_ok(const std::vector<input_file> &inputs, layout mode, bool compressed = false) {
    packer::archive a;
    std::string error;
    EXPECT_TRUE(compressed ? packer::pack_compressed(inputs, a, error) : packer::pack(inputs, mode, a, error)) << error;
    return a;
}

// A base file and variants of it: scattered changed bytes, a block inserted
// part way (shifting the rest by an odd amount) and a block removed.
inline std::vector<input_file> shaped_inputs() {
    bytes base = random_bytes(60000, 7);
    bytes changed = base;
    test_rng r{99};
    for (size_t at = 100; at + 4 < changed.size(); at += 30 + r.next() % 40) changed[at] ^= 0x21;
    bytes inserted = concat({bytes(base.begin(), base.begin() + 20011), random_bytes(333, 8),
                             bytes(base.begin() + 20011, base.end())});
    bytes removed = concat({bytes(base.begin(), base.begin() + 9001), bytes(base.begin() + 9778, base.end())});
    return {{"bin/base", base}, {"bin/changed", changed}, {"bin/inserted", inserted}, {"bin/removed", removed}};
}

}  // namespace

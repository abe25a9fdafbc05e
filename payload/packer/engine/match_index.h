// Where the match finder looks up earlier windows of the same hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "payload/packer/engine/rolling_hash.h"

namespace packer {

// With anchors at one window in two, fewer ways drop the earlier builds'
// positions before the later builds look them up; a bucket fills one cache
// line.
constexpr size_t BUCKET_WAYS = 12;

// Each bucket keeps a one-byte fingerprint beside every position, so that a
// lookup touches the bytes only for windows that probably match; a byte
// rather than a word leaves room for more ways in the same memory. Positions
// are kept in 32 bits, as the distance back from where they are looked up:
// beyond 4 GiB of input an old one reads as a newer position, which is then
// just compared like any other.
struct alignas(64) bucket {
    uint32_t position[BUCKET_WAYS];  // low 32 bits of position + 1, 0 empty
    uint8_t tag[BUCKET_WAYS];
};

struct match_index {
    std::vector<bucket> buckets;
    unsigned shift;

    explicit match_index(uint64_t indexed_bytes) {
        unsigned bits = 10;
        while (bits < 22 && (uint64_t(1) << bits) * 64 < indexed_bytes) ++bits;
        buckets.assign(size_t(1) << bits, bucket{});
        // Anchors have their top bits clear: the bucket is taken from the bits below.
        shift = 64 - ANCHOR_BITS - bits;
    }

    // The low bits of the mixed hash come from the window's last bytes only.
    static uint8_t tag(uint64_t mixed) { return static_cast<uint8_t>(mixed >> 32); }

    const bucket &find(uint64_t mixed) const { return buckets[(mixed >> shift) & (buckets.size() - 1)]; }

    // The position stored in a way, seen from a later position.
    static uint64_t position(const bucket &b, size_t way, uint64_t from) {
        return from - static_cast<uint32_t>(static_cast<uint32_t>(from) - (b.position[way] - 1));
    }

    void insert(uint64_t mixed, uint64_t position) {
        bucket &b = buckets[(mixed >> shift) & (buckets.size() - 1)];
        uint32_t stored = static_cast<uint32_t>(position + 1);
        // Inside a run of one byte value keep the run's start: matches from it
        // reach furthest. (Positions are stored plus one: this is position - 1.)
        if (stored == 0 || (b.position[0] && b.position[0] == stored - 1 && b.tag[0] == tag(mixed))) return;
        // Through a copy of fixed size, which is moved in registers rather
        // than by a call: the index takes one insert for every other byte.
        bucket shifted;
        std::memcpy(shifted.position + 1, b.position, (BUCKET_WAYS - 1) * sizeof *b.position);
        std::memcpy(shifted.tag + 1, b.tag, (BUCKET_WAYS - 1) * sizeof *b.tag);
        std::memcpy(b.position + 1, shifted.position + 1, (BUCKET_WAYS - 1) * sizeof *b.position);
        std::memcpy(b.tag + 1, shifted.tag + 1, (BUCKET_WAYS - 1) * sizeof *b.tag);
        b.position[0] = stored;
        b.tag[0] = tag(mixed);
    }
};

}  // namespace packer

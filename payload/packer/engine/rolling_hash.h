// The rolling hash over short windows of bytes with which every layout finds
// repeated bytes, and the windows that are sampled.
#pragma once

#include <cstddef>
#include <cstdint>

namespace packer {

constexpr size_t WINDOW = 16;

// Gear rolling hash: each byte is shifted out after WINDOW steps.
struct gear_table {
    uint64_t value[256];
    gear_table();
};
extern const gear_table GEAR;

inline uint64_t roll(uint64_t hash, uint8_t byte) { return (hash << 4) + GEAR.value[byte]; }

inline uint64_t window_hash(const uint8_t *p) {
    uint64_t hash = 0;
    for (size_t i = 0; i < WINDOW; ++i) hash = roll(hash, p[i]);
    return hash;
}

inline uint64_t mix(uint64_t hash) { return hash * 0x9E3779B97F4A7C15ull; }

// Calls visit(position, mixed hash) for every window of the bytes.
template <class visitor>
void for_each_window(const uint8_t *data, size_t size, visitor visit) {
    if (size < WINDOW) return;
    uint64_t hash = window_hash(data);
    for (size_t at = 0;; ++at) {
        visit(at, mix(hash));
        if (at + WINDOW >= size) return;
        hash = roll(hash, data[at + WINDOW]);
    }
}

// The mixed hash of a window of zeros.
extern const uint64_t ZERO_WINDOW;

// Content-defined sampling: bytes are hashed at the same anchors wherever they
// stand, one window in 2^ANCHOR_BITS. Between two changed addresses a build
// shares stretches of a few dozen bytes with the one before; one anchor in
// two windows meets nearly every one of them (one in eight left a third of
// the stretches of 24 bytes unfound, each then stored anew). Zero padding
// between sections is common in executables: every window of zeros is an
// anchor, whatever its hash says.
constexpr unsigned ANCHOR_BITS = 1;
inline bool is_anchor(uint64_t mixed) { return (mixed >> (64 - ANCHOR_BITS)) == 0 || mixed == ZERO_WINDOW; }

// A sparser sample, for estimating which bytes later files hold again. Zeros
// are left out: every build holds some, which says nothing of the rest.
inline bool is_sample(uint64_t mixed) { return (mixed >> 58) == 0 && mixed != ZERO_WINDOW; }

// How many bytes are equal from a and b on, at most limit of them.
size_t forward_length(const uint8_t *a, const uint8_t *b, size_t limit);

// Bytes equal just before a and b, at most limit of them.
size_t backward_length(const uint8_t *a, const uint8_t *b, size_t limit);

}  // namespace packer

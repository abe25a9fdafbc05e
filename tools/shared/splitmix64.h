// splitmix64: well-mixed 64-bit numbers from a seed, tiny, and independent of
// the standard library, so that every machine draws the same ones. The sample
// builds and the packer's rolling hash are made from them.
#pragma once

#include <cstdint>

struct splitmix64 {
    uint64_t state;
    explicit splitmix64(uint64_t seed) : state(seed) {}
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

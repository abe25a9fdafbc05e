// Integers written least significant byte first, as the archive's directory,
// the icon file and the sample builds store them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace little_endian {

// The low size bytes of value, from at on.
inline void store(uint8_t *at, uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void put16(uint8_t *at, uint64_t value) { store(at, value, 2); }
inline void put32(uint8_t *at, uint64_t value) { store(at, value, 4); }
inline void put64(uint8_t *at, uint64_t value) { store(at, value, 8); }

// The same, appended to out.
inline void append(std::vector<uint8_t> &out, uint64_t value, size_t size) {
    out.resize(out.size() + size);
    store(out.data() + out.size() - size, value, size);
}

inline void put16(std::vector<uint8_t> &out, uint64_t value) { append(out, value, 2); }
inline void put32(std::vector<uint8_t> &out, uint64_t value) { append(out, value, 4); }

}  // namespace little_endian

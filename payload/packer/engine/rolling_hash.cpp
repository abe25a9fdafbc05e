#include "payload/packer/engine/rolling_hash.h"

#include <cstring>

#include "tools/shared/splitmix64.h"

namespace packer {

gear_table::gear_table() {
    splitmix64 seeds(0x9A8F1C3B5D7E2046ull);
    for (uint64_t &v : value) v = seeds.next();
}
// Defined before ZERO_WINDOW, which is computed with it.
const gear_table GEAR;

namespace {

uint64_t zero_window_mixed() {
    uint8_t zeros[WINDOW] = {};
    return mix(window_hash(zeros));
}

uint64_t load64(const uint8_t *p) {
    uint64_t value;
    std::memcpy(&value, p, 8);
    return value;
}

}  // namespace

const uint64_t ZERO_WINDOW = zero_window_mixed();

size_t forward_length(const uint8_t *a, const uint8_t *b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t diff = load64(a + n) ^ load64(b + n);
        if (diff) return n + (__builtin_ctzll(diff) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

size_t backward_length(const uint8_t *a, const uint8_t *b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t diff = load64(a - n - 8) ^ load64(b - n - 8);
        if (diff) return n + (__builtin_clzll(diff) >> 3);
        n += 8;
    }
    while (n < limit && a[-1 - static_cast<ptrdiff_t>(n)] == b[-1 - static_cast<ptrdiff_t>(n)]) ++n;
    return n;
}

}  // namespace packer

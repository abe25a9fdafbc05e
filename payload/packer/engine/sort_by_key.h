// A sort for the packer's large arrays of small integer keys.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

namespace packer {

// Sorts items by an unsigned key, counted into place DIGIT_BITS of the key
// at a time from the lowest, in as many passes as the largest key needs: on
// the hundred thousand cuts or jumps of a set of builds, several times as
// fast as comparing. Items of equal keys keep their order.
template <class item, class key_function>
void sort_by_key(std::vector<item> &items, key_function key) {
    constexpr unsigned DIGIT_BITS = 11;
    constexpr uint64_t DIGIT_MASK = (uint64_t(1) << DIGIT_BITS) - 1;
    uint64_t largest = 0;
    for (const item &i : items) largest = std::max<uint64_t>(largest, key(i));
    std::vector<item> sorted(items.size());
    for (unsigned shift = 0; shift < 64 && largest >> shift; shift += DIGIT_BITS) {
        std::vector<size_t> first(DIGIT_MASK + 2);
        for (const item &i : items) ++first[(key(i) >> shift & DIGIT_MASK) + 1];
        std::partial_sum(first.begin(), first.end(), first.begin());
        for (const item &i : items) sorted[first[key(i) >> shift & DIGIT_MASK]++] = i;
        items.swap(sorted);
    }
}

}  // namespace packer

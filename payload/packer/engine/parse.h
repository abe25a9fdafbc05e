// The priced parse of a file into reused slices and runs of new bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/packer/engine/later_copies.h"
#include "payload/packer/engine/match_finder.h"

namespace packer {

// At most this many parses of a file; they mostly stop sooner, once one
// saves next to nothing.
constexpr size_t MAX_PARSE_ROUNDS = 10;

// One step of a file's parse: a reused slice, or new bytes when source is NEW.
constexpr uint64_t NEW = (uint64_t(1) << 63) - 1;
using step = match;

struct priced_parse {
    std::vector<step> steps;  // they cover the file in order
    size_t rounds;            // how many parses were made
};

// The parse of file k, of size bytes, over its matches (as the match finder
// gives them for a pool of pool_size bytes) at the least price in pool and
// directory bytes, for it and for the later files that follow its slices.
priced_parse cheapest_parse(std::vector<match> matches, uint64_t pool_size, uint64_t size, const later_copies &later,
                            size_t k);

}  // namespace packer

// The price of a reference in a file is its own 8 bytes, and 8 more for every
// later file that holds the same bytes again and finds them nowhere earlier:
// such a file follows this one's slices, so each cut here is a reference
// there too. How many later files do so for each block of a file is
// estimated from sampled windows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/packer/writer/packer.h"

namespace packer {

// Costs are counted in 1/COST_SCALE of a byte, so that an expected number of
// later copies can weigh a reference without floating point.
constexpr uint64_t COST_SCALE = 256;
// Later copies of a file's bytes are estimated per block of this many bytes.
constexpr size_t ESTIMATE_BLOCK = 4096;

class later_copies {
  public:
    later_copies() = default;  // estimated beside the first file's matches
    explicit later_copies(const std::vector<input_file> &inputs);

    // COST_SCALE times (1 + the expected number of later files that follow
    // file k's slices at the position). A cut that file k takes over from an
    // earlier file's list (inherited) is paid by every later file that holds
    // the same bytes, wherever they were first seen: storing the stretch
    // whole in file k would spare it them all.
    uint64_t weight(size_t k, uint64_t position, bool inherited = false) const {
        const std::vector<uint32_t> &blocks = inherited ? all_holders_[k] : first_seen_[k];
        return blocks.empty() ? COST_SCALE : blocks[std::min<uint64_t>(position / ESTIMATE_BLOCK, blocks.size() - 1)];
    }

  private:
    // Per file, per block: counting the later files that hold bytes first
    // seen in the file, and those that hold its bytes at all.
    std::vector<std::vector<uint32_t>> first_seen_, all_holders_;
};

}  // namespace packer

// The two layouts, each packing every input into one packing run in
// directory order; false when the pool would outgrow its limit.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "payload/packer/writer/packing.h"

namespace packer {

// Each file parsed into reused slices and new bytes at the least price.
// beside_last_file, work that shares nothing with this packing, runs while
// the last file is parsed, when the second thread has least to do; it does
// not run if the packing fails before.
bool pack_deduplicated(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes,
                       const std::function<void()> &beside_last_file);

// The first file whole; later files reuse only 256-aligned slices of it.
bool pack_simple(packing &p, const std::vector<input_file> &inputs);

// Every file whole, one slice each, in order.
bool pack_whole(packing &p, const std::vector<input_file> &inputs);

}  // namespace packer

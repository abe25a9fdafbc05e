// The two layouts, each packing every input into one packing run in
// directory order; false when the pool would outgrow its limit.
#pragma once

#include <cstdint>
#include <vector>

#include "payload/packer/writer/packing.h"

namespace packer {

// Each file parsed into reused slices and new bytes at the least price.
bool pack_deduplicated(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes);

// The first file whole; later files reuse only 256-aligned slices of it.
bool pack_simple(packing &p, const std::vector<input_file> &inputs);

}  // namespace packer

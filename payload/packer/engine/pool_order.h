// The order of the deduplicated pool once every file is packed. The pool's
// blocks are cut wherever a reference starts or ends, and laid out in the
// order in which the files read them. New bytes enter the pool in the order
// the file that brings them reads them; where later files read one block
// after another that the pool holds elsewhere, placing it there spares each
// of them a reference. Blocks are joined greedily, the pairs read most first;
// a pair the pool does not hold side by side takes its blocks from their
// present neighbours, so half of the reads of those count against it.
#pragma once

#include <cstdint>
#include <vector>

#include "payload/packer/writer/packing.h"

namespace packer {

// Lays the pool out anew, and the files' lists with it, only where the new
// order spares references in all; otherwise leaves both as they are.
void order_pool(std::vector<uint8_t> &pool, std::vector<std::vector<reference>> &lists);

}  // namespace packer

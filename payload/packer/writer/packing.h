// One packing run's output as it grows: the pool, and the directory entries
// with their references, written in the archive's format
// (payload/archive_format.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/packer/writer/packer.h"

namespace packer {

struct reference {
    uint32_t offset;
    uint32_t count;
};

// Adjacent slices of the pool become one reference, when allowed to.
void add_reference(std::vector<reference> &list, uint64_t offset, uint64_t count, bool merge);

// State of one packing run: the pool being built and the references of the
// file being packed.
struct packing {
    archive &out;
    std::string &error;
    uint64_t pool_limit;
    // The simple layout keeps new runs and reused slices apart even where they touch.
    bool merge_kinds;
    const std::vector<uint32_t> &checksums;  // of the inputs, computed once for both layouts
    std::vector<reference> list;
    uint64_t run_start = 0;  // pool offset of the current run of new bytes
    bool last_new = false;
    // Sizes only: the pool's bytes are counted, not kept, for a layout that
    // is packed only to be weighed.
    bool sizes_only = false;
    uint64_t pool_size = 0;

    // New bytes at the pool's end; false, with the error set, beyond its limit.
    bool append(const uint8_t *bytes, size_t count) {
        if (pool_size + count > pool_limit) return outgrown(count);
        if (!sizes_only) out.pool.insert(out.pool.end(), bytes, bytes + count);
        pool_size += count;
        return true;
    }
    bool outgrown(size_t count);
    // Ends the current run of new bytes, if any, as one reference.
    void close_run();
    void reuse(uint64_t offset, uint64_t count);
    // The next file's directory entry, with these references.
    void write(const input_file &file, const std::vector<reference> &references);
    // The next file's directory entry, with the references gathered since the last.
    void finish_file(const input_file &file);
};

// The zero byte after the last entry, and the sizes in the statistics. Both
// layouts count only through a packing run: entries and references as each
// entry is written, the rest here.
void finish_archive(const packing &p);

}  // namespace packer

#include "payload/packer/writer/packing.h"

#include "tools/shared/little_endian.h"

namespace packer {
namespace {

using little_endian::put32;

void write_entry(std::vector<uint8_t> &directory, const input_file &file, uint32_t sum,
                 const std::vector<reference> &list) {
    directory.insert(directory.end(), file.name.begin(), file.name.end());
    directory.push_back(0);
    put32(directory, sum);
    put32(directory, static_cast<uint32_t>(file.bytes.size()));
    for (const reference &r : list) {
        put32(directory, r.offset);
        put32(directory, r.count);
    }
    put32(directory, 0);
    put32(directory, 0);
}

}  // namespace

void add_reference(std::vector<reference> &list, uint64_t offset, uint64_t count, bool merge) {
    if (count == 0) return;
    if (merge && !list.empty() && uint64_t(list.back().offset) + list.back().count == offset) {
        list.back().count += static_cast<uint32_t>(count);
        return;
    }
    list.push_back({static_cast<uint32_t>(offset), static_cast<uint32_t>(count)});
}

bool packing::outgrown(size_t count) {
    error = "the pool would outgrow 32-bit offsets (" + std::to_string(pool_size + count) + " bytes)";
    return false;
}

void packing::close_run() {
    uint64_t count = pool_size - run_start;
    if (count == 0) return;
    add_reference(list, run_start, count, merge_kinds || last_new);
    last_new = true;
    run_start = pool_size;
}

void packing::reuse(uint64_t offset, uint64_t count) {
    close_run();
    add_reference(list, offset, count, merge_kinds || !last_new);
    last_new = false;
}

void packing::write(const input_file &file, const std::vector<reference> &references) {
    write_entry(out.directory, file, checksums[out.stats.entries++], references);
    out.stats.references += references.size();
}

void packing::finish_file(const input_file &file) {
    close_run();
    write(file, list);
    list.clear();
    last_new = false;
}

void finish_archive(const packing &p) {
    archive &out = p.out;
    out.directory.push_back(0);
    out.stats.pool_bytes = p.pool_size;
    out.stats.directory_bytes = out.directory.size();
    // Every byte of the pool is a new byte of some file; the rest were reused.
    out.stats.new_bytes = p.pool_size;
    out.stats.reused_bytes = out.stats.input_bytes - p.pool_size;
}

}  // namespace packer

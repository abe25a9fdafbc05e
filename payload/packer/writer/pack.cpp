// The packer's entry points but the check of its output: the names, the
// choice between the two layouts, the summary and the heap it packs in.
#include <malloc.h>

#include <algorithm>
#include <functional>

#include "payload/archive_format.h"
#include "payload/packer/engine/second_thread.h"
#include "payload/packer/writer/layouts.h"
#include "payload/packer/writer/packer.h"
#include "payload/packer/writer/packing.h"

namespace packer {
namespace {

// sizes_only: the archive's sizes and directory, without the pool's bytes.
// beside_last_file runs beside the deduplicated layout's last file.
bool pack_layout(const std::vector<input_file> &inputs, const std::vector<uint32_t> &checksums, layout mode,
                 archive &out, std::string &error, uint64_t pool_limit, bool sizes_only = false,
                 const std::function<void()> &beside_last_file = [] {}) {
    out = archive{};
    packing p{out, error, pool_limit, mode != layout::simple, checksums, {}};
    p.sizes_only = sizes_only;
    for (const input_file &file : inputs) out.stats.input_bytes += file.bytes.size();
    // Untouched, the reserve costs no memory; it spares copying the pool as it grows.
    if (!sizes_only) out.pool.reserve(std::min(out.stats.input_bytes, pool_limit));
    bool packed = mode == layout::simple  ? pack_simple(p, inputs)
                  : mode == layout::whole ? pack_whole(p, inputs)
                                          : pack_deduplicated(p, inputs, out.stats.input_bytes, beside_last_file);
    if (!packed) return false;
    finish_archive(p);
    return true;
}

uint64_t total_bytes(const archive &a) { return a.stats.pool_bytes + a.stats.directory_bytes; }

std::string hex_digits(unsigned char c) {
    const char digits[] = "0123456789abcdef";
    return {digits[c >> 4], digits[c & 15]};
}

// The name quoted on one line, whatever bytes it holds.
std::string quoted_name(const std::string &name) {
    std::string shown = "\"";
    for (unsigned char c : name) shown += c >= 0x20 && c < 0x7f ? std::string(1, c) : "\\x" + hex_digits(c);
    return shown + "\"";
}

}  // namespace

// The reader takes a request to name exactly one entry: a second entry whose
// name begins with the request is damage to it, whichever stands first.
std::string check_names(const std::vector<input_file> &inputs) {
    if (inputs.empty()) return "no entries to pack";
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string &name = inputs[i].name;
        if (name.empty()) return "entry " + std::to_string(i + 1) + " has an empty name";
        // A control character would break the listing of the entries, one a line.
        for (unsigned char c : name)
            if (c < 0x20 || c >= 0x7f)
                return "entry name " + quoted_name(name) + " has the byte 0x" + hex_digits(c) +
                       "; names take printable ASCII characters only (0x20 to 0x7e)";
        for (size_t j = 0; j < i; ++j) {
            const std::string &earlier = inputs[j].name;
            if (earlier == name) return "duplicate entry name \"" + name + "\"";
            bool begins_earlier = earlier.compare(0, name.size(), name) == 0;
            if (!begins_earlier && name.compare(0, earlier.size(), earlier) != 0) continue;
            std::string how = begins_earlier ? "\" begins the earlier name \"" : "\" begins with the earlier name \"";
            return "entry name \"" + name + how + earlier + "\": the installer would take a request for \"" +
                   (begins_earlier ? name : earlier) + "\" to name two entries; no name may begin another";
        }
    }
    return "";
}

bool pack(const std::vector<input_file> &inputs, layout mode, archive &out, std::string &error, uint64_t pool_limit) {
    pool_limit = std::min(pool_limit, MAX_POOL_BYTES);
    std::vector<uint32_t> checksums(inputs.size());
    in_halves(inputs.size(), [&](size_t first, size_t last) {
        for (size_t i = first; i < last; ++i)
            checksums[i] = archive_format::checksum(inputs[i].bytes.data(), inputs[i].bytes.size());
    });
    if (mode != layout::deduplicated) return pack_layout(inputs, checksums, mode, out, error, pool_limit);
    // The simple layout is weighed beside the deduplicated one's last file:
    // only its sizes are kept, and its pool's bytes never. The limit holds
    // for the layout written: either may be the one that fits.
    bool simple_fits = false;
    uint64_t simple_total = 0;
    auto weigh_simple = [&] {
        archive simple;
        std::string simple_error;
        simple_fits = pack_layout(inputs, checksums, layout::simple, simple, simple_error, pool_limit, true);
        simple_total = simple_fits ? total_bytes(simple) : 0;
    };
    std::string dedup_error;
    bool packed =
        pack_layout(inputs, checksums, layout::deduplicated, out, dedup_error, pool_limit, false, weigh_simple);
    uint64_t dedup_total = packed ? total_bytes(out) : 0;
    if (!packed || (simple_fits && dedup_total > simple_total)) {
        // Where the deduplicated pool outgrew its limit, the simple layout was never weighed.
        std::vector<uint32_t> rounds = std::move(out.stats.parse_rounds);
        if (!pack_layout(inputs, checksums, layout::simple, out, error, pool_limit)) {
            if (!packed) error = dedup_error;
            return false;
        }
        out.stats.simple_layout_written = true;
        out.stats.parse_rounds = std::move(rounds);
        if (!packed) simple_total = total_bytes(out);
    }
    out.stats.simple_layout_bytes = simple_total;
    out.stats.deduplicated_bytes = dedup_total;
    return true;
}

std::string summary(const statistics &s) {
    std::string line = "packer: " + std::to_string(s.entries) + " entries, input " + std::to_string(s.input_bytes) +
                       " bytes, pool " + std::to_string(s.pool_bytes) + " bytes, directory " +
                       std::to_string(s.directory_bytes) + " bytes, reused " + std::to_string(s.reused_bytes) +
                       " bytes, new " + std::to_string(s.new_bytes) + " bytes, " + std::to_string(s.references) +
                       " references";
    if (!s.parse_rounds.empty()) {
        line += ", parse rounds per file";
        for (uint32_t rounds : s.parse_rounds) line += " " + std::to_string(rounds);
    }
    if (s.compressed_pool_bytes)
        return line + "; pool compressed to " + std::to_string(s.compressed_pool_bytes) + " bytes, the archive " +
               (s.whole_written ? "of the files whole" : "deduplicated") + " written; compressed, the files whole take " +
               std::to_string(s.whole_compressed_bytes) + " bytes, deduplicated " +
               std::to_string(s.deduplicated_compressed_bytes);
    if (!s.simple_layout_written)
        return s.simple_layout_bytes ? line + "; simple layout " + std::to_string(s.simple_layout_bytes) + " bytes"
                                     : line;
    if (!s.deduplicated_bytes) return line + "; simple layout written, as the deduplicated pool would outgrow its limit";
    return line + "; simple layout written, as the deduplicated one would take " +
           std::to_string(s.deduplicated_bytes) + " bytes";
}

// One heap for all of the packer's threads: the matches found on one are let
// go on another, and a heap per thread keeps apart what each lets go. Blocks
// of megabytes (the match index, the pool) are mapped and given back whole,
// and free space at the heap's top beyond 2 MB is given back. Left to
// itself, the heap raises both bounds once the first large block is freed,
// and then keeps the space of the large blocks that the rounds of each file
// take and let go on two threads: the peak grew by a tenth from one packing
// to the next in one process.
void set_up_heap() {
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 2 << 20);
}

}  // namespace packer

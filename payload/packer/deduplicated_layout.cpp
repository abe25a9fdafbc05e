#include "payload/packer/contents.h"
#include "payload/packer/later_copies.h"
#include "payload/packer/layouts.h"
#include "payload/packer/match_finder.h"
#include "payload/packer/match_index.h"
#include "payload/packer/parse.h"

namespace packer {
namespace {

// Packs each file by the cheapest parse over its matches, and keeps its list
// for the files after it.
class deduplicator {
  public:
    deduplicator(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes)
        : p_(p), inputs_(inputs), later_(inputs), all_(inputs), index_(input_bytes),
          finder_(all_, index_, p.out.pool) {}

    bool pack_file(size_t k) {
        const input_file &file = inputs_[k];
        pool_before_ = p_.out.pool.size();
        priced_parse parse = cheapest_parse(finder_.find(k, pool_before_), pool_before_, file.bytes.size(), later_, k);
        p_.out.stats.parse_rounds.push_back(static_cast<uint32_t>(parse.rounds));
        placed_.list.clear();
        placed_.at.clear();
        for (const step &s : parse.steps)
            if (!take(file.bytes.data(), s)) return false;
        p_.write(file, placed_.list);
        all_.packed(k, std::move(placed_));
        return true;
    }

  private:
    packing &p_;
    const std::vector<input_file> &inputs_;
    later_copies later_;
    contents all_;
    match_index index_;
    match_finder finder_;
    uint64_t pool_before_ = 0;
    placed_list placed_;

    // The file's own earlier bytes lie wherever its list put them: in its new
    // bytes or in the slices it reused.
    bool take(const uint8_t *data, const step &s) {
        uint64_t count = s.end - s.start;
        if (s.source == NEW) {
            uint64_t offset = p_.out.pool.size();
            if (!p_.append(data + s.start, count)) return false;
            p_.out.stats.new_bytes += count;
            placed_.add(offset, count, s.start);
            return true;
        }
        p_.out.stats.reused_bytes += count;
        if (s.source < pool_before_) {
            placed_.add(s.source, count, s.start);
            return true;
        }
        placed_.slices(s.source - pool_before_, count, s.start, [&](uint64_t offset, uint64_t piece, uint64_t at) {
            placed_.add(offset, piece, at);
        });
        return true;
    }
};

}  // namespace

bool pack_deduplicated(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes) {
    deduplicator packer(p, inputs, input_bytes);
    for (size_t i = 0; i < inputs.size(); ++i)
        if (!packer.pack_file(i)) return false;
    return true;
}

}  // namespace packer

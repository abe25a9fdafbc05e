#include <cstring>

#include "payload/packer/engine/contents.h"
#include "payload/packer/engine/later_copies.h"
#include "payload/packer/engine/match_finder.h"
#include "payload/packer/engine/match_index.h"
#include "payload/packer/engine/parse.h"
#include "payload/packer/engine/pool_order.h"
#include "payload/packer/engine/second_thread.h"
#include "payload/packer/writer/layouts.h"

namespace packer {
namespace {

// Where the pool last holds each pair of bytes, and each single byte, and
// (through a small hashed table, where the last one in a slot wins) a place
// of many a triple. A short run of new bytes costs its bytes and its
// reference; where the pool already holds them, a reference to them costs
// only the reference. Runs of new bytes between reused slices are mostly a
// few changed bytes, and the pool, over a few files of code, holds nearly
// every pair and many triples.
class pool_pairs {
  public:
    static constexpr uint64_t NOWHERE = UINT32_MAX;

    pool_pairs() : single_(256, NOWHERE), pair_(65536, NOWHERE), triple_(size_t(1) << TRIPLE_BITS, NOWHERE) {}

    // Takes in the pool's bytes from where the last call stopped.
    void grown(const std::vector<uint8_t> &pool) {
        const uint8_t *bytes = pool.data();
        uint32_t *single = single_.data(), *pair = pair_.data(), *triple = triple_.data();
        size_t at = indexed_, end = pool.size();
        for (; at < end && at < 2; ++at) {
            single[bytes[at]] = static_cast<uint32_t>(at);
            if (at) pair[bytes[at - 1] << 8 | bytes[at]] = static_cast<uint32_t>(at - 1);
        }
        for (; at < end; ++at) {
            single[bytes[at]] = static_cast<uint32_t>(at);
            pair[bytes[at - 1] << 8 | bytes[at]] = static_cast<uint32_t>(at - 1);
            triple[slot(bytes + at - 2)] = static_cast<uint32_t>(at - 2);
        }
        indexed_ = at;
    }

    // A pool offset that holds bytes[0, count), or NOWHERE.
    uint64_t find(const std::vector<uint8_t> &pool, const uint8_t *bytes, uint64_t count) const {
        if (count == 1) return single_[bytes[0]];
        uint64_t offset = count == 2 ? pair_[bytes[0] << 8 | bytes[1]] : triple_[slot(bytes)];
        return holds(pool, offset, bytes, count) ? offset : NOWHERE;
    }

    static bool holds(const std::vector<uint8_t> &pool, uint64_t offset, const uint8_t *bytes, uint64_t count) {
        return offset <= pool.size() && count <= pool.size() - offset && !std::memcmp(&pool[offset], bytes, count);
    }

  private:
    // The pool's limit keeps every offset below UINT32_MAX, which marks none.
    std::vector<uint32_t> single_, pair_, triple_;
    // A megabyte of slots: four times as many find only a little more, and
    // memory is short.
    static constexpr unsigned TRIPLE_BITS = 18;
    static size_t slot(const uint8_t *b) {
        return ((uint32_t(b[0]) << 16 | b[1] << 8 | b[2]) * 0x9E3779B1u) >> (32 - TRIPLE_BITS);
    }
    uint64_t indexed_ = 0;
};

// Packs each file by the cheapest parse over its matches, and keeps its list
// for the files after it.
class deduplicator {
  public:
    deduplicator(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes,
                 const std::function<void()> &beside_last_file)
        : p_(p), inputs_(inputs), beside_last_file_(beside_last_file), all_(inputs), index_(input_bytes),
          finder_(all_, index_, p.out.pool) {}

    // The first file's matches are found while the later copies are
    // estimated; each later file's on a second thread as soon as the file
    // before it is found, while the files before it are parsed and laid out
    // (finding has time to spare: the parse is what everything waits for).
    // Finding reads only the files' bytes and the match index, which nothing
    // else touches meanwhile; the matches become pool slices once the lists
    // before them are known. The result is the same either way.
    bool pack_files() {
        if (inputs_.empty()) return true;
        found_matches found;
        side_by_side([&] { later_ = later_copies(inputs_); }, [&] { found = finder_.find(0); });
        made_ahead<found_matches> later_found(inputs_.size() - 1, [&](size_t k) {
            found_matches matches = finder_.find(k + 1);
            // The last file's matches are found: the index is let go.
            if (k + 2 == inputs_.size()) std::vector<bucket>().swap(index_.buckets);
            return matches;
        });
        for (size_t k = 0; k < inputs_.size(); ++k) {
            if (k) found = later_found.take(k - 1);
            pool_before_ = p_.out.pool.size();
            std::vector<match> matches = finder_.slices(k, found, pool_before_);
            found_matches().swap(found);
            bool packed = false;
            auto pack_this = [&] { packed = pack_file(k, std::move(matches)); };
            if (k + 1 < inputs_.size())
                pack_this();
            else
                side_by_side(beside_last_file_, pack_this);
            if (!packed) return false;
        }
        return true;
    }

    std::vector<std::vector<reference>> lists() const {
        std::vector<std::vector<reference>> lists;
        for (size_t k = 0; k < inputs_.size(); ++k) lists.push_back(all_.list(k).list);
        return lists;
    }

  private:
    packing &p_;
    const std::vector<input_file> &inputs_;
    const std::function<void()> &beside_last_file_;
    later_copies later_;
    contents all_;
    match_index index_;
    match_finder finder_;
    uint64_t pool_before_ = 0;
    placed_list placed_;
    pool_pairs pairs_;

    bool pack_file(size_t k, std::vector<match> matches) {
        const input_file &file = inputs_[k];
        priced_parse parse = cheapest_parse(std::move(matches), pool_before_, file.bytes.size(), later_, k);
        p_.out.stats.parse_rounds.push_back(static_cast<uint32_t>(parse.rounds));
        placed_.list.clear();
        placed_.at.clear();
        for (size_t i = 0; i < parse.steps.size(); ++i) {
            const step *next = i + 1 < parse.steps.size() ? &parse.steps[i + 1] : nullptr;
            if (!take(file.bytes.data(), parse.steps[i], next)) return false;
        }
        all_.packed(k, std::move(placed_));
        return true;
    }

    // The file's own earlier bytes lie wherever its list put them: in its new
    // bytes or in the slices it reused.
    bool take(const uint8_t *data, const step &s, const step *next) {
        uint64_t count = s.end - s.start;
        if (s.source == NEW) {
            uint64_t held = held_in_pool(data + s.start, count, next);
            if (held != pool_pairs::NOWHERE) {
                placed_.add(held, count, s.start);
                return true;
            }
            uint64_t offset = p_.out.pool.size();
            if (!p_.append(data + s.start, count)) return false;
            placed_.add(offset, count, s.start);
            return true;
        }
        if (s.source < pool_before_) {
            placed_.add(s.source, count, s.start);
            return true;
        }
        placed_.slices(s.source - pool_before_, count, s.start, [&](uint64_t offset, uint64_t piece, uint64_t at) {
            placed_.add(offset, piece, at);
        });
        return true;
    }

    // Where the pool already holds a run's bytes: best right after the slice
    // before it or right before the slice after it, where the reference
    // merges with that slice's.
    uint64_t held_in_pool(const uint8_t *bytes, uint64_t count, const step *next) {
        const std::vector<uint8_t> &pool = p_.out.pool;
        if (!placed_.list.empty()) {
            uint64_t after = uint64_t(placed_.list.back().offset) + placed_.list.back().count;
            if (pool_pairs::holds(pool, after, bytes, count)) return after;
        }
        if (next && next->source < pool_before_ && next->source >= count &&
            pool_pairs::holds(pool, next->source - count, bytes, count))
            return next->source - count;
        pairs_.grown(pool);
        return pairs_.find(pool, bytes, count);
    }
};

}  // namespace

bool pack_deduplicated(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes,
                       const std::function<void()> &beside_last_file) {
    std::vector<std::vector<reference>> lists;
    {
        // Its match index and tables are let go before the pool is laid out anew.
        deduplicator packer(p, inputs, input_bytes, beside_last_file);
        if (!packer.pack_files()) return false;
        lists = packer.lists();
    }
    order_pool(p.out.pool, lists);
    for (size_t i = 0; i < inputs.size(); ++i) p.write(inputs[i], lists[i]);
    return true;
}

}  // namespace packer

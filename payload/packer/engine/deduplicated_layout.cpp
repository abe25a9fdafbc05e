#include <algorithm>
#include <cstring>
#include <numeric>

#include "payload/packer/engine/contents.h"
#include "payload/packer/engine/later_copies.h"
#include "payload/packer/engine/match_finder.h"
#include "payload/packer/engine/match_index.h"
#include "payload/packer/engine/parse.h"
#include "payload/packer/writer/layouts.h"

namespace packer {
namespace {

// Where the pool last holds each pair of bytes, and each single byte. A short
// run of new bytes costs its bytes and its reference; where the pool already
// holds them, a reference to them costs only the reference. Runs of new bytes
// between reused slices are mostly a few changed bytes, and the pool, over a
// few files of code, holds nearly every pair.
class pool_pairs {
  public:
    static constexpr uint64_t NOWHERE = UINT32_MAX;

    pool_pairs() : single_(256, NOWHERE), pair_(65536, NOWHERE) {}

    // Takes in the pool's bytes from where the last call stopped.
    void grown(const std::vector<uint8_t> &pool) {
        for (; indexed_ < pool.size(); ++indexed_) {
            single_[pool[indexed_]] = static_cast<uint32_t>(indexed_);
            if (indexed_) pair_[pool[indexed_ - 1] << 8 | pool[indexed_]] = static_cast<uint32_t>(indexed_ - 1);
        }
    }

    // A pool offset that holds bytes[0, count), or NOWHERE.
    uint64_t find(const std::vector<uint8_t> &pool, const uint8_t *bytes, uint64_t count) const {
        if (count == 1) return single_[bytes[0]];
        uint64_t offset = pair_[bytes[0] << 8 | bytes[1]];
        return holds(pool, offset, bytes, count) ? offset : NOWHERE;
    }

    static bool holds(const std::vector<uint8_t> &pool, uint64_t offset, const uint8_t *bytes, uint64_t count) {
        return offset <= pool.size() && count <= pool.size() - offset && !std::memcmp(&pool[offset], bytes, count);
    }

  private:
    // The pool's limit keeps every offset below UINT32_MAX, which marks none.
    std::vector<uint32_t> single_, pair_;
    uint64_t indexed_ = 0;
};

// The pool's blocks, cut wherever a reference starts or ends, in the order in
// which the files read them. New bytes enter the pool in the order the file
// that brings them reads them; where later files read one block after
// another that the pool holds elsewhere, placing it there spares each of
// them a reference. Blocks are joined greedily, the pairs read most first; a
// pair the pool does not hold side by side takes its blocks from their
// present neighbours, so half of the reads of those count against it. The
// new order is taken only when it spares references in all.
class pool_order {
  public:
    pool_order(const std::vector<uint8_t> &pool, const std::vector<std::vector<reference>> &lists)
        : cut_(pool.size() / 64 + 1), cuts_before_(cut_.size()) {
        mark_cut(0);
        mark_cut(static_cast<uint32_t>(pool.size()));
        for (const std::vector<reference> &list : lists)
            for (const reference &r : list) {
                mark_cut(r.offset);
                mark_cut(r.offset + r.count);
            }
        for (size_t w = 0; w < cut_.size(); ++w) {
            for (uint64_t bits = cut_[w]; bits; bits &= bits - 1)
                cuts_.push_back(static_cast<uint32_t>(w * 64 + __builtin_ctzll(bits)));
            if (w + 1 < cut_.size()) cuts_before_[w + 1] = static_cast<uint32_t>(cuts_.size());
        }
        if (cuts_.size() < 3) return;
        size_t blocks = cuts_.size() - 1;
        after_.assign(blocks, NONE);
        before_.assign(blocks, NONE);
        chain_.resize(blocks);
        std::iota(chain_.begin(), chain_.end(), 0);
        uint64_t kept = 0, joined = 0;
        for (const pair &p : read_pairs(lists)) {
            kept += p.first + 1 == p.then ? p.reads : 0;
            joined += join(p) ? p.reads : 0;
        }
        if (joined <= kept) return;
        start_.assign(blocks, 0);
        uint32_t at = 0;
        for (uint32_t b = 0; b < blocks; ++b) {
            if (before_[b] != NONE) continue;
            for (uint32_t joined_on = b; joined_on != NONE; joined_on = after_[joined_on]) {
                start_[joined_on] = at;
                at += cuts_[joined_on + 1] - cuts_[joined_on];
            }
        }
    }

    bool changed() const { return !start_.empty(); }

    std::vector<uint8_t> pool(const std::vector<uint8_t> &pool) const {
        std::vector<uint8_t> laid(pool.size());
        for (size_t b = 0; b < start_.size(); ++b)
            std::memcpy(laid.data() + start_[b], pool.data() + cuts_[b], cuts_[b + 1] - cuts_[b]);
        return laid;
    }

    std::vector<reference> list(const std::vector<reference> &list) const {
        std::vector<reference> laid;
        for (const reference &r : list)
            for (uint32_t b = block(r.offset); cuts_[b] < r.offset + r.count; ++b)
                add_reference(laid, start_[b], cuts_[b + 1] - cuts_[b], true);
        return laid;
    }

  private:
    static constexpr uint32_t NONE = UINT32_MAX;
    struct pair {
        uint32_t first, then, reads;
        int32_t rank;  // twice the reads, less those of the neighbours it parts
    };
    // Pool offsets, which the pool's limit keeps in 32 bits. The cuts are
    // marked one bit per offset, so that a cut's block is counted, not searched.
    std::vector<uint64_t> cut_;
    std::vector<uint32_t> cuts_before_, cuts_, start_;
    std::vector<uint32_t> after_, before_, chain_;

    void mark_cut(uint32_t offset) { cut_[offset / 64] |= uint64_t(1) << (offset % 64); }

    uint32_t block(uint32_t cut) const {
        return cuts_before_[cut / 64] +
               static_cast<uint32_t>(__builtin_popcountll(cut_[cut / 64] & ((uint64_t(1) << (cut % 64)) - 1)));
    }

    // Every pair of blocks that a file reads one after the other, with how
    // many times it is read, by falling rank. A file's slices that meet in
    // the pool are one reference, so two of its references never read
    // neighbours.
    std::vector<pair> read_pairs(const std::vector<std::vector<reference>> &lists) const {
        size_t blocks = cuts_.size() - 1;
        std::vector<int32_t> onward(blocks + 1);  // reads of b then b + 1, as differences
        std::vector<uint64_t> jumps;
        for (const std::vector<reference> &list : lists) {
            uint32_t last = NONE;
            for (const reference &r : list) {
                uint32_t first = block(r.offset), end = block(r.offset + r.count);
                if (last != NONE) jumps.push_back(uint64_t(last) << 32 | first);
                ++onward[first];
                --onward[end - 1];
                last = end - 1;
            }
        }
        std::partial_sum(onward.begin(), onward.end(), onward.begin());
        std::sort(jumps.begin(), jumps.end());
        std::vector<pair> pairs;
        for (uint32_t b = 0; b + 1 < blocks; ++b)
            if (onward[b]) pairs.push_back({b, b + 1, uint32_t(onward[b]), 2 * onward[b]});
        for (size_t i = 0, j; i < jumps.size(); i = j) {
            for (j = i; j < jumps.size() && jumps[j] == jumps[i]; ++j) {}
            uint32_t first = uint32_t(jumps[i] >> 32), then = uint32_t(jumps[i]);
            int32_t rank = 2 * int32_t(j - i) - onward[first] - (then ? onward[then - 1] : 0);
            if (rank > 0) pairs.push_back({first, then, uint32_t(j - i), rank});
        }
        // Ranks are small: counted into place, in the order found within a rank.
        int32_t top = 0;
        for (const pair &p : pairs) top = std::max(top, p.rank);
        std::vector<uint32_t> from(top + 2);
        for (const pair &p : pairs) ++from[top - p.rank + 1];
        std::partial_sum(from.begin(), from.end(), from.begin());
        std::vector<pair> ranked(pairs.size(), pair{});
        for (const pair &p : pairs) ranked[from[top - p.rank]++] = p;
        return ranked;
    }

    // Puts p.then right after p.first if neither has that side taken and it
    // closes no loop.
    bool join(const pair &p) {
        if (after_[p.first] != NONE || before_[p.then] != NONE) return false;
        uint32_t a = chain_of(p.first), b = chain_of(p.then);
        if (a == b) return false;
        chain_[a] = b;
        after_[p.first] = p.then;
        before_[p.then] = p.first;
        return true;
    }

    uint32_t chain_of(uint32_t b) {
        while (chain_[b] != b) b = chain_[b] = chain_[chain_[b]];
        return b;
    }
};

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
        for (size_t i = 0; i < parse.steps.size(); ++i) {
            const step *next = i + 1 < parse.steps.size() ? &parse.steps[i + 1] : nullptr;
            if (!take(file.bytes.data(), parse.steps[i], next)) return false;
        }
        all_.packed(k, std::move(placed_));
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
    later_copies later_;
    contents all_;
    match_index index_;
    match_finder finder_;
    uint64_t pool_before_ = 0;
    placed_list placed_;
    pool_pairs pairs_;

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

bool pack_deduplicated(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes) {
    std::vector<std::vector<reference>> lists;
    {
        // Its match index and tables are let go before the pool is laid out anew.
        deduplicator packer(p, inputs, input_bytes);
        for (size_t i = 0; i < inputs.size(); ++i)
            if (!packer.pack_file(i)) return false;
        lists = packer.lists();
    }
    pool_order order(p.out.pool, lists);
    if (order.changed()) {
        p.out.pool = order.pool(p.out.pool);
        for (std::vector<reference> &list : lists) list = order.list(list);
    }
    for (size_t i = 0; i < inputs.size(); ++i) p.write(inputs[i], lists[i]);
    return true;
}

}  // namespace packer

#include "payload/packer/engine/pool_order.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include "payload/packer/engine/second_thread.h"
#include "payload/packer/engine/sort_by_key.h"

namespace packer {
namespace {

// The pool cut into blocks, and where each block starts in the new order,
// if one was taken.
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
        sort_by_key(jumps, [&](uint64_t jump) { return (jump >> 32) * blocks + uint32_t(jump); });
        std::vector<pair> pairs;
        pairs.reserve(blocks + jumps.size());
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

}  // namespace

void order_pool(std::vector<uint8_t> &pool, std::vector<std::vector<reference>> &lists) {
    pool_order order(pool, lists);
    if (!order.changed()) return;
    // The pool is copied in its new order while the lists are laid out anew.
    side_by_side([&] { pool = order.pool(pool); },
                 [&] {
                     for (std::vector<reference> &list : lists) list = order.list(list);
                 });
}

}  // namespace packer

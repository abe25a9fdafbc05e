#include "payload/packer/engine/match_finder.h"

#include <algorithm>
#include <cstring>

#include "payload/packer/engine/rolling_hash.h"

namespace packer {

constexpr size_t PROBE_BYTES = 4;
constexpr size_t LOOK_AHEAD = 64;
constexpr size_t FLOOR_MATCHES = 16;

namespace {

// Backwards every comparison stops where the match FLOOR_MATCHES before
// the nth one started: going back further than the last match found finds
// longer matches, and so each byte is still compared a few times at most.
uint64_t back_floor(const found_matches &found, size_t nth) {
    return nth >= FLOOR_MATCHES ? found[nth - FLOOR_MATCHES].start : 0;
}

}  // namespace

found_matches match_finder::find(size_t k) {
    base_ = all_.base(k);
    data_ = all_.bytes(k).data();
    size_ = all_.bytes(k).size();
    found_.clear();
    recent_count_ = 0;
    covered_ = 0;
    scan();
    return std::move(found_);
}

std::vector<match> match_finder::slices(size_t k, const found_matches &found, uint64_t pool_size) const {
    const std::vector<uint8_t> &bytes = all_.bytes(k);
    uint64_t base = all_.base(k), pool_reach = 0;
    std::vector<match> out;
    out.reserve(found.size() + found.size() / 4);
    for (size_t i = 0; i < found.size(); ++i) {
        const match &m = found[i];
        if (m.source >= base) {
            out.push_back({m.start, m.end, pool_size + m.source - base});
            continue;
        }
        size_t earlier = all_.file_of(m.source), first = out.size();
        all_.list(earlier).slices(m.source - all_.base(earlier), m.end - m.start, m.start,
                                  [&](uint64_t offset, uint64_t count, uint64_t position) {
                                      out.push_back({position, position + count, offset, position != m.start});
                                      run_on_in_pool(bytes, out.back(), pool_reach, pool_size);
                                  });
        uint64_t back_reach = UINT64_MAX, floor = std::min<uint64_t>(back_floor(found, i), m.start);
        for (size_t j = out.size(); j-- > first;) run_back_in_pool(bytes, out[j], back_reach, floor);
    }
    return out;
}

// Positions inside a found match are skipped: a match that goes on past
// its end is found again at the anchors after it. Only the skipped bytes
// are left out of the index, as they are found where they came from. An
// anchor is looked up even where a recent distance has just matched from it:
// that match may be a few bytes that happen to agree, and the index knows
// the one that goes on.
void match_finder::scan() {
    uint64_t hash = 0;
    bool hashed = false;
    ahead_at_ = SIZE_MAX;
    for (size_t at = 0; at < size_; ++at) {
        if (at < covered_) {
            at = covered_ - 1;
            hashed = false;
            continue;
        }
        fetch_ahead(at + LOOK_AHEAD);
        try_recent(at);
        if (at + WINDOW > size_) continue;
        hash = hashed ? roll(hash, data_[at + WINDOW - 1]) : window_hash(data_ + at);
        hashed = true;
        uint64_t mixed = mix(hash);
        if (!is_anchor(mixed)) continue;
        look_up(at, mixed);
        index_.insert(mixed, base_ + at);
    }
}

// The bucket of an anchor a little further on is fetched from memory while
// the bytes before it are scanned.
void match_finder::fetch_ahead(size_t ahead) {
    if (ahead + WINDOW > size_) return;
    ahead_hash_ = ahead_at_ + 1 == ahead ? roll(ahead_hash_, data_[ahead + WINDOW - 1]) : window_hash(data_ + ahead);
    ahead_at_ = ahead;
    uint64_t mixed = mix(ahead_hash_);
    if (is_anchor(mixed)) __builtin_prefetch(&index_.find(mixed));
}

void match_finder::look_up(size_t at, uint64_t mixed) {
    uint8_t tag = match_index::tag(mixed);
    const bucket &b = index_.find(mixed);
    for (size_t way = 0; way < BUCKET_WAYS && b.position[way]; ++way)
        if (b.tag[way] == tag) consider(at, match_index::position(b, way, base_ + at));
}

void match_finder::try_recent(size_t at) {
    for (size_t r = 0; r < recent_count_ && at >= covered_; ++r) {
        int64_t source = int64_t(at) + recent_[r];
        if (source >= 0 && probe(at, uint64_t(source))) consider(at, uint64_t(source));
    }
}

// Whether the next few bytes at the source equal those at the position.
bool match_finder::probe(size_t at, uint64_t source) {
    if (at + PROBE_BYTES > size_) return false;
    if (source >= base_) {
        uint64_t own = source - base_;
        return own + PROBE_BYTES <= at && std::memcmp(data_ + at, data_ + own, PROBE_BYTES) == 0;
    }
    // Recent distances stay in one earlier file for long stretches.
    if (source < all_.base(probed_file_) || source >= all_.base(probed_file_ + 1))
        probed_file_ = all_.file_of(source);
    uint64_t from = source - all_.base(probed_file_);
    const std::vector<uint8_t> &bytes = all_.bytes(probed_file_);
    return from + PROBE_BYTES <= bytes.size() && std::memcmp(data_ + at, &bytes[from], PROBE_BYTES) == 0;
}

void match_finder::consider(size_t at, uint64_t source) {
    uint64_t floor = std::min<uint64_t>(back_floor(found_, found_.size()), at);
    match m = extend(at, source, floor);
    if (m.end - m.start < PROBE_BYTES) return;
    remember(int64_t(source) - int64_t(at));
    covered_ = m.end;
    found_.push_back(m);
}

// A slice of an earlier file's list runs on in the pool, either way, as far
// as the pool holds this file's bytes: where that file's list cut its bytes
// apart, the pool may still go on with bytes that this file holds, and a cut
// there costs nothing. Forwards a slice is not run over bytes that an
// earlier one ran over, and backwards not over those that a later slice of
// the same match did, so that each byte is compared a few times at most.
void match_finder::run_on_in_pool(const std::vector<uint8_t> &bytes, match &slice, uint64_t &reach,
                                  uint64_t pool_size) const {
    if (slice.end < reach) return;
    uint64_t offset = slice.source + (slice.end - slice.start);
    slice.end += static_cast<uint32_t>(forward_length(bytes.data() + slice.end, pool_.data() + offset,
                                                      std::min<uint64_t>(bytes.size() - slice.end, pool_size - offset)));
    reach = slice.end;
}

void match_finder::run_back_in_pool(const std::vector<uint8_t> &bytes, match &slice, uint64_t &reach,
                                    uint64_t floor) const {
    if (slice.start >= reach || slice.start <= floor) return;
    uint64_t back = backward_length(bytes.data() + slice.start, pool_.data() + slice.source,
                                    std::min<uint64_t>(slice.start - floor, slice.source));
    if (back == 0) return;
    slice.start -= static_cast<uint32_t>(back);
    slice.source -= back;
    slice.inherited = false;
    reach = slice.start;
}

// The longest match through the position at this source, within one
// file, back to floor at most. The file's own bytes are a source only where
// the match ends before they are needed: a slice of the pool cannot overlap
// the bytes it stands for.
match match_finder::extend(size_t at, uint64_t source, uint64_t floor) const {
    const uint8_t *from;
    uint64_t ahead_room, back_room, longest = UINT64_MAX;
    if (source >= base_) {
        uint64_t own = source - base_;
        from = data_ + own;
        ahead_room = longest = at - own;
        back_room = own;
    } else {
        size_t k = all_.file_of(source);
        uint64_t position = source - all_.base(k);
        from = all_.bytes(k).data() + position;
        ahead_room = all_.bytes(k).size() - position;
        back_room = position;
    }
    size_t ahead = forward_length(data_ + at, from, std::min<uint64_t>(size_ - at, ahead_room));
    if (ahead == 0) return {at, at, source};
    back_room = std::min({back_room, uint64_t(at) - floor, longest - ahead});
    size_t back = backward_length(data_ + at, from, back_room);
    return {at - back, at + ahead, source - back};
}

void match_finder::remember(int64_t distance) {
    size_t r = 0;
    while (r < recent_count_ && recent_[r] != distance) ++r;
    if (r == recent_count_ && recent_count_ < RECENT_DISTANCES) ++recent_count_;
    if (r == RECENT_DISTANCES) r = RECENT_DISTANCES - 1;
    for (; r > 0; --r) recent_[r] = recent_[r - 1];
    recent_[0] = distance;
}

}  // namespace packer

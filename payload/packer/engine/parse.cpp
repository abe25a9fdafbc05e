#include "payload/packer/engine/parse.h"

#include <algorithm>

#include "payload/packer/engine/contents.h"
#include "payload/packer/engine/second_thread.h"
#include "payload/packer/engine/sort_by_key.h"

namespace packer {
namespace {

// Every chunk reference, a reused slice or a run of new bytes, costs this
// many directory bytes.
constexpr uint64_t REFERENCE_BYTES = 8;
// The parses of a file stop once IDLE_ROUNDS rounds in a row each save less
// than 1/SETTLED of the cheapest cost so far (see cheapest_parse).
constexpr uint64_t SETTLED = 8192;
constexpr size_t IDLE_ROUNDS = 2;
// A run of new bytes this short between two slices is a changed byte or two
// (an address moved), which the layout finds held in the pool: it costs its
// reference and no pool bytes.
constexpr uint64_t HELD_RUN = 2;

uint64_t new_run_bytes(uint64_t count) { return count > HELD_RUN ? count : 0; }

// Matches by start, the longest first at each start.
inline bool comes_before(const match &a, const match &b) {
    if (a.start != b.start) return a.start < b.start;
    if (a.end != b.end) return a.end > b.end;
    return a.source < b.source;
}
constexpr auto by_start = [](const match &a, const match &b) { return comes_before(a, b); };

// Sorts matches that are nearly in order: those that come before the last
// one kept in order (a match extended backwards) are set aside, sorted, and
// merged back from the end; they are few.
void sort_nearly_sorted(std::vector<match> &matches) {
    std::vector<match> behind;
    size_t kept = 0;
    for (const match &m : matches) {
        if (kept && comes_before(m, matches[kept - 1]))
            behind.push_back(m);
        else
            matches[kept++] = m;
    }
    std::sort(behind.begin(), behind.end(), by_start);
    for (size_t to = matches.size(); !behind.empty();) {
        if (kept && comes_before(behind.back(), matches[kept - 1])) {
            matches[--to] = matches[--kept];
        } else {
            matches[--to] = behind.back();
            behind.pop_back();
        }
    }
}

// Drops every match that another one contains: it could only stand where the
// other does, at the same price. What is left of the sorted matches has
// rising starts and ends.
void keep_outermost(std::vector<match> &matches) {
    size_t kept = 0;
    uint64_t reach = 0;
    for (const match &m : matches) {
        if (kept && m.end <= reach) continue;
        matches[kept++] = m;
        reach = m.end;
    }
    matches.erase(matches.begin() + kept, matches.end());
}

// A later step of the file that copies the file's own bytes takes the slices
// that hold them, so a cut inside those bytes is a cut in that step too. Per
// position, COST_SCALE times the number of such steps across it, blended
// half and half from the last two parses: priced by the last one alone, a
// parse moves its cuts out of the steps the last one took and the next moves
// them back.
class followed_bytes {
  public:
    void follow(const std::vector<step> &parse, uint64_t pool_size) {
        std::vector<change> latest;
        for (const step &s : parse) {
            if (s.source == NEW || s.source < pool_size || s.end - s.start < 2) continue;
            uint64_t from = s.source - pool_size;
            latest.push_back({static_cast<uint32_t>(from + 1), int32_t(COST_SCALE / 2)});
            latest.push_back({static_cast<uint32_t>(from + (s.end - s.start)), -int32_t(COST_SCALE / 2)});
        }
        sort_by_key(latest, [](const change &c) { return c.position; });
        if (levels_.empty()) earlier_ = latest;
        std::vector<change> both(latest.size() + earlier_.size());
        std::merge(latest.begin(), latest.end(), earlier_.begin(), earlier_.end(), both.begin());
        earlier_ = std::move(latest);
        levels_.assign(1, {0, 0});
        for (const change &c : both) {
            if (levels_.back().position != c.position) levels_.push_back({c.position, levels_.back().delta});
            levels_.back().delta += c.delta;
        }
        at_ = 0;
    }

    // The parse looks up rising positions: each lookup goes on from the last.
    uint64_t weight(uint64_t position) const {
        if (levels_.empty()) return 0;
        if (levels_[at_].position > position)
            at_ = std::upper_bound(levels_.begin(), levels_.end(), change{static_cast<uint32_t>(position), 0}) -
                  levels_.begin() - 1;
        while (at_ + 1 < levels_.size() && levels_[at_ + 1].position <= position) ++at_;
        return static_cast<uint64_t>(levels_[at_].delta);
    }

  private:
    struct change {
        uint32_t position;
        int32_t delta;  // in levels_, the weight from the position on
        bool operator<(const change &other) const { return position < other.position; }
    };
    std::vector<change> earlier_, levels_;
    mutable size_t at_ = 0;
};

// The cheapest parse of a file into reused slices and runs of new bytes,
// over the given matches. A slice costs its reference; a run of new bytes
// costs its bytes and its reference. Where two matches overlap the parse
// switches from one to the other anywhere in the overlap, at one reference;
// between two matches that do not meet stands a run of new bytes. State 0 is
// the file's start; state i + 1 ends with matches[i] used up to its end.
class parser {
  public:
    parser(const std::vector<match> &matches, uint64_t size, const later_copies &later, size_t file,
           const followed_bytes &followed)
        : matches_(matches), size_(size), later_(later), file_(file), followed_(followed), cost_(matches.size() + 1),
          from_(matches.size() + 1), after_gap_(matches.size() + 1) {}

    std::vector<step> parse() {
        cost_[0] = 0;
        for (size_t i = 0; i < matches_.size(); ++i) reach(i);
        return steps(best_end());
    }

  private:
    const std::vector<match> &matches_;
    uint64_t size_;
    const later_copies &later_;
    size_t file_;
    const followed_bytes &followed_;
    std::vector<uint64_t> cost_;
    std::vector<uint32_t> from_;
    std::vector<uint8_t> after_gap_;  // bytes, not bits: set and read once per state each
    std::vector<uint32_t> overlapping_;  // states that reach the next start, cheapest first from head_
    size_t head_ = 0;
    size_t passed_ = 0;              // states that end before the next start
    uint64_t gap_best_ = UINT64_MAX;  // least cost - end * COST_SCALE of those, plus an offset
    uint32_t gap_from_ = 0;

    uint64_t end_of(size_t state) const { return state ? matches_[state - 1].end : 0; }
    uint64_t reference_cost(uint64_t position, bool inherited = false) const {
        return REFERENCE_BYTES * (later_.weight(file_, position, inherited) + followed_.weight(position));
    }

    // gap_best_ holds cost - end * COST_SCALE shifted by size_ * COST_SCALE,
    // so that it stays unsigned.
    void pass_states_before(uint64_t start, size_t states) {
        for (; passed_ < states && end_of(passed_) < start; ++passed_) {
            uint64_t value = cost_[passed_] + (size_ - end_of(passed_)) * COST_SCALE;
            if (value < gap_best_) {
                gap_best_ = value;
                gap_from_ = static_cast<uint32_t>(passed_);
            }
        }
        while (head_ < overlapping_.size() && overlapping_[head_] < passed_) ++head_;
    }

    void reach(size_t i) {
        const match &m = matches_[i];
        size_t state = i + 1;
        if (state == 1) overlapping_.push_back(0);
        pass_states_before(m.start, state);
        uint64_t followed = followed_.weight(m.start);
        uint64_t price = REFERENCE_BYTES * (later_.weight(file_, m.start, m.inherited) + followed);
        cost_[state] = UINT64_MAX;
        if (head_ < overlapping_.size()) {
            cost_[state] = cost_[overlapping_[head_]] + price;
            from_[state] = overlapping_[head_];
        }
        if (gap_best_ != UINT64_MAX) {
            uint64_t cut = m.inherited ? REFERENCE_BYTES * (later_.weight(file_, m.start) + followed) : price;
            uint64_t via_gap = gap_best_ - (size_ - m.start) * COST_SCALE + cut + price;
            if (via_gap < cost_[state]) {
                cost_[state] = via_gap;
                from_[state] = gap_from_;
                after_gap_[state] = true;
            }
        }
        after_held_run(m.start, state, price);
        while (overlapping_.size() > head_ && cost_[overlapping_.back()] >= cost_[state]) overlapping_.pop_back();
        overlapping_.push_back(static_cast<uint32_t>(state));
    }

    // The states that end at most HELD_RUN bytes before the start: passed
    // last, as ends rise with the states.
    void after_held_run(uint64_t start, size_t state, uint64_t price) {
        for (size_t before = passed_; before-- > 0 && end_of(before) + HELD_RUN >= start;) {
            if (end_of(before) >= start || cost_[before] == UINT64_MAX) continue;
            uint64_t via_run = cost_[before] + reference_cost(end_of(before)) + price;
            if (via_run < cost_[state]) {
                cost_[state] = via_run;
                from_[state] = static_cast<uint32_t>(before);
                after_gap_[state] = true;
            }
        }
    }

    size_t best_end() const {
        size_t best = 0;
        uint64_t best_cost = UINT64_MAX;
        for (size_t state = 0; state < cost_.size(); ++state) {
            uint64_t end = end_of(state);
            uint64_t total = cost_[state];
            if (end < size_) {
                total += (size_ - end) * COST_SCALE;
                if (total >= best_cost) continue;  // the run's reference only adds
                total += reference_cost(end);
            }
            if (total < best_cost) {
                best_cost = total;
                best = state;
            }
        }
        return best;
    }

    std::vector<step> steps(size_t state) const {
        std::vector<step> out;
        if (end_of(state) < size_) out.push_back({end_of(state), size_, NEW});
        for (; state; state = from_[state]) {
            const match &m = matches_[state - 1];
            uint64_t start = after_gap_[state] ? m.start : std::max<uint64_t>(m.start, end_of(from_[state]));
            out.push_back({start, m.end, m.source + (start - m.start), m.inherited && start == m.start});
            if (after_gap_[state]) out.push_back({end_of(from_[state]), m.start, NEW});
        }
        std::reverse(out.begin(), out.end());
        return out;
    }
};

// Drops every match that a match with an earlier file contains, in every
// round: only matches with the file's own bytes are cut into other pieces.
void keep_outside_fixed_matches(std::vector<match> &sorted, uint64_t pool_size) {
    size_t kept = 0;
    uint64_t reach = 0;
    for (const match &m : sorted) {
        if (m.end <= reach) continue;
        sorted[kept++] = m;
        if (m.source < pool_size) reach = m.end;
    }
    sorted.erase(sorted.begin() + kept, sorted.end());
}

std::vector<step> parse_once(std::vector<match> matches, uint64_t size, const later_copies &later, size_t k,
                             const followed_bytes &followed) {
    keep_outermost(matches);
    return parser(matches, size, later, k, followed).parse();
}

// A match with the file's own earlier bytes takes the slices that hold
// them: where the parse left them new, one, and where it reused other
// bytes for them, those. So each piece is priced as one reference.
std::vector<match> through_parse(const std::vector<match> &matches, const std::vector<step> &parse,
                                 uint64_t pool_size) {
    // The first step that ends after each block of STEP_BLOCK bytes' start,
    // where the search for a source begins.
    constexpr uint64_t STEP_BLOCK = 64;
    std::vector<uint32_t> first_step(parse.empty() ? 1 : parse.back().end / STEP_BLOCK + 1);
    for (size_t b = 0, s = 0; b < first_step.size(); ++b) {
        while (s < parse.size() && parse[s].end <= b * STEP_BLOCK) ++s;
        first_step[b] = static_cast<uint32_t>(s);
    }
    // A match's pieces start at or after its own start, and the matches come
    // by start: a piece is in order once it starts before the next match
    // does and none is pending before it. The others wait in a heap; few do.
    // A piece that ends within one already in order is contained in it and
    // left out here, as the parse would drop it.
    std::vector<match> pieces, pending;
    pieces.reserve(matches.size() + matches.size() / 4);
    uint64_t reach = 0;
    auto contained = [&](const match &piece) { return !pieces.empty() && piece.end <= reach; };
    auto emit = [&](const match &piece) {
        if (contained(piece)) return;
        pieces.push_back(piece);
        reach = piece.end;
    };
    auto later_first = [](const match &a, const match &b) { return comes_before(b, a); };
    auto take_pending_before = [&](uint64_t start) {
        while (!pending.empty() && pending.front().start < start) {
            std::pop_heap(pending.begin(), pending.end(), later_first);
            emit(pending.back());
            pending.pop_back();
        }
    };
    for (size_t i = 0; i < matches.size(); ++i) {
        const match &m = matches[i];
        uint64_t next_start = i + 1 < matches.size() ? matches[i + 1].start : UINT64_MAX;
        auto place = [&](const match &piece) {
            if (contained(piece)) return;
            if (pending.empty() && piece.start < next_start) {
                emit(piece);
            } else {
                pending.push_back(piece);
                std::push_heap(pending.begin(), pending.end(), later_first);
            }
        };
        take_pending_before(m.start);
        if (m.source < pool_size) {
            place(m);
            continue;
        }
        uint64_t from = m.source - pool_size, last = from + (m.end - m.start);
        auto s = parse.begin() + first_step[from / STEP_BLOCK];
        while (s->end <= from) ++s;
        for (; s != parse.end() && s->start < last; ++s) {
            uint64_t first = std::max<uint64_t>(from, s->start), end = std::min<uint64_t>(last, s->end);
            uint64_t source = s->source == NEW ? pool_size + first : s->source + (first - s->start);
            place({m.start + (first - from), m.start + (end - from), source});
        }
    }
    take_pending_before(UINT64_MAX);
    return pieces;
}

// What a parse costs once its steps with the file's own bytes take the
// slices that hold them, and adjacent slices merge.
uint64_t parse_cost(const std::vector<step> &parse, uint64_t pool_size, const later_copies &later, size_t k) {
    placed_list placed;
    uint64_t next_new = pool_size, cost = 0;
    for (const step &s : parse) {
        uint64_t count = s.end - s.start;
        if (s.inherited) cost += REFERENCE_BYTES * (later.weight(k, s.start, true) - later.weight(k, s.start));
        if (s.source == NEW) {
            placed.add(next_new, count, s.start);
            next_new += count;
            cost += new_run_bytes(count) * COST_SCALE;
        } else if (s.source < pool_size) {
            placed.add(s.source, count, s.start);
        } else {
            placed.slices(s.source - pool_size, count, s.start,
                          [&](uint64_t offset, uint64_t piece, uint64_t at) { placed.add(offset, piece, at); });
        }
    }
    for (uint64_t at : placed.at) cost += REFERENCE_BYTES * later.weight(k, at);
    return cost;
}

}  // namespace

// The first parse prices a match with the file's own bytes as one
// reference; each later one prices it through the parse before it, and
// prices a cut by the steps that the last two parses copied across it. The
// rounds stop after IDLE_ROUNDS in a row that each save less than 1/SETTLED
// of the cheapest cost so far (a parse that holds still or comes back saves
// nothing), or after MAX_PARSE_ROUNDS. One round that costs more is not the
// end: priced by a parse that overshot, the next often saves the most. The
// cheapest parse is kept.
priced_parse cheapest_parse(std::vector<match> sorted, uint64_t pool_size, uint64_t size, const later_copies &later,
                            size_t k) {
    sort_nearly_sorted(sorted);
    keep_outside_fixed_matches(sorted, pool_size);
    sorted.shrink_to_fit();
    followed_bytes followed;
    priced_parse best{parse_once(sorted, size, later, k, followed), 1};
    bool own_bytes = std::any_of(sorted.begin(), sorted.end(), [&](const match &m) { return m.source >= pool_size; });
    if (!own_bytes) return best;
    // A parse's cost is counted, and its cuts followed, while the next
    // round's pieces are made from it: the caller makes the pieces, and the
    // rest is taken by whichever thread is free first. The pieces are let go
    // if the rounds stop there.
    shared_turns helper;
    std::vector<step> parse = best.steps;
    uint64_t best_cost = 0;
    size_t idle_rounds = 0;
    for (;;) {
        bool more = best.rounds < MAX_PARSE_ROUNDS;
        uint64_t cost = 0;
        std::vector<match> pieces;
        auto count_cost = [&] { cost = parse_cost(parse, pool_size, later, k); };
        if (more)
            helper.run({[&] { pieces = through_parse(sorted, parse, pool_size); }, count_cost,
                        [&] { followed.follow(parse, pool_size); }});
        else
            count_cost();
        if (best.rounds == 1) {
            best_cost = cost;
        } else {
            bool settled = cost + best_cost / SETTLED >= best_cost;
            if (cost < best_cost) {
                best_cost = cost;
                best.steps = parse;
            }
            idle_rounds = settled ? idle_rounds + 1 : 0;
            if (idle_rounds == IDLE_ROUNDS) break;
        }
        if (!more) break;
        parse = parse_once(std::move(pieces), size, later, k, followed);
        ++best.rounds;
    }
    return best;
}

}  // namespace packer

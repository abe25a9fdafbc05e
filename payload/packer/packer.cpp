#include "payload/packer/packer.h"

#include <algorithm>
#include <cstring>

namespace packer {
namespace {

struct reference {
    uint32_t offset;
    uint32_t count;
};

// Every chunk reference, a reused slice or a run of new bytes, costs this
// many directory bytes.
constexpr uint64_t REFERENCE_BYTES = 8;
// Costs are counted in 1/COST_SCALE of a byte, so that an expected number of
// later copies can weigh a reference without floating point.
constexpr uint64_t COST_SCALE = 256;
constexpr size_t WINDOW = 16;
constexpr size_t BUCKET_WAYS = 4;
// The most recent distances between a match and its source are tried at every
// byte that no match covers: code resumes at the same distance after a few
// changed bytes (a relocated address).
constexpr size_t RECENT_DISTANCES = 4;
constexpr size_t PROBE_BYTES = 4;
// At most this many parses of a file (see pack_file).
constexpr size_t PARSE_ROUNDS = 4;
// Later copies of a file's bytes are estimated per block of this many bytes.
constexpr size_t ESTIMATE_BLOCK = 4096;
constexpr size_t BASELINE_ALIGNMENT = 256;
constexpr size_t BASELINE_MIN_SLICE = 16;
constexpr size_t BASELINE_CANDIDATES = 16;
static_assert(BASELINE_MIN_SLICE >= WINDOW, "the baseline's lookup skips slices whose window differs");

uint64_t load64(const uint8_t *p) {
    uint64_t value;
    std::memcpy(&value, p, 8);
    return value;
}

// Gear rolling hash: each byte is shifted out after WINDOW steps.
struct gear_table {
    uint64_t value[256];
    gear_table() {
        uint64_t state = 0x9A8F1C3B5D7E2046ull;
        for (uint64_t &v : value) {
            uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            v = z ^ (z >> 31);
        }
    }
};
const gear_table GEAR;

uint64_t roll(uint64_t hash, uint8_t byte) { return (hash << 4) + GEAR.value[byte]; }

uint64_t window_hash(const uint8_t *p) {
    uint64_t hash = 0;
    for (size_t i = 0; i < WINDOW; ++i) hash = roll(hash, p[i]);
    return hash;
}

uint64_t mix(uint64_t hash) { return hash * 0x9E3779B97F4A7C15ull; }

// Calls visit(position, mixed hash) for every window of the bytes.
template <class visitor>
void for_each_window(const uint8_t *data, size_t size, visitor visit) {
    if (size < WINDOW) return;
    uint64_t hash = window_hash(data);
    for (size_t at = 0;; ++at) {
        visit(at, mix(hash));
        if (at + WINDOW >= size) return;
        hash = roll(hash, data[at + WINDOW]);
    }
}

size_t forward_length(const uint8_t *a, const uint8_t *b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t diff = load64(a + n) ^ load64(b + n);
        if (diff) return n + (__builtin_ctzll(diff) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Bytes equal just before a and b, at most limit of them.
size_t backward_length(const uint8_t *a, const uint8_t *b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
        uint64_t diff = load64(a - n - 8) ^ load64(b - n - 8);
        if (diff) return n + (__builtin_clzll(diff) >> 3);
        n += 8;
    }
    while (n < limit && a[-1 - static_cast<ptrdiff_t>(n)] == b[-1 - static_cast<ptrdiff_t>(n)]) ++n;
    return n;
}

void put32(std::vector<uint8_t> &out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t get32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Adjacent slices of the pool become one reference, when allowed to.
void add_reference(std::vector<reference> &list, uint64_t offset, uint64_t count, bool merge) {
    if (count == 0) return;
    if (merge && !list.empty() && uint64_t(list.back().offset) + list.back().count == offset) {
        list.back().count += static_cast<uint32_t>(count);
        return;
    }
    list.push_back({static_cast<uint32_t>(offset), static_cast<uint32_t>(count)});
}

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

// State of one packing run: the pool being built and the references of the
// file being packed.
struct packing {
    archive &out;
    std::string &error;
    uint64_t pool_limit;
    // The baseline keeps new runs and reused slices apart even where they touch.
    bool merge_kinds;
    const std::vector<uint32_t> &checksums;  // of the inputs, computed once for both layouts
    std::vector<reference> list;
    uint64_t run_start = 0;  // pool offset of the current run of new bytes
    bool last_new = false;

    bool append(const uint8_t *bytes, size_t count) {
        if (out.pool.size() + count > pool_limit) {
            error = "the pool would outgrow 32-bit offsets (" + std::to_string(out.pool.size() + count) + " bytes)";
            return false;
        }
        if (count == 1) out.pool.push_back(*bytes);
        else out.pool.insert(out.pool.end(), bytes, bytes + count);
        return true;
    }

    void close_run() {
        uint64_t count = out.pool.size() - run_start;
        if (count == 0) return;
        add_reference(list, run_start, count, merge_kinds || last_new);
        last_new = true;
        out.stats.new_bytes += count;
        run_start = out.pool.size();
    }

    void reuse(uint64_t offset, uint64_t count) {
        close_run();
        add_reference(list, offset, count, merge_kinds || !last_new);
        last_new = false;
        out.stats.reused_bytes += count;
    }

    void write(const input_file &file, const std::vector<reference> &references) {
        write_entry(out.directory, file, checksums[out.stats.entries++], references);
        out.stats.references += references.size();
    }

    void finish_file(const input_file &file) {
        close_run();
        write(file, list);
        list.clear();
        last_new = false;
    }
};

uint64_t zero_window_mixed() {
    uint8_t zeros[WINDOW] = {};
    return mix(window_hash(zeros));
}
const uint64_t ZERO_WINDOW = zero_window_mixed();

// Content-defined sampling: bytes are hashed at the same anchors wherever they
// stand, so a shared stretch of a few dozen bytes meets at least one of them.
// Zero padding between sections is common in executables: every window of
// zeros is an anchor, whatever its hash says.
bool is_anchor(uint64_t mixed) { return (mixed >> 60) == 0 || mixed == ZERO_WINDOW; }

// A sparser sample, for estimating which bytes later files hold again. Zeros
// are left out: every build holds some, which says nothing of the rest.
bool is_sample(uint64_t mixed) { return (mixed >> 58) == 0 && mixed != ZERO_WINDOW; }

// Each bucket keeps a fingerprint beside every position, so that a lookup
// touches the bytes only for windows that probably match. Positions are kept
// in 32 bits, as the distance back from where they are looked up: beyond
// 4 GiB of input an old one reads as a newer position, which is then just
// compared like any other.
struct bucket {
    uint32_t position[BUCKET_WAYS];  // low 32 bits of position + 1, 0 empty
    uint32_t tag[BUCKET_WAYS];
};

struct match_index {
    std::vector<bucket> buckets;
    unsigned shift;

    explicit match_index(uint64_t indexed_bytes) {
        unsigned bits = 10;
        while (bits < 22 && (uint64_t(1) << bits) * 64 < indexed_bytes) ++bits;
        buckets.assign(size_t(1) << bits, bucket{});
        shift = 61 - bits;
    }

    static uint32_t tag(uint64_t mixed) { return static_cast<uint32_t>(mixed); }

    const bucket &find(uint64_t mixed) const { return buckets[(mixed >> shift) & (buckets.size() - 1)]; }

    // The position stored in a way, seen from a later position.
    static uint64_t position(const bucket &b, size_t way, uint64_t from) {
        return from - static_cast<uint32_t>(static_cast<uint32_t>(from) - (b.position[way] - 1));
    }

    void insert(uint64_t mixed, uint64_t position) {
        bucket &b = buckets[(mixed >> shift) & (buckets.size() - 1)];
        uint32_t stored = static_cast<uint32_t>(position + 1);
        // Inside a run of one byte value keep the run's start: matches from it
        // reach furthest. (Positions are stored plus one: this is position - 1.)
        if (stored == 0 || (b.position[0] && b.position[0] == stored - 1 && b.tag[0] == tag(mixed))) return;
        std::memmove(b.position + 1, b.position, (BUCKET_WAYS - 1) * sizeof *b.position);
        std::memmove(b.tag + 1, b.tag, (BUCKET_WAYS - 1) * sizeof *b.tag);
        b.position[0] = stored;
        b.tag[0] = tag(mixed);
    }
};

// The price of a reference in a file is its own 8 bytes, and 8 more for every
// later file that holds the same bytes again and finds them nowhere earlier:
// such a file follows this one's slices, so each cut here is a reference
// there too. How many later files do so for each block of a file is
// estimated from sampled windows.
class later_copies {
  public:
    explicit later_copies(const std::vector<input_file> &inputs) : weights_(inputs.size()) {
        // About one window in 64 is sampled; the table is kept at most 3/4 full.
        uint64_t expected = 16;
        for (const input_file &file : inputs) expected += file.bytes.size() / 64;
        size_t capacity = 1024;
        while (capacity * 3 < expected * 4) capacity <<= 1;
        slots_.assign(capacity, slot{});
        std::vector<std::vector<sample>> samples(inputs.size());
        for (size_t k = 0; k < inputs.size(); ++k) collect(k, inputs[k].bytes, samples[k]);
        for (size_t k = inputs.size(); k-- > 0;) estimate(k, inputs[k].bytes.size(), samples[k]);
        std::vector<slot>().swap(slots_);
    }

    // COST_SCALE times (1 + the expected number of later files that follow
    // file k's slices at the position).
    uint64_t weight(size_t k, uint64_t position) const {
        const std::vector<uint32_t> &blocks = weights_[k];
        return blocks.empty() ? COST_SCALE : blocks[std::min<uint64_t>(position / ESTIMATE_BLOCK, blocks.size() - 1)];
    }

  private:
    struct slot {
        uint32_t key = 0;    // a fingerprint of the window, never 0
        uint32_t first = 0;  // the first file that holds the window, plus one
        uint32_t files = 0;  // files counted so far that hold it
        uint32_t last = 0;   // the file that counted last, plus one
    };
    struct sample {
        uint32_t slot, block;
    };
    std::vector<slot> slots_;
    std::vector<std::vector<uint32_t>> weights_;

    uint32_t find(uint64_t mixed) {
        uint32_t key = static_cast<uint32_t>(mixed) | 1;
        size_t at = (mixed >> 20) & (slots_.size() - 1);
        while (slots_[at].key != 0 && slots_[at].key != key) at = (at + 1) & (slots_.size() - 1);
        slots_[at].key = key;
        return static_cast<uint32_t>(at);
    }

    void collect(size_t k, const std::vector<uint8_t> &bytes, std::vector<sample> &samples) {
        for_each_window(bytes.data(), bytes.size(), [&](size_t at, uint64_t mixed) {
            if (!is_sample(mixed)) return;
            uint32_t s = find(mixed);
            if (!slots_[s].first) slots_[s].first = static_cast<uint32_t>(k + 1);
            samples.push_back({s, static_cast<uint32_t>(at / ESTIMATE_BLOCK)});
        });
    }

    // Reads file k's samples against the files after it, then counts it
    // among them.
    void estimate(size_t k, uint64_t size, const std::vector<sample> &samples) {
        size_t blocks = (size + ESTIMATE_BLOCK - 1) / ESTIMATE_BLOCK;
        std::vector<uint64_t> held(blocks), sampled(blocks);
        uint64_t all_held = 0;
        for (const sample &s : samples) {
            uint64_t copies = slots_[s.slot].first == k + 1 ? slots_[s.slot].files : 0;
            held[s.block] += copies;
            all_held += copies;
            ++sampled[s.block];
        }
        weights_[k].resize(blocks);
        for (size_t b = 0; b < blocks; ++b) {
            uint64_t copies = sampled[b] ? COST_SCALE * held[b] / sampled[b]
                                         : samples.empty() ? 0 : COST_SCALE * all_held / samples.size();
            weights_[k][b] = static_cast<uint32_t>(COST_SCALE + copies);
        }
        for (const sample &s : samples) {
            slot &counted = slots_[s.slot];
            if (counted.last == k + 1) continue;
            counted.last = static_cast<uint32_t>(k + 1);
            ++counted.files;
        }
    }
};

// A stretch of the file, [start, end), equal to the bytes at source. A source
// below the pool's size is a pool offset; from there on it is pool size +
// a position in the file itself, before start. (Files are under 4 GiB.)
struct match {
    uint32_t start, end;
    uint64_t source;
    match(uint64_t first, uint64_t last, uint64_t from)
        : start(static_cast<uint32_t>(first)), end(static_cast<uint32_t>(last)), source(from) {}
    bool operator==(const match &other) const {
        return start == other.start && end == other.end && source == other.source;
    }
};

// One step of a file's parse: a reused slice, or new bytes when source is NEW.
constexpr uint64_t NEW = UINT64_MAX;
using step = match;

// A packed file's list, with the file position at which each reference starts.
struct placed_list {
    std::vector<reference> list;
    std::vector<uint64_t> at;

    void add(uint64_t offset, uint64_t count, uint64_t position) {
        size_t before = list.size();
        add_reference(list, offset, count, true);
        if (list.size() > before) at.push_back(position);
    }

    // Calls take(offset, count, position) for the slices that hold the file's
    // bytes [from, from + count), moved to start at position.
    template <class taker>
    void slices(uint64_t from, uint64_t count, uint64_t position, taker take) const {
        size_t i = std::upper_bound(at.begin(), at.end(), from) - at.begin() - 1;
        for (; count; ++i) {
            uint64_t into = from - at[i];
            uint64_t piece = std::min<uint64_t>(count, list[i].count - into);
            take(list[i].offset + into, piece, position);
            from += piece;
            position += piece;
            count -= piece;
        }
    }
};

// The bytes of every file packed so far, and of the file being packed, laid
// end to end: a match is found in the files' contents, not in the pool, so
// that it runs on where an earlier file's list cut the bytes apart. It then
// takes as many slices as that list did there.
class contents {
  public:
    explicit contents(const std::vector<input_file> &inputs)
        : inputs_(inputs), base_(inputs.size() + 1), lists_(inputs.size()) {
        for (size_t k = 0; k < inputs.size(); ++k) base_[k + 1] = base_[k] + inputs[k].bytes.size();
    }

    uint64_t base(size_t k) const { return base_[k]; }
    // The file that holds the content offset; never an empty one.
    size_t file_of(uint64_t offset) const {
        return std::upper_bound(base_.begin(), base_.end(), offset) - base_.begin() - 1;
    }
    const std::vector<uint8_t> &bytes(size_t k) const { return inputs_[k].bytes; }
    const placed_list &list(size_t k) const { return lists_[k]; }
    void packed(size_t k, placed_list list) { lists_[k] = std::move(list); }

  private:
    const std::vector<input_file> &inputs_;
    std::vector<uint64_t> base_;
    std::vector<placed_list> lists_;
};

// Finds, for one file, the longest matches with the earlier files and with
// the file's own earlier bytes around sampled anchors, and at recent
// distances.
class match_finder {
  public:
    match_finder(const contents &all, match_index &index) : all_(all), index_(index) {}

    // Matches with earlier files come as the pool slices that hold them;
    // those with the file's own bytes as pool size + their position.
    std::vector<match> find(size_t k, uint64_t pool_size) {
        base_ = all_.base(k);
        data_ = all_.bytes(k).data();
        size_ = all_.bytes(k).size();
        pool_size_ = pool_size;
        found_.clear();
        recent_count_ = 0;
        covered_ = cover_start_ = 0;
        scan();
        return std::move(found_);
    }

  private:
    const contents &all_;
    match_index &index_;
    uint64_t base_ = 0;  // content offset of the file
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    uint64_t pool_size_ = 0;
    std::vector<match> found_;
    int64_t recent_[RECENT_DISTANCES] = {};  // content offset of the source minus position
    size_t recent_count_ = 0;
    uint64_t covered_ = 0;      // every position before this is inside a found match
    uint64_t cover_start_ = 0;  // start of the match that reaches covered_
    size_t probed_file_ = 0;    // the earlier file that the last probe read

    // Positions inside a found match are skipped: a match that goes on past
    // its end is found again at the anchors after it. Only the skipped bytes
    // are left out of the index, as they are found where they came from.
    void scan() {
        uint64_t hash = 0;
        bool hashed = false;
        for (size_t at = 0; at < size_; ++at) {
            if (at < covered_) {
                at = covered_ - 1;
                hashed = false;
                continue;
            }
            try_recent(at);
            if (at + WINDOW > size_) continue;
            hash = hashed ? roll(hash, data_[at + WINDOW - 1]) : window_hash(data_ + at);
            hashed = true;
            uint64_t mixed = mix(hash);
            if (!is_anchor(mixed)) continue;
            if (at >= covered_) look_up(at, mixed);
            index_.insert(mixed, base_ + at);
        }
    }

    void look_up(size_t at, uint64_t mixed) {
        uint32_t tag = match_index::tag(mixed);
        const bucket &b = index_.find(mixed);
        for (size_t way = 0; way < BUCKET_WAYS && b.position[way]; ++way)
            if (b.tag[way] == tag) consider(at, match_index::position(b, way, base_ + at));
    }

    void try_recent(size_t at) {
        for (size_t r = 0; r < recent_count_ && at >= covered_; ++r) {
            int64_t source = int64_t(at) + recent_[r];
            if (source >= 0 && probe(at, uint64_t(source))) consider(at, uint64_t(source));
        }
    }

    // Whether the next few bytes at the source equal those at the position.
    bool probe(size_t at, uint64_t source) {
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

    void consider(size_t at, uint64_t source) {
        match m = extend(at, source);
        if (m.end - m.start < PROBE_BYTES) return;
        remember(int64_t(source) - int64_t(at));
        cover(m);
        if (m.source >= base_) {
            found_.push_back({m.start, m.end, pool_size_ + m.source - base_});
            return;
        }
        size_t k = all_.file_of(m.source);
        all_.list(k).slices(m.source - all_.base(k), m.end - m.start, m.start,
                            [&](uint64_t offset, uint64_t count, uint64_t position) {
                                found_.push_back({position, position + count, offset});
                            });
    }

    // The longest match through the position at this source, within one
    // file. The file's own bytes are a source only where the match ends
    // before they are needed: a slice of the pool cannot overlap the bytes
    // it stands for. Backwards a match stops at the start of the last one
    // found, which saves comparing long stretches again and costs at most
    // one reference.
    match extend(size_t at, uint64_t source) const {
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
        back_room = std::min({back_room, uint64_t(at) - std::min<uint64_t>(cover_start_, at), longest - ahead});
        size_t back = backward_length(data_ + at, from, back_room);
        return {at - back, at + ahead, source - back};
    }

    void cover(const match &m) {
        covered_ = m.end;
        cover_start_ = m.start;
    }

    void remember(int64_t distance) {
        size_t r = 0;
        while (r < recent_count_ && recent_[r] != distance) ++r;
        if (r == recent_count_ && recent_count_ < RECENT_DISTANCES) ++recent_count_;
        if (r == RECENT_DISTANCES) r = RECENT_DISTANCES - 1;
        for (; r > 0; --r) recent_[r] = recent_[r - 1];
        recent_[0] = distance;
    }
};

// Drops every match that another one contains: it could only stand where the
// other does, at the same price. What is left has rising starts and ends.
void keep_outermost(std::vector<match> &matches) {
    std::sort(matches.begin(), matches.end(), [](const match &a, const match &b) {
        if (a.start != b.start) return a.start < b.start;
        if (a.end != b.end) return a.end > b.end;
        return a.source < b.source;
    });
    size_t kept = 0;
    uint64_t reach = 0;
    for (const match &m : matches) {
        if (kept && m.end <= reach) continue;
        matches[kept++] = m;
        reach = m.end;
    }
    matches.erase(matches.begin() + kept, matches.end());
}

// The cheapest parse of a file into reused slices and runs of new bytes,
// over the given matches. A slice costs its reference; a run of new bytes
// costs its bytes and its reference. Where two matches overlap the parse
// switches from one to the other anywhere in the overlap, at one reference;
// between two matches that do not meet stands a run of new bytes. State 0 is
// the file's start; state i + 1 ends with matches[i] used up to its end.
class parser {
  public:
    parser(const std::vector<match> &matches, uint64_t size, const later_copies &later, size_t file)
        : matches_(matches), size_(size), later_(later), file_(file), cost_(matches.size() + 1),
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
    std::vector<uint64_t> cost_;
    std::vector<uint32_t> from_;
    std::vector<bool> after_gap_;
    std::vector<uint32_t> overlapping_;  // states that reach the next start, cheapest first from head_
    size_t head_ = 0;
    size_t passed_ = 0;              // states that end before the next start
    uint64_t gap_best_ = UINT64_MAX;  // least cost - end * COST_SCALE of those, plus an offset
    uint32_t gap_from_ = 0;

    uint64_t end_of(size_t state) const { return state ? matches_[state - 1].end : 0; }
    uint64_t reference_cost(uint64_t position) const { return REFERENCE_BYTES * later_.weight(file_, position); }

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
        uint64_t price = reference_cost(m.start);
        cost_[state] = UINT64_MAX;
        if (head_ < overlapping_.size()) {
            cost_[state] = cost_[overlapping_[head_]] + price;
            from_[state] = overlapping_[head_];
        }
        if (gap_best_ != UINT64_MAX) {
            uint64_t via_gap = gap_best_ - (size_ - m.start) * COST_SCALE + 2 * price;
            if (via_gap < cost_[state]) {
                cost_[state] = via_gap;
                from_[state] = gap_from_;
                after_gap_[state] = true;
            }
        }
        while (overlapping_.size() > head_ && cost_[overlapping_.back()] >= cost_[state]) overlapping_.pop_back();
        overlapping_.push_back(static_cast<uint32_t>(state));
    }

    size_t best_end() const {
        size_t best = 0;
        uint64_t best_cost = UINT64_MAX;
        for (size_t state = 0; state < cost_.size(); ++state) {
            uint64_t end = end_of(state);
            uint64_t total = cost_[state];
            if (end < size_) total += (size_ - end) * COST_SCALE + reference_cost(end);
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
            out.push_back({start, m.end, m.source + (start - m.start)});
            if (after_gap_[state]) out.push_back({end_of(from_[state]), m.start, NEW});
        }
        std::reverse(out.begin(), out.end());
        return out;
    }
};

// Packs each file by the cheapest parse over its matches, and keeps its list
// for the files after it.
class deduplicator {
  public:
    deduplicator(packing &p, const std::vector<input_file> &inputs, uint64_t input_bytes)
        : p_(p), inputs_(inputs), later_(inputs), all_(inputs), index_(input_bytes), finder_(all_, index_) {}

    bool pack_file(size_t k) {
        const input_file &file = inputs_[k];
        pool_before_ = p_.out.pool.size();
        std::vector<match> matches = finder_.find(k, pool_before_);
        std::vector<step> parse = cheapest_parse(matches, k);
        // A parse prices matches with the file's own bytes by the parse before
        // it, until the two agree.
        for (size_t round = 1; round < PARSE_ROUNDS; ++round) {
            std::vector<step> next = cheapest_parse(through_parse(matches, parse), k);
            if (next == parse) break;
            parse = std::move(next);
        }
        placed_.list.clear();
        placed_.at.clear();
        for (const step &s : parse)
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

    std::vector<step> cheapest_parse(std::vector<match> matches, size_t k) const {
        keep_outermost(matches);
        return parser(matches, inputs_[k].bytes.size(), later_, k).parse();
    }

    // A match with the file's own earlier bytes takes the slices that hold
    // them: where the parse left them new, one, and where it reused other
    // bytes for them, those. So each piece is priced as one reference.
    std::vector<match> through_parse(const std::vector<match> &matches, const std::vector<step> &parse) const {
        std::vector<match> pieces;
        for (const match &m : matches) {
            if (m.source < pool_before_) {
                pieces.push_back(m);
                continue;
            }
            uint64_t from = m.source - pool_before_, last = from + (m.end - m.start);
            auto s = std::upper_bound(parse.begin(), parse.end(), from,
                                      [](uint64_t at, const step &x) { return at < x.end; });
            for (; s != parse.end() && s->start < last; ++s) {
                uint64_t first = std::max<uint64_t>(from, s->start), end = std::min<uint64_t>(last, s->end);
                uint64_t source = s->source == NEW ? pool_before_ + first : s->source + (first - s->start);
                pieces.push_back({m.start + (first - from), m.start + (end - from), source});
            }
        }
        return pieces;
    }

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

// The baseline layout: the first file whole, later files built from slices of
// it that start on a 256-byte boundary, and their own new bytes.
class baseline_packer {
  public:
    explicit baseline_packer(packing &p) : p_(p) {}

    bool pack_first(const input_file &file) {
        if (!p_.append(file.bytes.data(), file.bytes.size())) return false;
        first_size_ = file.bytes.size();
        index_first();
        p_.finish_file(file);
        return true;
    }

    bool pack_later(const input_file &file) {
        const uint8_t *data = file.bytes.data();
        size_t size = file.bytes.size();
        size_t pos = 0;
        uint64_t hash = 0;
        bool hashed = false;
        while (pos < size) {
            size_t length = 0;
            if (pos + WINDOW <= size) {
                hash = hashed ? roll(hash, data[pos + WINDOW - 1]) : window_hash(data + pos);
                hashed = true;
            }
            uint64_t slice = longest_slice(data, size, pos, hash, length);
            if (length >= BASELINE_MIN_SLICE) {
                p_.reuse(slice, length);
                pos += length;
                hashed = false;
                continue;
            }
            if (!p_.append(data + pos, 1)) return false;
            ++pos;
        }
        p_.finish_file(file);
        return true;
    }

  private:
    packing &p_;
    uint64_t first_size_ = 0;
    std::vector<uint32_t> heads_;  // per bucket: slice number + 1 of the latest boundary, 0 none
    std::vector<uint32_t> next_;   // per slice number: the previous one in its bucket
    std::vector<uint32_t> tags_;   // per slice number: a fingerprint of its window, to spare the pool
    uint64_t mask_ = 0;

    uint64_t bucket_of(uint64_t hash) const { return (mix(hash) >> 40) & mask_; }
    static uint32_t tag_of(uint64_t hash) { return static_cast<uint32_t>(mix(hash)); }

    void index_first() {
        size_t boundaries = first_size_ / BASELINE_ALIGNMENT + 1;
        size_t buckets = 1024;
        while (buckets < boundaries) buckets <<= 1;
        mask_ = buckets - 1;
        heads_.assign(buckets, 0);
        next_.assign(boundaries, 0);
        tags_.assign(boundaries, 0);
        const uint8_t *pool = p_.out.pool.data();
        for (uint64_t at = BASELINE_ALIGNMENT; at + WINDOW <= first_size_; at += BASELINE_ALIGNMENT) {
            uint64_t hash = window_hash(pool + at);
            uint64_t b = bucket_of(hash);
            size_t number = at / BASELINE_ALIGNMENT;
            tags_[number] = tag_of(hash);
            next_[number] = heads_[b];
            heads_[b] = static_cast<uint32_t>(number + 1);
        }
    }

    // hash: the window at pos. A slice whose window differs is shorter than
    // BASELINE_MIN_SLICE and never taken, so its bytes need no comparing.
    uint64_t longest_slice(const uint8_t *data, size_t size, size_t pos, uint64_t hash, size_t &length) const {
        length = 0;
        if (pos + WINDOW > size || first_size_ < BASELINE_ALIGNMENT + WINDOW) return 0;
        const uint8_t *pool = p_.out.pool.data();
        uint64_t best = 0;
        uint32_t link = heads_[bucket_of(hash)];
        uint32_t tag = tag_of(hash);
        for (size_t tried = 0; link && tried < BASELINE_CANDIDATES; ++tried, link = next_[link - 1]) {
            if (tags_[link - 1] != tag) continue;
            uint64_t at = uint64_t(link - 1) * BASELINE_ALIGNMENT;
            size_t n = forward_length(data + pos, pool + at, std::min<uint64_t>(size - pos, first_size_ - at));
            if (n > length) {
                length = n;
                best = at;
            }
        }
        return best;
    }
};

bool check_sizes(const std::vector<input_file> &inputs, std::string &error) {
    for (const input_file &file : inputs) {
        if (file.bytes.size() > MAX_FILE_BYTES) {
            error = "\"" + file.name + "\" is 4 GiB or larger, too large for an entry";
            return false;
        }
    }
    return true;
}

void finish_archive(archive &out) {
    out.directory.push_back(0);
    out.stats.pool_bytes = out.pool.size();
    out.stats.directory_bytes = out.directory.size();
}

bool pack_layout(const std::vector<input_file> &inputs, const std::vector<uint32_t> &checksums, layout mode,
                 archive &out, std::string &error, uint64_t pool_limit) {
    out = archive{};
    packing p{out, error, pool_limit, mode != layout::baseline, checksums, {}};
    for (const input_file &file : inputs) out.stats.input_bytes += file.bytes.size();
    // Untouched, the reserve costs no memory; it spares copying the pool as it grows.
    out.pool.reserve(std::min(out.stats.input_bytes, pool_limit));
    if (mode == layout::baseline) {
        baseline_packer packer(p);
        if (!packer.pack_first(inputs[0])) return false;
        for (size_t i = 1; i < inputs.size(); ++i)
            if (!packer.pack_later(inputs[i])) return false;
    } else {
        deduplicator packer(p, inputs, out.stats.input_bytes);
        for (size_t i = 0; i < inputs.size(); ++i)
            if (!packer.pack_file(i)) return false;
    }
    finish_archive(out);
    return true;
}

uint64_t total_bytes(const archive &a) { return a.pool.size() + a.directory.size(); }

// One directory entry as the reader sees it.
struct parsed_entry {
    std::string name;
    uint32_t checksum = 0;
    uint32_t size = 0;
    std::vector<reference> list;
};

// Parses the entry at cursor, stepping over 8-byte groups up to the first
// all-zero one exactly as the reader's walk does.
bool parse_entry(const std::vector<uint8_t> &directory, size_t &cursor, parsed_entry &entry, std::string &error) {
    size_t end = cursor;
    while (end < directory.size() && directory[end]) ++end;
    if (end >= directory.size()) {
        error = "directory ends inside a name";
        return false;
    }
    entry.name.assign(directory.begin() + cursor, directory.begin() + end);
    cursor = end + 1;
    if (cursor + 8 > directory.size()) {
        error = "directory ends before the checksum and size of \"" + entry.name + "\"";
        return false;
    }
    entry.checksum = get32(&directory[cursor]);
    entry.size = get32(&directory[cursor + 4]);
    if (entry.checksum == 0 && entry.size == 0) {
        error = "entry \"" + entry.name + "\" has checksum and size both 0";
        return false;
    }
    cursor += 8;
    entry.list.clear();
    for (;;) {
        if (cursor + 8 > directory.size()) {
            error = "directory ends inside the references of \"" + entry.name + "\"";
            return false;
        }
        reference r{get32(&directory[cursor]), get32(&directory[cursor + 4])};
        cursor += 8;
        if (r.offset == 0 && r.count == 0) return true;
        entry.list.push_back(r);
    }
}

bool rebuild(const std::vector<uint8_t> &pool, const parsed_entry &entry, std::vector<uint8_t> &bytes,
             std::string &error) {
    bytes.clear();
    bytes.reserve(entry.size);
    for (const reference &r : entry.list) {
        if (uint64_t(r.offset) + r.count > pool.size()) {
            error = "a reference of \"" + entry.name + "\" runs past the end of the pool";
            return false;
        }
        if (bytes.size() + uint64_t(r.count) > entry.size) {
            error = "the references of \"" + entry.name + "\" add up to more than its size";
            return false;
        }
        bytes.insert(bytes.end(), pool.begin() + r.offset, pool.begin() + r.offset + r.count);
    }
    if (bytes.size() != entry.size) {
        error = "the references of \"" + entry.name + "\" add up to less than its size";
        return false;
    }
    if (checksum(bytes.data(), bytes.size()) != entry.checksum) {
        error = "the checksum of \"" + entry.name + "\" does not match its bytes";
        return false;
    }
    return true;
}

// The reader's lookup: the request must select exactly one entry of the whole
// directory, since a second entry whose name also begins with it is damage.
bool selects_only(const std::vector<parsed_entry> &entries, size_t index) {
    const std::string &name = entries[index].name;
    for (size_t i = 0; i < entries.size(); ++i)
        if (i != index && entries[i].name.compare(0, name.size(), name) == 0) return false;
    return true;
}

}  // namespace

uint32_t checksum(const uint8_t *bytes, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    return static_cast<uint32_t>(hash);
}

// The reader takes a request to name exactly one entry: a second entry whose
// name begins with the request is damage to it, whichever stands first.
std::string check_names(const std::vector<input_file> &inputs) {
    if (inputs.empty()) return "no entries to pack";
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string &name = inputs[i].name;
        if (name.empty()) return "entry " + std::to_string(i + 1) + " has an empty name";
        for (unsigned char c : name)
            if (c < 1 || c > 127) return "entry name \"" + name + "\" has a byte outside 1..127";
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
    out = archive{};
    error = check_names(inputs);
    if (!error.empty() || !check_sizes(inputs, error)) return false;
    pool_limit = std::min(pool_limit, MAX_POOL_BYTES);
    std::vector<uint32_t> checksums;
    for (const input_file &file : inputs) checksums.push_back(checksum(file.bytes.data(), file.bytes.size()));
    if (mode == layout::baseline) return pack_layout(inputs, checksums, mode, out, error, pool_limit);
    // Only the simple layout's size is kept while the deduplicated one is
    // built, so that the two never take memory together.
    archive simple;
    if (!pack_layout(inputs, checksums, layout::baseline, simple, error, pool_limit)) return false;
    statistics simple_stats = simple.stats;
    simple = archive{};
    std::string dedup_error;
    bool packed = pack_layout(inputs, checksums, layout::deduplicated, out, dedup_error, pool_limit);
    uint64_t simple_total = simple_stats.pool_bytes + simple_stats.directory_bytes;
    uint64_t dedup_total = packed ? total_bytes(out) : 0;
    if (!packed || dedup_total > simple_total) {
        if (!pack_layout(inputs, checksums, layout::baseline, out, error, pool_limit)) return false;
        out.stats.simple_layout_written = true;
    }
    out.stats.simple_layout_bytes = simple_total;
    out.stats.deduplicated_bytes = dedup_total;
    return true;
}

bool verify(const std::vector<uint8_t> &pool, const std::vector<uint8_t> &directory,
            const std::vector<input_file> &inputs, std::string &error) {
    std::vector<parsed_entry> entries(inputs.size());
    size_t cursor = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (!parse_entry(directory, cursor, entries[i], error)) return false;
        if (entries[i].name != inputs[i].name) {
            error = "entry " + std::to_string(i + 1) + " is \"" + entries[i].name + "\", expected \"" + inputs[i].name + "\"";
            return false;
        }
    }
    if (directory.size() != cursor + 1 || directory[cursor] != 0) {
        error = "the directory does not end with exactly one zero byte after its last entry";
        return false;
    }
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (!selects_only(entries, i)) {
            error = "a request for \"" + inputs[i].name + "\" selects more than one entry";
            return false;
        }
        if (!rebuild(pool, entries[i], bytes, error)) return false;
        if (bytes != inputs[i].bytes) {
            error = "entry \"" + inputs[i].name + "\" does not rebuild its input";
            return false;
        }
    }
    return true;
}

std::string summary(const statistics &s) {
    std::string line = "packer: " + std::to_string(s.entries) + " entries, input " + std::to_string(s.input_bytes) +
                       " bytes, pool " + std::to_string(s.pool_bytes) + " bytes, directory " +
                       std::to_string(s.directory_bytes) + " bytes, reused " + std::to_string(s.reused_bytes) +
                       " bytes, new " + std::to_string(s.new_bytes) + " bytes, " + std::to_string(s.references) +
                       " references";
    if (!s.simple_layout_written)
        return s.simple_layout_bytes ? line + "; simple layout " + std::to_string(s.simple_layout_bytes) + " bytes"
                                     : line;
    if (!s.deduplicated_bytes) return line + "; simple layout written, as the deduplicated pool would outgrow its limit";
    return line + "; simple layout written, as the deduplicated one would take " +
           std::to_string(s.deduplicated_bytes) + " bytes";
}

}  // namespace packer

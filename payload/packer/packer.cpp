#include "payload/packer/packer.h"

#include <algorithm>
#include <cstring>

namespace packer {
namespace {

struct reference {
    uint32_t offset;
    uint32_t count;
};

// A reference costs 8 directory bytes, and a match in the middle of new bytes
// also splits their run in two: below this length the bytes are cheaper new.
constexpr size_t MIN_MATCH = 20;
// A match at the distance the previous one had usually resumes after a few
// changed bytes (a relocated address), so it is taken when a little shorter.
constexpr size_t MIN_REPEAT_MATCH = 16;
constexpr size_t WINDOW = 16;
constexpr size_t BUCKET_WAYS = 4;
constexpr size_t BASELINE_ALIGNMENT = 256;
constexpr size_t BASELINE_MIN_SLICE = 16;
constexpr size_t BASELINE_CANDIDATES = 16;

uint64_t load64(const uint8_t *p) {
    uint64_t value;
    std::memcpy(&value, p, 8);
    return value;
}

uint32_t load32(const uint8_t *p) {
    uint32_t value;
    std::memcpy(&value, p, 4);
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

size_t backward_length(const uint8_t *a, const uint8_t *b, size_t limit) {
    size_t n = 0;
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

void write_entry(std::vector<uint8_t> &directory, const input_file &file, const std::vector<reference> &list) {
    directory.insert(directory.end(), file.name.begin(), file.name.end());
    directory.push_back(0);
    put32(directory, checksum(file.bytes.data(), file.bytes.size()));
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

    void finish_file(const input_file &file) {
        close_run();
        write_entry(out.directory, file, list);
        out.stats.references += list.size();
        list.clear();
        last_new = false;
    }
};

// Content-defined sampling: pool and input are hashed at the same anchors, so
// a shared stretch of a few dozen bytes meets at least one of them.
uint64_t zero_window_mixed() {
    uint8_t zeros[WINDOW] = {};
    return mix(window_hash(zeros));
}
const uint64_t ZERO_WINDOW = zero_window_mixed();

// Each bucket keeps a fingerprint beside every position, so that a lookup
// touches the pool only for windows that probably match.
struct bucket {
    uint32_t position[BUCKET_WAYS];  // pool offset + 1, 0 empty
    uint32_t tag[BUCKET_WAYS];
};

struct match_index {
    std::vector<bucket> buckets;
    unsigned shift;

    explicit match_index(uint64_t input_bytes) {
        unsigned bits = 12;
        while (bits < 22 && (uint64_t(1) << bits) * 32 < input_bytes) ++bits;
        buckets.assign(size_t(1) << bits, bucket{});
        shift = 61 - bits;
    }

    // Zero padding between sections is common in executables: every window
    // of zeros is an anchor, whatever its hash says.
    static bool anchor(uint64_t mixed) { return (mixed >> 60) == 0 || mixed == ZERO_WINDOW; }
    static uint32_t tag(uint64_t mixed) { return static_cast<uint32_t>(mixed); }

    bucket &find(uint64_t mixed) { return buckets[(mixed >> shift) & (buckets.size() - 1)]; }

    void insert(uint64_t mixed, uint64_t position) {
        bucket &b = find(mixed);
        // Inside a run of one byte value keep the run's start: matches from it
        // reach furthest. (Positions are stored plus one: this is position - 1.)
        if (b.position[0] == position && b.tag[0] == tag(mixed)) return;
        std::memmove(b.position + 1, b.position, (BUCKET_WAYS - 1) * sizeof *b.position);
        std::memmove(b.tag + 1, b.tag, (BUCKET_WAYS - 1) * sizeof *b.tag);
        b.position[0] = static_cast<uint32_t>(position + 1);
        b.tag[0] = tag(mixed);
    }
};

struct candidate {
    uint64_t source = 0;  // pool offset matched at the current position
    size_t back = 0;      // bytes matched before the current position
    size_t ahead = 0;     // bytes matched from the current position on
    size_t length() const { return back + ahead; }
};

class deduplicator {
  public:
    deduplicator(packing &p, uint64_t input_bytes) : p_(p), index_(input_bytes) {}

    bool pack_file(const input_file &file) {
        data_ = file.bytes.data();
        size_ = file.bytes.size();
        pos_ = 0;
        literal_start_ = 0;
        hash_valid_ = false;
        while (pos_ < size_) {
            candidate best = find_match();
            if (best.length() >= MIN_MATCH || (best.source == repeat_source() && best.length() >= MIN_REPEAT_MATCH)) {
                take(best);
                continue;
            }
            if (!append_new_byte()) return false;
        }
        p_.finish_file(file);
        return true;
    }

  private:
    packing &p_;
    match_index index_;
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    size_t literal_start_ = 0;
    size_t hash_at_ = 0;  // position whose window input_hash_ covers
    bool hash_valid_ = false;
    uint64_t input_hash_ = 0;
    uint64_t pool_hash_ = 0;
    uint64_t pool_hashed_ = 0;   // pool length that pool_hash_ has seen
    int64_t repeat_delta_ = INT64_MIN;  // pool offset minus input position of the last match

    uint64_t repeat_source() const {
        return repeat_delta_ == INT64_MIN ? UINT64_MAX : static_cast<uint64_t>(int64_t(pos_) + repeat_delta_);
    }

    // Extends a match of data_[pos_] with pool[source] both ways. The source
    // must stay inside the pool that remains once the new bytes it swallows
    // from behind are taken back off the pool's end.
    candidate extend(uint64_t source) {
        candidate c;
        const std::vector<uint8_t> &pool = p_.out.pool;
        if (source >= pool.size()) return c;
        c.source = source;
        c.ahead = forward_length(data_ + pos_, pool.data() + source, std::min<uint64_t>(size_ - pos_, pool.size() - source));
        if (c.ahead == 0) return c;
        size_t room = std::min<uint64_t>(pos_ - literal_start_, source);
        c.back = backward_length(data_ + pos_, pool.data() + source, room);
        c.back = std::min<uint64_t>(c.back, pool.size() - source - c.ahead);
        return c;
    }

    candidate find_match() {
        candidate best;
        uint64_t repeat = repeat_source();
        if (repeat != UINT64_MAX && repeat + 4 <= p_.out.pool.size() && pos_ + 4 <= size_ &&
            load32(data_ + pos_) == load32(p_.out.pool.data() + repeat))
            best = extend(repeat);
        if (pos_ + WINDOW > size_) return best;
        input_hash_ = hash_valid_ && hash_at_ + 1 == pos_ ? roll(input_hash_, data_[pos_ + WINDOW - 1]) : window_hash(data_ + pos_);
        hash_at_ = pos_;
        hash_valid_ = true;
        uint64_t mixed = mix(input_hash_);
        if (!match_index::anchor(mixed)) return best;
        const bucket &b = index_.find(mixed);
        uint32_t tag = match_index::tag(mixed);
        for (size_t way = 0; way < BUCKET_WAYS && b.position[way]; ++way) {
            if (b.tag[way] != tag) continue;
            candidate c = extend(b.position[way] - 1);
            if (c.length() > best.length()) best = c;
        }
        return best;
    }

    void take(const candidate &c) {
        std::vector<uint8_t> &pool = p_.out.pool;
        pool.resize(pool.size() - c.back);
        p_.reuse(c.source - c.back, c.length());
        repeat_delta_ = int64_t(c.source) - int64_t(pos_);
        pos_ += c.ahead;
        literal_start_ = pos_;
    }

    bool append_new_byte() {
        if (!p_.append(data_ + pos_, 1)) return false;
        ++pos_;
        index_pool_end();
        return true;
    }

    // Indexes the window that ends at the pool's last byte.
    void index_pool_end() {
        const std::vector<uint8_t> &pool = p_.out.pool;
        if (pool.size() < WINDOW) return;
        uint64_t start = pool.size() - WINDOW;
        pool_hash_ = pool_hashed_ + 1 == pool.size() ? roll(pool_hash_, pool.back()) : window_hash(pool.data() + start);
        pool_hashed_ = pool.size();
        uint64_t mixed = mix(pool_hash_);
        if (match_index::anchor(mixed)) index_.insert(mixed, start);
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
        while (pos < size) {
            size_t length = 0;
            uint64_t slice = longest_slice(data, size, pos, length);
            if (length >= BASELINE_MIN_SLICE) {
                p_.reuse(slice, length);
                pos += length;
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
    uint64_t mask_ = 0;

    uint64_t bucket_of(const uint8_t *p) const { return (mix(window_hash(p)) >> 40) & mask_; }

    void index_first() {
        size_t boundaries = first_size_ / BASELINE_ALIGNMENT + 1;
        size_t buckets = 1024;
        while (buckets < boundaries) buckets <<= 1;
        mask_ = buckets - 1;
        heads_.assign(buckets, 0);
        next_.assign(boundaries, 0);
        const uint8_t *pool = p_.out.pool.data();
        for (uint64_t at = BASELINE_ALIGNMENT; at + WINDOW <= first_size_; at += BASELINE_ALIGNMENT) {
            uint64_t b = bucket_of(pool + at);
            size_t number = at / BASELINE_ALIGNMENT;
            next_[number] = heads_[b];
            heads_[b] = static_cast<uint32_t>(number + 1);
        }
    }

    uint64_t longest_slice(const uint8_t *data, size_t size, size_t pos, size_t &length) const {
        length = 0;
        if (pos + WINDOW > size || first_size_ < BASELINE_ALIGNMENT + WINDOW) return 0;
        const uint8_t *pool = p_.out.pool.data();
        uint64_t best = 0;
        uint32_t link = heads_[bucket_of(data + pos)];
        for (size_t tried = 0; link && tried < BASELINE_CANDIDATES; ++tried, link = next_[link - 1]) {
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

// Index of the first entry whose name begins with name.
size_t lookup(const std::vector<parsed_entry> &entries, const std::string &name) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name.compare(0, name.size(), name) == 0) return i;
    return entries.size();
}

}  // namespace

uint32_t checksum(const uint8_t *bytes, size_t size) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    return static_cast<uint32_t>(hash);
}

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
            if (earlier.compare(0, name.size(), name) == 0)
                return "entry name \"" + name + "\" begins the earlier name \"" + earlier +
                       "\", so the lookup would never reach it";
        }
    }
    return "";
}

bool pack(const std::vector<input_file> &inputs, layout mode, archive &out, std::string &error, uint64_t pool_limit) {
    out = archive{};
    error = check_names(inputs);
    if (!error.empty() || !check_sizes(inputs, error)) return false;
    packing p{out, error, std::min(pool_limit, MAX_POOL_BYTES), mode != layout::baseline, {}};
    for (const input_file &file : inputs) out.stats.input_bytes += file.bytes.size();
    out.pool.reserve(std::min(out.stats.input_bytes, p.pool_limit));
    if (mode == layout::baseline) {
        baseline_packer packer(p);
        if (!packer.pack_first(inputs[0])) return false;
        for (size_t i = 1; i < inputs.size(); ++i)
            if (!packer.pack_later(inputs[i])) return false;
    } else {
        deduplicator packer(p, out.stats.input_bytes);
        for (const input_file &file : inputs)
            if (!packer.pack_file(file)) return false;
    }
    out.directory.push_back(0);
    out.stats.entries = inputs.size();
    out.stats.pool_bytes = out.pool.size();
    out.stats.directory_bytes = out.directory.size();
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
        if (lookup(entries, inputs[i].name) != i) {
            error = "the lookup of \"" + inputs[i].name + "\" selects another entry";
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
    return "packer: " + std::to_string(s.entries) + " entries, input " + std::to_string(s.input_bytes) +
           " bytes, pool " + std::to_string(s.pool_bytes) + " bytes, directory " + std::to_string(s.directory_bytes) +
           " bytes, reused " + std::to_string(s.reused_bytes) + " bytes, new " + std::to_string(s.new_bytes) +
           " bytes, " + std::to_string(s.references) + " references";
}

}  // namespace packer

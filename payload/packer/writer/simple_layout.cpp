#include <algorithm>

#include "payload/packer/engine/rolling_hash.h"
#include "payload/packer/writer/layouts.h"

namespace packer {
namespace {

constexpr size_t SIMPLE_ALIGNMENT = 256;
constexpr size_t SIMPLE_MIN_SLICE = 16;
constexpr size_t SIMPLE_CANDIDATES = 16;
static_assert(SIMPLE_MIN_SLICE >= WINDOW, "the simple layout's lookup skips slices whose window differs");

// The simple layout: the first file whole, later files built from slices of
// it that start on a 256-byte boundary, and their own new bytes.
class simple_packer {
  public:
    explicit simple_packer(packing &p) : p_(p) {}

    bool pack_first(const input_file &file) {
        if (!p_.append(file.bytes.data(), file.bytes.size())) return false;
        first_ = file.bytes.data();
        first_size_ = file.bytes.size();
        index_first();
        p_.finish_file(file);
        return true;
    }

    // Bytes that no slice covers are appended a run at a time.
    bool pack_later(const input_file &file) {
        const uint8_t *data = file.bytes.data();
        size_t size = file.bytes.size();
        size_t pos = 0, run = 0;
        uint64_t hash = 0;
        bool hashed = false;
        bool searched = first_size_ >= SIMPLE_ALIGNMENT + WINDOW;
        while (searched && pos + WINDOW <= size) {
            hash = hashed ? roll(hash, data[pos + WINDOW - 1]) : window_hash(data + pos);
            hashed = true;
            size_t length = 0;
            uint64_t slice = longest_slice(data, size, pos, hash, length);
            if (length < SIMPLE_MIN_SLICE) {
                ++pos;
                continue;
            }
            if (!p_.append(data + run, pos - run)) return false;
            p_.reuse(slice, length);
            pos += length;
            run = pos;
            hashed = false;
        }
        if (!p_.append(data + run, size - run)) return false;
        p_.finish_file(file);
        return true;
    }

  private:
    packing &p_;
    const uint8_t *first_ = nullptr;  // the first file, which the pool begins with
    uint64_t first_size_ = 0;
    std::vector<uint32_t> heads_;  // per bucket: slice number + 1 of the latest boundary, 0 none
    std::vector<uint32_t> next_;   // per slice number: the previous one in its bucket
    std::vector<uint32_t> tags_;   // per slice number: a fingerprint of its window, to spare the pool
    uint64_t mask_ = 0;

    uint64_t bucket_of(uint64_t hash) const { return (mix(hash) >> 40) & mask_; }
    static uint32_t tag_of(uint64_t hash) { return static_cast<uint32_t>(mix(hash)); }

    void index_first() {
        size_t boundaries = first_size_ / SIMPLE_ALIGNMENT + 1;
        // Mostly empty buckets pass most bytes over at the first test.
        size_t buckets = 1024;
        while (buckets < boundaries * 8) buckets <<= 1;
        mask_ = buckets - 1;
        heads_.assign(buckets, 0);
        next_.assign(boundaries, 0);
        tags_.assign(boundaries, 0);
        for (uint64_t at = SIMPLE_ALIGNMENT; at + WINDOW <= first_size_; at += SIMPLE_ALIGNMENT) {
            uint64_t hash = window_hash(first_ + at);
            uint64_t b = bucket_of(hash);
            size_t number = at / SIMPLE_ALIGNMENT;
            tags_[number] = tag_of(hash);
            next_[number] = heads_[b];
            heads_[b] = static_cast<uint32_t>(number + 1);
        }
    }

    // hash: the window at pos. A slice whose window differs is shorter than
    // SIMPLE_MIN_SLICE and never taken, so its bytes need no comparing.
    uint64_t longest_slice(const uint8_t *data, size_t size, size_t pos, uint64_t hash, size_t &length) const {
        length = 0;
        uint64_t best = 0;
        uint32_t link = heads_[bucket_of(hash)];
        uint32_t tag = tag_of(hash);
        for (size_t tried = 0; link && tried < SIMPLE_CANDIDATES; ++tried, link = next_[link - 1]) {
            if (tags_[link - 1] != tag) continue;
            uint64_t at = uint64_t(link - 1) * SIMPLE_ALIGNMENT;
            size_t n = forward_length(data + pos, first_ + at, std::min<uint64_t>(size - pos, first_size_ - at));
            if (n > length) {
                length = n;
                best = at;
            }
        }
        return best;
    }
};

}  // namespace

bool pack_simple(packing &p, const std::vector<input_file> &inputs) {
    simple_packer packer(p);
    if (!packer.pack_first(inputs[0])) return false;
    for (size_t i = 1; i < inputs.size(); ++i)
        if (!packer.pack_later(inputs[i])) return false;
    return true;
}

bool pack_whole(packing &p, const std::vector<input_file> &inputs) {
    for (const input_file &file : inputs) {
        if (!p.append(file.bytes.data(), file.bytes.size())) return false;
        p.finish_file(file);
    }
    return true;
}

}  // namespace packer

// What the deduplicated layout knows of the files: their bytes laid end to
// end, and the list each packed file was given.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/packer/writer/packer.h"
#include "payload/packer/writer/packing.h"

namespace packer {

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

}  // namespace packer

// The matches of a file with the files before it and with its own earlier
// bytes, which the parse chooses from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "payload/packer/engine/contents.h"
#include "payload/packer/engine/match_index.h"

namespace packer {

// A stretch of the file, [start, end), equal to the bytes at source. A source
// below the pool's size is a pool offset; from there on it is pool size +
// a position in the file itself, before start. (Files are under 4 GiB.)
// Inherited: it starts where an earlier file's list cut bytes that go on
// alike in this file.
struct match {
    uint32_t start, end;
    uint64_t source : 63;
    uint64_t inherited : 1;
    match(uint64_t first, uint64_t last, uint64_t from, bool cut_inherited = false)
        : start(static_cast<uint32_t>(first)), end(static_cast<uint32_t>(last)), source(from),
          inherited(cut_inherited) {}
    bool operator==(const match &other) const {
        return start == other.start && end == other.end && source == other.source;
    }
};
static_assert(sizeof(match) == 16, "a file's matches are many: the flag shares the source's word");

// The most recent distances between a match and its source are tried at every
// byte that no match covers: code resumes at the same distance after a few
// changed bytes (a relocated address).
constexpr size_t RECENT_DISTANCES = 4;

// Found in blocks rather than one growing array: they are found on a thread
// of their own, whose memory a doubling array would leave twice as large.
using found_matches = std::deque<match>;

// Finds, for one file, the longest matches with the earlier files and with
// the file's own earlier bytes around sampled anchors, and at recent
// distances. Finding reads only the files' bytes and the index, so the next
// file's matches are found while this one is parsed; they become the pool
// slices that hold them once this file's list is known.
class match_finder {
  public:
    match_finder(const contents &all, match_index &index, const std::vector<uint8_t> &pool)
        : all_(all), index_(index), pool_(pool) {}

    // The matches of file k, in the order found, each with the content
    // offset of its source.
    found_matches find(size_t k);

    // The found matches as the parse takes them, for a pool of pool_size
    // bytes: those with earlier files as the pool slices that hold them,
    // those with the file's own bytes as pool size + their position.
    std::vector<match> slices(size_t k, const found_matches &found, uint64_t pool_size) const;

  private:
    const contents &all_;
    match_index &index_;
    const std::vector<uint8_t> &pool_;  // the pool as the files before this one left it
    uint64_t base_ = 0;  // content offset of the file
    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    found_matches found_;
    int64_t recent_[RECENT_DISTANCES] = {};  // content offset of the source minus position
    size_t recent_count_ = 0;
    uint64_t covered_ = 0;      // every position before this is inside a found match
    size_t probed_file_ = 0;    // the earlier file that the last probe read
    uint64_t ahead_hash_ = 0;   // the hash of the window at ahead_at_
    size_t ahead_at_ = 0;

    void scan();
    void fetch_ahead(size_t ahead);
    void look_up(size_t at, uint64_t mixed);
    void try_recent(size_t at);
    bool probe(size_t at, uint64_t source);
    void consider(size_t at, uint64_t source);
    match extend(size_t at, uint64_t source, uint64_t floor) const;
    void run_on_in_pool(const std::vector<uint8_t> &bytes, match &slice, uint64_t &reach, uint64_t pool_size) const;
    void run_back_in_pool(const std::vector<uint8_t> &bytes, match &slice, uint64_t &reach, uint64_t floor) const;
    void remember(int64_t distance);
};

}  // namespace packer

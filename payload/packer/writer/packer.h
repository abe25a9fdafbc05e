// The build-time packer: turns the payload files into the installer's archive,
// a byte pool and a directory of entries whose chunk references rebuild each
// file from slices of the pool, in the format of payload/archive_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace packer {

struct input_file {
    std::string name;
    std::vector<uint8_t> bytes;
};

enum class layout {
    // Each file parsed into reused slices and new bytes at the least cost in
    // pool and directory bytes, for it and for the files after it that hold
    // the same bytes. The simple layout is written instead when it is smaller.
    deduplicated,
    // First file whole; later files reuse only 256-aligned slices of it.
    simple,
    // Every file whole, one slice each: compressed, a window as large as the
    // pool finds the bytes the files share by itself.
    whole,
};

struct statistics {
    uint64_t entries = 0;
    uint64_t input_bytes = 0;
    uint64_t pool_bytes = 0;
    uint64_t directory_bytes = 0;  // the whole directory file, its end byte included
    uint64_t reused_bytes = 0;
    uint64_t new_bytes = 0;
    uint64_t references = 0;
    // Measured for the deduplicated layout: both layouts' pool + directory,
    // and whether the simple one was written as the smaller.
    uint64_t simple_layout_bytes = 0;
    uint64_t deduplicated_bytes = 0;  // 0 when its pool would outgrow the limit
    bool simple_layout_written = false;
    std::vector<uint32_t> parse_rounds;  // per file of the deduplicated layout, the parses its rounds made
    // A compressed archive: its pool block, and both candidates' archives
    // (pool block + directory; 0 where one could not be packed).
    uint64_t compressed_pool_bytes = 0;
    uint64_t whole_compressed_bytes = 0;
    uint64_t deduplicated_compressed_bytes = 0;
    bool whole_written = false;
};

struct archive {
    std::vector<uint8_t> pool;  // the pool, or for a compressed archive the block that codes it
    std::vector<uint8_t> directory;  // ends with the zero byte after the last entry
    statistics stats;
};

// Offsets and counts are 32-bit, so no pool may outgrow them.
constexpr uint64_t MAX_POOL_BYTES = 0xFFFFFFFFull;
constexpr uint64_t MAX_FILE_BYTES = 0xFFFFFFFFull;

// Empty when every name can be stored and selects exactly one entry in the
// reader's lookup, which treats a second entry whose name begins with the
// requested one as damage: no name may begin another.
std::string check_names(const std::vector<input_file> &inputs);

// Packs the inputs in directory order: names that check_names accepts, files
// under 4 GiB (the program checks both before it reads a file). False with a
// message in error when the pool would outgrow pool_limit; out is then
// unspecified.
bool pack(const std::vector<input_file> &inputs, layout mode, archive &out, std::string &error,
          uint64_t pool_limit = MAX_POOL_BYTES);

// Packs the inputs as pack does into both the whole and the deduplicated
// layout, codes each pool into the compressed form's block (LZMA, preset 9
// extreme, a window as large as the pool up to 64 MiB) and keeps the archive
// whose block and directory are the smaller. False with a message when
// neither can be packed or coded.
bool pack_compressed(const std::vector<input_file> &inputs, archive &out, std::string &error,
                     uint64_t pool_limit = MAX_POOL_BYTES);

// The pool coded into the compressed form's block; false with a message when
// the stream would outgrow 32-bit lengths.
bool compress_pool(const std::vector<uint8_t> &pool, std::vector<uint8_t> &block, std::string &error);

// What liblzma's encoder takes for a pool of that size, its window included.
uint64_t encoder_memory(uint64_t pool_bytes);

// Walks the directory as the installer's reader does (each name must select
// exactly one entry), decodes a compressed pool with the installer's decoder
// and rebuilds every entry from the pool; true when each
// matches its input byte for byte and the archive holds every rule the reader
// relies on.
bool verify(const std::vector<uint8_t> &pool, const std::vector<uint8_t> &directory,
            const std::vector<input_file> &inputs, std::string &error);

// One line: the sizes, and which layout was written.
std::string summary(const statistics &stats);

// Sets up the process's heap as the packer needs it; called first thing by
// a program that packs.
void set_up_heap();

}  // namespace packer

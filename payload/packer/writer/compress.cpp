// The compressed archive: the pool coded as one LZMA stream behind the
// compressed form's header, for both layouts that suit a window as large as
// the pool, and the smaller archive kept.
#include <lzma.h>

#include <algorithm>
#include <new>

#include "payload/archive_format.h"
#include "payload/packer/engine/second_thread.h"
#include "payload/packer/writer/packer.h"
#include "tools/shared/little_endian.h"

namespace packer {
namespace {

using archive_format::COMPRESSED_HEADER_BYTES;

// The window takes in the whole pool up to 64 MiB, beyond which the encoder
// would need more than 700 MiB.
constexpr uint64_t LARGEST_DICTIONARY = 64u << 20;
constexpr size_t PROPERTIES_BYTES = 5;

lzma_options_lzma encoder_options(uint64_t pool_bytes) {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME);
    options.dict_size = uint32_t(std::clamp<uint64_t>(pool_bytes, LZMA_DICT_SIZE_MIN, LARGEST_DICTIONARY));
    return options;
}

// Appends the coded pool to block. liblzma's raw LZMA1 stream always ends
// with the end mark, which the installer's decoder holds it to.
bool encode(const std::vector<uint8_t> &pool, const lzma_filter *filters, std::vector<uint8_t> &block,
            std::string &error) {
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_ret result = lzma_raw_encoder(&stream, filters);
    stream.next_in = pool.data();
    stream.avail_in = pool.size();
    size_t written = block.size();
    while (result == LZMA_OK) {
        block.resize(written + pool.size() / 16 + 65536);
        stream.next_out = block.data() + written;
        stream.avail_out = block.size() - written;
        result = lzma_code(&stream, LZMA_FINISH);
        written = block.size() - stream.avail_out;
    }
    lzma_end(&stream);
    block.resize(written);
    if (result == LZMA_MEM_ERROR) throw std::bad_alloc();
    if (result == LZMA_STREAM_END) return true;
    error = "liblzma failed to compress the pool (error " + std::to_string(result) + ")";
    return false;
}

uint64_t archive_bytes(const archive &a) { return a.pool.size() + a.directory.size(); }

}  // namespace

uint64_t encoder_memory(uint64_t pool_bytes) {
    lzma_options_lzma options = encoder_options(pool_bytes);
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    return lzma_raw_encoder_memusage(filters);
}

bool compress_pool(const std::vector<uint8_t> &pool, std::vector<uint8_t> &block, std::string &error) {
    lzma_options_lzma options = encoder_options(pool.size());
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    block.assign(COMPRESSED_HEADER_BYTES + PROPERTIES_BYTES, 0);
    std::copy(std::begin(archive_format::COMPRESSED_MAGIC), std::end(archive_format::COMPRESSED_MAGIC), block.begin());
    if (lzma_properties_encode(filters, block.data() + COMPRESSED_HEADER_BYTES) != LZMA_OK) {
        error = "liblzma cannot write the encoder's properties";
        return false;
    }
    if (!encode(pool, filters, block, error)) return false;
    uint64_t stream_bytes = block.size() - COMPRESSED_HEADER_BYTES;
    if (stream_bytes > UINT32_MAX) {
        error = "the compressed pool would outgrow 32-bit lengths (" + std::to_string(stream_bytes) + " bytes)";
        return false;
    }
    little_endian::put32(block.data() + 8, pool.size());
    little_endian::put32(block.data() + 12, stream_bytes);
    uint8_t *stream = block.data() + COMPRESSED_HEADER_BYTES;
    little_endian::put64(block.data() + 16, archive_format::stream_checksum(block.data() + 8, stream, stream_bytes));
    return true;
}

bool pack_compressed(const std::vector<input_file> &inputs, archive &out, std::string &error, uint64_t pool_limit) {
    // The files whole, where the window finds the bytes they share by itself,
    // and the deduplicated layout, where it cannot (or the simple one, where
    // that is smaller).
    archive candidates[2];
    std::string failures[2];
    bool coded[2];
    for (int i : {0, 1}) {
        layout mode = i == 0 ? layout::whole : layout::deduplicated;
        coded[i] = pack(inputs, mode, candidates[i], failures[i], pool_limit);
    }
    auto code = [&](int i) {
        std::vector<uint8_t> block;
        coded[i] = coded[i] && compress_pool(candidates[i].pool, block, failures[i]);
        candidates[i].pool = std::move(block);
    };
    side_by_side([&] { code(1); }, [&] { code(0); });
    if (!coded[0] && !coded[1]) {
        error = failures[0];
        return false;
    }
    uint64_t totals[2] = {coded[0] ? archive_bytes(candidates[0]) : 0, coded[1] ? archive_bytes(candidates[1]) : 0};
    int kept = coded[0] && (!coded[1] || totals[0] <= totals[1]) ? 0 : 1;
    out = std::move(candidates[kept]);
    out.stats.compressed_pool_bytes = out.pool.size();
    out.stats.whole_compressed_bytes = totals[0];
    out.stats.deduplicated_compressed_bytes = totals[1];
    out.stats.whole_written = kept == 0;
    return true;
}

}  // namespace packer

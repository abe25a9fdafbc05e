// Decoding of a compressed archive's pool with the LZMA SDK's decoder, in the
// one form that the installer's reader and the packer's check of its own
// output use. Freestanding, like archive_format.h.
#pragma once

#include "payload/archive_format.h"

extern "C" {
#include <LzmaDec.h>
}

namespace archive_format {

enum class decoding { done, no_memory, damaged };

// Decodes the stream of pool into out, which holds pool.size bytes; alloc
// serves the decoder's own state (16 KB). Done only when the stream is read
// to its last byte and its end mark comes exactly after pool.size bytes.
static inline decoding decode_pool(const pool_block &pool, uint8_t *out, ISzAlloc *alloc) {
    if (pool.stream_bytes < LZMA_PROPS_SIZE) return decoding::damaged;
    SizeT coded = pool.stream_bytes - LZMA_PROPS_SIZE, decoded = SizeT(pool.size);
    ELzmaStatus status;
    SRes result = LzmaDecode(out, &decoded, pool.stream + LZMA_PROPS_SIZE, &coded, pool.stream, LZMA_PROPS_SIZE,
                             LZMA_FINISH_END, &status, alloc);
    if (result == SZ_ERROR_MEM) return decoding::no_memory;
    bool whole = result == SZ_OK && status == LZMA_STATUS_FINISHED_WITH_MARK && decoded == pool.size &&
                 coded == pool.stream_bytes - LZMA_PROPS_SIZE;
    return whole ? decoding::done : decoding::damaged;
}

}  // namespace archive_format

// Data the build embeds as raw bytes, each with a mark at its first byte and
// one just past its last (see resources/embedded_data.S).
#pragma once

#include <windows.h>

struct embedded_bytes {
    const BYTE *start;
    const BYTE *end;
};

extern "C" const embedded_bytes payload_pool;       // the archive's byte pool
extern "C" const embedded_bytes payload_directory;  // its entries, then one zero byte
extern "C" const embedded_bytes licence_text;       // 7-bit ASCII, CR LF, no terminator

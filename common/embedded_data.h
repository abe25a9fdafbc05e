// Data the build embeds as raw bytes, each with a mark at its first byte and
// one just past its last (see resources/embedded_data.S).
#pragma once

#include <windows.h>

// Each mark is kept as its distance from the record itself, not as an
// address: the image then needs no base relocations at all (no section of
// them in the executable) and still loads at any address.
struct embedded_bytes {
    INT_PTR start_offset;
    INT_PTR end_offset;
    const BYTE *start() const { return at(start_offset); }
    const BYTE *end() const { return at(end_offset); }

private:
    const BYTE *at(INT_PTR offset) const {
        return reinterpret_cast<const BYTE *>(reinterpret_cast<INT_PTR>(this) + offset);
    }
};

extern "C" const embedded_bytes payload_pool;       // the archive's byte pool
extern "C" const embedded_bytes payload_directory;  // its entries, then one zero byte
extern "C" const embedded_bytes licence_text;       // 7-bit ASCII, CR LF, no terminator

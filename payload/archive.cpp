#include "payload/archive.h"

#include "common/error_report.h"
#include "common/embedded_data.h"
#include "common/exit_codes.h"
#include "payload/archive_format.h"
#include "payload/pool_decoder.h"

#define TEXT_CORRUPTED "The installer has been corrupted. Please download Quenthalvox again."

const BYTE *decoded_pool;

bool find_entry(const char *name, payload_entry *entry) {
    return archive_format::find(payload_directory.start(), payload_directory.end(), name, entry);
}

// Lays the entry's slices end to end into bytes, which holds entry.size bytes
// (slices_fit has checked that they fill it exactly), and gives their
// checksum. One pass: the checksum's chain of multiplications sets the pace,
// and the copy rides along at no cost, where a separate copy would read and
// write every byte once more. (No memmove call can arise: the product is built
// without loop-to-library-call rewriting.)
static DWORD rebuild(const payload_entry &entry, const BYTE *pool, BYTE *bytes) {
    using namespace archive_format;
    DWORD hash = CHECKSUM_START;
    for (const BYTE *reference = entry.references; !is_end_of_list(reference); reference += GROUP_BYTES) {
        const BYTE *slice = pool + read_u32(reference);
        DWORD count = read_u32(reference + 4);
        for (DWORD i = 0; i < count; ++i) {
            BYTE byte = slice[i];
            bytes[i] = byte;
            hash = checksum_step(hash, byte);
        }
        bytes += count;
    }
    return hash;
}

[[noreturn]] static void report_corruption(HWND owner) {
    show_error(owner, TEXT_CORRUPTED);
    ExitProcess(EXIT_PAYLOAD_CORRUPTED);
}

static void *heap_block(void *, size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
static void free_heap_block(void *, void *block) { HeapFree(GetProcessHeap(), 0, block); }

// The compressed pool, decoded the first time; null when the heap has no room
// for it. Its checksum is tested before any memory is asked for.
static const BYTE *decode_once(HWND owner, const archive_format::pool_block &pool) {
    if (decoded_pool) return decoded_pool;
    if (!archive_format::stream_intact(pool)) report_corruption(owner);
    BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, SIZE_T(pool.size));
    if (!bytes) return nullptr;
    // Filled here: a record of addresses in the image's data would need base relocations.
    ISzAlloc heap;
    heap.Alloc = heap_block;
    heap.Free = free_heap_block;
    switch (archive_format::decode_pool(pool, bytes, &heap)) {
    case archive_format::decoding::done: return decoded_pool = bytes;
    case archive_format::decoding::no_memory: break;
    case archive_format::decoding::damaged: report_corruption(owner);
    }
    HeapFree(GetProcessHeap(), 0, bytes);
    return nullptr;
}

loaded_entry load_entry(HWND owner, const char *name) {
    payload_entry entry;
    archive_format::pool_block pool;
    // Every name the installer asks for is packed, so a missing one means the
    // directory itself was damaged.
    if (!archive_format::read_pool_block(payload_pool.start(), payload_pool.end(), &pool) ||
        !find_entry(name, &entry) || !archive_format::slices_fit(entry.references, entry.size, pool.size))
        report_corruption(owner);
    const BYTE *pool_bytes = pool.compressed ? decode_once(owner, pool) : payload_pool.start();
    BYTE *bytes = pool_bytes ? (BYTE *)HeapAlloc(GetProcessHeap(), 0, entry.size) : nullptr;
    if (!bytes) return loaded_entry{nullptr, 0};
    // The buffer is not freed on the way out: the process ends right after.
    if (rebuild(entry, pool_bytes, bytes) != entry.checksum) report_corruption(owner);
    return loaded_entry{bytes, entry.size};
}

#include "payload/archive.h"

#include "common/error_report.h"
#include "common/embedded_data.h"
#include "common/exit_codes.h"
#include "payload/archive_format.h"

#define TEXT_CORRUPTED "The installer has been corrupted. Please download Quenthalvox again."

bool find_entry(const char *name, payload_entry *entry) {
    return archive_format::find(payload_directory.start(), payload_directory.end(), name, entry);
}

// Lays the entry's slices end to end into bytes, which holds entry.size bytes
// (slices_fit has checked that they fill it exactly), and gives their
// checksum. One pass: the checksum's chain of multiplications sets the pace,
// and the copy rides along at no cost, where a separate copy would read and
// write every byte once more. (No memmove call can arise: the product is built
// without loop-to-library-call rewriting.)
static DWORD rebuild(const payload_entry &entry, BYTE *bytes) {
    using namespace archive_format;
    DWORD hash = CHECKSUM_START;
    for (const BYTE *reference = entry.references; !is_end_of_list(reference); reference += GROUP_BYTES) {
        const BYTE *slice = payload_pool.start() + read_u32(reference);
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

loaded_entry load_entry(HWND owner, const char *name) {
    payload_entry entry;
    // Every name the installer asks for is packed, so a missing one means the
    // directory itself was damaged.
    if (!find_entry(name, &entry) ||
        !archive_format::slices_fit(entry.references, entry.size, payload_pool.end() - payload_pool.start()))
        report_corruption(owner);
    BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, entry.size);
    if (!bytes) return loaded_entry{nullptr, 0};
    // The buffer is not freed on the way out: the process ends right after.
    if (rebuild(entry, bytes) != entry.checksum) report_corruption(owner);
    return loaded_entry{bytes, entry.size};
}

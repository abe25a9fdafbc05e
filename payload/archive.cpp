#include "payload/archive.h"

#include "common/embedded_data.h"
#include "common/shared.h"

#define TEXT_CORRUPTED L"The installer has been corrupted. Please download Quenthalvox again."

// The archive is two blocks of bytes written by the packer at build time.
//
// payload_pool holds the stored bytes. An entry's file is a list of slices of
// the pool laid end to end; a slice may serve any number of entries, which is
// how builds that share most of their bytes are stored once.
//
// payload_directory is the entries, one after another, with no header, count,
// alignment or padding, and one zero byte after the last. One entry:
//
//   name       ASCII, at least one character, then a zero byte
//   checksum   u32: low 32 bits of the 64-bit FNV-1a of the file's bytes
//   size       u32: the file's length
//   slices     any number of (offset u32, count u32) into the pool
//   end        8 zero bytes
//
// Integers are little-endian and unaligned: the checksum starts right after
// the name's zero byte. No slice but the end has offset and count both 0, and
// checksum and size are never both 0 (an empty file hashes to 0x84222325), so
// the first all-zero 8-byte group after the name ends the entry. When one name
// is a prefix of another the shorter stands first: the lookup takes the first
// entry whose name begins with the requested one.
//
// The reader still trusts none of it that could take it out of bounds: every
// walk stops at the directory's end, and a name that is not found or a slice
// that leaves the pool counts as a damaged archive.

static DWORD read_u32(const BYTE *bytes) {
    return DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
}

static bool is_zero_group(const BYTE *group) {
    for (int i = 0; i < 8; ++i)
        if (group[i]) return false;
    return true;
}

// Past the first all-zero group at or after groups, or null when the groups
// would run past end.
static const BYTE *skip_groups(const BYTE *groups, const BYTE *end) {
    for (; end - groups >= 8; groups += 8)
        if (is_zero_group(groups)) return groups + 8;
    return nullptr;
}

// The byte after the name's zero byte, or null when the name runs past end.
static const BYTE *past_name(const BYTE *entry_name, const BYTE *end) {
    while (entry_name < end && *entry_name) ++entry_name;
    return entry_name < end ? entry_name + 1 : nullptr;
}

// The entry name's zero byte differs from every byte of name, so the
// comparison never runs past it.
static bool begins_with(const BYTE *entry_name, const BYTE *end, const char *name) {
    for (; *name; ++name, ++entry_name)
        if (entry_name == end || *entry_name != BYTE(*name)) return false;
    return true;
}

static bool select_entry(const BYTE *groups, const BYTE *end, payload_entry *entry) {
    // The whole list must lie inside the directory before the loader trusts
    // it to end.
    if (end - groups < 8 || !skip_groups(groups + 8, end)) return false;
    entry->checksum = read_u32(groups);
    entry->size = read_u32(groups + 4);
    entry->references = groups + 8;
    return true;
}

bool find_entry(const char *name, payload_entry *entry) {
    const BYTE *end = payload_directory.end;
    const BYTE *at = payload_directory.start;
    // A zero byte where a name would begin is the mark after the last entry.
    while (at < end && *at) {
        const BYTE *groups = past_name(at, end);
        if (!groups) return false;
        if (begins_with(at, end, name)) return select_entry(groups, end, entry);
        at = skip_groups(groups, end);
        if (!at) return false;
    }
    return false;
}

DWORD payload_checksum(const BYTE *bytes, DWORD size) {
    // The 64-bit FNV-1a cut to its low 32 bits: the high half of the state
    // never reaches the low half, so 32-bit arithmetic gives the same value.
    DWORD hash = 0x84222325;
    for (DWORD i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x1B3;
    return hash;
}

// Lays the entry's slices end to end into bytes, which holds entry.size bytes.
// False when the slices do not add up to the size or one lies outside the pool.
static bool rebuild(const payload_entry &entry, BYTE *bytes) {
    // 64 bits, so that the total plus one count can never wrap.
    unsigned long long total = 0;
    unsigned long long pool_length = payload_pool.end - payload_pool.start;
    for (const BYTE *reference = entry.references;; reference += 8) {
        DWORD offset = read_u32(reference);
        DWORD count = read_u32(reference + 4);
        if (offset == 0 && count == 0) break;
        if (total + count > entry.size) return false;
        if ((unsigned long long)offset + count > pool_length) return false;
        // The built-in, not a loop: a byte loop between buffers the compiler
        // cannot tell apart turns into a call to memmove, which this program
        // is not linked with, and a plain loop would copy a byte at a time.
        __builtin_memcpy(bytes + total, payload_pool.start + offset, count);
        total += count;
    }
    return total == entry.size;
}

[[noreturn]] static void report_corruption(HWND owner) {
    MessageBoxW(owner, TEXT_CORRUPTED, nullptr, MB_OK);
    ExitProcess(EXIT_PAYLOAD_CORRUPTED);
}

loaded_entry load_entry(HWND owner, const char *name) {
    payload_entry entry;
    // Every name the installer asks for is packed, so a missing one means the
    // directory itself was damaged.
    if (!find_entry(name, &entry)) report_corruption(owner);
    BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, entry.size);
    if (!bytes) return loaded_entry{nullptr, 0};
    // The buffer is not freed on the way out: the process ends right after.
    if (!rebuild(entry, bytes)) report_corruption(owner);
    if (payload_checksum(bytes, entry.size) != entry.checksum) report_corruption(owner);
    return loaded_entry{bytes, entry.size};
}

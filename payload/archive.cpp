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
// the first all-zero 8-byte group after the checksum and size ends the entry.
// No name begins with another, so a request selects exactly one entry.
//
// The reader trusts none of it: every walk stops at the directory's end. The
// checksum covers an entry's bytes but not its name, so exactly one name must
// begin with the request; none, or a second one (a damaged name that now looks
// like another), is damage. So are slices that leave the pool or do not add up
// to the size, found before any memory is asked for, so that a damaged size is
// never reported as a shortage of memory.

static DWORD read_u32(const BYTE *bytes) {
    return DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
}

static bool is_zero_group(const BYTE *group) {
    for (int i = 0; i < 8; ++i)
        if (group[i]) return false;
    return true;
}

// The byte after the name's zero byte, or null when the name runs past end.
static const BYTE *past_name(const BYTE *entry_name, const BYTE *end) {
    while (entry_name < end && *entry_name) ++entry_name;
    return entry_name < end ? entry_name + 1 : nullptr;
}

// Past the end of list of the entry whose checksum starts at fields, or null
// when the entry would run past end.
static const BYTE *past_list(const BYTE *fields, const BYTE *end) {
    if (end - fields < 8) return nullptr;
    for (const BYTE *group = fields + 8; end - group >= 8; group += 8)
        if (is_zero_group(group)) return group + 8;
    return nullptr;
}

// The entry name's zero byte differs from every byte of name, so the
// comparison never runs past it.
static bool begins_with(const BYTE *entry_name, const BYTE *end, const char *name) {
    for (; *name; ++name, ++entry_name)
        if (entry_name == end || *entry_name != BYTE(*name)) return false;
    return true;
}

bool find_entry(const char *name, payload_entry *entry) {
    const BYTE *end = payload_directory.end;
    const BYTE *selected = nullptr;
    // The whole directory, not only up to the first match: a second match is
    // a damaged name that would otherwise let one build stand in for another.
    // A zero byte where a name would begin is the mark after the last entry.
    for (const BYTE *at = payload_directory.start; at < end && *at;) {
        const BYTE *fields = past_name(at, end);
        const BYTE *next = fields ? past_list(fields, end) : nullptr;
        if (!next) return false;
        if (begins_with(at, end, name)) {
            if (selected) return false;
            selected = fields;
        }
        at = next;
    }
    if (!selected) return false;
    entry->checksum = read_u32(selected);
    entry->size = read_u32(selected + 4);
    entry->references = selected + 8;
    return true;
}

// The 64-bit FNV-1a cut to its low 32 bits: the high half of the state never
// reaches the low half, so 32-bit arithmetic gives the same value.
static const DWORD CHECKSUM_START = 0x84222325;
static DWORD checksum_step(DWORD hash, BYTE byte) { return (hash ^ byte) * 0x1B3; }

DWORD payload_checksum(const BYTE *bytes, DWORD size) {
    DWORD hash = CHECKSUM_START;
    for (DWORD i = 0; i < size; ++i) hash = checksum_step(hash, bytes[i]);
    return hash;
}

// True when every slice lies inside the pool and their counts add up to the
// size; the end of list lies inside the directory, as find_entry made sure.
static bool slices_fit(const payload_entry &entry) {
    // 64 bits, so that neither sum can wrap.
    unsigned long long total = 0;
    unsigned long long pool_length = payload_pool.end - payload_pool.start;
    for (const BYTE *reference = entry.references; !is_zero_group(reference); reference += 8) {
        DWORD offset = read_u32(reference);
        DWORD count = read_u32(reference + 4);
        if ((unsigned long long)offset + count > pool_length) return false;
        total += count;
    }
    return total == entry.size;
}

// Lays the entry's slices end to end into bytes, which holds entry.size bytes
// (slices_fit has checked that they fill it exactly), and gives their checksum.
// One pass: the checksum's chain of multiplications sets the pace, and the
// copy rides along at no cost, where a separate copy would read and write every
// byte once more. (No memmove call can arise: the product is built without
// loop-to-library-call rewriting.)
static DWORD rebuild(const payload_entry &entry, BYTE *bytes) {
    DWORD hash = CHECKSUM_START;
    for (const BYTE *reference = entry.references; !is_zero_group(reference); reference += 8) {
        const BYTE *slice = payload_pool.start + read_u32(reference);
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
    MessageBoxW(owner, TEXT_CORRUPTED, nullptr, MB_OK);
    ExitProcess(EXIT_PAYLOAD_CORRUPTED);
}

loaded_entry load_entry(HWND owner, const char *name) {
    payload_entry entry;
    // Every name the installer asks for is packed, so a missing one means the
    // directory itself was damaged.
    if (!find_entry(name, &entry) || !slices_fit(entry)) report_corruption(owner);
    BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, entry.size);
    if (!bytes) return loaded_entry{nullptr, 0};
    // The buffer is not freed on the way out: the process ends right after.
    if (rebuild(entry, bytes) != entry.checksum) report_corruption(owner);
    return loaded_entry{bytes, entry.size};
}

// Reader of the payload archive embedded in the installer: lookup of an entry
// by name and the rebuilding and verification of its bytes. The format is
// described in archive_format.h.
#pragma once

#include <windows.h>

#include "payload/archive_format.h"

// One entry of payload_directory as the lookup found it.
using payload_entry = archive_format::entry;

// The one entry whose name begins with name. False when none or more than one
// does, or when the directory cannot be walked to its end.
bool find_entry(const char *name, payload_entry *entry);

// An entry's bytes in a block of the process heap, owned by the caller.
// bytes is null when the heap had no block of that size (or, the first
// time, none for the decoded pool).
struct loaded_entry {
    BYTE *bytes;
    DWORD size;
};

// A compressed archive's pool, decoded by the first load_entry and kept for
// the rest of the run; null until then.
extern const BYTE *decoded_pool;

// Rebuilds and verifies the entry, after decoding the pool if the archive is
// compressed and this is the first entry. A corrupted archive (or an absent name) is
// reported in a message box owned by owner and ends the process with exit code 1.
loaded_entry load_entry(HWND owner, const char *name);

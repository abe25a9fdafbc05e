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
// bytes is null when the heap had no block of that size.
struct loaded_entry {
    BYTE *bytes;
    DWORD size;
};

// Rebuilds and verifies the entry. A corrupted archive (or an absent name) is
// reported in a message box owned by owner and ends the process with exit code 1.
loaded_entry load_entry(HWND owner, const char *name);

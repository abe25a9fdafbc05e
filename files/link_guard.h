// The installer runs elevated, yet several folders it works in are the user's
// to change: the FL Studio folder named in the user's registry, the CLAP
// folders named by the environment, the user's AppData and Start menu. A link
// planted there by any program of the user's would turn a write or a delete
// into one anywhere on the machine. The owner of a folder is whoever created
// it, not whoever set a reparse point on it, so only the system can tell who
// made a link: a junction is followed only where its guard vouches that an
// administrator made it, and no other link at all. Every folder on a file's
// way is opened as itself, relative to the one above it, checked once, and
// held open while the file operation acts relative to the innermost one
// (relative_calls).
#pragma once

#include <windows.h>

#include "common/path_limits.h"

// The error the platform's own guard gives for such a link; older SDKs lack it.
#ifndef ERROR_UNTRUSTED_MOUNT_POINT
#define ERROR_UNTRUSTED_MOUNT_POINT 448L
#endif

// The folders on a path, outermost first, each held open so that it can be
// neither renamed nor deleted (a junction followed is held beside the folder
// it leads to); and the path's last name, the file's own, inside the innermost.
struct held_folders {
    HANDLE folder[LONGEST_SIDE_PATH / 2 + 2];
    DWORD count;
    const WCHAR *name;  // within the caller's path
    bool through_junction;
};

inline HANDLE innermost(const held_folders &held) { return held.folder[held.count - 1]; }

// At start-up: turns on the system's guard, which refuses to follow a
// junction that no administrator made, and reads back whether it holds.
void guard_links(HMODULE kernel32);

// Holds every folder on path, creating the missing ones with create, and
// checks the last name as well. Gives 0; ERROR_UNTRUSTED_MOUNT_POINT for a
// link on the way or at the name that is not followed; ERROR_INVALID_NAME for
// a name the system would take for another; or the error of a folder that
// cannot be opened (a missing one, without create). path must hold a folder
// and a name; it is cut at each folder while the call runs and restored
// before it returns. release_folders follows in any case.
DWORD hold_folders(WCHAR *path, bool create, held_folders *held);
void release_folders(held_folders *held);

// Whether the system may delete the file at path, whose folders held holds,
// at the next restart: it does so by name, with full rights on whatever the
// path names by then, so only below the system's Program Files folders, on a
// way without a junction, where the path's own spelling says where it lies.
bool restart_removal_is_safe(const WCHAR *path, const held_folders &held);

// The installer runs elevated, yet several folders it works in are the user's
// to change: the FL Studio folder named in the user's registry, the CLAP
// folders named by the environment, the user's AppData and Start menu. A link
// planted there by any program of the user's would turn a write or a delete
// into one anywhere on the machine. So before each file operation every folder
// on the way is checked and held open, and none can be swapped for a link
// until the operation is over.
#pragma once

#include <windows.h>

// The error the platform's own guard gives for such a link; older SDKs lack it.
#ifndef ERROR_UNTRUSTED_MOUNT_POINT
#define ERROR_UNTRUSTED_MOUNT_POINT 448L
#endif

// Checks every folder above path, outermost first, and the file itself, and
// holds the folders open until release_folders. With create, missing folders
// are made on the way. Gives 0; ERROR_UNTRUSTED_MOUNT_POINT for a link that no
// administrator made; or the error of a folder that cannot be opened (a
// missing one, without create). path is cut at each folder while the call
// runs and restored before it returns; it is at most 310 units long.
DWORD hold_folders(WCHAR *path, bool create);
void release_folders();

// Whether the system may delete a file of the held folders at the next
// restart: it does so with full rights on whatever the path names by then, so
// only below the system's Program Files folders, with no link on the way.
bool restart_removal_is_safe();

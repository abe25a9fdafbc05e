// Putting a plug-in file in place and taking it away without ever losing the
// build that works: a new file is written complete beside the old one and
// renamed over it in one step, and a file that a running host has loaded is
// renamed aside (which Windows allows) instead of overwritten or deleted.
#pragma once

#include <windows.h>

// Writes size bytes into a new file beside path, then puts it in path's place.
// Returns 0, or the error that stopped it; then the old file is as it was and
// no new file is left behind. A file in use by a host is moved aside and goes
// when it is free or at the next restart; old_build_in_use then says so.
DWORD replace_file(const WCHAR *path, const void *bytes, DWORD size);

enum removal { FILE_REMOVED, FILE_REMOVED_AT_RESTART, FILE_LEFT };

// Deletes path; a missing file counts as removed. A file in use is moved aside
// and deleted at the next restart. For FILE_LEFT, *error says why.
removal remove_file(const WCHAR *path, DWORD *error);

// The cause of a failure in the user's words: the file in use, or the disk
// full; otherwise the given text.
const WCHAR *cause_text(DWORD error, const WCHAR *otherwise);

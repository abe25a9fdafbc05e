// Putting a plug-in file in place and taking it away without ever losing the
// build that works: a new file is written complete beside the old one and
// renamed over it in one step, and a file that a running host has loaded is
// renamed aside (which Windows allows) instead of overwritten or deleted.
// Every operation first checks and holds the folders on its way (link_guard)
// and then acts relative to the innermost one (relative_calls).
#pragma once

#include <windows.h>
#include <winternl.h>

// Names beside a plug-in that no host takes for one: the new file while it is
// written, and the old one moved aside while a host still holds it.
extern const WCHAR NEW_SUFFIX[];
extern const WCHAR ASIDE_SUFFIX[];

// What a replacement left beside the file, for the run's report.
enum : DWORD {
    OLD_BUILD_HELD = 1,      // a host still holds an earlier build, moved aside
    OLD_BUILD_LEFT = 2,      // that build stays at <file>.old until a later run
    NEW_FILE_LEFT = 4,       // <file>.new could not be deleted after a failure
    OLD_BUILD_STRANDED = 8,  // after a failure the old build is at <file>.old
};

struct replacement {
    DWORD error;  // 0: the new build is in place
    DWORD left;   // the flags above
};

// Writes size bytes into a new file beside path, creating the folders on the
// way, then puts it in path's place. On an error the old build is at path (or,
// flagged, at <path>.old, where nothing deletes it: the next attempt puts it
// back first). path is changed while the call runs and restored.
replacement replace_file(WCHAR *path, const void *bytes, DWORD size);

enum removal { FILE_REMOVED, FILE_REMOVED_AT_RESTART, FILE_LEFT, FILE_LEFT_ASIDE };

// Deletes path; a missing file counts as removed. A file in use is moved aside
// and deleted at the next restart where that is safe; otherwise it is left,
// at path or, for FILE_LEFT_ASIDE, at <path>.old. For both, *error says why.
removal remove_file(WCHAR *path, DWORD *error);

// Deletes the file at path, or with FILE_DIRECTORY_FILE the empty folder,
// unless a program still holds it; never one that is a link.
void delete_if_free(WCHAR *path, ULONG kind);
// A file this run moved aside.
void delete_if_free(WCHAR *path);

// Whether nothing is at path: only "not found" says so, any other failure to
// look does not. Read for reports; a look through a link only reads.
bool nothing_at(const WCHAR *path);

// Another program holds the file.
bool is_in_use_error(DWORD error);

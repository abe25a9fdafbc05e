// Putting a plug-in file in place and taking it away without ever losing the
// build that works: a new file is written complete beside the old one, read
// back, and renamed over it in one step, and a file that a running host has
// loaded is renamed aside (which Windows allows) instead of overwritten or
// deleted. Every operation first checks and holds the folders on its way
// (link_guard) and then acts relative to the innermost one (relative_calls).
#pragma once

#include <windows.h>
#include <winternl.h>

// Names beside a plug-in that no host takes for one: the new file while it is
// written, and the old one moved aside while a host still holds it.
extern const WCHAR NEW_SUFFIX[];
extern const WCHAR ASIDE_SUFFIX[];

// What a replacement left beside the file, for the run's report.
enum : DWORD {
    OLD_BUILD_HELD = 1,  // a host still holds an earlier build, moved aside
    OLD_BUILD_LEFT = 2,  // that build stays at <file>.old until a later run
};

struct replacement {
    DWORD error;  // 0: the new build is in place
    DWORD left;   // the flags above
};

// Writes size bytes into a new file beside path, creating the folders on the
// way, reads them back, then puts the file in path's place. On an error the
// old build is at path (or at <path>.old, where the next attempt puts it back
// first). path is changed while the call runs and restored.
replacement replace_file(WCHAR *path, const void *bytes, DWORD size);

enum removal { FILE_REMOVED, FILE_REMOVED_AT_RESTART, FILE_LEFT, FILE_LEFT_ASIDE, FILE_UNREACHED };

// Deletes path; a missing file counts as removed. A file in use is moved aside
// and deleted at the next restart where that is safe; otherwise it is left,
// at path or, for FILE_LEFT_ASIDE, at <path>.old. Behind a way that could not
// be walked (a link not followed among them), FILE_UNREACHED: nothing is
// looked at there. For the last three, *error says why.
removal remove_file(WCHAR *path, DWORD *error);

// Deletes the file at path, or with FILE_DIRECTORY_FILE the empty folder,
// unless a program still holds it; never one that is a link.
void delete_if_free(WCHAR *path, ULONG kind);
// A file this run moved aside.
void delete_if_free(WCHAR *path);

// What stands at path and beside it, for the reports: read relative to the
// folders on its way, where only "not found" means that nothing is there.
const DWORD FILE_THERE = 1;  // a file, or something a failed look cannot rule out; not a folder
const DWORD NEW_FILE_THERE = 2;
const DWORD OLD_BUILD_THERE = 4;
struct standing {
    DWORD walk;   // 0, or why the folders on the way could not be held (nothing is looked at then)
    DWORD there;  // the flags above
};
standing what_stands(WCHAR *path);

// The cause of a failed file operation in the user's words: the file in use,
// the disk full, a link refused, a virus scanner's block; otherwise the given text.
const char *cause_text(DWORD error, const char *otherwise);

// Puts one payload entry on disk as one file.
#pragma once

#include <windows.h>

// Creates every folder along path and puts the entry's bytes in place of
// whatever file was there, never leaving a partial one. A failure is reported
// in a message box owned by owner that offers to try again; when the user
// cancels, or there is no memory, it is recorded in install_failed. path is
// changed while the call runs and restored before it returns. Callers test
// install_failed first and skip the call while it is set.
void extract_file(HWND owner, WCHAR *path, const char *entry_name);

// Set to 1 by extract_file when a file was not produced; install steps are
// skipped while it is set and the success report is suppressed.
extern BYTE install_failed;

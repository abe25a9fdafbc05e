// What a run did to each file, kept for its closing report: the files an
// install put in place, and the files an uninstall could only remove at the
// next restart or had to leave.
#pragma once

#include <windows.h>

// Lists of paths, each line ended by "\r\n"; sized for every file a run
// touches at its longest path, with a line of cause for each file left.
extern WCHAR installed_files[1300];
extern WCHAR files_at_restart[1800];
extern WCHAR files_left[2400];
// Set when a replaced plug-in was still loaded by a running host.
extern BYTE old_build_in_use;

void account_line(WCHAR *list, const WCHAR *text);

// What a run did to each file, kept in one place for its closing report:
// the files an install put in place and the old builds it moved aside, and
// the files an uninstall could only remove at the next restart or had to
// leave. Replacing and removing a file return what happened; the steps of a
// run note it here. What else stands is read off the disk when the run reports.
#pragma once

#include <windows.h>

// Lists of paths, each line ended by "\r\n"; sized for every file a run
// touches at its longest path, with a line of cause for each file left.
struct run_account {
    WCHAR installed[1300];
    // The old builds the run moved aside while a host held them, set to go
    // at the next restart or left for a later run.
    WCHAR old_builds_at_restart[1300];
    WCHAR old_builds_left[1300];
    WCHAR at_restart[5700];
    WCHAR left[7400];
};
extern run_account account;

void account_line(WCHAR *list, const WCHAR *text);
// Whether list holds path as one of its lines.
bool account_lists(const WCHAR *list, const WCHAR *path);
// Notes the old build a replacement of path moved aside (file_replace's flags).
void account_old_build(const WCHAR *path, DWORD left);

// Calls act with each path of list, in a buffer of its own that act may change.
void for_each_path(const WCHAR *list, void (*act)(WCHAR *path));

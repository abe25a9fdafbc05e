// The few pieces every layer of the installer shares (payload, dialog,
// targets, installer): the failure flag, the target bits, control ids, exit
// codes, common report texts and wide_append. Nothing here includes another
// layer, so the folders form a stack with no include running back up.
#pragma once

#include <windows.h>

// Set to 1 by extract_file when a file was not produced; install steps are
// skipped while it is set and the success report is suppressed.
extern BYTE install_failed;

enum : DWORD {
    TARGET_CLAP64 = 1,
    TARGET_CLAP32 = 2,
    TARGET_FL = 4,
};

// Control ids (IDOK and IDCANCEL come from the platform).
enum : int {
    ID_OPTION_CLAP64 = 1000,
    ID_OPTION_CLAP32 = 1001,
    ID_OPTION_FL = 1002,
    ID_UNINSTALL = 2000,
    ID_TITLE = 3000,
    ID_PROGRESS = 3001,
    ID_HEADING = 0xFFFF,
};

// Process exit codes; never renumbered.
enum : UINT {
    EXIT_DONE = 0,
    EXIT_PAYLOAD_CORRUPTED = 1,
    EXIT_LICENCE_PAGE_FAILED = 2,  // the licence page could not be created
    EXIT_LICENCE_TEXT_NO_MEMORY = 3,  // no memory for the licence text
    EXIT_INSTALL_FAILED = 4,          // a file was not installed (after its report)
    EXIT_UNINSTALL_INCOMPLETE = 5,    // files were left (the report names them)
};

// Reports made in more than one place, stored once.
extern const WCHAR TEXT_FOLDER_INACCESSIBLE[];
extern const WCHAR TEXT_NO_MEMORY[];

// Appends source to the end of destination in place and terminates the result.
// Checks no bound: callers size their buffers and reject longer inputs first.
void wide_append(WCHAR *destination, const WCHAR *source);

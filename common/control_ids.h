// Control ids, shared by the pages and the runs (IDOK and IDCANCEL come from
// the platform).
#pragma once

#include <windows.h>

enum : int {
    ID_OPTION_CLAP64 = 1000,
    ID_OPTION_CLAP32 = 1001,
    ID_OPTION_FL = 1002,
    ID_UNINSTALL = 2000,
    ID_TITLE = 3000,
    ID_PROGRESS = 3001,
    ID_HEADING = 0xFFFF,
};

// The process's exit codes; never renumbered.
#pragma once

#include <windows.h>

enum : UINT {
    EXIT_DONE = 0,
    EXIT_PAYLOAD_CORRUPTED = 1,
    EXIT_LICENCE_PAGE_FAILED = 2,     // the licence page could not be created
    EXIT_LICENCE_TEXT_NO_MEMORY = 3,  // no memory for the licence text
    EXIT_INSTALL_FAILED = 4,          // a file was not installed (after its report)
    EXIT_UNINSTALL_INCOMPLETE = 5,    // files were left (the report names them)
};

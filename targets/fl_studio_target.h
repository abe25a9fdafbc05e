// The FL Studio native effect: both DLLs in a plug-in folder of their own under
// the folder FL Studio records in the current user's registry.
#pragma once

#include <windows.h>

// remove nonzero deletes both DLLs and then the plug-in folder if it is empty;
// zero installs both DLLs. Does nothing while install_failed is set.
void fl_studio_target(HWND owner, int remove);

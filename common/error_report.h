// The error report: a message box owned by the current page, with the
// system's caption and OK only.
#pragma once

#include <windows.h>

// text is 7-bit ASCII, widened to be shown.
void show_error(HWND owner, const char *text);

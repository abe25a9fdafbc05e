// Wide strings: NUL-terminated UTF-16 in fixed-size buffers.
#pragma once

#include <windows.h>

// Appends source to the end of destination in place and terminates the result.
// Checks no bound: callers size their buffers and reject longer inputs first.
void wide_append(WCHAR *destination, const WCHAR *source);

// The same for 7-bit ASCII text, widened as it goes: the texts the installer
// only shows are kept as 8-bit bytes, half the size in the executable.
void ascii_append(WCHAR *destination, const char *source);

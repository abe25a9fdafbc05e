// Wide strings: NUL-terminated UTF-16 in fixed-size buffers.
#pragma once

#include <windows.h>

// Appends source to the end of destination in place and terminates the result.
// Checks no bound: callers size their buffers and reject longer inputs first.
void wide_append(WCHAR *destination, const WCHAR *source);

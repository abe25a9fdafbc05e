// Puts one payload entry on disk as one file.
#pragma once

#include <windows.h>

// Creates every folder along path, writes the entry's bytes in one write and
// reports failures in message boxes owned by owner, recording them in
// install_failed. path is changed while the call runs and restored before it
// returns. Callers test install_failed first and skip the call while it is set.
void extract_file(HWND owner, WCHAR *path, const char *entry_name);

// What the user reads when something fails in more than one place, and the
// cause of a failed file operation in the user's words.
#pragma once

#include <windows.h>

extern const WCHAR TEXT_FOLDER_INACCESSIBLE[];
extern const WCHAR TEXT_NO_MEMORY[];

// The file in use, the disk full, or a link refused; otherwise the given text.
const WCHAR *cause_text(DWORD error, const WCHAR *otherwise);

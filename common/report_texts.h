// What the user reads when something fails in more than one place, and the
// cause of a failed file operation in the user's words. Texts are 7-bit
// ASCII, widened when shown.
#pragma once

#include <windows.h>

extern const char TEXT_FOLDER_INACCESSIBLE[];
extern const char TEXT_NO_MEMORY[];

// The file in use, the disk full, or a link refused; otherwise the given text.
const char *cause_text(DWORD error, const char *otherwise);

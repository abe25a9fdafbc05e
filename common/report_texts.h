// What the user reads when something fails in more than one place. Texts are
// 7-bit ASCII, widened when shown.
#pragma once

#include <windows.h>

// Literals, not arrays: an array of text would be aligned to 16 bytes.
constexpr const char *TEXT_FOLDER_INACCESSIBLE =
    "The installation folder was inaccessible. Quenthalvox could not be installed.";
constexpr const char *TEXT_NO_MEMORY = "Insufficient memory was available. Quenthalvox could not be installed.";

#include "common/shared.h"

BYTE install_failed;

const WCHAR TEXT_FOLDER_INACCESSIBLE[] = L"The installation folder was inaccessible. Quenthalvox could not be installed.";
const WCHAR TEXT_NO_MEMORY[] = L"Insufficient memory was available. Quenthalvox could not be installed.";

void wide_append(WCHAR *destination, const WCHAR *source) {
    while (*destination) ++destination;
    while ((*destination = *source) != 0) {
        ++destination;
        ++source;
    }
}

#include "installer/shared.h"

BYTE install_failed;
DWORD available_targets;
DWORD selected_targets;

void wide_append(WCHAR *destination, const WCHAR *source) {
    while (*destination) ++destination;
    while ((*destination = *source) != 0) {
        ++destination;
        ++source;
    }
}

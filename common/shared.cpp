#include "common/shared.h"

BYTE install_failed;

void wide_append(WCHAR *destination, const WCHAR *source) {
    while (*destination) ++destination;
    while ((*destination = *source) != 0) {
        ++destination;
        ++source;
    }
}

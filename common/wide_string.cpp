#include "common/wide_string.h"

void wide_append(WCHAR *destination, const WCHAR *source) {
    while (*destination) ++destination;
    while ((*destination = *source) != 0) {
        ++destination;
        ++source;
    }
}

void ascii_append(WCHAR *destination, const char *source) {
    while (*destination) ++destination;
    while ((*destination = WCHAR(*source)) != 0) {
        ++destination;
        ++source;
    }
}

#include "common/error_report.h"

#include "common/wide_string.h"

namespace {

// The longest error text is 99 characters.
WCHAR shown[128];

}  // namespace

void show_error(HWND owner, const char *text) {
    shown[0] = 0;
    ascii_append(shown, text);
    MessageBoxW(owner, shown, nullptr, MB_OK);
}

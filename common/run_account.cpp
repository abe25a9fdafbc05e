#include "common/run_account.h"

#include "common/shared.h"

WCHAR installed_files[1300];
WCHAR files_at_restart[1800];
WCHAR files_left[2400];
BYTE old_build_in_use;

void account_line(WCHAR *list, const WCHAR *text) {
    wide_append(list, text);
    wide_append(list, L"\r\n");
}

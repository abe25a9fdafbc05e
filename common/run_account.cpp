#include "common/run_account.h"

#include "common/file_replace.h"
#include "common/wide_string.h"

WCHAR installed_files[1300];
WCHAR files_kept[1300];
WCHAR files_left_beside[2600];
WCHAR files_at_restart[5700];
WCHAR files_left[7400];
BYTE old_build_in_use;

void account_line(WCHAR *list, const WCHAR *text) {
    wide_append(list, text);
    wide_append(list, L"\r\n");
}

void account_kept(const WCHAR *path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) account_line(files_kept, path);
}

namespace {

void account_side(const WCHAR *path, const WCHAR *suffix) {
    wide_append(files_left_beside, path);
    account_line(files_left_beside, suffix);
}

}  // namespace

void account_left_beside(const WCHAR *path, DWORD left) {
    if (left & OLD_BUILD_HELD) old_build_in_use = 1;
    if (left & (OLD_BUILD_LEFT | OLD_BUILD_STRANDED)) account_side(path, ASIDE_SUFFIX);
    if (left & NEW_FILE_LEFT) account_side(path, NEW_SUFFIX);
}

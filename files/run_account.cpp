#include "files/run_account.h"

#include "common/path_limits.h"
#include "files/file_replace.h"
#include "common/wide_string.h"

run_account account;

void account_line(WCHAR *list, const WCHAR *text) {
    wide_append(list, text);
    wide_append(list, L"\r\n");
}

bool account_lists(const WCHAR *list, const WCHAR *path) {
    while (*list) {
        DWORD same = 0;
        while (path[same] && list[same] == path[same]) ++same;
        if (!path[same] && list[same] == L'\r') return true;
        while (*list++ != L'\n') {
        }
    }
    return false;
}

namespace {

WCHAR one_path[LONGEST_SIDE_PATH + 1];

}  // namespace

void account_old_build(const WCHAR *path, DWORD left) {
    if (!(left & OLD_BUILD_HELD)) return;
    WCHAR *list = left & OLD_BUILD_LEFT ? account.old_builds_left : account.old_builds_at_restart;
    wide_append(list, path);
    account_line(list, ASIDE_SUFFIX);
}

void for_each_path(const WCHAR *list, void (*act)(WCHAR *path)) {
    while (*list) {
        DWORD length = 0;
        while (list[length] != L'\r') one_path[length] = list[length], ++length;
        one_path[length] = 0;
        act(one_path);
        list += length + 2;
    }
}

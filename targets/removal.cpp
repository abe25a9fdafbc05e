#include "targets/removal.h"

#include "files/file_replace.h"
#include "files/link_guard.h"
#include "files/run_account.h"
#include "common/wide_string.h"

namespace {

constexpr const char *TEXT_NOT_DELETED = "The file could not be deleted.";

WCHAR side_path[LONGEST_SIDE_PATH + 1];

// A file beside the product's is named only where its folder was reached:
// where it was not, the product's file is named, with why.
void remove_one(WCHAR *path, bool beside) {
    DWORD error = 0;
    removal outcome = remove_file(path, &error);
    if (outcome == FILE_REMOVED_AT_RESTART) account_line(account.at_restart, path);
    if (outcome < FILE_LEFT || (outcome == FILE_UNREACHED && beside)) return;
    // Listed where it is: moved aside, it could not be put back.
    wide_append(account.left, path);
    account_line(account.left, outcome == FILE_LEFT_ASIDE ? ASIDE_SUFFIX : L"");
    ascii_append(account.left, cause_text(error, TEXT_NOT_DELETED));
    ascii_append(account.left, "\r\n");
}

void remove_beside(const WCHAR *path, const WCHAR *suffix) {
    side_path[0] = 0;
    wide_append(side_path, path);
    wide_append(side_path, suffix);
    remove_one(side_path, true);
}

}  // namespace

// An old build an update left beside the file goes first, so that the file
// itself can be moved aside if it is held.
void remove_product_file(WCHAR *path) {
    remove_beside(path, ASIDE_SUFFIX);
    remove_one(path, false);
}

void create_product_folders(WCHAR *path) {
    held_folders held;
    hold_folders(path, true, &held);
    release_folders(&held);
}

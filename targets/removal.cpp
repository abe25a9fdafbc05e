#include "targets/removal.h"

#include "common/file_replace.h"
#include "common/run_account.h"

namespace {

const WCHAR TEXT_NOT_DELETED[] = L"The file could not be deleted.";

}  // namespace

void remove_product_file(const WCHAR *path) {
    DWORD error = 0;
    removal outcome = remove_file(path, &error);
    if (outcome == FILE_REMOVED_AT_RESTART) account_line(files_at_restart, path);
    if (outcome != FILE_LEFT) return;
    account_line(files_left, path);
    account_line(files_left, cause_text(error, TEXT_NOT_DELETED));
}

#include "targets/removal.h"

#include "common/file_replace.h"
#include "common/run_account.h"

namespace {

const WCHAR TEXT_LEFT_IN_USE[] = L"It is in use. Close every program that uses it, such as your DAW, and try again.";
const WCHAR TEXT_LEFT_DENIED[] = L"Access to it was denied; it may be read-only.";
const WCHAR TEXT_LEFT_OTHER[] = L"It could not be deleted.";

const WCHAR *cause_of(DWORD error) {
    if (is_in_use_error(error)) return TEXT_LEFT_IN_USE;
    if (error == ERROR_ACCESS_DENIED) return TEXT_LEFT_DENIED;
    return TEXT_LEFT_OTHER;
}

}  // namespace

void remove_product_file(const WCHAR *path) {
    DWORD error = 0;
    removal outcome = remove_file(path, &error);
    if (outcome == FILE_REMOVED_AT_RESTART) account_line(files_at_restart, path);
    if (outcome != FILE_LEFT) return;
    account_line(files_left, path);
    account_line(files_left, cause_of(error));
}

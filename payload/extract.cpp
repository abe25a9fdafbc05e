#include "payload/extract.h"

#include "common/error_report.h"
#include "common/path_limits.h"
#include "files/file_replace.h"
#include "files/run_account.h"
#include "common/wide_string.h"
#include "common/report_texts.h"
#include "payload/archive.h"

BYTE install_failed;

namespace {

// The causes are far shorter than the 128 units beside the path.
WCHAR report[LONGEST_PATH + 128];

// Names the file and the cause; the user can free the file or the disk and
// try the same file again.
bool ask_to_retry(HWND owner, const WCHAR *path, DWORD error) {
    report[0] = 0;
    wide_append(report, path);
    wide_append(report, L"\r\n\r\n");
    ascii_append(report, cause_text(error, TEXT_FOLDER_INACCESSIBLE));
    if (MessageBoxW(owner, report, nullptr, MB_RETRYCANCEL) != IDRETRY) return false;
    // The old builds this run moved aside take room the next attempt may need:
    // those no host holds any more go first.
    for_each_path(account.old_builds_at_restart, delete_if_free);
    for_each_path(account.old_builds_left, delete_if_free);
    return true;
}

}  // namespace

void extract_file(HWND owner, WCHAR *path, const char *entry_name) {
    loaded_entry entry = load_entry(owner, entry_name);
    if (!entry.bytes) {
        install_failed = 1;
        show_error(owner, TEXT_NO_MEMORY);
        return;
    }
    replacement result;
    while ((result = replace_file(path, entry.bytes, entry.size)).error && ask_to_retry(owner, path, result.error)) {
    }
    if (result.error)
        install_failed = 1;
    else
        account_line(account.installed, path);
    account_old_build(path, result.left);
    HeapFree(GetProcessHeap(), 0, entry.bytes);
}

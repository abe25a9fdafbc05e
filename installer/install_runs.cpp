#include "installer/install_runs.h"

#include <commctrl.h>

#include "common/error_report.h"
#include "common/path_limits.h"
#include "files/file_replace.h"
#include "files/link_guard.h"
#include "files/run_account.h"
#include "common/control_ids.h"
#include "common/exit_codes.h"
#include "common/wide_string.h"
#include "payload/extract.h"
#include "installer/choices.h"
#include "targets/clap_target.h"
#include "targets/fl_studio_target.h"
#include "targets/standalone.h"

namespace {

constexpr const WCHAR *CAPTION = L"Quenthalvox";
constexpr const char *TEXT_INSTALLED = "The installation finished successfully.\r\nPlease scan for new plugins in your DAW.";
constexpr const char *TEXT_UNINSTALLED = "Quenthalvox has been uninstalled from your computer.";
constexpr const char *TEXT_NOT_STARTED = "The installation could not be started. Please try again.";
constexpr const char *TEXT_RESTART_HOST = "\r\nRestart your DAW to use the new version.";
constexpr const char *TEXT_PARTLY_INSTALLED = "Only these files were installed:";
constexpr const char *TEXT_NOT_INSTALLED = "Quenthalvox was not installed.";
constexpr const char *TEXT_KEPT = "These files keep their earlier version:";
constexpr const char *TEXT_RUN_AGAIN = "Run the installer again to update them, with your DAW closed.";
constexpr const char *TEXT_LEFT = "These files could not be removed:\r\n";
constexpr const char *TEXT_AT_RESTART = "These files will be removed when you restart your computer:\r\n";
constexpr const char *TEXT_LEFT_BESIDE = "\r\n\r\nLeft beside the plug-in until you run the installer again:\r\n";

// The longest account lists with the longest texts around them.
WCHAR closing_report[13400];

const DWORD PAUSE_MS = 2000;

// Disabled in this order while the install runs; the options are among them,
// so the selection cannot change under the worker.
const int LOCKED_CONTROLS[] = {ID_UNINSTALL, IDOK, IDCANCEL, ID_OPTION_CLAP64, ID_OPTION_CLAP32, ID_OPTION_FL};

void set_marquee(HWND page, BOOL on) { SendMessageW(GetDlgItem(page, ID_PROGRESS), PBM_SETMARQUEE, on, 0); }

// Without a worker nothing would ever end the run: the page goes back to how
// it was before the click, so the user can try again or leave.
void resume_choosing(HWND page) {
    set_marquee(page, FALSE);
    show_choices(page);
    show_error(page, TEXT_NOT_STARTED);
}

// What stands of the run's files, read off the disk when it reports.
WCHAR old_builds_there[1300];
WCHAR kept[1300];
WCHAR refused[1300];
WCHAR left_beside[2600];

// An old build of the run is still there unless it is certainly gone.
void note_if_there(WCHAR *path) {
    standing found = what_stands(path);
    if (found.walk || (found.there & FILE_THERE)) account_line(old_builds_there, path);
}

WCHAR ticked_file[LONGEST_PATH + 1];
WCHAR side_file[LONGEST_SIDE_PATH + 1];

void note_side(WCHAR *list, const WCHAR *suffix) {
    side_file[0] = 0;
    wide_append(side_file, ticked_file);
    wide_append(side_file, suffix);
    account_line(list, side_file);
}

// A ticked file that this run did not install keeps an earlier build where a
// file stands at its path, not where a folder or nothing does; where nothing
// does, the earlier build may stand aside. What an earlier run or this one
// left beside it is named too. Behind a link that is not followed nothing is
// looked at: the report is the same whatever stands there.
void note_ticked_file() {
    standing found = what_stands(ticked_file);
    if (found.walk == ERROR_UNTRUSTED_MOUNT_POINT) {
        account_line(refused, ticked_file);
        return;
    }
    bool file_there = found.walk || (found.there & FILE_THERE);  // a failed look may hide one
    if (file_there) account_line(kept, ticked_file);
    if (found.there & NEW_FILE_THERE) note_side(left_beside, NEW_SUFFIX);
    if (found.there & OLD_BUILD_THERE) note_side(file_there ? left_beside : kept, ASIDE_SUFFIX);
}

// Each target names its files as it does when it installs them, whichever
// stopped where. The FL Studio DLLs are the last two.
void note_ticked_files() {
    for (int file = 0; file < 4; ++file) {
        bool ticked = selected_targets & (file < 2 ? DWORD(1) << file : DWORD(TARGET_FL));
        if (ticked && (file < 2 ? find_clap_file(file, ticked_file) : find_fl_studio_file(file == 2, ticked_file)) &&
            !account_lists(account.installed, ticked_file))
            note_ticked_file();
    }
}

// A list of files under its heading, a blank line after what comes before.
void add_section(const char *heading, const WCHAR *list, const char *closing) {
    if (!*list) return;
    if (closing_report[0]) ascii_append(closing_report, "\r\n");
    ascii_append(closing_report, heading);
    ascii_append(closing_report, "\r\n");
    wide_append(closing_report, list);
    ascii_append(closing_report, closing);
}

// After a failure the user learns which files are new, which keep the
// build they had and what to do about them; a file that was not there before
// is simply not installed.
void failure_report() {
    note_ticked_files();
    add_section(TEXT_PARTLY_INSTALLED, account.installed, "");
    add_section(cause_text(ERROR_UNTRUSTED_MOUNT_POINT, nullptr), refused, "");
    add_section(TEXT_KEPT, kept, TEXT_RUN_AGAIN);
    if (!closing_report[0]) ascii_append(closing_report, TEXT_NOT_INSTALLED);
}

const WCHAR *install_report() {
    closing_report[0] = kept[0] = refused[0] = left_beside[0] = 0;
    if (!install_failed) {
        ascii_append(closing_report, TEXT_INSTALLED);
    } else {
        failure_report();
    }
    // What a host still holds is found on the disk: a Retry may have cleared
    // it. Those set to go at the restart are not named.
    old_builds_there[0] = 0;
    for_each_path(account.old_builds_at_restart, note_if_there);
    bool held_at_restart = old_builds_there[0];
    old_builds_there[0] = 0;
    for_each_path(account.old_builds_left, note_if_there);
    if (held_at_restart || old_builds_there[0]) ascii_append(closing_report, TEXT_RESTART_HOST);
    if (old_builds_there[0] || left_beside[0]) {
        ascii_append(closing_report, TEXT_LEFT_BESIDE);
        wide_append(closing_report, old_builds_there);
        wide_append(closing_report, left_beside);
    }
    return closing_report;
}

const WCHAR *uninstall_report() {
    closing_report[0] = 0;
    if (account.left[0]) {
        ascii_append(closing_report, TEXT_LEFT);
        wide_append(closing_report, account.left);
    } else {
        ascii_append(closing_report, TEXT_UNINSTALLED);
    }
    if (account.at_restart[0]) {
        ascii_append(closing_report, account.left[0] ? "\r\n" : "\r\n\r\n");
        ascii_append(closing_report, TEXT_AT_RESTART);
        wide_append(closing_report, account.at_restart);
    }
    return closing_report;
}

// Each step runs only while nothing has failed; a target's own precondition
// failure is reported by the target and does not stop the run.
DWORD WINAPI install_worker(LPVOID parameter) {
    HWND page = static_cast<HWND>(parameter);
    if ((selected_targets & TARGET_CLAP64) && !install_failed) clap_target(page, CLAP_INSTALL, CLAP_64_BIT);
    if ((selected_targets & TARGET_CLAP32) && !install_failed) clap_target(page, CLAP_INSTALL, CLAP_32_BIT);
    if (selected_targets & TARGET_FL) fl_studio_target(page, 0);
    // The pause lets a quick install be seen to happen; after a failure the
    // user has already waited on its report.
    if (!install_failed) Sleep(PAUSE_MS);
    // Posted: the page belongs to the dialog thread, which may be busy.
    PostMessageW(GetDlgItem(page, ID_PROGRESS), PBM_SETMARQUEE, FALSE, 0);
    MessageBoxW(page, install_report(), CAPTION, MB_OK);
    ExitProcess(install_failed ? EXIT_INSTALL_FAILED : EXIT_DONE);
}

}  // namespace

void on_install(HWND page) {
    set_marquee(page, TRUE);
    for (int id : LOCKED_CONTROLS) EnableWindow(GetDlgItem(page, id), FALSE);
    // The handle is not needed: the worker ends the process itself.
    if (!CreateThread(nullptr, 0, install_worker, page, 0, nullptr)) resume_choosing(page);
}

// The page's result is the process's exit code.
void on_uninstall(HWND page) {
    fl_studio_target(page, 1);
    clap_target(page, CLAP_REMOVE, CLAP_BOTH_BUILDS);
    remove_standalone();
    MessageBoxW(page, uninstall_report(), CAPTION, MB_OK);
    EndDialog(page, account.left[0] ? EXIT_UNINSTALL_INCOMPLETE : EXIT_DONE);
}

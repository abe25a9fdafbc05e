#include "installer/install_runs.h"

#include <commctrl.h>

#include "common/shared.h"
#include "installer/selection_page.h"
#include "targets/clap_target.h"
#include "targets/fl_studio_target.h"
#include "targets/standalone.h"

namespace {

const WCHAR CAPTION[] = L"Quenthalvox";
const WCHAR TEXT_INSTALLED[] = L"The installation finished successfully.\r\nPlease scan for new plugins in your DAW.";
const WCHAR TEXT_UNINSTALLED[] = L"Quenthalvox has been uninstalled from your computer.";
const WCHAR TEXT_NOT_STARTED[] = L"The installation could not be started. Please try again.";

const DWORD PAUSE_MS = 2000;

// Disabled in this order while the install runs; the options are among them,
// so the selection cannot change under the worker.
const int LOCKED_CONTROLS[] = {ID_UNINSTALL, IDOK, IDCANCEL, ID_OPTION_CLAP64, ID_OPTION_CLAP32, ID_OPTION_FL};

void set_marquee(HWND page, BOOL on) { SendMessageW(GetDlgItem(page, ID_PROGRESS), PBM_SETMARQUEE, on, 0); }

// Without a worker nothing would ever end the run: the page goes back to how
// it was before the click, so the user can try again or leave.
void resume_choosing(HWND page) {
    set_marquee(page, FALSE);
    EnableWindow(GetDlgItem(page, ID_UNINSTALL), TRUE);
    EnableWindow(GetDlgItem(page, IDCANCEL), TRUE);
    for (int option = 0; option < 3; ++option)
        EnableWindow(GetDlgItem(page, ID_OPTION_CLAP64 + option), (available_targets >> option) & 1);
    enable_install(page);
    MessageBoxW(page, TEXT_NOT_STARTED, nullptr, MB_OK);
}

}  // namespace

void on_install(HWND page) {
    set_marquee(page, TRUE);
    for (int id : LOCKED_CONTROLS) EnableWindow(GetDlgItem(page, id), FALSE);
    // The handle is not needed: the worker ends the process itself.
    if (!CreateThread(nullptr, 0, install_worker, page, 0, nullptr)) resume_choosing(page);
}

// Each step runs only while nothing has failed; a target's own precondition
// failure is reported by the target and does not stop the run.
DWORD WINAPI install_worker(LPVOID parameter) {
    HWND page = static_cast<HWND>(parameter);
    if ((selected_targets & TARGET_CLAP64) && !install_failed) clap_target(page, 0, 0);
    if ((selected_targets & TARGET_CLAP32) && !install_failed) clap_target(page, 0, 1);
    if (selected_targets & TARGET_FL) fl_studio_target(page, 0);
    Sleep(PAUSE_MS);
    // Posted: the page belongs to the dialog thread, which may be busy.
    PostMessageW(GetDlgItem(page, ID_PROGRESS), PBM_SETMARQUEE, FALSE, 0);
    if (!install_failed) MessageBoxW(page, TEXT_INSTALLED, CAPTION, MB_OK);
    ExitProcess(EXIT_DONE);
}

void on_uninstall(HWND page) {
    fl_studio_target(page, 1);
    clap_target(page, 1, 0);
    remove_standalone();
    MessageBoxW(page, TEXT_UNINSTALLED, CAPTION, MB_OK);
    EndDialog(page, 0);
}

#include "dialog/dialog_procedure.h"

#include "dialog/command_table.h"

namespace {

INT_PTR dispatch_command(HWND dialog, WPARAM wparam) {
    // Only clicks: the licence text box sends other notifications, also with id 0.
    if (HIWORD(wparam) != BN_CLICKED) return FALSE;
    DWORD id = LOWORD(wparam);
    // The dialog manager turns Escape into IDCANCEL even while Cancel is
    // disabled: during an install that would end the page, and the process
    // with it, in the middle of writing the plug-in.
    HWND control = GetDlgItem(dialog, int(id));
    if (control && (GetWindowLongPtrW(control, GWL_STYLE) & WS_DISABLED)) return FALSE;
    return run_command(dialog, id);
}

// Centres the dialog on the primary monitor's work area. The template puts
// the dialog at the origin, so subtracting both edges of the window's
// rectangle centres it. None of the calls can fail in a way that matters: a
// failed monitor query leaves a zero work area.
void centre_dialog(HWND dialog) {
    RECT rect = {};
    GetWindowRect(dialog, &rect);
    HMONITOR monitor = MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    GetMonitorInfoW(monitor, &info);
    // Summed in 64 bits so that no rectangle can overflow; the result fits in 32.
    long long x = (0LL + info.rcWork.left + info.rcWork.right - rect.left - rect.right) / 2;
    long long y = (0LL + info.rcWork.top + info.rcWork.bottom - rect.top - rect.bottom) / 2;
    SetWindowPos(dialog, nullptr, int(x), int(y), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace

INT_PTR CALLBACK shared_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_COMMAND:
        return dispatch_command(dialog, wparam);
    case WM_INITDIALOG:
        centre_dialog(dialog);
        return TRUE;
    }
    return FALSE;
}

void on_agree(HWND dialog) { EndDialog(dialog, 1); }

void on_cancel(HWND dialog) { EndDialog(dialog, 0); }

// Simulated user interface: the dialog manager, controls, window placement,
// common controls and the start-up calls (modules, DPI, threads).
//
// DialogBoxIndirectParamW parses the template it is given (a malformed one
// throws fake::BadTemplate, which fails the test), creates a record for the
// dialog and each control, sends WM_INITDIALOG and then runs the next script
// from user.scripts: the test's stand-in for the person in front of the page.
// The dialog call returns the EndDialog result once the script has returned;
// a dialog still open then has nobody to close it and throws fake::StuckDialog.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fake {

struct BadTemplate : std::logic_error {
    using std::logic_error::logic_error;
};
struct StuckDialog : std::logic_error {
    using std::logic_error::logic_error;
};

// A name or an ordinal, as the template allows for classes and texts.
struct NameOrOrdinal {
    std::optional<WORD> ordinal;
    std::u16string name;
};

struct Control {
    HWND window;
    DWORD id;
    NameOrOrdinal class_name;
    NameOrOrdinal text;
    DWORD style;
    DWORD ex_style;
    short x, y, cx, cy;  // dialog units
    bool enabled = true;
    WPARAM checked = BST_UNCHECKED;
    bool marquee = false;

    bool is_class(std::u16string_view name, WORD ordinal) const;
    bool is_auto_check_box() const;
};

struct Dialog {
    HWND window;
    // What the dialog call was given.
    HINSTANCE instance;
    HWND owner;
    DLGPROC procedure;
    LPARAM init_param;
    // The parsed template.
    size_t template_size;  // bytes up to the end of the last item
    DWORD style;
    DWORD ex_style;
    WORD declared_items;
    short x, y, cx, cy;
    std::u16string title;
    WORD point_size;
    std::u16string typeface;
    std::vector<Control> controls;
    // What happened to it.
    std::optional<INT_PTR> result;  // set by EndDialog
    bool running = false;
    int left = 0, top = 0;  // window position on screen, moved by SetWindowPos
    INT_PTR init_result = 0;

    Control *control(DWORD id);
    const Control *control(DWORD id) const;
};

struct WindowPlacement {
    HWND window;
    HWND insert_after;
    int x, y, cx, cy;
    UINT flags;
};

struct PendingThread {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

struct User {
    // One script per dialog call, taken from the front.
    std::deque<std::function<void(HWND)>> scripts;
    unsigned fail_dialog = 0;  // 1-based number of the dialog call whose creation fails (-1)
    std::deque<Dialog> dialogs;  // every dialog created, in order, kept after it ends

    // Pixels per 4 horizontal and per 8 vertical dialog units: 7 and 14 are
    // Wine's at its default font (a 309 x 192 page is 541 x 336 pixels).
    // GetWindowRect gives a dialog this size, without a frame, at its position.
    int base_x = 7, base_y = 14;
    RECT work_area = {0, 0, 1920, 1040};  // primary monitor
    RECT monitor_area = {0, 0, 1920, 1080};
    bool monitor_info_fails = false;
    std::vector<WindowPlacement> placements;

    std::optional<INITCOMMONCONTROLSEX> common_controls;
    std::optional<DWORD> dll_directories;  // SetDefaultDllDirectories flags
    bool has_dpi_function = true;          // SetProcessDpiAwarenessContext exists (Windows 10 1703+)
    bool has_dll_directories_function = true;  // SetDefaultDllDirectories exists (Windows 8, or 7 with KB2533623)
    std::vector<DPI_AWARENESS_CONTEXT> dpi_contexts;  // every call of it
    // The guard against junctions no administrator made: unknown, read back unfilled as under Wine, on; or
    // read back as on by a Wine (ntdll has wine_get_version) that has no guard, yet opens a link as itself.
    enum class Trust { unknown, unfilled, enforced, echoed_by_wine } redirection_trust = Trust::unknown;

    std::vector<PendingThread> threads;  // created, not yet run
    bool thread_fails = false;           // CreateThread returns null
    unsigned long long slept_ms = 0;
};
extern User user;

// The dialog that a script is driving (the last one still running), or null.
Dialog *running_dialog();
Dialog &dialog_of(HWND window);
Control *control_of(HWND window);  // null when the window is no control

// What a user does to a running dialog. Each returns false when it had no effect.
bool click(HWND dialog, DWORD id);             // enabled controls only; automatic check boxes flip first
bool press_escape(HWND dialog);               // the dialog manager's IDCANCEL, even with Cancel disabled
bool press_enter(HWND dialog);                // the default push button, or IDOK
INT_PTR send_command(HWND dialog, DWORD id, WORD code);  // a raw WM_COMMAND from a control
INT_PTR deliver(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);  // straight to the procedure

// Runs the threads created so far, in order, each to its end.
void run_threads();

void reset_user();

}  // namespace fake

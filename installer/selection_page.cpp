#include "installer/selection_page.h"

#include <commctrl.h>

#include "common/control_ids.h"
#include "common/exit_codes.h"
#include "common/wide_string.h"
#include "dialog/command_table.h"
#include "dialog/dialog_procedure.h"
#include "dialog/template_writer.h"
#include "installer/choices.h"
#include "installer/install_runs.h"
#include "installer/page_header.h"
#include "targets/clap_target.h"
#include "targets/fl_studio_target.h"

namespace {

const DWORD TEXT_STYLE = WS_CHILD | WS_VISIBLE | SS_LEFT;
const DWORD OPTION_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
const DWORD BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

// One unit below the longest the CLAP target itself accepts, so that every
// offered folder can be installed to.
const DWORD LONGEST_OFFERED_CLAP_BASE = LONGEST_CLAP_BASE - 1;

// "Target: " and the longest folder of each kind fit with room to spare.
WCHAR label_clap64[352];
WCHAR label_clap32[352];
WCHAR label_fl[352];

// Options stand 34 units apart, each with its label 14 units below it.
void add_option(int option, const char *text, command_handler handler) {
    LONG top = 41 + 34 * option;
    const control_rect rect = control_at(27, top, 255, 14);
    add_control(0, OPTION_STYLE, rect, ID_OPTION_CLAP64 + option, "BUTTON", text);
    register_command(ID_OPTION_CLAP64 + option, handler);
}

// folder is null when the host was not found.
void add_label(int option, WCHAR *label, const WCHAR *folder) {
    LONG top = 55 + 34 * option;
    const control_rect rect = control_at(37, top, 235, 20);
    if (!folder) {
        add_control(0, TEXT_STYLE, rect, 0, "STATIC", "(not available)");
        return;
    }
    label[0] = 0;
    ascii_append(label, "Target: ");
    wide_append(label, folder);
    add_control(0, TEXT_STYLE, rect, 0, "STATIC", label);
}

void on_toggle_clap64(HWND page) { toggle_target(page, TARGET_CLAP64); }
void on_toggle_clap32(HWND page) { toggle_target(page, TARGET_CLAP32); }
void on_toggle_fl(HWND page) { toggle_target(page, TARGET_FL); }

// Each option gives the target it makes available: its bit, or 0 where the
// host was not found.
DWORD add_clap_option(int option, const char *text, command_handler handler, int build, WCHAR *label, WCHAR *path) {
    add_option(option, text, handler);
    bool found = find_clap_folder(build, path, LONGEST_OFFERED_CLAP_BASE);
    add_label(option, label, found ? path : nullptr);
    return found ? DWORD(1) << option : 0;
}

DWORD add_fl_option(WCHAR *path) {
    add_option(2, "FL Studio native", on_toggle_fl);
    DWORD cut;
    bool found = find_fl_studio_folder(path, &cut);
    if (found) ascii_append(path, FL_PLUGIN_FOLDER);
    add_label(2, label_fl, found ? path : nullptr);
    return found ? DWORD(TARGET_FL) : 0;
}

void add_buttons() {
    static constexpr control_rect uninstall = control_at(7, 172, 50, 14);
    add_control(0, BUTTON_STYLE | WS_GROUP, uninstall, ID_UNINSTALL, "BUTTON", "&Uninstall");
    register_command(ID_UNINSTALL, on_uninstall);
    static constexpr control_rect cancel = control_at(252, 172, 50, 14);
    add_control(0, BUTTON_STYLE, cancel, IDCANCEL, "BUTTON", "&Cancel");
    register_command(IDCANCEL, on_cancel);
    static constexpr control_rect install = control_at(198, 172, 50, 14);
    add_control(0, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, install, IDOK, "BUTTON", "&Install");
    register_command(IDOK, on_install);
    // Still until the install run starts its marquee.
    static constexpr control_rect progress = control_at(67, 173, 121, 12);
    add_control(0, WS_CHILD | WS_VISIBLE | PBS_MARQUEE, progress, ID_PROGRESS, "msctls_progress32",
                "Installation progress");
}

}  // namespace

INT_PTR CALLBACK selection_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) show_choices(page);
    return page_header_proc(page, message, wparam, lparam);
}

UINT run_selection_page() {
    begin_page();
    static constexpr control_rect heading = control_at(13, 28, 283, 13);
    add_control(0, TEXT_STYLE, heading, ID_HEADING, "STATIC", "Select the versions you want to install:");
    WCHAR path[300];
    DWORD available = add_clap_option(0, "CLAP (64-bit)", on_toggle_clap64, CLAP_64_BIT, label_clap64, path);
    available |= add_clap_option(1, "CLAP (32-bit)", on_toggle_clap32, CLAP_32_BIT, label_clap32, path);
    available |= add_fl_option(path);
    add_buttons();
    offer_targets(available);
    // The page ends with the run's exit code; a page that could not be shown
    // has done nothing.
    INT_PTR result = DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(template_buffer), nullptr,
                                             selection_page_proc, 0);
    return result > 0 ? UINT(result) : EXIT_DONE;
}

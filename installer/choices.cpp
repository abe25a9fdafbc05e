#include "installer/choices.h"

#include "common/control_ids.h"

DWORD available_targets;
DWORD selected_targets;

namespace {

const int OPTION_COUNT = 3;

void enable_install(HWND page) { EnableWindow(GetDlgItem(page, IDOK), selected_targets != 0); }

}  // namespace

void offer_targets(DWORD available) {
    available_targets = available;
    selected_targets = available;
}

void show_choices(HWND page) {
    for (int option = 0; option < OPTION_COUNT; ++option) {
        HWND box = GetDlgItem(page, ID_OPTION_CLAP64 + option);
        DWORD bit = DWORD(1) << option;
        EnableWindow(box, (available_targets & bit) != 0);
        SendMessageW(box, BM_SETCHECK, (selected_targets & bit) ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    enable_install(page);
    EnableWindow(GetDlgItem(page, ID_UNINSTALL), TRUE);
    EnableWindow(GetDlgItem(page, IDCANCEL), TRUE);
}

void toggle_target(HWND page, DWORD target) {
    selected_targets ^= target;
    enable_install(page);
}

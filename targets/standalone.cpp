#include "targets/standalone.h"

#include <shlobj.h>

#include "common/wide_string.h"
#include "targets/removal.h"

namespace {

const DWORD LONGEST_KNOWN_FOLDER = 260;

WCHAR app_data_path[520];
WCHAR shortcut_path[520];

bool longer_than(const WCHAR *text, DWORD limit) {
    for (DWORD i = 0; i <= limit; ++i)
        if (!text[i]) return false;
    return true;
}

void start_path(WCHAR *buffer, const WCHAR *folder, const char *suffix) {
    buffer[0] = 0;
    wide_append(buffer, folder);
    ascii_append(buffer, suffix);
}

}  // namespace

// The two strings the shell hands out are not freed: its free function lives in
// ole32, which the installer does not otherwise import, and the process ends
// right after the uninstall run.
void remove_standalone() {
    PWSTR app_data = nullptr;
    PWSTR start_menu = nullptr;
    HRESULT app_data_found = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &app_data);
    HRESULT start_menu_found = SHGetKnownFolderPath(FOLDERID_StartMenu, 0, nullptr, &start_menu);
    if (FAILED(app_data_found) || FAILED(start_menu_found)) return;
    if (longer_than(app_data, LONGEST_KNOWN_FOLDER) || longer_than(start_menu, LONGEST_KNOWN_FOLDER)) return;

    // The maker's folder is created even when absent, and kept. Either file
    // may be missing; the other is removed all the same.
    start_path(app_data_path, app_data, "\\Brindlewoodsonics\\Quenthalvox Standalone.exe");
    create_product_folders(app_data_path);
    remove_product_file(app_data_path);
    start_path(shortcut_path, start_menu, "\\Programs\\Quenthalvox Standalone.lnk");
    remove_product_file(shortcut_path);
}

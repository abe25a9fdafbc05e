#include "targets/fl_studio_target.h"

#include <winternl.h>

#include "common/error_report.h"
#include "files/file_replace.h"
#include "common/wide_string.h"
#include "payload/extract.h"
#include "targets/removal.h"

namespace {

// 500 bytes hold 249 units and the terminator; cut to its folder and with the
// longest suffix, such a value fills the buffer exactly.
WCHAR path[304];
const DWORD CLEARED_UNITS = 300;
const DWORD VALUE_BYTES = 500;

// Names within the plug-in folder; the folder itself is named without a
// trailing backslash, so that the folders above it can be held while it goes.
constexpr const char *DLL_64 = "\\Quenthalvox_x64.dll";
constexpr const char *DLL_32 = "\\Quenthalvox.dll";
constexpr const char *PLUGIN_FOLDER = "";
constexpr const char *TEXT_FL_STUDIO_NOT_FOUND =
    "No FL Studio installation was found. Make sure you have installed the latest version of FL Studio.";

// Opening with create semantics leaves the key behind, empty, on a machine
// without FL Studio; that is accepted.
LSTATUS read_fl_studio_value(WCHAR *value) {
    HKEY key;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Image-Line\\Shared\\Paths", 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    DWORD size = VALUE_BYTES;
    status = RegGetValueW(key, nullptr, L"FL Studio", RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(key);
    return status;
}

// The value names a file (FL Studio's executable); its folder ends at the last
// backslash.
DWORD cut_position(const WCHAR *value) {
    DWORD cut = 0;
    for (DWORD i = 0; value[i]; ++i)
        if (value[i] == L'\\') cut = i;
    return cut;
}

void use_suffix(DWORD cut, const char *name) {
    path[cut] = 0;
    ascii_append(path, FL_PLUGIN_FOLDER);
    ascii_append(path, name);
}

void remove_dlls(DWORD cut) {
    use_suffix(cut, DLL_64);
    remove_product_file(path);
    use_suffix(cut, DLL_32);
    remove_product_file(path);
    // Only an empty folder goes: one still holding other files is left, and
    // one that is a link too (removing a link's path removes the folder it
    // points to on some systems, Wine among them).
    use_suffix(cut, PLUGIN_FOLDER);
    delete_if_free(path, FILE_DIRECTORY_FILE);
}

void install_dlls(HWND owner, DWORD cut) {
    use_suffix(cut, DLL_64);
    extract_file(owner, path, "bin/target_fl64");
    use_suffix(cut, DLL_32);
    if (!install_failed) extract_file(owner, path, "bin/target_fl32");
}

}  // namespace

bool find_fl_studio_folder(WCHAR *folder, DWORD *cut) {
    for (DWORD i = 0; i < CLEARED_UNITS; ++i) folder[i] = 0;
    if (read_fl_studio_value(folder) != ERROR_SUCCESS) return false;
    *cut = cut_position(folder);
    folder[*cut] = 0;
    return true;
}

bool find_fl_studio_file(bool x64, WCHAR *file) {
    DWORD cut;
    if (!find_fl_studio_folder(file, &cut)) return false;
    ascii_append(file, FL_PLUGIN_FOLDER);
    ascii_append(file, x64 ? DLL_64 : DLL_32);
    return true;
}

void fl_studio_target(HWND owner, int remove) {
    if (install_failed) return;
    DWORD cut;
    if (!find_fl_studio_folder(path, &cut)) {
        if (!remove) show_error(owner, TEXT_FL_STUDIO_NOT_FOUND);
        return;
    }
    if (remove)
        remove_dlls(cut);
    else
        install_dlls(owner, cut);
}

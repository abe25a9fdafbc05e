#include "targets/clap_target.h"

#include "common/shared.h"
#include "payload/extract.h"
#include "targets/removal.h"

namespace {

// The variables are read with a stated size below the buffers' so that the
// longest accepted value plus the longest suffix always fits.
const DWORD VARIABLE_SIZE = 250;
const DWORD LONGEST_FOLDER = 240;

WCHAR path_64[304];
WCHAR path_32[304];

bool read_folder(const WCHAR *variable, WCHAR *buffer) {
    DWORD length = GetEnvironmentVariableW(variable, buffer, VARIABLE_SIZE);
    return length >= 1 && length <= LONGEST_FOLDER;
}

}  // namespace

void clap_target(HWND owner, int remove, int build) {
    bool found_64 = read_folder(L"COMMONPROGRAMFILES", path_64);
    bool found_32 = read_folder(L"COMMONPROGRAMFILES(X86)", path_32);
    if (!found_64 || !found_32) {
        if (!remove) MessageBoxW(owner, TEXT_FOLDER_INACCESSIBLE, nullptr, MB_OK);
        return;
    }
    wide_append(path_64, L"\\CLAP\\Quenthalvox.clap");
    wide_append(path_32, L"\\CLAP\\Quenthalvox (32-bit).clap");
    if (remove) {
        remove_product_file(path_64);
        remove_product_file(path_32);
        return;
    }
    if (install_failed) return;
    if (build == 0)
        extract_file(owner, path_64, "bin/target_cl64");
    else
        extract_file(owner, path_32, "bin/target_cl32");
}

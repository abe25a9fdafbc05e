#include "targets/clap_target.h"

#include "common/error_report.h"
#include "common/wide_string.h"
#include "common/report_texts.h"
#include "payload/extract.h"
#include "targets/removal.h"

namespace {

// The variables are read with a stated size below the buffers' so that the
// longest accepted value plus the longest suffix always fits.
const DWORD VARIABLE_SIZE = 250;

WCHAR path_64[304];
WCHAR path_32[304];

}  // namespace

bool find_clap_folder(int build, WCHAR *folder, DWORD longest) {
    const WCHAR *variable = build == CLAP_64_BIT ? L"COMMONPROGRAMFILES" : L"COMMONPROGRAMFILES(X86)";
    DWORD length = GetEnvironmentVariableW(variable, folder, VARIABLE_SIZE);
    if (length < 1 || length > longest) return false;
    ascii_append(folder, "\\CLAP");
    return true;
}

bool find_clap_file(int build, WCHAR *path) {
    if (!find_clap_folder(build, path, LONGEST_CLAP_BASE)) return false;
    ascii_append(path, build == CLAP_64_BIT ? "\\Quenthalvox.clap" : "\\Quenthalvox (32-bit).clap");
    return true;
}

void clap_target(HWND owner, int remove, int build) {
    bool found_64 = find_clap_file(CLAP_64_BIT, path_64);
    bool found_32 = find_clap_file(CLAP_32_BIT, path_32);
    if (!found_64 || !found_32) {
        if (!remove) show_error(owner, TEXT_FOLDER_INACCESSIBLE);
        return;
    }
    if (remove) {
        remove_product_file(path_64);
        remove_product_file(path_32);
        return;
    }
    if (install_failed) return;
    if (build == CLAP_64_BIT)
        extract_file(owner, path_64, "bin/target_cl64");
    else
        extract_file(owner, path_32, "bin/target_cl32");
}

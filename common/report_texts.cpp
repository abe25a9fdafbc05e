#include "common/report_texts.h"

#include "common/file_replace.h"
#include "common/link_guard.h"

const WCHAR TEXT_FOLDER_INACCESSIBLE[] = L"The installation folder was inaccessible. Quenthalvox could not be installed.";
const WCHAR TEXT_NO_MEMORY[] = L"Insufficient memory was available. Quenthalvox could not be installed.";

namespace {

const WCHAR TEXT_IN_USE[] = L"The file is in use. Close every program that uses it, such as your DAW, and try again.";
const WCHAR TEXT_DISK_FULL[] = L"There is not enough free disk space on that drive.";
const WCHAR TEXT_LINK_REFUSED[] = L"Skipped: the folder is a link the installer does not follow.";

}  // namespace

const WCHAR *cause_text(DWORD error, const WCHAR *otherwise) {
    if (is_in_use_error(error)) return TEXT_IN_USE;
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return TEXT_DISK_FULL;
    if (error == ERROR_UNTRUSTED_MOUNT_POINT) return TEXT_LINK_REFUSED;
    return otherwise;
}

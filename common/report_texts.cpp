#include "common/report_texts.h"

#include "files/file_replace.h"
#include "files/link_guard.h"

namespace {

constexpr const char *TEXT_IN_USE = "The file is in use. Close every program that uses it, such as your DAW, and try again.";
constexpr const char *TEXT_DISK_FULL = "There is not enough free disk space on that drive.";
constexpr const char *TEXT_LINK_REFUSED = "Skipped: the folder is a link the installer does not follow.";

}  // namespace

const char *cause_text(DWORD error, const char *otherwise) {
    if (is_in_use_error(error)) return TEXT_IN_USE;
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return TEXT_DISK_FULL;
    if (error == ERROR_UNTRUSTED_MOUNT_POINT) return TEXT_LINK_REFUSED;
    return otherwise;
}

#include "common/file_replace.h"

#include "common/run_account.h"
#include "common/shared.h"

namespace {

// Names beside a plug-in that no host takes for one: the new file while it is
// written, and the old one moved aside while a host still holds it.
const WCHAR NEW_SUFFIX[] = L".new";
const WCHAR ASIDE_SUFFIX[] = L".old";

const WCHAR TEXT_IN_USE[] = L"The file is in use. Close every program that uses it, such as your DAW, and try again.";
const WCHAR TEXT_DISK_FULL[] = L"There is not enough free disk space on that drive.";

// The longest path any caller builds is 306 units.
const DWORD LONGEST_PATH = 310;
WCHAR new_path[LONGEST_PATH + 5];
WCHAR aside_path[LONGEST_PATH + 5];

void name_beside(WCHAR *side, const WCHAR *path, const WCHAR *suffix) {
    side[0] = 0;
    wide_append(side, path);
    wide_append(side, suffix);
}

// Both side names, and whatever is left of them: a killed run can leave its
// new file, and an old build moved aside outlives the host that held it.
bool prepare_side_names(const WCHAR *path) {
    for (DWORD length = 0; path[length]; ++length)
        if (length == LONGEST_PATH) return false;
    name_beside(new_path, path, NEW_SUFFIX);
    name_beside(aside_path, path, ASIDE_SUFFIX);
    DeleteFileW(new_path);
    DeleteFileW(aside_path);
    return true;
}

DWORD last_error() {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

// One write of the whole buffer; flushed, so that the rename can never put an
// unwritten file in the old one's place.
DWORD write_new_file(const void *bytes, DWORD size) {
    HANDLE file = CreateFileW(new_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return last_error();
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr))
        error = last_error();
    else if (written != size)
        error = ERROR_DISK_FULL;  // a disk file takes all or nothing, unless it is full
    else if (!FlushFileBuffers(file))
        error = last_error();
    CloseHandle(file);
    return error;
}

// Another program holds the file.
bool is_in_use_error(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

// A host that has loaded the plug-in keeps it mapped: it can be neither
// overwritten nor deleted, but it can be renamed within its folder. A
// read-only file or a folder at the path is not ours to push aside. Gives 0
// once the file is aside, or the error that stands.
DWORD move_aside(const WCHAR *path, DWORD error) {
    if (error != ERROR_ACCESS_DENIED && !is_in_use_error(error)) return error;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return error;
    if (MoveFileExW(path, aside_path, 0)) return 0;
    // The build moved aside by an earlier update is still held as well.
    error = last_error();
    return error == ERROR_ALREADY_EXISTS ? ERROR_SHARING_VIOLATION : error;
}

// The file moved aside goes now, or at the next restart while a program still
// holds it (the installer runs elevated, so that can be arranged).
removal dispose_aside() {
    if (DeleteFileW(aside_path)) return FILE_REMOVED;
    return MoveFileExW(aside_path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? FILE_REMOVED_AT_RESTART : FILE_LEFT;
}

DWORD replace_past_host(const WCHAR *path, DWORD error) {
    error = move_aside(path, error);
    if (error) return error;
    if (!MoveFileExW(new_path, path, 0)) {
        error = last_error();
        MoveFileExW(aside_path, path, 0);
        return error;
    }
    // An old build the next restart cannot remove is cleared by a later run.
    if (dispose_aside() != FILE_REMOVED) old_build_in_use = 1;
    return 0;
}

}  // namespace

const WCHAR *cause_text(DWORD error, const WCHAR *otherwise) {
    if (is_in_use_error(error)) return TEXT_IN_USE;
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return TEXT_DISK_FULL;
    return otherwise;
}

DWORD replace_file(const WCHAR *path, const void *bytes, DWORD size) {
    if (!prepare_side_names(path)) return ERROR_FILENAME_EXCED_RANGE;
    DWORD error = write_new_file(bytes, size);
    if (!error && !MoveFileExW(new_path, path, MOVEFILE_REPLACE_EXISTING))
        error = replace_past_host(path, last_error());
    if (error) DeleteFileW(new_path);
    return error;
}

removal remove_file(const WCHAR *path, DWORD *error) {
    if (!prepare_side_names(path)) return FILE_REMOVED;  // no file has such a path
    if (DeleteFileW(path)) return FILE_REMOVED;
    *error = last_error();
    if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) return FILE_REMOVED;
    *error = move_aside(path, *error);
    if (*error) return FILE_LEFT;
    removal outcome = dispose_aside();
    if (outcome != FILE_LEFT) return outcome;
    // Movable but never deletable: a program holds it. Back where the user
    // will look for it, since nothing would remove it from aside.
    MoveFileExW(aside_path, path, 0);
    *error = ERROR_SHARING_VIOLATION;
    return FILE_LEFT;
}

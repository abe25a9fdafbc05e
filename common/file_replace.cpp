#include "common/file_replace.h"

#include "common/link_guard.h"
#include "common/wide_string.h"

const WCHAR NEW_SUFFIX[] = L".new";
const WCHAR ASIDE_SUFFIX[] = L".old";

namespace {


// The longest path any caller builds is 310 units (an old build's side name).
const DWORD LONGEST_PATH = 310;
WCHAR new_path[LONGEST_PATH + 5];
WCHAR aside_path[LONGEST_PATH + 5];

void name_beside(WCHAR *side, const WCHAR *path, const WCHAR *suffix) {
    side[0] = 0;
    wide_append(side, path);
    wide_append(side, suffix);
}

bool name_sides(const WCHAR *path) {
    for (DWORD length = 0; path[length]; ++length)
        if (length == LONGEST_PATH) return false;
    name_beside(new_path, path, NEW_SUFFIX);
    name_beside(aside_path, path, ASIDE_SUFFIX);
    return true;
}

DWORD last_error() {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

bool exists(const WCHAR *path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// A killed run can leave its new file, and an old build moved aside outlives
// the host that held it. An old build with nothing in its place is the build
// that works (an earlier run could not move it back): it goes back first.
void clear_earlier_run(const WCHAR *path) {
    DeleteFileW(new_path);
    if (!exists(aside_path)) return;
    if (exists(path))
        DeleteFileW(aside_path);
    else
        MoveFileExW(aside_path, path, 0);
}

// Only ever a new file: whatever stands at the name, a link among them, is
// never opened. One write of the whole buffer, flushed, so that the rename can
// never put an unwritten file in the old one's place.
DWORD write_new_file(const void *bytes, DWORD size) {
    HANDLE file = CreateFileW(new_path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
// holds it; the system carries that out with full rights on whatever the path
// names by then, so only where no standard user can change the folders.
removal dispose_aside() {
    if (DeleteFileW(aside_path)) return FILE_REMOVED;
    if (restart_removal_is_safe() && MoveFileExW(aside_path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return FILE_REMOVED_AT_RESTART;
    return FILE_LEFT;
}

DWORD replace_past_host(const WCHAR *path, DWORD error, DWORD *left) {
    error = move_aside(path, error);
    if (error) return error;
    if (MoveFileExW(new_path, path, 0)) return 0;
    error = last_error();
    if (!MoveFileExW(aside_path, path, 0)) *left |= OLD_BUILD_STRANDED;
    return error;
}

// A read-only mark comes with files copied from archives and discs: the
// plug-in's own old build is replaced all the same, and keeps its mark if it
// stays.
DWORD replace_held(const WCHAR *path, DWORD error, DWORD *left) {
    DWORD attributes = GetFileAttributesW(path);
    bool read_only = attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == FILE_ATTRIBUTE_READONLY;
    if (read_only) {
        SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
        if (MoveFileExW(new_path, path, MOVEFILE_REPLACE_EXISTING)) return 0;
        error = last_error();
    }
    error = replace_past_host(path, error, left);
    if (error && read_only) SetFileAttributesW(path, attributes);
    return error;
}

DWORD put_in_place(const WCHAR *path, const void *bytes, DWORD size, DWORD *left) {
    clear_earlier_run(path);
    DWORD error = write_new_file(bytes, size);
    if (!error && !MoveFileExW(new_path, path, MOVEFILE_REPLACE_EXISTING))
        error = replace_held(path, last_error(), left);
    if (error) {
        if (!DeleteFileW(new_path) && exists(new_path)) *left |= NEW_FILE_LEFT;
        return error;
    }
    // The build just moved aside, or one an earlier update left there.
    if (exists(aside_path)) {
        removal outcome = dispose_aside();
        if (outcome != FILE_REMOVED) *left |= OLD_BUILD_HELD;
        if (outcome == FILE_LEFT) *left |= OLD_BUILD_LEFT;
    }
    return 0;
}

// Deletes the file, or moves it aside where a host holds it; a file that
// cannot go is put back where the user will look for it.
removal take_away(const WCHAR *path, DWORD *error) {
    if (DeleteFileW(path)) return FILE_REMOVED;
    *error = last_error();
    if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) return FILE_REMOVED;
    *error = move_aside(path, *error);
    if (*error) return FILE_LEFT;
    removal outcome = dispose_aside();
    if (outcome != FILE_LEFT) return outcome;
    *error = ERROR_SHARING_VIOLATION;
    return MoveFileExW(aside_path, path, 0) ? FILE_LEFT : FILE_LEFT_ASIDE;
}

}  // namespace

void delete_if_free(WCHAR *path) {
    if (!hold_folders(path, false)) DeleteFileW(path);
    release_folders();
}

bool is_in_use_error(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

replacement replace_file(WCHAR *path, const void *bytes, DWORD size) {
    replacement result = {ERROR_FILENAME_EXCED_RANGE, 0};
    if (name_sides(path)) {
        result.error = hold_folders(path, true);
        if (!result.error) result.error = put_in_place(path, bytes, size, &result.left);
    }
    release_folders();
    return result;
}

removal remove_file(WCHAR *path, DWORD *error) {
    if (!name_sides(path)) return FILE_REMOVED;  // no file has such a path
    *error = hold_folders(path, false);
    removal outcome = FILE_LEFT;
    // A new file that a killed install left is never a build that works.
    if (!*error) DeleteFileW(new_path);
    if (!*error)
        outcome = take_away(path, error);
    else if (!exists(path))
        outcome = FILE_REMOVED;  // nothing to leave: reading what a link leads to changes nothing
    release_folders();
    return outcome;
}

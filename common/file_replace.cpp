#include "common/file_replace.h"

#include "common/run_account.h"
#include "common/shared.h"

namespace {

// Names beside a plug-in that no host takes for one: the new file while it is
// written, and old files moved aside while a host still holds them.
const WCHAR NEW_SUFFIX[] = L".new";
const WCHAR ASIDE_SUFFIX[] = L".old1";
const int ASIDE_NAMES = 9;
const int ASIDE_DIGIT = 4;  // index of the digit in ASIDE_SUFFIX

// The longest path any caller builds is 306 units; a side name adds five.
const DWORD LONGEST_PATH = 310;
WCHAR new_path[LONGEST_PATH + 6];
WCHAR aside_path[LONGEST_PATH + 6];

bool name_beside(WCHAR *side, const WCHAR *path, const WCHAR *suffix) {
    DWORD length = 0;
    while (path[length])
        if (++length > LONGEST_PATH) return false;
    side[0] = 0;
    wide_append(side, path);
    wide_append(side, suffix);
    return true;
}

void aside_name(const WCHAR *path, int number) {
    name_beside(aside_path, path, ASIDE_SUFFIX);
    WCHAR *end = aside_path;
    while (*end) ++end;
    end[-1] = WCHAR(L'0' + number);
}

DWORD last_error() {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

// A killed run can leave its new file, and an old build moved aside outlives
// the host that held it; whatever is free by now goes.
void clear_leftovers(const WCHAR *path) {
    DeleteFileW(new_path);
    for (int number = 1; number <= ASIDE_NAMES; ++number) {
        aside_name(path, number);
        DeleteFileW(aside_path);
    }
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
        error = ERROR_WRITE_FAULT;
    else if (!FlushFileBuffers(file))
        error = last_error();
    CloseHandle(file);
    return error;
}

// A read-only file or a folder at the path is not ours to push aside.
bool may_move_aside(const WCHAR *path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// Renames path to the first free aside name; GetLastError tells why not.
bool move_aside(const WCHAR *path) {
    for (int number = 1; number <= ASIDE_NAMES; ++number) {
        aside_name(path, number);
        if (MoveFileExW(path, aside_path, 0)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

// A host that has loaded the plug-in keeps it mapped: it can be neither
// overwritten nor deleted, but it can be renamed within its folder.
DWORD replace_past_host(const WCHAR *path) {
    if (!may_move_aside(path)) return ERROR_ACCESS_DENIED;
    if (!move_aside(path)) return last_error();
    if (!MoveFileExW(new_path, path, 0)) {
        DWORD error = last_error();
        MoveFileExW(aside_path, path, 0);
        return error;
    }
    if (DeleteFileW(aside_path)) return 0;
    // Still loaded: gone at the next restart (the installer runs elevated);
    // should that fail, the next run of the installer clears it.
    MoveFileExW(aside_path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    old_build_in_use = 1;
    return 0;
}

bool may_be_held(DWORD error) { return error == ERROR_ACCESS_DENIED || is_in_use_error(error); }

}  // namespace

bool is_in_use_error(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

bool is_disk_full_error(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

DWORD replace_file(const WCHAR *path, const void *bytes, DWORD size) {
    if (!name_beside(new_path, path, NEW_SUFFIX)) return ERROR_FILENAME_EXCED_RANGE;
    clear_leftovers(path);
    DWORD error = write_new_file(bytes, size);
    if (!error && !MoveFileExW(new_path, path, MOVEFILE_REPLACE_EXISTING)) {
        error = last_error();
        if (may_be_held(error)) error = replace_past_host(path);
    }
    if (error) DeleteFileW(new_path);
    return error;
}

removal remove_file(const WCHAR *path, DWORD *error) {
    if (!name_beside(new_path, path, NEW_SUFFIX)) return FILE_REMOVED;  // no file has such a path
    clear_leftovers(path);
    if (DeleteFileW(path)) return FILE_REMOVED;
    *error = last_error();
    if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND) return FILE_REMOVED;
    if (!may_be_held(*error) || !may_move_aside(path) || !move_aside(path)) return FILE_LEFT;
    if (DeleteFileW(aside_path)) return FILE_REMOVED;
    if (MoveFileExW(aside_path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return FILE_REMOVED_AT_RESTART;
    // Movable but never deletable: a program holds it. Back where the user
    // will look for it, since nothing would remove it from aside.
    MoveFileExW(aside_path, path, 0);
    *error = ERROR_SHARING_VIOLATION;
    return FILE_LEFT;
}

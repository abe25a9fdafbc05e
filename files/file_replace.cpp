#include "files/file_replace.h"

#include "files/link_guard.h"
#include "files/relative_calls.h"
#include "common/wide_string.h"

const WCHAR NEW_SUFFIX[] = L".new";
const WCHAR ASIDE_SUFFIX[] = L".old";

namespace {

// The side names in full, for the system's removal at restart, which goes by
// name; their last names are the side names within the held folder.
WCHAR new_path[LONGEST_SIDE_PATH + 5];
WCHAR aside_path[LONGEST_SIDE_PATH + 5];

// A file's names within its held folder.
struct place {
    HANDLE folder;
    const WCHAR *name, *new_name, *aside_name;
};

void name_beside(WCHAR *side, const WCHAR *path, const WCHAR *suffix) {
    side[0] = 0;
    wide_append(side, path);
    wide_append(side, suffix);
}

bool name_sides(const WCHAR *path) {
    for (DWORD length = 0; path[length]; ++length)
        if (length > LONGEST_SIDE_PATH) return false;
    name_beside(new_path, path, NEW_SUFFIX);
    name_beside(aside_path, path, ASIDE_SUFFIX);
    return true;
}

place place_of(const WCHAR *path, const held_folders &held) {
    DWORD offset = DWORD(held.name - path);
    return {innermost(held), held.name, new_path + offset, aside_path + offset};
}

DWORD last_error() {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

// Only "not found" means that nothing is there: a look that fails otherwise
// counts as something there.
bool is_there(HANDLE folder, const WCHAR *name) {
    FILE_ATTRIBUTE_TAG_INFO found;
    return look_in(folder, name, &found) != ERROR_FILE_NOT_FOUND;
}

// Gives the attributes of the file at name, or INVALID_FILE_ATTRIBUTES for a
// folder, nothing, or a look that failed.
DWORD file_attributes(HANDLE folder, const WCHAR *name) {
    FILE_ATTRIBUTE_TAG_INFO found;
    if (look_in(folder, name, &found) != ERROR_SUCCESS || (found.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return INVALID_FILE_ATTRIBUTES;
    return found.FileAttributes;
}

// A killed run can leave its new file, and an old build moved aside outlives
// the host that held it. An old build goes only once a file stands in its
// place; with certainly nothing there it is the build that works (an earlier
// run could not move it back), and it goes back first.
void clear_earlier_run(const place &file) {
    delete_in(file.folder, file.new_name, FILE_NON_DIRECTORY_FILE);
    FILE_ATTRIBUTE_TAG_INFO found;
    if (look_in(file.folder, file.aside_name, &found) != ERROR_SUCCESS) return;
    DWORD error = look_in(file.folder, file.name, &found);
    if (!error && !(found.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        delete_in(file.folder, file.aside_name, FILE_NON_DIRECTORY_FILE);
    else if (error == ERROR_FILE_NOT_FOUND)
        rename_in(file.folder, file.aside_name, file.name, false);
}

// Only ever a new file: whatever stands at the name, a link among them, makes
// the creation fail. One write of the whole buffer, through to the disk, so
// that the rename can never put an unwritten file in the old one's place.
DWORD write_new_file(const place &file, const void *bytes, DWORD size) {
    HANDLE written_file;
    DWORD error = open_in(file.folder, file.new_name, GENERIC_WRITE, 0, FILE_CREATE,
                          FILE_NON_DIRECTORY_FILE | FILE_WRITE_THROUGH, &written_file);
    if (error) return error;
    DWORD written = 0;
    if (!WriteFile(written_file, bytes, size, &written, nullptr))
        error = last_error();
    else if (written != size)
        error = ERROR_DISK_FULL;  // a disk file takes all or nothing, unless it is full
    CloseHandle(written_file);
    return error;
}

// A host that has loaded the plug-in keeps it mapped: it can be neither
// overwritten nor deleted, but it can be renamed within its folder. A
// read-only file or a folder at the path is not ours to push aside. Gives 0
// once the file is aside, or the error that stands.
DWORD move_aside(const place &file, DWORD error) {
    if (error != ERROR_ACCESS_DENIED && !is_in_use_error(error)) return error;
    DWORD attributes = file_attributes(file.folder, file.name);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY)) return error;
    error = rename_in(file.folder, file.name, file.aside_name, false);
    // The build moved aside by an earlier update is still held as well.
    return error == ERROR_ALREADY_EXISTS ? ERROR_SHARING_VIOLATION : error;
}

// The file moved aside goes now, or at the next restart while a program still
// holds it; the system carries that out with full rights on whatever the path
// names by then, so only where no standard user can change the folders.
removal dispose_aside(const place &file) {
    if (delete_in(file.folder, file.aside_name, FILE_NON_DIRECTORY_FILE) == ERROR_SUCCESS) return FILE_REMOVED;
    if (restart_removal_is_safe(aside_path) && MoveFileExW(aside_path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return FILE_REMOVED_AT_RESTART;
    return FILE_LEFT;
}

DWORD replace_past_host(const place &file, DWORD error, DWORD *left) {
    error = move_aside(file, error);
    if (error) return error;
    error = rename_in(file.folder, file.new_name, file.name, false);
    if (error && rename_in(file.folder, file.aside_name, file.name, false) != ERROR_SUCCESS) *left |= OLD_BUILD_STRANDED;
    return error;
}

// A read-only mark comes with files copied from archives and discs: the
// plug-in's own old build is replaced all the same, and keeps its mark if it
// stays.
DWORD replace_held(const place &file, DWORD error, DWORD *left) {
    DWORD attributes = file_attributes(file.folder, file.name);
    bool read_only = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (read_only) {
        set_attributes_in(file.folder, file.name, attributes & ~FILE_ATTRIBUTE_READONLY);
        error = rename_in(file.folder, file.new_name, file.name, true);
        if (!error) return 0;
    }
    error = replace_past_host(file, error, left);
    if (error && read_only) set_attributes_in(file.folder, file.name, attributes);
    return error;
}

DWORD put_in_place(const place &file, const void *bytes, DWORD size, DWORD *left) {
    clear_earlier_run(file);
    DWORD error = write_new_file(file, bytes, size);
    if (!error) {
        error = rename_in(file.folder, file.new_name, file.name, true);
        if (error) error = replace_held(file, error, left);
    }
    if (error) {
        if (delete_in(file.folder, file.new_name, FILE_NON_DIRECTORY_FILE) != ERROR_SUCCESS &&
            is_there(file.folder, file.new_name))
            *left |= NEW_FILE_LEFT;
        return error;
    }
    // The build just moved aside, or one an earlier update left there.
    if (is_there(file.folder, file.aside_name)) {
        removal outcome = dispose_aside(file);
        if (outcome != FILE_REMOVED) *left |= OLD_BUILD_HELD;
        if (outcome == FILE_LEFT) *left |= OLD_BUILD_LEFT;
    }
    return 0;
}

// Deletes the file, or moves it aside where a host holds it; a file that
// cannot go is put back where the user will look for it.
removal take_away(const place &file, DWORD *error) {
    *error = delete_in(file.folder, file.name, FILE_NON_DIRECTORY_FILE);
    if (!*error || *error == ERROR_FILE_NOT_FOUND) return FILE_REMOVED;
    *error = move_aside(file, *error);
    if (*error) return FILE_LEFT;
    removal outcome = dispose_aside(file);
    if (outcome != FILE_LEFT) return outcome;
    *error = ERROR_SHARING_VIOLATION;
    return rename_in(file.folder, file.aside_name, file.name, false) == ERROR_SUCCESS ? FILE_LEFT : FILE_LEFT_ASIDE;
}

}  // namespace

bool nothing_at(const WCHAR *path) {
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void delete_if_free(WCHAR *path, ULONG kind) {
    held_folders held;
    if (hold_folders(path, false, &held) == ERROR_SUCCESS) delete_in(innermost(held), held.name, kind);
    release_folders(&held);
}

void delete_if_free(WCHAR *path) { delete_if_free(path, FILE_NON_DIRECTORY_FILE); }

bool is_in_use_error(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

replacement replace_file(WCHAR *path, const void *bytes, DWORD size) {
    replacement result = {ERROR_FILENAME_EXCED_RANGE, 0};
    held_folders held;
    held.count = 0;
    if (name_sides(path)) {
        result.error = hold_folders(path, true, &held);
        if (result.error == ERROR_SUCCESS)
            result.error = put_in_place(place_of(path, held), bytes, size, &result.left);
    }
    release_folders(&held);
    return result;
}

removal remove_file(WCHAR *path, DWORD *error) {
    if (!name_sides(path)) return FILE_REMOVED;  // no file has such a path
    held_folders held;
    *error = hold_folders(path, false, &held);
    removal outcome;
    if (*error == ERROR_SUCCESS) {
        place file = place_of(path, held);
        // A new file that a killed install left is never a build that works.
        delete_in(file.folder, file.new_name, FILE_NON_DIRECTORY_FILE);
        outcome = take_away(file, error);
    } else {
        outcome = nothing_at(path) ? FILE_REMOVED : FILE_LEFT;
    }
    release_folders(&held);
    return outcome;
}

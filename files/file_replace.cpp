#include "files/file_replace.h"

#include "files/link_guard.h"
#include "files/relative_calls.h"
#include "common/code_size.h"
#include "common/wide_string.h"

const WCHAR NEW_SUFFIX[] = L".new";
const WCHAR ASIDE_SUFFIX[] = L".old";

namespace {

constexpr const char *TEXT_IN_USE = "The file is in use. Close every program that uses it, such as your DAW, and try again.";
constexpr const char *TEXT_DISK_FULL = "There is not enough free disk space on that drive.";
constexpr const char *TEXT_LINK_REFUSED = "Skipped: the folder is a link the installer does not follow.";
constexpr const char *TEXT_BLOCKED =
    "Your antivirus program blocked or changed the file. You may allow it there and try again.";

// The installer's own error, with the bit no system error has; beside it,
// Windows gives ERROR_VIRUS_INFECTED (225) or ERROR_VIRUS_DELETED (226) when a
// virus scanner blocks a file.
const DWORD READ_BACK_DIFFERS = 0x20000000;

// The side names in full, for the system's removal at restart, which goes by
// name; their last names are the side names within the held folder.
WCHAR new_path[LONGEST_SIDE_PATH + 5];
WCHAR aside_path[LONGEST_SIDE_PATH + 5];

// A file's names within its held folder.
struct place {
    const held_folders *held;
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
    return {&held, innermost(held), held.name, new_path + offset, aside_path + offset};
}

DWORD last_error() {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

bool is_in_use_error(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

// A host that has loaded the plug-in keeps it mapped, and a read-only mark
// comes with files copied from archives and discs: either way the file can be
// neither overwritten nor deleted, but it can be renamed within its folder.
bool may_move_aside(DWORD error) { return error == ERROR_ACCESS_DENIED || is_in_use_error(error); }

// Of a walk: a folder missing on the way, or a file where one should be,
// below which nothing can stand.
bool is_not_found(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY;
}

// Only "not found" means that nothing is there: a look that fails otherwise
// counts as something there.
bool is_there(HANDLE folder, const WCHAR *name) {
    FILE_ATTRIBUTE_TAG_INFO found;
    return look_in(folder, name, &found) != ERROR_FILE_NOT_FOUND;
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
// the creation fail. One write of the whole buffer, through to the disk.
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

BYTE piece[0x10000];

// A virus scanner may block a new file or change it once it is closed: what
// the system gives back is compared with the entry's bytes, piece by piece.
DWORD read_back(HANDLE new_file, const BYTE *bytes, DWORD size) {
    for (DWORD done = 0;;) {
        DWORD got;
        if (!ReadFile(new_file, piece, sizeof piece, &got, nullptr)) return last_error();
        if (!got) return done == size ? 0 : READ_BACK_DIFFERS;
        if (got > size - done) return READ_BACK_DIFFERS;
        for (DWORD i = 0; i < got; ++i)
            if (piece[i] != bytes[done + i]) return READ_BACK_DIFFERS;
        done += got;
    }
}

// The old build moved aside goes now, or at the next restart while a program
// still holds it; the system carries that out with full rights on whatever
// the path names by then, so only where no standard user can change the way.
removal dispose_aside(const place &file, DWORD deleted) {
    if (deleted == ERROR_SUCCESS) return FILE_REMOVED;
    if (restart_removal_is_safe(aside_path, *file.held) && MoveFileExW(aside_path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return FILE_REMOVED_AT_RESTART;
    return FILE_LEFT;
}

void note_aside(removal outcome, DWORD *left) {
    if (outcome != FILE_REMOVED) *left |= OLD_BUILD_HELD;
    if (outcome == FILE_LEFT) *left |= OLD_BUILD_LEFT;
}

// The old build is opened once and looked at, moved and deleted through that
// handle, so nothing is looked at by one name and changed by another. A
// folder at the path is not ours to push aside.
DWORD open_old_build(const place &file, HANDLE *old) {
    return open_to_change(file.folder, file.name, FILE_NON_DIRECTORY_FILE, old);
}

// The build moved aside by an earlier update, still held, stands in the way.
DWORD move_aside(const place &file, HANDLE old) {
    DWORD error = rename_object(old, file.folder, file.aside_name, false);
    return error == ERROR_ALREADY_EXISTS ? ERROR_SHARING_VIOLATION : error;
}

// The old build goes aside for the new one; if the new one cannot take its
// place it comes back. A read-only mark is cleared only on its way out, and
// never on a file with another name, under which it would change too.
DWORD move_past(const place &file, HANDLE new_file, HANDLE old, DWORD *left) {
    FILE_ATTRIBUTE_TAG_INFO found;
    DWORD links;
    DWORD error = tag_of(old, &found);
    if (!error) error = links_of(old, &links);
    if (error) return error;
    bool read_only = found.FileAttributes & FILE_ATTRIBUTE_READONLY;
    if (read_only && links > 1) return ERROR_ACCESS_DENIED;
    error = move_aside(file, old);
    if (error) return error;
    error = rename_object(new_file, file.folder, file.name, false);
    if (error) {
        rename_object(old, file.folder, file.name, false);  // if it cannot, the report finds it aside
        return error;
    }
    if (read_only) set_attributes_of(old, found.FileAttributes & ~FILE_ATTRIBUTE_READONLY);
    note_aside(dispose_aside(file, delete_object(old)), left);
    return 0;
}

DWORD replace_past_old(const place &file, HANDLE new_file, DWORD error, DWORD *left) {
    HANDLE old;
    if (!may_move_aside(error) || (error = open_old_build(file, &old)) != ERROR_SUCCESS) return error;
    error = move_past(file, new_file, old, left);
    CloseHandle(old);
    return error;
}

// The new file is read back and renamed through one handle that no one else
// may write through or move meanwhile, so what was read is what takes the
// old build's place.
DWORD put_checked_in_place(const place &file, HANDLE new_file, const void *bytes, DWORD size, DWORD *left) {
    DWORD error = read_back(new_file, static_cast<const BYTE *>(bytes), size);
    if (error) return error;
    error = rename_object(new_file, file.folder, file.name, true);
    if (error) return replace_past_old(file, new_file, error, left);
    // An old build an earlier update left beside the file goes too.
    if (is_there(file.folder, file.aside_name))
        note_aside(dispose_aside(file, delete_in(file.folder, file.aside_name, FILE_NON_DIRECTORY_FILE)), left);
    return 0;
}

OUT_OF_LINE DWORD put_in_place(const place &file, const void *bytes, DWORD size, DWORD *left) {
    clear_earlier_run(file);
    HANDLE new_file;
    DWORD error = write_new_file(file, bytes, size);
    if (!error)
        error = open_in(file.folder, file.new_name, GENERIC_READ | DELETE, FILE_SHARE_READ, FILE_OPEN,
                        FILE_NON_DIRECTORY_FILE, &new_file);
    if (error) {
        delete_in(file.folder, file.new_name, FILE_NON_DIRECTORY_FILE);
        return error;
    }
    error = put_checked_in_place(file, new_file, bytes, size, left);
    if (error) delete_object(new_file);
    CloseHandle(new_file);
    return error;
}

// Deletes the open file, or moves it aside where a host holds it; a file that
// cannot go is put back where the user will look for it. A read-only file is
// not ours to push aside.
removal take_away(const place &file, HANDLE old, DWORD *error) {
    *error = delete_object(old);
    if (!*error) return FILE_REMOVED;
    FILE_ATTRIBUTE_TAG_INFO found;
    if (!may_move_aside(*error) || tag_of(old, &found) != ERROR_SUCCESS ||
        (found.FileAttributes & FILE_ATTRIBUTE_READONLY) || (*error = move_aside(file, old)) != ERROR_SUCCESS)
        return FILE_LEFT;
    removal outcome = dispose_aside(file, delete_object(old));
    if (outcome != FILE_LEFT) return outcome;
    *error = ERROR_SHARING_VIOLATION;
    return rename_object(old, file.folder, file.name, false) == ERROR_SUCCESS ? FILE_LEFT : FILE_LEFT_ASIDE;
}

// A new file that a killed install left is never a build that works.
removal remove_at(const place &file, DWORD *error) {
    delete_in(file.folder, file.new_name, FILE_NON_DIRECTORY_FILE);
    HANDLE old;
    *error = open_old_build(file, &old);
    if (*error) return *error == ERROR_FILE_NOT_FOUND ? FILE_REMOVED : FILE_LEFT;
    removal outcome = take_away(file, old, error);
    CloseHandle(old);
    return outcome;
}


}  // namespace

void delete_if_free(WCHAR *path, ULONG kind) {
    held_folders held;
    if (hold_folders(path, false, &held) == ERROR_SUCCESS) delete_in(innermost(held), held.name, kind);
    release_folders(&held);
}

void delete_if_free(WCHAR *path) { delete_if_free(path, FILE_NON_DIRECTORY_FILE); }

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
    removal outcome = is_not_found(*error) ? FILE_REMOVED : FILE_UNREACHED;
    if (*error == ERROR_SUCCESS) outcome = remove_at(place_of(path, held), error);
    release_folders(&held);
    return outcome;
}

standing what_stands(WCHAR *path) {
    standing found = {0, 0};
    if (!name_sides(path)) return found;  // no file has such a path
    held_folders held;
    found.walk = hold_folders(path, false, &held);
    if (found.walk == ERROR_SUCCESS) {
        place file = place_of(path, held);
        const WCHAR *names[] = {file.name, file.new_name, file.aside_name};  // the flags' order
        for (DWORD i = 0; i < 3; ++i) {
            FILE_ATTRIBUTE_TAG_INFO look;
            DWORD error = look_in(file.folder, names[i], &look);
            if (error ? error != ERROR_FILE_NOT_FOUND : !(i == 0 && (look.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)))
                found.there |= 1 << i;
        }
    }
    release_folders(&held);
    if (is_not_found(found.walk)) found.walk = 0;
    return found;
}

const char *cause_text(DWORD error, const char *otherwise) {
    if (is_in_use_error(error)) return TEXT_IN_USE;
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return TEXT_DISK_FULL;
    if (error == ERROR_UNTRUSTED_MOUNT_POINT) return TEXT_LINK_REFUSED;
    if (error == 225 || error == 226 || error == READ_BACK_DIFFERS) return TEXT_BLOCKED;
    return otherwise;
}

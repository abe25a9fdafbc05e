#include "files/link_guard.h"

#include <shlobj.h>

#include "files/relative_calls.h"

namespace {

bool is_separator(WCHAR unit) { return unit == L'\\' || unit == L'/'; }

// Junctions, mount points (a volume mounted in a folder among them) and
// symbolic links are refused; other reparse points (cloud placeholders,
// deduplicated files) are ordinary files and folders. The tag comes from the
// object opened as itself. Wine opens what a link leads to whatever is asked,
// and marks the link only at its name: where the object shows no reparse
// point, that mark refuses it. The look by name can only refuse, so it cannot
// lead the run anywhere.
DWORD check_link(const FILE_ATTRIBUTE_TAG_INFO &found, const WCHAR *path) {
    if (found.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return IsReparseTagNameSurrogate(found.ReparseTag) ? ERROR_UNTRUSTED_MOUNT_POINT : 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();  // it was just opened: any failure is one
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? ERROR_UNTRUSTED_MOUNT_POINT : 0;
}

const ACCESS_MASK FOLDER_ACCESS = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// Others may still read and write in a held folder, but not rename or delete
// it; write sharing, since the system opens a rename's folder for writing.
const ULONG FOLDER_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The first folder by its name: the root of a drive ("C:\", "\"), which no
// one can make a link, or the current folder "." that a relative path names.
// The only one opened so, and held unchecked.
DWORD hold_first(const WCHAR *path, held_folders *held) {
    HANDLE folder = CreateFileW(path, FOLDER_ACCESS, FOLDER_SHARING, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return GetLastError();
    held->folder[held->count++] = folder;
    return 0;
}

DWORD hold_next(const WCHAR *path, const WCHAR *name, bool create, held_folders *held) {
    if (held->count == sizeof held->folder / sizeof held->folder[0]) return ERROR_FILENAME_EXCED_RANGE;
    HANDLE folder;
    DWORD error = open_in(innermost(*held), name, FOLDER_ACCESS, FOLDER_SHARING, create ? FILE_OPEN_IF : FILE_OPEN,
                          FILE_DIRECTORY_FILE, &folder);
    if (error) return error;
    held->folder[held->count++] = folder;
    FILE_ATTRIBUTE_TAG_INFO found;
    error = tag_of(folder, &found);
    return error ? error : check_link(found, path);
}

// A link at the file's own name is refused like one above it; nothing there
// yet is fine. The file is not held, since it is to be renamed or deleted.
DWORD check_name(const WCHAR *path, const held_folders &held) {
    if (!*held.name) return ERROR_BAD_PATHNAME;
    FILE_ATTRIBUTE_TAG_INFO found;
    DWORD error = look_in(innermost(held), held.name, &found);
    if (error) return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    return check_link(found, path);
}

WCHAR folded(WCHAR unit) { return unit >= L'a' && unit <= L'z' ? WCHAR(unit - L'a' + L'A') : unit; }

// Strictly below the known folder: path, whose every name was opened and
// checked, begins with the folder's path and a separator. Letters compare
// without regard to ASCII case; any other difference says "not below", which
// only ever leaves a file for a later run.
bool below(const WCHAR *path, const KNOWNFOLDERID &id) {
    PWSTR folder;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &folder))) return false;
    for (; *folder; ++folder, ++path)
        if (folded(*path) != folded(*folder)) return false;
    return is_separator(*path);
}

}  // namespace

// A path with a root ("C:\", "\") starts there, any other in the current
// folder; two leading separators make a network or device path, which is
// refused. Empty names between separators are no folders of their own.
DWORD hold_folders(WCHAR *path, bool create, held_folders *held) {
    held->count = 0;
    DWORD start = 0;
    while (path[start] && !is_separator(path[start])) ++start;
    bool rooted = path[start] && (start == 0 || path[start - 1] == L':');
    if (rooted && start == 0 && is_separator(path[1])) return ERROR_BAD_PATHNAME;
    start = rooted ? start + 1 : 0;
    WCHAR unit = path[start];
    path[start] = 0;
    DWORD error = hold_first(rooted ? path : L".", held);
    path[start] = unit;
    for (DWORD end = start; !error && path[end]; ++end) {
        if (!is_separator(path[end])) continue;
        unit = path[end];
        path[end] = 0;  // the folder's own path, for its check
        if (end > start) error = hold_next(path, path + start, create, held);
        path[end] = unit;
        start = end + 1;
    }
    held->name = path + start;
    return error ? error : check_name(path, *held);
}

void release_folders(held_folders *held) {
    while (held->count) CloseHandle(held->folder[--held->count]);
}

bool restart_removal_is_safe(const WCHAR *path) {
    return below(path, FOLDERID_ProgramFiles) || below(path, FOLDERID_ProgramFilesX86);
}

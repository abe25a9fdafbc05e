#include "common/link_guard.h"

#include <shlobj.h>

namespace {

// The longest path any caller builds is 306 units, so it has fewer folders.
const DWORD LONGEST_PATH = 310;
const DWORD MOST_FOLDERS = LONGEST_PATH / 2;
HANDLE held[MOST_FOLDERS];
DWORD held_count;
bool link_on_path;
WCHAR final_path[LONGEST_PATH + 8];
BYTE descriptor[256];

// Links these own were made by an administrator or by the system itself:
// Administrators, SYSTEM and TrustedInstaller, one after the other as SIDs
// (a SID's second byte counts its 4-byte parts after the first 8 bytes).
const BYTE ADMINISTRATOR_SIDS[] = {
    1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0,
    1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0,
    1, 6, 0, 0, 0, 0, 0, 5, 80, 0, 0, 0, 0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB,
    0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87,
};

bool owned_by_administrator(HANDLE link) {
    DWORD needed;
    PSID owner = nullptr;
    BOOL defaulted;
    if (!GetKernelObjectSecurity(link, OWNER_SECURITY_INFORMATION, descriptor, sizeof descriptor, &needed) ||
        !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner)
        return false;
    const BYTE *sid = static_cast<const BYTE *>(owner);
    for (const BYTE *known = ADMINISTRATOR_SIDS; known < ADMINISTRATOR_SIDS + sizeof ADMINISTRATOR_SIDS;) {
        DWORD size = 8 + 4 * known[1], same = 0;
        while (same < size && sid[same] == known[same]) ++same;
        if (same == size) return true;
        known += size;
    }
    return false;
}

// The object at path itself, a link not followed. Others may still read and
// write in a held folder, but not rename or delete it.
HANDLE open_itself(const WCHAR *path) {
    return CreateFileW(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The attributes are read by path, once the object is open: Wine shows a link
// only there, not in the handle's own attributes, and an open object keeps its
// name.
DWORD check_link(HANDLE object, const WCHAR *path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    link_on_path = true;
    return owned_by_administrator(object) ? 0 : ERROR_UNTRUSTED_MOUNT_POINT;
}

DWORD hold_folder(const WCHAR *folder, bool create) {
    if (held_count == MOST_FOLDERS) return ERROR_FILENAME_EXCED_RANGE;  // never unchecked
    HANDLE object = open_itself(folder);
    if (object == INVALID_HANDLE_VALUE && create) {
        // An existing folder makes this fail harmlessly; whatever stands at
        // the name is checked once it is open.
        CreateDirectoryW(folder, nullptr);
        object = open_itself(folder);
    }
    if (object == INVALID_HANDLE_VALUE) return GetLastError();
    held[held_count++] = object;
    return check_link(object, folder);
}

// A link at the file's own name is refused like one above it; the file is not
// held, since it is to be renamed or deleted.
DWORD check_file(const WCHAR *path) {
    HANDLE object = open_itself(path);
    if (object == INVALID_HANDLE_VALUE) return 0;
    DWORD error = check_link(object, path);
    CloseHandle(object);
    return error;
}

bool is_separator(WCHAR unit) { return unit == L'\\' || unit == L'/'; }

// Strictly below folder, or the folder itself; final_path begins with "\\?\".
bool below(const KNOWNFOLDERID &id) {
    PWSTR folder;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &folder))) return false;
    int length = 0;
    while (folder[length]) ++length;
    const WCHAR *inside = final_path + 4;
    return length < int(LONGEST_PATH) && CompareStringOrdinal(inside, length, folder, length, TRUE) == CSTR_EQUAL &&
           (!inside[length] || is_separator(inside[length]));
}

}  // namespace

// Each folder is opened by the path cut after it: a drive ("C:") and empty
// names between separators are no folders of their own.
DWORD hold_folders(WCHAR *path, bool create) {
    release_folders();
    link_on_path = false;
    for (DWORD i = 1; path[i]; ++i) {
        WCHAR unit = path[i];
        if (!is_separator(unit) || path[i - 1] == L':' || is_separator(path[i - 1])) continue;
        path[i] = 0;
        DWORD error = hold_folder(path, create);
        path[i] = unit;
        if (error) return error;
    }
    return check_file(path);
}

void release_folders() {
    while (held_count) CloseHandle(held[--held_count]);
}

bool restart_removal_is_safe() {
    if (link_on_path || !held_count) return false;
    DWORD length = GetFinalPathNameByHandleW(held[held_count - 1], final_path, LONGEST_PATH, FILE_NAME_NORMALIZED);
    if (length < 4 || length >= LONGEST_PATH) return false;
    return below(FOLDERID_ProgramFiles) || below(FOLDERID_ProgramFilesX86);
}

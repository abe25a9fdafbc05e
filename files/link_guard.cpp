#include "files/link_guard.h"

#include <shlobj.h>

#include "common/code_size.h"
#include "common/run_time_calls.h"
#include "files/relative_calls.h"

namespace {

typedef BOOL(WINAPI *set_mitigation_policy)(PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T size);
typedef BOOL(WINAPI *get_mitigation_policy)(HANDLE process, PROCESS_MITIGATION_POLICY policy, PVOID buffer,
                                            SIZE_T size);
typedef BOOL(WINAPI *device_control_call)(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out,
                                          DWORD out_size, LPDWORD returned, LPOVERLAPPED overlapped);
typedef DWORD(WINAPI *final_path_call)(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
typedef int(WINAPI *compare_call)(LPCWSTR one, int one_length, LPCWSTR other, int other_length, BOOL ignore_case);

enum { SET_POLICY, GET_POLICY, DEVICE_CONTROL, FINAL_PATH, COMPARE };
FARPROC kernel32_calls[5];

// Set once at start-up.
bool junctions_vouched;     // the system refuses every junction no administrator made
bool links_opened_through;  // opening a link as itself is ignored, as Wine does

bool is_separator(WCHAR unit) { return unit == L'\\' || unit == L'/'; }

// The system strips a trailing dot or space, so such a name, "." and ".."
// among them, would lead elsewhere than it reads; a colon names a stream.
bool is_usable(const WCHAR *name, DWORD length) {
    for (DWORD i = 0; i < length; ++i)
        if (name[i] == L':') return false;
    return length && name[length - 1] != L'.' && name[length - 1] != L' ';
}

// Junctions, mount points (a volume mounted in a folder among them) and
// symbolic links are refused; other reparse points (cloud placeholders,
// deduplicated files) are ordinary files and folders. The tag comes from the
// object opened as itself. Wine opens what a link leads to whatever is asked,
// and marks the link only at its name: there, where the object shows no
// reparse point, that mark refuses it. The look by name can only refuse, so it
// cannot lead the run anywhere.
DWORD check_link(const FILE_ATTRIBUTE_TAG_INFO &found, const WCHAR *path) {
    if (found.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return IsReparseTagNameSurrogate(found.ReparseTag) ? ERROR_UNTRUSTED_MOUNT_POINT : 0;
    if (!links_opened_through) return 0;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();  // it was just opened: any failure is one
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? ERROR_UNTRUSTED_MOUNT_POINT : 0;
}

const ACCESS_MASK FOLDER_ACCESS = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// Others may still read and write in a held folder, but not rename or delete
// it; write sharing, since the system opens a rename's folder for writing.
const ULONG FOLDER_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
// One place stays free on every way, for a junction's target.
const DWORD MOST_FOLDERS = sizeof(held_folders::folder) / sizeof(HANDLE) - 1;

// A junction's reparse data as the system keeps it; a target longer than any
// path the installer builds does not fit, and is refused.
struct {
    DWORD tag;
    WORD data_length, reserved;
    WORD target_offset, target_length, shown_offset, shown_length;
    WCHAR names[2 * LONGEST_PATH + 16];
} junction;
WCHAR final_path[LONGEST_PATH + 8];

// "\??\X:\": a path on a drive, not a network share, a volume's GUID path,
// an object directory or a device. That the folder opened through it has
// this very path, as the system spells it, rules out "." and ".." in it.
bool is_drive_path(const WCHAR *target, DWORD length) {
    return length >= 7 && target[0] == L'\\' && target[1] == L'?' && target[2] == L'?' && target[3] == L'\\' &&
           WCHAR((target[4] | 0x20) - L'a') <= L'z' - L'a' && target[5] == L':' && target[6] == L'\\';
}

// Where the handle really is, against where the junction says it leads ("\\?\"
// and "\??\" both begin a path of the system's; a target may end in a
// separator), without regard to case, as the system compares names.
bool leads_to(HANDLE folder, const WCHAR *target, DWORD length) {
    DWORD found = as_call<final_path_call>(kernel32_calls[FINAL_PATH])(
        folder, final_path, sizeof final_path / sizeof(WCHAR), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (found < 4 || found >= sizeof final_path / sizeof(WCHAR)) return false;
    if (length > 7 && target[length - 1] == L'\\') --length;
    return as_call<compare_call>(kernel32_calls[COMPARE])(final_path + 4, int(found - 4), target + 4,
                                                          int(length - 4), TRUE) == CSTR_EQUAL;
}

// The junction at name, just held as itself, is followed to a plain folder
// on a drive where the system vouches for who made it, and only where the
// handle so opened really is there: nothing on the target's own way, a second
// junction or a symbolic link, led it elsewhere. The link stays held too.
// Only a junction's data is read as one, and only as far as this read
// returned it: past that the buffer holds what an earlier junction left.
DWORD follow_junction(const WCHAR *name, held_folders *held) {
    DWORD size;
    HANDLE target;
    if (!as_call<device_control_call>(kernel32_calls[DEVICE_CONTROL])(innermost(*held), FSCTL_GET_REPARSE_POINT,
                                                                      nullptr, 0, &junction, sizeof junction, &size,
                                                                      nullptr))
        return ERROR_UNTRUSTED_MOUNT_POINT;
    const WCHAR *to = junction.names + junction.target_offset / sizeof(WCHAR);
    DWORD length = junction.target_length / sizeof(WCHAR);
    if (junction.tag != IO_REPARSE_TAG_MOUNT_POINT ||
        sizeof junction - sizeof junction.names + junction.target_offset + junction.target_length > size ||
        !is_drive_path(to, length) ||
        open_through_in(held->folder[held->count - 2], name, FOLDER_ACCESS, FOLDER_SHARING, &target))
        return ERROR_UNTRUSTED_MOUNT_POINT;
    held->folder[held->count++] = target;
    held->through_junction = true;
    return leads_to(target, to, length) ? 0 : ERROR_UNTRUSTED_MOUNT_POINT;
}

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

// At most one junction on a way: a second is refused like any other link.
OUT_OF_LINE DWORD hold_next(const WCHAR *path, const WCHAR *name, DWORD length, bool create,
                            held_folders *held) {
    if (held->count >= MOST_FOLDERS) return ERROR_FILENAME_EXCED_RANGE;
    if (!is_usable(name, length)) return ERROR_INVALID_NAME;
    HANDLE folder;
    DWORD error = open_in(innermost(*held), name, FOLDER_ACCESS, FOLDER_SHARING, create ? FILE_OPEN_IF : FILE_OPEN,
                          FILE_DIRECTORY_FILE, &folder);
    if (error) return error;
    held->folder[held->count++] = folder;
    FILE_ATTRIBUTE_TAG_INFO found;
    error = tag_of(folder, &found);
    if (error) return error;
    if (junctions_vouched && !held->through_junction && (found.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        found.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT)
        return follow_junction(name, held);
    return check_link(found, path);
}

// A link at the file's own name is refused like one above it; nothing there
// yet is fine. The file is not held, since it is to be renamed or deleted.
DWORD check_name(const WCHAR *path, DWORD length, const held_folders &held) {
    if (!is_usable(held.name, length)) return ERROR_INVALID_NAME;  // an empty one among them
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

// Only a guard that the system reads back as on vouches for a junction: older
// systems lack the policy or refuse it, and Wine accepts it without effect, so
// there none is followed, whatever the read back says. Systems with the guard
// have the calls that follow a junction too.
void guard_links(HMODULE kernel32) {
    bool found = find_calls(kernel32,
                            "SetProcessMitigationPolicy\0GetProcessMitigationPolicy\0DeviceIoControl\0"
                            "GetFinalPathNameByHandleW\0CompareStringOrdinal",
                            kernel32_calls, 5);
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    auto set_policy = as_call<set_mitigation_policy>(kernel32_calls[SET_POLICY]);
    links_opened_through = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
    junctions_vouched = !links_opened_through && set_policy &&
                        set_policy(ProcessRedirectionTrustPolicy, &policy, sizeof policy) && found;
    policy = {};
    HANDLE this_process = reinterpret_cast<HANDLE>(-1);  // the pseudo handle, as GetCurrentProcess gives it
    junctions_vouched = junctions_vouched &&
                        as_call<get_mitigation_policy>(kernel32_calls[GET_POLICY])(
                            this_process, ProcessRedirectionTrustPolicy, &policy, sizeof policy) &&
                        policy.EnforceRedirectionTrust;
}

// A path with a root ("C:\", "\") starts there, any other in the current
// folder; two leading separators make a network or device path, which is
// refused. Empty names between separators are no folders of their own.
DWORD hold_folders(WCHAR *path, bool create, held_folders *held) {
    held->count = 0;
    held->through_junction = false;
    DWORD start = 0;
    while (path[start] && !is_separator(path[start])) ++start;
    bool rooted = path[start] && (start == 0 || path[start - 1] == L':');
    if (rooted && start == 0 && is_separator(path[1])) return ERROR_BAD_PATHNAME;
    start = rooted ? start + 1 : 0;
    WCHAR unit = path[start];
    path[start] = 0;
    DWORD error = hold_first(rooted ? path : L".", held);
    path[start] = unit;
    DWORD end = start;
    for (; !error && path[end]; ++end) {
        if (!is_separator(path[end])) continue;
        unit = path[end];
        path[end] = 0;  // the folder's own path, for its check
        if (end > start) error = hold_next(path, path + start, end - start, create, held);
        path[end] = unit;
        start = end + 1;
    }
    held->name = path + start;
    return error ? error : check_name(path, end - start, *held);
}

void release_folders(held_folders *held) {
    while (held->count) CloseHandle(held->folder[--held->count]);
}

bool restart_removal_is_safe(const WCHAR *path, const held_folders &held) {
    return !held.through_junction && (below(path, FOLDERID_ProgramFiles) || below(path, FOLDERID_ProgramFilesX86));
}

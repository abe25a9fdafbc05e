#include "common/relative_calls.h"

#include "common/link_guard.h"

namespace {

typedef NTSTATUS(NTAPI *create_file_call)(PHANDLE object, ACCESS_MASK access, POBJECT_ATTRIBUTES name,
                                          PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG attributes,
                                          ULONG share, ULONG disposition, ULONG options, PVOID extended,
                                          ULONG extended_size);
typedef NTSTATUS(NTAPI *set_information_call)(HANDLE object, PIO_STATUS_BLOCK status, PVOID information,
                                              ULONG size, FILE_INFORMATION_CLASS kind);
typedef ULONG(NTAPI *error_of_status_call)(NTSTATUS status);

// ntdll is in every process from its start, so the lookup loads nothing.
template <typename function> function ntdll_call(const char *name) {
    return reinterpret_cast<function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

DWORD error_of(NTSTATUS status) {
    return NT_SUCCESS(status) ? 0 : ntdll_call<error_of_status_call>("RtlNtStatusToDosError")(status);
}

USHORT bytes_of(const WCHAR *name) {
    USHORT length = 0;
    while (name[length]) ++length;
    return USHORT(length * sizeof(WCHAR));
}

// A name is at most a whole path.
struct {
    FILE_RENAME_INFORMATION information;
    WCHAR room[LONGEST_PATH];
} renaming;

DWORD set_information_in(HANDLE folder, const WCHAR *name, ACCESS_MASK access, ULONG options, PVOID information,
                         ULONG size, FILE_INFORMATION_CLASS kind) {
    HANDLE object;
    DWORD error = open_in(folder, name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                          options, &object);
    if (error) return error;
    IO_STATUS_BLOCK status;
    error = error_of(ntdll_call<set_information_call>("NtSetInformationFile")(object, &status, information, size, kind));
    CloseHandle(object);
    return error;
}

}  // namespace

DWORD open_in(HANDLE folder, const WCHAR *name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
              HANDLE *object) {
    UNICODE_STRING text = {bytes_of(name), bytes_of(name), const_cast<PWSTR>(name)};
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &text;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;  // as every Win32 path is
    IO_STATUS_BLOCK status;
    *object = INVALID_HANDLE_VALUE;
    return error_of(ntdll_call<create_file_call>("NtCreateFile")(
        object, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0));
}

// Opening only to read attributes is allowed whatever another program shares.
DWORD look_in(HANDLE folder, const WCHAR *name, FILE_ATTRIBUTE_TAG_INFO *found) {
    HANDLE object;
    DWORD error = open_in(folder, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          FILE_OPEN, 0, &object);
    if (error) return error;
    if (!GetFileInformationByHandleEx(object, FileAttributeTagInfo, found, sizeof *found)) error = GetLastError();
    CloseHandle(object);
    return error;
}

// The new name is relative to the same folder, so the file never leaves it.
DWORD rename_in(HANDLE folder, const WCHAR *from, const WCHAR *to, bool replace) {
    USHORT bytes = bytes_of(to);
    if (bytes > sizeof renaming.room) return ERROR_FILENAME_EXCED_RANGE;
    renaming.information.ReplaceIfExists = replace;
    renaming.information.RootDirectory = folder;
    renaming.information.FileNameLength = bytes;
    WCHAR *name = renaming.information.FileName;  // runs on into the room after it
    for (DWORD i = 0; i < bytes / sizeof(WCHAR); ++i) name[i] = to[i];
    return set_information_in(folder, from, DELETE, FILE_NON_DIRECTORY_FILE, &renaming, sizeof renaming,
                              FileRenameInformation);
}

DWORD delete_in(HANDLE folder, const WCHAR *name, ULONG options) {
    FILE_DISPOSITION_INFORMATION disposition = {TRUE};
    return set_information_in(folder, name, DELETE, options, &disposition, sizeof disposition,
                              FileDispositionInformation);
}

DWORD set_attributes_in(HANDLE folder, const WCHAR *name, DWORD attributes) {
    FILE_BASIC_INFORMATION basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;  // 0 would change nothing
    return set_information_in(folder, name, FILE_WRITE_ATTRIBUTES, FILE_NON_DIRECTORY_FILE, &basic, sizeof basic,
                              FileBasicInformation);
}

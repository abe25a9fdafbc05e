#include "files/relative_calls.h"

#include "common/code_size.h"
#include "common/path_limits.h"
#include "common/run_time_calls.h"

namespace {

typedef NTSTATUS(NTAPI *create_file_call)(PHANDLE object, ACCESS_MASK access, POBJECT_ATTRIBUTES name,
                                          PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG attributes,
                                          ULONG share, ULONG disposition, ULONG options, PVOID extended,
                                          ULONG extended_size);
typedef NTSTATUS(NTAPI *set_information_call)(HANDLE object, PIO_STATUS_BLOCK status, PVOID information,
                                              ULONG size, FILE_INFORMATION_CLASS kind);
typedef ULONG(NTAPI *error_of_status_call)(NTSTATUS status);

enum { CREATE_FILE, SET_INFORMATION, ERROR_OF_STATUS };
FARPROC ntdll[3];

// ntdll is in every process from its start, so the lookup loads nothing.
void find_ntdll_calls() {
    if (!ntdll[CREATE_FILE])
        find_calls(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile\0NtSetInformationFile\0RtlNtStatusToDosError", ntdll, 3);
}

DWORD error_of(NTSTATUS status) {
    return NT_SUCCESS(status) ? 0 : as_call<error_of_status_call>(ntdll[ERROR_OF_STATUS])(status);
}

// A name is at most a whole side path with a suffix of its own.
struct {
    FILE_RENAME_INFORMATION information;
    WCHAR room[LONGEST_SIDE_PATH + 4];
} renaming;

DWORD set_information_of(HANDLE object, PVOID information, ULONG size, FILE_INFORMATION_CLASS kind) {
    IO_STATUS_BLOCK status;
    return error_of(as_call<set_information_call>(ntdll[SET_INFORMATION])(object, &status, information, size, kind));
}

DWORD create_in(HANDLE folder, const WCHAR *name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                HANDLE *object) {
    find_ntdll_calls();
    USHORT length = 0;
    while (name[length]) ++length;
    length *= sizeof(WCHAR);
    UNICODE_STRING text = {length, length, const_cast<PWSTR>(name)};
    // As every Win32 path is, the name is taken without regard to case.
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof attributes;
    attributes.RootDirectory = folder;
    attributes.ObjectName = &text;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK status;
    return error_of(as_call<create_file_call>(ntdll[CREATE_FILE])(object, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                      FILE_ATTRIBUTE_NORMAL, share, disposition,
                                      options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0));
}

}  // namespace

DWORD open_in(HANDLE folder, const WCHAR *name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
              HANDLE *object) {
    return create_in(folder, name, access, share, disposition, options | FILE_OPEN_REPARSE_POINT, object);
}

// Others may go on using it meanwhile.
OUT_OF_LINE DWORD open_to_change(HANDLE folder, const WCHAR *name, ULONG options, HANDLE *object) {
    return open_in(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, options, object);
}

DWORD open_through_in(HANDLE folder, const WCHAR *name, ACCESS_MASK access, ULONG share, HANDLE *object) {
    return create_in(folder, name, access, share, FILE_OPEN, FILE_DIRECTORY_FILE, object);
}

DWORD tag_of(HANDLE object, FILE_ATTRIBUTE_TAG_INFO *found) {
    return GetFileInformationByHandleEx(object, FileAttributeTagInfo, found, sizeof *found) ? 0 : GetLastError();
}

DWORD links_of(HANDLE object, DWORD *links) {
    FILE_STANDARD_INFO standard;
    if (!GetFileInformationByHandleEx(object, FileStandardInfo, &standard, sizeof standard)) return GetLastError();
    *links = standard.NumberOfLinks;
    return 0;
}

// Opening only to read attributes is allowed whatever another program shares.
DWORD look_in(HANDLE folder, const WCHAR *name, FILE_ATTRIBUTE_TAG_INFO *found) {
    HANDLE object;
    DWORD error = open_in(folder, name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          FILE_OPEN, 0, &object);
    if (error) return error;
    error = tag_of(object, found);
    CloseHandle(object);
    return error;
}

// The new name is relative to the same folder, so the file never leaves it.
DWORD rename_object(HANDLE object, HANDLE folder, const WCHAR *to, bool replace) {
    WCHAR *name = renaming.information.FileName;  // runs on into the room after it
    DWORD length = 0;
    for (; to[length]; ++length)
        if (length == sizeof renaming.room / sizeof(WCHAR)) return ERROR_FILENAME_EXCED_RANGE;
        else name[length] = to[length];
    renaming.information.ReplaceIfExists = replace;
    renaming.information.RootDirectory = folder;
    renaming.information.FileNameLength = length * sizeof(WCHAR);
    return set_information_of(object, &renaming, sizeof renaming, FileRenameInformation);
}

DWORD rename_in(HANDLE folder, const WCHAR *from, const WCHAR *to, bool replace) {
    HANDLE object;
    DWORD error = open_to_change(folder, from, FILE_NON_DIRECTORY_FILE, &object);
    if (error) return error;
    error = rename_object(object, folder, to, replace);
    CloseHandle(object);
    return error;
}

DWORD delete_object(HANDLE object) {
    FILE_DISPOSITION_INFORMATION disposition = {TRUE};
    return set_information_of(object, &disposition, sizeof disposition, FileDispositionInformation);
}

DWORD delete_in(HANDLE folder, const WCHAR *name, ULONG options) {
    HANDLE object;
    DWORD error = open_to_change(folder, name, options, &object);
    if (error) return error;
    error = delete_object(object);
    CloseHandle(object);
    return error;
}

DWORD set_attributes_of(HANDLE object, DWORD attributes) {
    FILE_BASIC_INFORMATION basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;  // 0 would change nothing
    return set_information_of(object, &basic, sizeof basic, FileBasicInformation);
}

// Host stand-in for the platform's native-call header: the records and
// constants of the ntdll calls the installer looks up at run time, with the
// platform's names and values. The calls are the simulated machine's.
#pragma once

#include <windows.h>

#define NTAPI
typedef LONG NTSTATUS;
#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)

typedef struct _UNICODE_STRING { USHORT Length, MaximumLength; PWSTR Buffer; } UNICODE_STRING, *PUNICODE_STRING;
typedef struct _OBJECT_ATTRIBUTES { ULONG Length; HANDLE RootDirectory; PUNICODE_STRING ObjectName; ULONG Attributes;
                                    PVOID SecurityDescriptor, SecurityQualityOfService; } OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;
typedef struct _IO_STATUS_BLOCK { NTSTATUS Status; ULONG_PTR Information; } IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

#define OBJ_CASE_INSENSITIVE 0x00000040L
#define FILE_OPEN 0x00000001
#define FILE_CREATE 0x00000002
#define FILE_OPEN_IF 0x00000003
#define FILE_DIRECTORY_FILE 0x00000001
#define FILE_WRITE_THROUGH 0x00000002
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#define FILE_NON_DIRECTORY_FILE 0x00000040
#define FILE_OPEN_REPARSE_POINT 0x00200000

typedef enum _FILE_INFORMATION_CLASS {
    FileBasicInformation = 4, FileRenameInformation = 10, FileDispositionInformation = 13 } FILE_INFORMATION_CLASS;
typedef struct _FILE_BASIC_INFORMATION { LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;
                                         ULONG FileAttributes; } FILE_BASIC_INFORMATION;
typedef struct _FILE_RENAME_INFORMATION { BOOLEAN ReplaceIfExists; HANDLE RootDirectory; ULONG FileNameLength;
                                          WCHAR FileName[1]; } FILE_RENAME_INFORMATION;
typedef struct _FILE_DISPOSITION_INFORMATION { BOOLEAN DoDeleteFile; } FILE_DISPOSITION_INFORMATION;

NTSTATUS NTAPI NtCreateFile(PHANDLE object, ACCESS_MASK access, POBJECT_ATTRIBUTES name, PIO_STATUS_BLOCK status,
                            PLARGE_INTEGER size, ULONG attributes, ULONG share, ULONG disposition, ULONG options,
                            PVOID extended, ULONG extended_size);
NTSTATUS NTAPI NtSetInformationFile(HANDLE object, PIO_STATUS_BLOCK status, PVOID information, ULONG size,
                                    FILE_INFORMATION_CLASS kind);
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status);

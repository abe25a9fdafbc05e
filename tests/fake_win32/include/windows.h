// Host stand-in for the platform header: the types, constants and calls the
// installer uses, with the platform's own names and values. The calls are
// implemented by the simulated machine in tests/fake_win32 (see fake.h).
// Built with -fshort-wchar, so wchar_t is a UTF-16 code unit as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(sizeof(wchar_t) == 2, "the host build needs -fshort-wchar");

#define WINAPI
#define CALLBACK
#define DECLSPEC_NORETURN [[noreturn]]

typedef unsigned char BYTE;
typedef unsigned short WORD, USHORT;
typedef unsigned char BOOLEAN;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef int INT;
typedef wchar_t WCHAR;
typedef char CHAR;
typedef WCHAR *LPWSTR, *PWSTR;
typedef const WCHAR *LPCWSTR, *PCWSTR;
typedef const CHAR *LPCSTR;
typedef void *LPVOID, *PVOID;
typedef const void *LPCVOID;
typedef DWORD *LPDWORD;
typedef intptr_t INT_PTR, LONG_PTR, LPARAM, LRESULT;
typedef uintptr_t UINT_PTR, ULONG_PTR, WPARAM, SIZE_T;
typedef LONG LSTATUS;
typedef DWORD ACCESS_MASK;
typedef union _LARGE_INTEGER { int64_t QuadPart; } LARGE_INTEGER, *PLARGE_INTEGER;
typedef DWORD REGSAM;
typedef int32_t HRESULT;

typedef void *HANDLE, **PHANDLE;
struct HWND__;
typedef HWND__ *HWND;
struct HINSTANCE__;
typedef HINSTANCE__ *HINSTANCE, *HMODULE;
struct HKEY__;
typedef HKEY__ *HKEY, **PHKEY;
struct HMONITOR__;
typedef HMONITOR__ *HMONITOR;
struct DPI_AWARENESS_CONTEXT__;
typedef DPI_AWARENESS_CONTEXT__ *DPI_AWARENESS_CONTEXT;
typedef INT_PTR(WINAPI *FARPROC)();

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define LOWORD(l) ((WORD)(((ULONG_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xffff))

// Errors
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_WRITE_FAULT 29L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_LOCK_VIOLATION 33L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_DISK_FULL 112L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_DIRECTORY 267L
#define ERROR_INVALID_NAME 123L
#define ERROR_USER_MAPPED_FILE 1224L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_UNSUPPORTED_TYPE 1630L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_UNTRUSTED_MOUNT_POINT 448L
#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;
typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID);

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT, *LPRECT;

typedef struct tagMONITORINFO {
    DWORD cbSize;
    RECT rcMonitor;
    RECT rcWork;
    DWORD dwFlags;
} MONITORINFO, *LPMONITORINFO;

// Kernel: heap, files, environment, modules, threads, process
#define HEAP_ZERO_MEMORY 0x00000008
#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define DELETE 0x00010000UL
#define SYNCHRONIZE 0x00100000UL
#define FILE_TRAVERSE 0x0020
#define FILE_READ_ATTRIBUTES 0x0080
#define FILE_WRITE_ATTRIBUTES 0x0100
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define OPEN_EXISTING 3
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003L
#define IO_REPARSE_TAG_SYMLINK 0xA000000CL
#define IO_REPARSE_TAG_CLOUD 0x9000001AL
#define IsReparseTagNameSurrogate(tag) ((tag) & 0x20000000)
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE template_file);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE handle);
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
DWORD WINAPI GetFileAttributesW(LPCWSTR path);
typedef enum _FILE_INFO_BY_HANDLE_CLASS { FileStandardInfo = 1, FileAttributeTagInfo = 9 } FILE_INFO_BY_HANDLE_CLASS;
typedef struct _FILE_ATTRIBUTE_TAG_INFO { DWORD FileAttributes, ReparseTag; } FILE_ATTRIBUTE_TAG_INFO;
typedef struct _FILE_STANDARD_INFO { LARGE_INTEGER AllocationSize, EndOfFile; DWORD NumberOfLinks;
                                     BOOLEAN DeletePending, Directory; } FILE_STANDARD_INFO;
BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD size);
#define FSCTL_GET_REPARSE_POINT 0x000900A8
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                            LPDWORD returned, LPOVERLAPPED overlapped);
#define FILE_NAME_NORMALIZED 0x0
#define VOLUME_NAME_DOS 0x0
DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
#define CSTR_EQUAL 2
int WINAPI CompareStringOrdinal(LPCWSTR one, int one_length, LPCWSTR other, int other_length, BOOL ignore_case);
DWORD WINAPI GetLastError();

typedef enum _PROCESS_MITIGATION_POLICY { ProcessRedirectionTrustPolicy = 16 } PROCESS_MITIGATION_POLICY;
typedef struct { DWORD EnforceRedirectionTrust : 1; } PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY;
BOOL WINAPI SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T size);
BOOL WINAPI GetProcessMitigationPolicy(HANDLE process, PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T size);

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
HMODULE WINAPI GetModuleHandleW(LPCWSTR name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI SetDefaultDllDirectories(DWORD flags);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD thread_id);
void WINAPI Sleep(DWORD milliseconds);
DECLSPEC_NORETURN void WINAPI ExitProcess(UINT code);

// User interface
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_CTLCOLORSTATIC 0x0138
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define EM_SETSEL 0x00B1
#define EM_SCROLLCARET 0x00B7
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BN_CLICKED 0
#define IDOK 1
#define IDCANCEL 2
#define IDRETRY 4
#define MB_OK 0x00000000L
#define MB_RETRYCANCEL 0x00000005L
#define MB_ICONERROR 0x00000010L
#define GWLP_ID (-12)
#define GWL_STYLE (-16)
#define WS_DISABLED 0x08000000L
#define COLOR_WINDOW 5
#define MONITOR_DEFAULTTOPRIMARY 0x00000001
#define SWP_NOSIZE 0x0001
#define SWP_NOZORDER 0x0004
#define DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 ((DPI_AWARENESS_CONTEXT)(LONG_PTR)-4)

#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_STATICEDGE 0x00020000L
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_CENTER 0x0800L
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_WHITERECT 0x00000006L
#define SS_ETCHEDHORZ 0x00000010L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_AUTOCHECKBOX 0x00000003L

typedef struct DLGTEMPLATE DLGTEMPLATE;
typedef const DLGTEMPLATE *LPCDLGTEMPLATEW;
typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialog_template, HWND owner,
                                       DLGPROC dialog_proc, LPARAM init_param);
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
HWND WINAPI GetDlgItem(HWND dialog, int id);
BOOL WINAPI EnableWindow(HWND window, BOOL enable);
LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index);
int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
HMONITOR WINAPI MonitorFromWindow(HWND window, DWORD flags);
BOOL WINAPI GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info);
BOOL WINAPI SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags);

// Registry
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define KEY_ALL_ACCESS 0xF003FL
#define RRF_RT_REG_SZ 0x00000002
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR class_name, DWORD options,
                               REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result,
                               LPDWORD disposition);
LSTATUS WINAPI RegGetValueW(HKEY key, LPCWSTR subkey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data,
                            LPDWORD data_size);
LSTATUS WINAPI RegCloseKey(HKEY key);

#include "payload/extract.h"

#include "common/shared.h"
#include "payload/archive.h"

static void report_error(HWND owner, const WCHAR *text) { MessageBoxW(owner, text, nullptr, MB_OK); }

// Cuts the path at each backslash in turn to create every folder above the
// file, outermost first, and puts the backslash back.
static void create_folders(WCHAR *path) {
    for (WCHAR *unit = path; *unit; ++unit) {
        if (*unit != L'\\') continue;
        *unit = 0;
        // Folders that exist and a bare drive fail harmlessly; a folder that
        // really is missing shows up when the file is opened.
        CreateDirectoryW(path, nullptr);
        *unit = L'\\';
    }
}

static void write_file(HWND owner, const WCHAR *path, loaded_entry entry) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        report_error(owner, TEXT_FOLDER_INACCESSIBLE);
        install_failed = 1;
        return;
    }
    DWORD written = 0;
    bool complete = WriteFile(file, entry.bytes, entry.size, &written, nullptr) && written == entry.size;
    if (complete) {
        CloseHandle(file);
        return;
    }
    report_error(owner, TEXT_FOLDER_INACCESSIBLE);
    install_failed = 1;
    CloseHandle(file);
    // A truncated plug-in where a host looks for plug-ins would be loaded and
    // crash the host; no file is better. Nothing more can be done if this fails.
    DeleteFileW(path);
}

void extract_file(HWND owner, WCHAR *path, const char *entry_name) {
    loaded_entry entry = load_entry(owner, entry_name);
    if (!entry.bytes) {
        install_failed = 1;
        report_error(owner, TEXT_NO_MEMORY);
        return;
    }
    create_folders(path);
    write_file(owner, path, entry);
    HeapFree(GetProcessHeap(), 0, entry.bytes);
}

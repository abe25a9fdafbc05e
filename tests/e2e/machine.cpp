#include "machine.h"

#include <initguid.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

#include "driver.h"
#include "verdict.h"

namespace {

// Every scenario's own folder, below Program Files as an administrator's
// installs are: C:\Program Files\qx-e2e\<scenario>.
const wchar_t SCENARIO_ROOTS[] = L"C:\\Program Files\\qx-e2e";

std::wstring root;                        // {S}
std::wstring appdata, startmenu;          // the known folders
std::wstring clap64_value, clap32_value;  // {CPF}, {CPF86}
std::wstring current_fl_value;            // "" none

void replace_all(std::wstring &text, const std::wstring &from, const std::wstring &to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::wstring unix_path(const std::wstring &path) {
    FARPROC found = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    auto unix_name = reinterpret_cast<char *(CDECL *)(LPCWSTR)>(reinterpret_cast<void (*)()>(found));
    const char *name = found ? unix_name(path.c_str()) : nullptr;
    if (!name) abort_run("cannot find a path's Unix name");
    return L"'" + std::wstring(name, name + strlen(name)) + L"'";
}

// Wine makes no links itself (CreateSymbolicLinkW does nothing), but starts a
// Unix program like any other: the shell plants and removes them. Its process
// cannot be waited for, so this waits for the link to come or go.
void unix_shell(const std::wstring &command, const std::wstring &link, bool link_wanted) {
    std::wstring line = L"/bin/sh -c \"" + command + L" " + unix_path(link) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        abort_run("cannot start the shell to plant or remove a link");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int tries = 0; is_link(link) != link_wanted; ++tries, Sleep(50))
        if (tries == 100) abort_run("the shell did not plant or remove a link");
}

void delete_tree(const std::wstring &path) {
    if (is_link(path)) return unix_shell(L"rm", path, false);
    if (!is_folder(path)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") delete_tree(path + L"\\" + name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
    if (exists(path)) abort_run("cannot clear a scenario's folder");
}

void create_folders(const std::wstring &path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

void list_tree(const std::wstring &folder, std::vector<std::wstring> &found_paths) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    bool empty = true;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        empty = false;
        std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) list_tree(path, found_paths);
        else found_paths.push_back(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (empty) found_paths.push_back(folder + L"\\");
}

std::wstring known_folder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &path))) abort_run("cannot look up a known folder");
    return path;  // a few bytes of a test tool: not given back
}

void set_up_registry() {
    delete_image_line_key();
    if (!row->fl_value) return;
    current_fl_value = expand(row->fl_value);
    HKEY key = open_fl_key(true);
    if (!key ||
        RegSetValueExW(key, FL_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE *>(current_fl_value.c_str()),
                       static_cast<DWORD>((current_fl_value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        abort_run("cannot set FL Studio's registry value");
    RegCloseKey(key);
}

// Each scenario starts in an empty folder of its own, and without the maker's
// folder and the shortcut, which belong to the user rather than to a scenario.
void clear_folders() {
    appdata = known_folder(FOLDERID_RoamingAppData);
    startmenu = known_folder(FOLDERID_StartMenu);
    root = std::wstring(SCENARIO_ROOTS) + L"\\" + opts.scenario;
    create_folders(SCENARIO_ROOTS);
    delete_tree(root);
    delete_tree(expand(MAKER_FOLDER));
    delete_tree(expand(SHORTCUT));
}

void place(const entry &e) {
    std::wstring path = expand(e.path);
    switch (e.what) {
    case content::folder: create_folders(path); break;
    case content::marker:
        create_folders(path.substr(0, path.rfind(L'\\')));
        write_file(path, MARKER, sizeof MARKER - 1);
        break;
    case content::image:
        create_folders(path.substr(0, path.rfind(L'\\')));
        if (!CopyFileW(holder_program().c_str(), path.c_str(), FALSE)) abort_run("cannot copy the plug-in holder");
        break;
    case content::link:
        create_folders(expand(ELSEWHERE));
        create_folders(path.substr(0, path.rfind(L'\\')));
        unix_shell(L"ln -s " + unix_path(expand(ELSEWHERE)), path, true);
        break;
    default: abort_run("a scenario can only leave folders, marker files, images and links beforehand");
    }
}

std::vector<PROCESS_INFORMATION> holders;

uint32_t little_endian(const std::vector<char> &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// A copy of the installer with one byte of its pool changed, a byte that the
// first entry's first slice covers (in a compressed pool, a byte of its
// stream). The pool is found whole in the executable.
std::wstring corrupted_copy() {
    if (opts.pool.empty() || opts.directory.empty()) abort_run("a corrupted copy needs --pool and --directory");
    std::vector<char> exe = read_file(opts.installer), pool = read_file(opts.pool), directory = read_file(opts.directory);
    if (exe.empty() || pool.size() < 4096 || directory.empty()) abort_run("cannot read the installer or its archive");

    size_t name_end = std::find(directory.begin(), directory.end(), 0) - directory.begin();
    uint32_t offset = little_endian(directory, name_end + 9), count = little_endian(directory, name_end + 13);
    if (std::string(pool.begin(), pool.begin() + 8) == "QVX-LZMA") offset = 0, count = uint32_t(pool.size());
    if (count == 0 || uint64_t(offset) + count > pool.size()) abort_run("unexpected first chunk reference");

    std::boyer_moore_horspool_searcher<std::vector<char>::iterator> head(pool.begin(), pool.begin() + 4096);
    std::vector<size_t> places;
    for (auto at = std::search(exe.begin(), exe.end(), head); at != exe.end();
         at = std::search(at + 1, exe.end(), head)) {
        if (size_t(exe.end() - at) >= pool.size() && std::equal(pool.begin(), pool.end(), at))
            places.push_back(at - exe.begin());
    }
    if (places.size() != 1) abort_run("the pool does not stand exactly once in the installer");
    exe[places[0] + offset + count / 2] ^= 0x5A;

    std::wstring copy = std::wstring(SCENARIO_ROOTS) + L"\\" + opts.scenario + L".exe";
    write_file(copy, exe.data(), exe.size());
    return copy;
}

}  // namespace

std::wstring holder_program() {
    wchar_t own[MAX_PATH];
    std::wstring folder(own, GetModuleFileNameW(nullptr, own, MAX_PATH));
    return folder.substr(0, folder.rfind(L'\\')) + L"\\plugin_holder.exe";
}

// Each holder signals its own event once it holds its file.
void hold_files() {
    for (const hold &h : row->holds) {
        std::wstring event_name = L"qx-e2e-hold-" + std::to_wstring(holders.size());
        HANDLE held = CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
        std::wstring line = L"\"" + holder_program() + L"\" " + h.how + L" \"" + expand(h.path) + L"\" " + event_name + L" " +
                           std::to_wstring(GetCurrentProcessId());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION holder = {};
        if (!held || !CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder))
            abort_run("cannot start the plug-in holder");
        holders.push_back(holder);
        HANDLE either[] = {held, holder.hProcess};
        if (WaitForMultipleObjects(2, either, FALSE, 30000) != WAIT_OBJECT_0) abort_run("the plug-in holder holds nothing");
        CloseHandle(held);
    }
}

void release_files() {
    for (PROCESS_INFORMATION &holder : holders) {
        TerminateProcess(holder.hProcess, 0);
        WaitForSingleObject(holder.hProcess, 30000);
        CloseHandle(holder.hProcess);
        CloseHandle(holder.hThread);
    }
    holders.clear();
}

std::wstring prepare() {
    if (row->prefix_as_is) return opts.installer;
    clear_folders();
    set_up_registry();
    for (const entry &e : row->before) place(e);
    switch (row->installer) {
    case installer_copy::as_built: break;
    case installer_copy::corrupted: return corrupted_copy();
    }
    return opts.installer;
}

// The driver's own, with the scenario's variables put in or left out, sorted
// by name as the platform expects.
std::vector<wchar_t> environment_block() {
    if (row->prefix_as_is) return {};  // the driver's own
    std::vector<std::wstring> entries;
    wchar_t *own = GetEnvironmentStringsW();
    for (const wchar_t *p = own; *p; p += wcslen(p) + 1) entries.push_back(p);
    FreeEnvironmentStringsW(own);

    auto name_of = [](const std::wstring &entry) {
        size_t equals = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
        return entry.substr(0, equals);
    };
    std::vector<variable> wanted(std::begin(DEFAULT_ENVIRONMENT), std::end(DEFAULT_ENVIRONMENT));
    // Wine's loader copies this one over "COMMONPROGRAMFILES" in every 64-bit
    // process: without it, the block's own value stands.
    wanted.push_back({L"CommonProgramW6432", nullptr, 0});
    for (const variable &v : row->environment) {
        auto same = std::find_if(wanted.begin(), wanted.end(), [&](const variable &w) { return !wcscmp(w.name, v.name); });
        if (same != wanted.end()) *same = v;
        else wanted.push_back(v);
    }
    for (const variable &v : wanted) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring &e) { return _wcsicmp(name_of(e).c_str(), v.name) == 0; }),
                      entries.end());
        if (!v.value) continue;
        std::wstring value = expand(v.value);
        if (v.length) {
            if (value.size() > v.length) abort_run("a padded value is already too long");
            value.resize(v.length, L'x');
        }
        if (!wcscmp(v.name, L"COMMONPROGRAMFILES")) clap64_value = value;
        if (!wcscmp(v.name, L"COMMONPROGRAMFILES(X86)")) clap32_value = value;
        entries.push_back(std::wstring(v.name) + L"=" + value);
    }
    std::sort(entries.begin(), entries.end(), [&](const std::wstring &a, const std::wstring &b) {
        return _wcsicmp(name_of(a).c_str(), name_of(b).c_str()) < 0;
    });

    std::vector<wchar_t> block;
    for (const std::wstring &entry : entries) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    block.push_back(0);
    return block;
}

std::wstring expand(const wchar_t *pattern) {
    std::wstring text = pattern;
    replace_all(text, L"{S}", root);
    replace_all(text, L"{APPDATA}", appdata);
    replace_all(text, L"{STARTMENU}", startmenu);
    replace_all(text, L"{CPF}", clap64_value);
    replace_all(text, L"{CPF86}", clap32_value);
    return text;
}

bool inside_root(const std::wstring &path) { return path.compare(0, root.size() + 1, root + L"\\") == 0; }

std::vector<std::wstring> scenario_tree() {
    std::vector<std::wstring> found;
    list_tree(root, found);
    return found;
}

const std::wstring &fl_value() { return current_fl_value; }

HKEY open_fl_key(bool create) {
    HKEY key = nullptr;
    LSTATUS status = create ? RegCreateKeyExW(HKEY_CURRENT_USER, FL_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                              nullptr)
                            : RegOpenKeyExW(HKEY_CURRENT_USER, FL_KEY, 0, KEY_READ, &key);
    return status == ERROR_SUCCESS ? key : nullptr;
}

void delete_image_line_key() {
    RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Image-Line");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Image-Line");
}

void remove_fl_value() {
    HKEY key = open_fl_key(true);
    if (!key || RegDeleteValueW(key, FL_VALUE_NAME) != ERROR_SUCCESS) abort_run("cannot remove FL Studio's value");
    RegCloseKey(key);
    current_fl_value.clear();
}

std::vector<char> read_file(const std::wstring &path) {
    std::vector<char> bytes;
    FILE *file = _wfopen(path.c_str(), L"rb");
    if (!file) return bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
}

void write_file(const std::wstring &path, const char *bytes, size_t size) {
    FILE *file = _wfopen(path.c_str(), L"wb");
    if (!file || std::fwrite(bytes, 1, size, file) != size || std::fclose(file) != 0) abort_run("cannot write a file");
}

bool exists(const std::wstring &path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool is_link(const std::wstring &path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
bool is_folder(const std::wstring &path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}


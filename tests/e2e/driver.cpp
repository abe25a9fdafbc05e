// End-to-end test driver: runs the real installer under Wine and does what a
// person and an automation tool would do (find its windows, read controls,
// click, press keys), then checks every message box it saw, the disk, the
// registry and the installer's exit code. Every scenario is one row of
// SCENARIOS below; one runner plays them all.
//
// Usage: e2e_driver <installer.exe> <scenario> [options]
//   --licence <file>    the licence text the edit box must hold
//   --builds <folder>   the plug-in builds the archive was packed from
//   --pool <file>       the packed pool and directory, to damage a copy of
//   --directory <file>  the installer inside its pool
//   --shot <path>       screenshot handshake: the driver writes a shot's name into
//                       <path>.shot and waits until the runner has removed it
// Exit code: 0 every check passed, 1 a check failed, 2 the run itself failed.
#include <windows.h>
#include <initguid.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

const wchar_t PAGE_CLASS[] = L"#32770";
const wchar_t PAGE_TITLE[] = L"Quenthalvox Plugin Installer";
const wchar_t PROMPT[] = L"To install Quenthalvox, you need to agree to the end-user license agreement.";
const wchar_t HEADING[] = L"Select the versions you want to install:";
const wchar_t NOT_AVAILABLE[] = L"(not available)";
const wchar_t PRODUCT[] = L"Quenthalvox";

struct report {
    const wchar_t *text;
    const wchar_t *caption;  // nullptr: the system's default error caption
};

const report SUCCESS = {L"The installation finished successfully.\r\nPlease scan for new plugins in your DAW.", PRODUCT};
const report UNINSTALLED = {L"Quenthalvox has been uninstalled from your computer.", PRODUCT};
const report INACCESSIBLE = {L"The installation folder was inaccessible. Quenthalvox could not be installed.", nullptr};
const report NO_FL_STUDIO = {
    L"No FL Studio installation was found. Make sure you have installed the latest version of FL Studio.", nullptr};
const report CORRUPTED = {L"The installer has been corrupted. Please download Quenthalvox again.", nullptr};

const int PAGE_WIDTH_DU = 309, PAGE_HEIGHT_DU = 192;
const int ID_OPTION_CLAP64 = 1000, ID_OPTION_CLAP32 = 1001, ID_OPTION_FL = 1002, ID_UNINSTALL = 2000,
          ID_TITLE = 3000, ID_PROGRESS = 3001, ID_HEADING = 0xFFFF;
const int OPTION_IDS[3] = {ID_OPTION_CLAP64, ID_OPTION_CLAP32, ID_OPTION_FL};

const DWORD WINDOW_TIMEOUT_MS = 30000, RUN_TIMEOUT_MS = 60000, SHOT_TIMEOUT_MS = 30000;
const DWORD MARQUEE_TIMEOUT_MS = 5000;

const wchar_t FL_KEY[] = L"SOFTWARE\\Image-Line\\Shared\\Paths";
const wchar_t FL_VALUE_NAME[] = L"FL Studio";
// Every scenario's own folder: C:\qx-e2e\<scenario>.
const wchar_t SCENARIO_ROOTS[] = L"C:\\qx-e2e";
// What the scenarios put in the files they create beforehand.
const char MARKER[] = "left here by the scenario\r\n";

// Paths in the table may use {S} (the scenario's folder), {APPDATA} and
// {STARTMENU} (the user's known folders) and {CPF} / {CPF86} (the values that
// the scenario gives "COMMONPROGRAMFILES" / "COMMONPROGRAMFILES(X86)").
#define CLAP64_FILE L"{S}\\Common Files\\CLAP\\Quenthalvox.clap"
#define CLAP32_FILE L"{S}\\Common Files (x86)\\CLAP\\Quenthalvox (32-bit).clap"
#define FL_EFFECTS L"{S}\\FL Studio\\Plugins\\Fruity\\Effects"
#define FL_FOLDER FL_EFFECTS L"\\Quenthalvox"
#define FL64_FILE FL_FOLDER L"\\Quenthalvox_x64.dll"
#define FL32_FILE FL_FOLDER L"\\Quenthalvox.dll"
#define MAKER_FOLDER L"{APPDATA}\\Brindlewoodsonics"
#define STANDALONE L"{APPDATA}\\Brindlewoodsonics\\Quenthalvox Standalone.exe"
#define SHORTCUT L"{STARTMENU}\\Programs\\Quenthalvox Standalone.lnk"

struct variable {
    const wchar_t *name;
    const wchar_t *value;  // nullptr: left out of the installer's environment
    size_t length;         // nonzero: the value padded with 'x' to this many units
};

// Unless a scenario says otherwise, both CLAP folders lie in its own folder...
const variable DEFAULT_ENVIRONMENT[] = {
    {L"COMMONPROGRAMFILES", L"{S}\\Common Files", 0},
    {L"COMMONPROGRAMFILES(X86)", L"{S}\\Common Files (x86)", 0},
};
// ...and so does FL Studio.
const wchar_t DEFAULT_FL_VALUE[] = L"{S}\\FL Studio\\FL64.exe";

using labels = std::array<const wchar_t *, 3>;  // nullptr: "(not available)"
const labels ALL_HOSTS = {L"Target: {CPF}\\CLAP", L"Target: {CPF86}\\CLAP",
                          L"Target: {S}\\FL Studio\\Plugins\\Fruity\\Effects\\Quenthalvox"};
const labels NO_HOST = {nullptr, nullptr, nullptr};

enum class content {
    absent,      // nothing at this path (only outside the scenario's folder)
    folder,      // a folder (inside the scenario's folder: an empty one)
    marker,      // a file holding MARKER
    build_cl64,  // a file byte-identical to the build of that name
    build_cl32,
    build_fl64,
    build_fl32,
};

struct entry {
    const wchar_t *path;
    content what;
};

enum class act {
    check_licence_page,    // every control, the opening view, tab order, centring
    shot,                  // a screenshot named <scenario><text>
    click,                 // BM_CLICK on the button `arg` of the current page
    key,                   // a real key press `arg` on the current page
    close_box,             // a real mouse click on the caption's close box
    sys_close,             // WM_SYSCOMMAND SC_CLOSE
    wm_close,              // WM_CLOSE
    next_page,             // the licence page is gone and the selection page up
    check_selection_page,  // every control and its state, from the scenario's labels
    toggle,                // click option `arg`: its tick flips; Install enabled when `text` is non-null
    remove_fl_value,       // FL Studio's registry value disappears
    install,               // click Install: the run starts (controls disabled, marquee)
};

struct step {
    act what;
    int arg;
    const wchar_t *text;
};

step shot(const wchar_t *suffix = L"") { return {act::shot, 0, suffix}; }
step click(int id) { return {act::click, id, nullptr}; }
step key(int vk) { return {act::key, vk, nullptr}; }
step toggle(int id, bool install_enabled) { return {act::toggle, id, install_enabled ? L"" : nullptr}; }
const step CHECK_LICENCE = {act::check_licence_page, 0, nullptr};
const step CLOSE_BOX = {act::close_box, 0, nullptr};
const step SYS_CLOSE = {act::sys_close, 0, nullptr};
const step WM_CLOSE_PAGE = {act::wm_close, 0, nullptr};
const step NEXT_PAGE = {act::next_page, 0, nullptr};
const step CHECK_SELECTION = {act::check_selection_page, 0, nullptr};
const step REMOVE_FL_VALUE = {act::remove_fl_value, 0, nullptr};
const step INSTALL = {act::install, 0, nullptr};

// Agree, then the selection page, checked and photographed, then `rest`.
std::vector<step> on_selection_page(std::initializer_list<step> rest) {
    std::vector<step> steps = {click(IDOK), NEXT_PAGE, CHECK_SELECTION, shot()};
    steps.insert(steps.end(), rest);
    return steps;
}

struct scenario {
    const wchar_t *name;
    // The prefix as it is: the driver's own environment and registry, no
    // scenario folder, no checks of the disk or the registry.
    bool prefix_as_is = false;
    std::vector<variable> environment = {};  // on top of DEFAULT_ENVIRONMENT
    const wchar_t *fl_value = DEFAULT_FL_VALUE;  // nullptr: the whole Image-Line key is deleted
    bool corrupt = false;                        // run a copy with one pool byte changed
    std::vector<entry> before = {};              // created before the start
    labels selection_labels = ALL_HOSTS;
    std::vector<step> steps = {};
    std::vector<report> reports = {};  // every message box, in order
    // Afterwards: inside {S}, exactly these files and empty folders; outside,
    // each as stated.
    std::vector<entry> after = {};
    DWORD exit_code = 0;
};

const std::vector<entry> FULL_INSTALL = {
    {CLAP64_FILE, content::marker}, {CLAP32_FILE, content::marker}, {FL64_FILE, content::marker},
    {FL32_FILE, content::marker},   {STANDALONE, content::marker},  {SHORTCUT, content::marker},
};

std::vector<entry> plus(std::vector<entry> entries, std::initializer_list<entry> more) {
    entries.insert(entries.end(), more);
    return entries;
}

const scenario SCENARIOS[] = {
    // The licence page, and every way of leaving it.
    {.name = L"page", .steps = {CHECK_LICENCE, shot(), click(IDCANCEL)}},
    {.name = L"cancel", .steps = {shot(), click(IDCANCEL)}},
    {.name = L"escape", .steps = {shot(), key(VK_ESCAPE)}},
    {.name = L"close-box", .steps = {shot(), CLOSE_BOX}},
    {.name = L"sc-close", .steps = {shot(), SYS_CLOSE}},
    {.name = L"wm-close", .steps = {shot(), WM_CLOSE_PAGE}},
    {.name = L"agree", .steps = {shot(), click(IDOK), NEXT_PAGE, click(IDCANCEL)}},
    {.name = L"enter", .steps = {shot(), key(VK_RETURN), NEXT_PAGE, click(IDCANCEL)}},
    // Both pages as the prefix has them, for run.sh.
    {.name = L"tour",
     .prefix_as_is = true,
     .steps = {shot(L"-licence"), click(IDOK), NEXT_PAGE, shot(L"-selection"), click(IDCANCEL)}},

    // Install.
    {.name = L"install-all",
     .before = {{STANDALONE, content::marker}},
     .steps = on_selection_page({INSTALL, shot(L"-running")}),
     .reports = {SUCCESS},
     // In the order written.
     .after = {{CLAP64_FILE, content::build_cl64},
               {CLAP32_FILE, content::build_cl32},
               {FL64_FILE, content::build_fl64},
               {FL32_FILE, content::build_fl32},
               {STANDALONE, content::marker}}},
    {.name = L"install-clap64-blocked",
     .before = {{L"{S}\\Common Files\\CLAP", content::marker}},
     .steps = on_selection_page({INSTALL}),
     .reports = {INACCESSIBLE},
     .after = {{L"{S}\\Common Files\\CLAP", content::marker}}},
    {.name = L"install-fl-gone",
     .steps = on_selection_page({toggle(ID_OPTION_CLAP64, true), toggle(ID_OPTION_CLAP32, true), REMOVE_FL_VALUE,
                                 INSTALL}),
     .reports = {NO_FL_STUDIO, SUCCESS}},
    {.name = L"install-no-x86",
     .environment = {{L"COMMONPROGRAMFILES(X86)", nullptr, 0}},
     .selection_labels = {ALL_HOSTS[0], nullptr, ALL_HOSTS[2]},
     .steps = on_selection_page({toggle(ID_OPTION_FL, true), INSTALL}),
     .reports = {INACCESSIBLE, SUCCESS}},
    // Cancel is disabled while the run writes: neither Escape nor the close box
    // may end it halfway.
    {.name = L"install-escape-ignored",
     .steps = on_selection_page({INSTALL, key(VK_ESCAPE), CLOSE_BOX}),
     .reports = {SUCCESS},
     .after = {{CLAP64_FILE, content::build_cl64},
               {CLAP32_FILE, content::build_cl32},
               {FL64_FILE, content::build_fl64},
               {FL32_FILE, content::build_fl32}}},
    {.name = L"install-corrupted",
     .corrupt = true,
     .steps = on_selection_page({INSTALL}),
     .reports = {CORRUPTED},
     .exit_code = 1},

    // No host at all: nothing to install, Uninstall and Cancel still work.
    {.name = L"no-host",
     .environment = {{L"COMMONPROGRAMFILES", nullptr, 0}, {L"COMMONPROGRAMFILES(X86)", nullptr, 0}},
     .fl_value = nullptr,
     .selection_labels = NO_HOST,
     .steps = on_selection_page({click(IDCANCEL)})},
    {.name = L"no-host-uninstall",
     .environment = {{L"COMMONPROGRAMFILES", nullptr, 0}, {L"COMMONPROGRAMFILES(X86)", nullptr, 0}},
     .fl_value = nullptr,
     .selection_labels = NO_HOST,
     .steps = on_selection_page({click(ID_UNINSTALL)}),
     .reports = {UNINSTALLED},
     .after = {{MAKER_FOLDER, content::folder}}},

    // What the labels say.
    {.name = L"labels-bounds",
     .environment = {{L"COMMONPROGRAMFILES", L"{S}\\Common", 239}, {L"COMMONPROGRAMFILES(X86)", L"{S}\\Common", 240}},
     .fl_value = L"FL64.exe",
     .selection_labels = {ALL_HOSTS[0], nullptr, L"Target: \\Plugins\\Fruity\\Effects\\Quenthalvox"},
     .steps = on_selection_page({click(IDCANCEL)})},
    {.name = L"labels-bounds-swapped",
     .environment = {{L"COMMONPROGRAMFILES", L"{S}\\Common", 240}, {L"COMMONPROGRAMFILES(X86)", L"{S}\\Common", 239}},
     .fl_value = L"{S}\\FL Studio/FL64.exe",  // a forward slash is no cut
     .selection_labels = {nullptr, ALL_HOSTS[1], L"Target: {S}\\Plugins\\Fruity\\Effects\\Quenthalvox"},
     .steps = on_selection_page({click(IDCANCEL)})},
    {.name = L"labels-empty",
     .environment = {{L"COMMONPROGRAMFILES", L"", 0}, {L"COMMONPROGRAMFILES(X86)", L"", 0}},
     .fl_value = L"{S}\\FL Studio\\",
     .selection_labels = {nullptr, nullptr, ALL_HOSTS[2]},
     .steps = on_selection_page({click(IDCANCEL)})},

    // Install follows the ticks.
    {.name = L"toggles",
     .steps = on_selection_page({toggle(ID_OPTION_CLAP64, true), toggle(ID_OPTION_FL, true),
                                 toggle(ID_OPTION_CLAP32, false), toggle(ID_OPTION_FL, true),
                                 toggle(ID_OPTION_FL, false), toggle(ID_OPTION_CLAP64, true), click(IDCANCEL)})},

    // Uninstall.
    {.name = L"uninstall-nothing",
     .steps = on_selection_page({click(ID_UNINSTALL)}),
     .reports = {UNINSTALLED},
     .after = {{MAKER_FOLDER, content::folder}}},
    {.name = L"uninstall-full",
     .before = FULL_INSTALL,
     .steps = on_selection_page({click(ID_UNINSTALL)}),
     .reports = {UNINSTALLED},
     .after = {{L"{S}\\Common Files\\CLAP", content::folder},
               {L"{S}\\Common Files (x86)\\CLAP", content::folder},
               {FL_EFFECTS, content::folder},
               {MAKER_FOLDER, content::folder},
               {STANDALONE, content::absent},
               {SHORTCUT, content::absent}}},
    {.name = L"uninstall-unticked-folder-kept",
     .before = plus(FULL_INSTALL, {{FL_FOLDER L"\\My presets.fst", content::marker}}),
     .steps = on_selection_page({toggle(ID_OPTION_CLAP64, true), toggle(ID_OPTION_CLAP32, true),
                                 toggle(ID_OPTION_FL, false), click(ID_UNINSTALL)}),
     .reports = {UNINSTALLED},
     .after = {{L"{S}\\Common Files\\CLAP", content::folder},
               {L"{S}\\Common Files (x86)\\CLAP", content::folder},
               {FL_FOLDER L"\\My presets.fst", content::marker},
               {STANDALONE, content::absent},
               {SHORTCUT, content::absent}}},

    // Every way of leaving the selection page without a run.
    {.name = L"selection-cancel", .steps = on_selection_page({click(IDCANCEL)})},
    {.name = L"selection-escape", .steps = on_selection_page({key(VK_ESCAPE)})},
    {.name = L"selection-close-box", .steps = on_selection_page({CLOSE_BOX})},
};

struct options {
    std::wstring installer, scenario, licence_file, builds, pool, directory, shot;
};

options opts;
PROCESS_INFORMATION child = {};
int failures = 0;

void fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::printf("FAIL: ");
    std::vprintf(format, args);
    std::printf("\n");
    va_end(args);
    std::fflush(stdout);
    ++failures;
}

bool check(bool condition, const char *format, ...) {
    if (condition) return true;
    va_list args;
    va_start(args, format);
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fail("%s", text);
    return false;
}

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r') out += "\\r";
        else if (c == L'\n') out += "\\n";
        else out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    }
    return out;
}

[[noreturn]] void abort_run(const char *what) {
    std::printf("ERROR: %s (last error %lu)\n", what, GetLastError());
    if (child.hProcess) TerminateProcess(child.hProcess, 99);
    std::exit(2);
}

void replace_all(std::wstring &text, const std::wstring &from, const std::wstring &to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
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
bool is_folder(const std::wstring &path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void delete_tree(const std::wstring &path) {
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

// Every file and every empty folder (with a trailing backslash) below `folder`.
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

const scenario *row = nullptr;
std::wstring root;                      // {S}
std::wstring appdata, startmenu;        // the known folders
std::wstring clap64_value, clap32_value;  // {CPF}, {CPF86}
std::wstring fl_value;                  // what the registry holds at the start ("" none)

std::wstring known_folder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &path))) abort_run("cannot look up a known folder");
    return path;  // a few bytes of a test tool: not given back
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

void set_up_registry() {
    delete_image_line_key();
    if (!row->fl_value) return;
    fl_value = expand(row->fl_value);
    HKEY key = open_fl_key(true);
    if (!key ||
        RegSetValueExW(key, FL_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE *>(fl_value.c_str()),
                       static_cast<DWORD>((fl_value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        abort_run("cannot set FL Studio's registry value");
    RegCloseKey(key);
}

void remove_fl_value() {
    HKEY key = open_fl_key(true);
    if (!key || RegDeleteValueW(key, FL_VALUE_NAME) != ERROR_SUCCESS) abort_run("cannot remove FL Studio's value");
    RegCloseKey(key);
    fl_value.clear();
}

// The environment block: the driver's own, with the scenario's variables put
// in or left out, sorted by name as the platform expects.
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

uint32_t little_endian(const std::vector<char> &bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// A copy of the installer with one byte of its pool changed, a byte that the
// first entry's first slice covers. The pool is found whole in the executable.
std::wstring corrupted_copy() {
    if (opts.pool.empty() || opts.directory.empty()) abort_run("a corrupted copy needs --pool and --directory");
    std::vector<char> exe = read_file(opts.installer), pool = read_file(opts.pool), directory = read_file(opts.directory);
    if (exe.empty() || pool.size() < 4096 || directory.empty()) abort_run("cannot read the installer or its archive");

    size_t name_end = std::find(directory.begin(), directory.end(), 0) - directory.begin();
    uint32_t offset = little_endian(directory, name_end + 9), count = little_endian(directory, name_end + 13);
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

std::wstring prepare() {
    if (row->prefix_as_is) return opts.installer;
    appdata = known_folder(FOLDERID_RoamingAppData);
    startmenu = known_folder(FOLDERID_StartMenu);
    root = std::wstring(SCENARIO_ROOTS) + L"\\" + opts.scenario;
    create_folders(SCENARIO_ROOTS);
    delete_tree(root);
    // The maker's folder and the shortcut belong to the user, not to one
    // scenario: each starts without them.
    delete_tree(expand(MAKER_FOLDER));
    delete_tree(expand(SHORTCUT));
    set_up_registry();
    for (const entry &e : row->before) {
        std::wstring path = expand(e.path);
        if (e.what == content::folder) {
            create_folders(path);
            continue;
        }
        create_folders(path.substr(0, path.rfind(L'\\')));
        write_file(path, MARKER, sizeof MARKER - 1);
    }
    return row->corrupt ? corrupted_copy() : opts.installer;
}

void start_installer(const std::wstring &installer) {
    std::wstring command_line = L"\"" + installer + L"\"";
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(0);
    std::vector<wchar_t> environment = environment_block();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(installer.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.empty() ? nullptr : environment.data(), nullptr, &startup, &child))
        abort_run("cannot start the installer");
}

bool child_exited() { return WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0; }

DWORD window_process(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

std::wstring text_of(HWND window) {
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> text(length + 1, 0);
    SendMessageW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()));
    return std::wstring(text.data());
}

std::wstring class_of(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

HWND licence_page = nullptr, selection_page = nullptr, page = nullptr;  // page: the current one

bool known_page(HWND window) { return window == licence_page || window == selection_page; }

// A visible "#32770" window of the installer titled as its pages, other than
// the pages already met.
HWND find_new_page() {
    for (HWND window = FindWindowExW(nullptr, nullptr, PAGE_CLASS, PAGE_TITLE); window;
         window = FindWindowExW(nullptr, window, PAGE_CLASS, PAGE_TITLE)) {
        if (!known_page(window) && window_process(window) == child.dwProcessId && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

HWND wait_for_new_page() {
    for (DWORD waited = 0; waited < WINDOW_TIMEOUT_MS && !child_exited(); waited += 20) {
        if (HWND window = find_new_page()) {
            WaitForInputIdle(child.hProcess, 5000);
            return window;
        }
        Sleep(20);
    }
    return nullptr;
}

// Any other "#32770" window of the installer: a message box (its text is in
// the static control 0xFFFF, which the selection page's heading also uses).
HWND find_message_box() {
    for (HWND window = FindWindowExW(nullptr, nullptr, PAGE_CLASS, nullptr); window;
         window = FindWindowExW(nullptr, window, PAGE_CLASS, nullptr)) {
        if (window_process(window) == child.dwProcessId && !known_page(window) && IsWindowVisible(window) &&
            GetDlgItem(window, 0xFFFF) && text_of(window) != PAGE_TITLE)
            return window;
    }
    return nullptr;
}

void take_screenshot(const wchar_t *suffix) {
    if (opts.shot.empty()) return;
    std::string name = narrow(opts.scenario + suffix);
    std::wstring request = opts.shot + L".shot", scratch = request + L".tmp";
    write_file(scratch, name.data(), name.size());
    if (!MoveFileExW(scratch.c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) abort_run("cannot ask for a shot");
    for (DWORD waited = 0; waited < SHOT_TIMEOUT_MS; waited += 20) {
        if (!exists(request)) return;
        Sleep(20);
    }
    abort_run("the runner took no screenshot");
}

void press_key(HWND window, WORD key_code) {
    SetForegroundWindow(window);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key_code;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    check(SendInput(2, input, sizeof(INPUT)) == 2, "SendInput of key 0x%02X failed", key_code);
}

void click_button(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    if (!check(button != nullptr, "no button with id %d", id)) return;
    // Posted, so that a handler that runs a modal loop cannot block the driver.
    PostMessageW(button, BM_CLICK, 0, 0);
}

// Finds the close box by asking the page itself what lies under each point of
// its caption row, right to left.
bool find_close_box(HWND window, POINT &where) {
    RECT rect;
    GetWindowRect(window, &rect);
    int caption = GetSystemMetrics(SM_CYCAPTION);
    for (int y = rect.top + caption / 2; y < rect.top + caption * 2; y += 2) {
        for (int x = rect.right - 1; x > rect.right - caption * 4; --x) {
            if (SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
            where = {x - 3, y};
            return true;
        }
    }
    return false;
}

// A real mouse click on the caption's close button.
void click_close_box(HWND window) {
    POINT where = {};
    if (!check(find_close_box(window, where), "the page has no close box")) return;
    SetForegroundWindow(window);
    INPUT input[3] = {};
    for (INPUT &i : input) i.type = INPUT_MOUSE;
    input[0].mi.dx = MulDiv(where.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input[0].mi.dy = MulDiv(where.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    check(SendInput(3, input, sizeof(INPUT)) == 3, "SendInput of the click failed");
}

// The pixels of a window as the screen shows them.
std::vector<DWORD> screen_pixels(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    int cx = rect.right - rect.left, cy = rect.bottom - rect.top;
    std::vector<DWORD> pixels(size_t(std::max(cx, 0)) * std::max(cy, 0));
    if (pixels.empty()) return pixels;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, cx, cy);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, cx, cy, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, cx, -cy, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, cy, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

struct base_units {
    int x, y;
};

// The dialog's base units, derived from its client area: the platform's own
// mapping of the page's 309 x 192 units (MapDialogRect only works in-process).
base_units page_base_units(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    base_units units = {(client.right * 4 + PAGE_WIDTH_DU / 2) / PAGE_WIDTH_DU,
                        (client.bottom * 8 + PAGE_HEIGHT_DU / 2) / PAGE_HEIGHT_DU};
    check(std::abs(MulDiv(PAGE_WIDTH_DU, units.x, 4) - client.right) <= 1 &&
              std::abs(MulDiv(PAGE_HEIGHT_DU, units.y, 8) - client.bottom) <= 1,
          "client area %ldx%ld is not 309x192 dialog units in any whole base units", client.right, client.bottom);
    return units;
}

struct expected_control {
    const wchar_t *class_name;
    int id;
    const wchar_t *text;  // nullptr: the licence text
    DWORD ex_style;
    DWORD style;
    int x, y, cx, cy;
    DWORD class_ex_style;  // extended style the control class may add itself
};

// The dialog manager creates every control with this extended style.
const DWORD DIALOG_EX_STYLE = WS_EX_NOPARENTNOTIFY;

#define PAGE_HEADER                                                             \
    {L"Static", 0, L"", 0, 0x50000006, 0, 0, 309, 19, 0},                       \
        {L"Static", ID_TITLE, PAGE_TITLE, 0, 0x50020001, 0, 6, 309, 9, 0},      \
        /* An etched line gets a static edge from its class, and Wine widens */ \
        /* the window by that edge. */                                          \
        {L"Static", 0, L"", 0, 0x50000010, -5, 19, 319, 1, WS_EX_STATICEDGE}

const expected_control LICENCE_PAGE[] = {
    PAGE_HEADER,
    {L"Static", 0, PROMPT, 0, 0x50020000, 13, 28, 283, 13, 0},
    {L"Edit", 0, nullptr, WS_EX_STATICEDGE, 0x50210844, 19, 46, 271, 115, 0},
    {L"Button", IDCANCEL, L"&Cancel", 0, 0x50010000, 252, 172, 50, 14, 0},
    {L"Button", IDOK, L"&Agree", 0, 0x50010001, 198, 172, 50, 14, 0},
};

// The labels' texts (L"") come from the scenario.
const expected_control SELECTION_PAGE[] = {
    PAGE_HEADER,
    {L"Static", ID_HEADING, HEADING, 0, 0x50000000, 13, 28, 283, 13, 0},
    {L"Button", ID_OPTION_CLAP64, L"CLAP (64-bit)", 0, 0x50010003, 27, 41, 255, 14, 0},
    {L"Static", 0, L"", 0, 0x50000000, 37, 55, 235, 20, 0},
    {L"Button", ID_OPTION_CLAP32, L"CLAP (32-bit)", 0, 0x50010003, 27, 75, 255, 14, 0},
    {L"Static", 0, L"", 0, 0x50000000, 37, 89, 235, 20, 0},
    {L"Button", ID_OPTION_FL, L"FL Studio native", 0, 0x50010003, 27, 109, 255, 14, 0},
    {L"Static", 0, L"", 0, 0x50000000, 37, 123, 235, 20, 0},
    {L"Button", ID_UNINSTALL, L"&Uninstall", 0, 0x50030000, 7, 172, 50, 14, 0},
    {L"Button", IDCANCEL, L"&Cancel", 0, 0x50010000, 252, 172, 50, 14, 0},
    {L"Button", IDOK, L"&Install", 0, 0x50010001, 198, 172, 50, 14, 0},
    // Wine's progress bar gives itself a static edge.
    {L"msctls_progress32", ID_PROGRESS, L"Installation progress", 0, 0x50000008, 67, 173, 121, 12, WS_EX_STATICEDGE},
};
const int LABEL_ORDER[3] = {5, 7, 9};

std::wstring licence_text() {
    std::vector<char> bytes = read_file(opts.licence_file);
    if (bytes.empty()) abort_run("cannot read the licence file (--licence)");
    return std::wstring(bytes.begin(), bytes.end());
}

std::vector<HWND> children_in_order(HWND window) {
    std::vector<HWND> children;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    return children;
}

bool is_push_button(int id) { return id == IDOK || id == IDCANCEL || id == ID_UNINSTALL; }

void check_control(HWND window, HWND control, const expected_control &want, base_units units, int order) {
    std::string name = "control " + std::to_string(order + 1);
    check(_wcsicmp(class_of(control).c_str(), want.class_name) == 0, "%s: class \"%s\", expected \"%s\"", name.c_str(),
          narrow(class_of(control)).c_str(), narrow(want.class_name).c_str());
    int id = GetDlgCtrlID(control);
    check(id == want.id, "%s: id %d, expected %d", name.c_str(), id, want.id);

    std::wstring expected_text = want.text ? want.text : licence_text();
    std::wstring text = text_of(control);
    check(text == expected_text, "%s: text \"%s\" (%zu units), expected \"%s\" (%zu units)", name.c_str(),
          narrow(text.substr(0, 300)).c_str(), text.size(), narrow(expected_text.substr(0, 300)).c_str(),
          expected_text.size());

    // Enabled state is checked on its own; the dialog manager moves the
    // default-button look to whichever push button has the focus.
    DWORD varying = WS_DISABLED | (is_push_button(want.id) ? BS_DEFPUSHBUTTON : 0);
    DWORD style = GetWindowLongW(control, GWL_STYLE);
    DWORD ex_style = GetWindowLongW(control, GWL_EXSTYLE);
    DWORD added = ex_style & ~want.ex_style & (DIALOG_EX_STYLE | want.class_ex_style);
    check((style & ~varying) == (want.style & ~varying), "%s: style 0x%08lX, expected 0x%08lX", name.c_str(), style,
          want.style);
    check((ex_style & ~added) == want.ex_style, "%s: extended style 0x%08lX, expected 0x%08lX", name.c_str(), ex_style,
          want.ex_style);

    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&rect), 2);
    int left = MulDiv(want.x, units.x, 4), top = MulDiv(want.y, units.y, 8);
    int right = left + MulDiv(want.cx, units.x, 4), bottom = top + MulDiv(want.cy, units.y, 8);
    int slack = 1 + ((added & WS_EX_STATICEDGE) ? 2 * GetSystemMetrics(SM_CXEDGE) : 0);
    check(std::abs(rect.left - left) <= slack && std::abs(rect.top - top) <= slack &&
              std::abs(rect.right - right) <= slack && std::abs(rect.bottom - bottom) <= slack,
          "%s: at (%ld,%ld)-(%ld,%ld) px, expected (%d,%d)-(%d,%d)", name.c_str(), rect.left, rect.top, rect.right,
          rect.bottom, left, top, right, bottom);
}

// Returns the children when the page has the expected number of controls.
std::vector<HWND> check_controls(HWND window, const expected_control *want, size_t count) {
    check(text_of(window) == PAGE_TITLE, "caption \"%s\"", narrow(text_of(window)).c_str());
    std::vector<HWND> children = children_in_order(window);
    if (!check(children.size() == count, "%zu controls, expected %zu", children.size(), count)) return {};
    base_units units = page_base_units(window);
    for (size_t i = 0; i < count; ++i) check_control(window, children[i], want[i], units, int(i));

    RECT work, rect;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(window, &rect);
    int x = (work.left + work.right - (rect.right - rect.left)) / 2;
    int y = (work.top + work.bottom - (rect.bottom - rect.top)) / 2;
    check(std::abs(rect.left - x) <= 1 && std::abs(rect.top - y) <= 1,
          "page at (%ld,%ld), expected (%d,%d) to centre it on the work area (%ld,%ld)-(%ld,%ld)", rect.left, rect.top,
          x, y, work.left, work.top, work.right, work.bottom);

    LRESULT default_id = SendMessageW(window, DM_GETDEFID, 0, 0);
    check(HIWORD(default_id) == DC_HASDEFID && LOWORD(default_id) == IDOK, "default button 0x%08lX, expected id 1",
          static_cast<unsigned long>(default_id));
    return children;
}

HWND focus_of(HWND window) {
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui);
    return gui.hwndFocus;
}

// Tab goes round `cycle`, and the focus starts on its first control.
void check_tab_order(HWND window, const std::vector<HWND> &cycle) {
    for (size_t i = 0; i < cycle.size(); ++i) {
        HWND next = GetNextDlgTabItem(window, cycle[i], FALSE), want = cycle[(i + 1) % cycle.size()];
        check(next == want, "tab from control id %d reaches id %d, expected id %d", GetDlgCtrlID(cycle[i]),
              GetDlgCtrlID(next), GetDlgCtrlID(want));
    }
    check(focus_of(window) == cycle.front(), "the focus is on control id %d, expected id %d",
          GetDlgCtrlID(focus_of(window)), GetDlgCtrlID(cycle.front()));
}

void check_licence_page() {
    const size_t count = sizeof LICENCE_PAGE / sizeof LICENCE_PAGE[0];
    std::vector<HWND> children = check_controls(page, LICENCE_PAGE, count);
    if (children.empty()) return;
    HWND edit = children[4], cancel = children[5], agree = children[6];
    check_tab_order(page, {edit, cancel, agree});

    // More lines than the text's 18 means the long clauses are wrapped.
    LRESULT lines = SendMessageW(edit, EM_GETLINECOUNT, 0, 0);
    check(lines > 18, "the edit box shows %ld lines: the clauses are not wrapped", static_cast<long>(lines));
    // It opens at the beginning of the agreement, with nothing selected.
    DWORD selection = static_cast<DWORD>(SendMessageW(edit, EM_GETSEL, 0, 0));
    check(LOWORD(selection) == HIWORD(selection), "characters %u to %u of the licence are selected",
          LOWORD(selection), HIWORD(selection));
    LRESULT first = SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    check(first == 0, "the edit box opens at line %ld, not at the beginning", static_cast<long>(first));
}

void check_selection_page() {
    std::vector<std::wstring> texts;
    expected_control want[sizeof SELECTION_PAGE / sizeof SELECTION_PAGE[0]];
    std::copy(std::begin(SELECTION_PAGE), std::end(SELECTION_PAGE), want);
    for (int i = 0; i < 3; ++i)
        texts.push_back(row->selection_labels[i] ? expand(row->selection_labels[i]) : NOT_AVAILABLE);
    for (int i = 0; i < 3; ++i) want[LABEL_ORDER[i]].text = texts[i].c_str();
    if (check_controls(selection_page, want, std::size(want)).empty()) return;

    // Every available option enabled and ticked, the others neither; Install
    // only with something to install.
    std::vector<HWND> cycle;
    bool any = false;
    for (int i = 0; i < 3; ++i) {
        HWND option = GetDlgItem(selection_page, OPTION_IDS[i]);
        bool available = row->selection_labels[i] != nullptr;
        any = any || available;
        check(bool(IsWindowEnabled(option)) == available, "option %d is %s", OPTION_IDS[i],
              available ? "disabled" : "enabled");
        LRESULT ticked = SendMessageW(option, BM_GETCHECK, 0, 0);
        check(ticked == (available ? BST_CHECKED : BST_UNCHECKED), "option %d has the check state %ld", OPTION_IDS[i],
              static_cast<long>(ticked));
        if (available) cycle.push_back(option);
    }
    HWND install = GetDlgItem(selection_page, IDOK);
    check(bool(IsWindowEnabled(install)) == any, "Install is %s", any ? "disabled" : "enabled");
    for (int id : {ID_UNINSTALL, IDCANCEL}) {
        check(IsWindowEnabled(GetDlgItem(selection_page, id)), "button %d is disabled", id);
        cycle.push_back(GetDlgItem(selection_page, id));
    }
    if (any) cycle.push_back(install);
    check_tab_order(selection_page, cycle);
}

std::vector<std::wstring> watched_files;  // the builds the scenario expects, in the order written
std::vector<int> first_seen;              // poll number at which each appeared, -1 not yet
int polls = 0;
bool installing = false;
std::vector<DWORD> last_frame;

// Notes which watched files have appeared; returns whether the progress bar
// changed since the last call.
bool poll() {
    ++polls;
    for (size_t i = 0; i < watched_files.size(); ++i)
        if (first_seen[i] < 0 && exists(watched_files[i])) first_seen[i] = polls;
    if (!installing) return false;
    std::vector<DWORD> frame = screen_pixels(GetDlgItem(selection_page, ID_PROGRESS));
    bool changed = !last_frame.empty() && frame != last_frame;
    last_frame = frame;
    return changed;
}

void start_install() {
    HWND progress = GetDlgItem(selection_page, ID_PROGRESS);
    std::vector<DWORD> before = screen_pixels(progress);
    Sleep(300);
    check(screen_pixels(progress) == before, "the progress bar moves before Install");

    click_button(selection_page, IDOK);
    installing = true;
    last_frame.clear();
    bool all_disabled = false, moved = false;
    for (DWORD waited = 0; waited < MARQUEE_TIMEOUT_MS && !(all_disabled && moved) && !child_exited(); waited += 5) {
        moved = poll() || moved;
        all_disabled = true;
        for (int id : {ID_UNINSTALL, IDOK, IDCANCEL, ID_OPTION_CLAP64, ID_OPTION_CLAP32, ID_OPTION_FL})
            all_disabled = all_disabled && !IsWindowEnabled(GetDlgItem(selection_page, id));
        Sleep(5);
    }
    check(all_disabled, "the buttons and options are not all disabled while the installation runs");
    check(moved, "the marquee does not run while the installation runs");
}

// The marquee has stopped: the bar stays the same over a few looks.
void check_marquee_stopped() {
    HWND progress = GetDlgItem(selection_page, ID_PROGRESS);
    std::vector<DWORD> frame = screen_pixels(progress);
    int still = 0;
    for (DWORD waited = 0; waited < MARQUEE_TIMEOUT_MS && still < 3; waited += 100) {
        Sleep(100);
        std::vector<DWORD> next = screen_pixels(progress);
        still = next == frame ? still + 1 : 0;
        frame = next;
    }
    check(still >= 3, "the marquee still runs when the installation report shows");
}

struct seen_report {
    std::wstring text, caption;
};

// Reads a message box, checks what every box of the installer is, and dismisses it.
seen_report take_message_box(HWND box) {
    WaitForInputIdle(child.hProcess, 2000);
    seen_report seen = {text_of(GetDlgItem(box, 0xFFFF)), text_of(box)};
    std::printf("message box: \"%s\" (caption \"%s\")\n", narrow(seen.text).c_str(), narrow(seen.caption).c_str());
    if (selection_page)
        check(GetWindow(box, GW_OWNER) == selection_page, "the message box is not owned by the selection page");
    std::vector<HWND> buttons;
    for (HWND control : children_in_order(box))
        if (_wcsicmp(class_of(control).c_str(), L"Button") == 0 && IsWindowVisible(control)) buttons.push_back(control);
    check(buttons.size() == 1 && GetDlgCtrlID(buttons[0]) == IDOK, "the message box has more than an OK button");
    if (installing && seen.text == SUCCESS.text) check_marquee_stopped();

    PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    for (DWORD waited = 0; waited < WINDOW_TIMEOUT_MS && IsWindow(box) && IsWindowVisible(box); waited += 10) {
        poll();
        Sleep(10);
    }
    check(!IsWindow(box) || !IsWindowVisible(box), "the message box does not close");
    return seen;
}

// Until the installer ends: every message box, and no page that should not come.
std::vector<seen_report> run_to_the_end() {
    std::vector<seen_report> seen;
    DWORD waited = 0;
    for (; waited < RUN_TIMEOUT_MS && !child_exited(); waited += 5) {
        poll();
        if (HWND box = find_message_box()) seen.push_back(take_message_box(box));
        if (HWND unexpected = find_new_page()) {
            fail("an unexpected page is shown");
            selection_page = unexpected;
            click_button(unexpected, IDCANCEL);
        }
        Sleep(5);
    }
    if (!child_exited()) {
        fail("the installer did not exit within %lu ms", RUN_TIMEOUT_MS);
        TerminateProcess(child.hProcess, 99);
        WaitForSingleObject(child.hProcess, WINDOW_TIMEOUT_MS);
    }
    poll();
    return seen;
}

void check_reports(const std::vector<seen_report> &seen) {
    wchar_t error_caption[64] = {};
    // The caption a message box gets without one of its own.
    LoadStringW(GetModuleHandleW(L"user32.dll"), 2, error_caption, 64);
    bool same = seen.size() == row->reports.size();
    for (size_t i = 0; same && i < seen.size(); ++i)
        same = seen[i].text == row->reports[i].text &&
               seen[i].caption == (row->reports[i].caption ? row->reports[i].caption : error_caption);
    if (same) return;
    fail("%zu message boxes, expected %zu:", seen.size(), row->reports.size());
    for (const report &r : row->reports)
        std::printf("  expected: \"%s\" (caption \"%s\")\n", narrow(r.text).c_str(),
                    narrow(r.caption ? r.caption : error_caption).c_str());
}

const wchar_t *build_name(content what) {
    switch (what) {
    case content::build_cl64: return L"target_cl64";
    case content::build_cl32: return L"target_cl32";
    case content::build_fl64: return L"target_fl64";
    case content::build_fl32: return L"target_fl32";
    default: return nullptr;
    }
}

void check_content(const std::wstring &path, content what) {
    std::string name = narrow(path);
    if (what == content::absent) {
        check(!exists(path), "%s is still there", name.c_str());
        return;
    }
    if (what == content::folder) {
        check(is_folder(path), "%s is not a folder", name.c_str());
        return;
    }
    if (!check(exists(path) && !is_folder(path), "%s is not a file", name.c_str())) return;
    std::vector<char> bytes = read_file(path), want;
    if (what == content::marker) {
        want.assign(MARKER, MARKER + sizeof MARKER - 1);
    } else {
        if (opts.builds.empty()) abort_run("this scenario needs --builds");
        want = read_file(opts.builds + L"\\" + build_name(what));
        if (want.empty()) abort_run("cannot read a build");
    }
    check(bytes == want, "%s holds %zu bytes that are not the expected %zu", name.c_str(), bytes.size(), want.size());
}

void check_disk() {
    std::vector<std::wstring> found, expected;
    list_tree(root, found);
    for (const entry &e : row->after) {
        std::wstring path = expand(e.path);
        if (!inside_root(path)) {
            check_content(path, e.what);
            continue;
        }
        if (e.what == content::absent) abort_run("absent entries inside the scenario's folder say nothing");
        expected.push_back(e.what == content::folder ? path + L"\\" : path);
        if (e.what != content::folder) check_content(path, e.what);
    }
    for (const std::wstring &path : found)
        check(std::find(expected.begin(), expected.end(), path) != expected.end(), "unexpected on disk: %s",
              narrow(path).c_str());
    for (const std::wstring &path : expected)
        check(std::find(found.begin(), found.end(), path) != found.end(), "missing on disk: %s", narrow(path).c_str());
}

FILETIME last_write(const std::wstring &path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// The builds were written in the table's order: no file appeared, or was last
// written, before one that precedes it. (Two seen in the same poll with the
// same time stamp tell nothing either way.)
void check_write_order() {
    for (size_t i = 0; i + 1 < watched_files.size(); ++i) {
        const std::wstring &earlier = watched_files[i], &later = watched_files[i + 1];
        if (first_seen[i] < 0 || first_seen[i + 1] < 0) continue;  // missing files are reported on their own
        check(first_seen[i] <= first_seen[i + 1], "%s appeared before %s", narrow(later).c_str(),
              narrow(earlier).c_str());
        FILETIME a = last_write(earlier), b = last_write(later);
        check(CompareFileTime(&a, &b) <= 0, "%s was written after %s", narrow(earlier).c_str(), narrow(later).c_str());
    }
}

bool reached_selection_page() {
    return std::any_of(row->steps.begin(), row->steps.end(), [](const step &s) { return s.what == act::next_page; });
}

void check_registry() {
    HKEY key = open_fl_key(false);
    if (!reached_selection_page()) {
        if (key) RegCloseKey(key);
        return;
    }
    // Looking for FL Studio leaves its key behind, even on a machine without it.
    if (!check(key != nullptr, "the key HKCU\\%s is missing", narrow(FL_KEY).c_str())) return;
    wchar_t value[600] = {};
    DWORD size = sizeof value;
    LSTATUS status = RegGetValueW(key, nullptr, FL_VALUE_NAME, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(key);
    if (fl_value.empty()) check(status == ERROR_FILE_NOT_FOUND, "FL Studio's value has appeared");
    else check(status == ERROR_SUCCESS && fl_value == value, "FL Studio's value has changed");
}

void run_step(const step &s) {
    if (!page) return;  // the run is already over; the end explains why
    switch (s.what) {
    case act::check_licence_page: check_licence_page(); break;
    case act::shot: take_screenshot(s.text); break;
    case act::click: click_button(page, s.arg); break;
    case act::key: press_key(page, static_cast<WORD>(s.arg)); break;
    case act::close_box: click_close_box(page); break;
    case act::sys_close: PostMessageW(page, WM_SYSCOMMAND, SC_CLOSE, 0); break;
    case act::wm_close: PostMessageW(page, WM_CLOSE, 0, 0); break;
    case act::next_page:
        selection_page = page = wait_for_new_page();
        if (!check(page != nullptr, "the selection page did not appear")) return;
        check(!IsWindow(licence_page), "the licence page is still there under the selection page");
        check(GetDlgItem(page, ID_UNINSTALL) != nullptr, "the page after Agree is not the selection page");
        break;
    case act::check_selection_page: check_selection_page(); break;
    case act::toggle: {
        HWND option = GetDlgItem(page, s.arg);
        LRESULT before = SendMessageW(option, BM_GETCHECK, 0, 0);
        DWORD_PTR ignored;
        // Sent: the handler has run when the call returns.
        SendMessageTimeoutW(option, BM_CLICK, 0, 0, SMTO_NORMAL, WINDOW_TIMEOUT_MS, &ignored);
        LRESULT after = SendMessageW(option, BM_GETCHECK, 0, 0);
        check(after != before, "option %d did not change its tick", s.arg);
        bool enabled = IsWindowEnabled(GetDlgItem(page, IDOK));
        check(enabled == (s.text != nullptr), "after option %d, Install is %s", s.arg,
              enabled ? "enabled" : "disabled");
        break;
    }
    case act::remove_fl_value: remove_fl_value(); break;
    case act::install: start_install(); break;
    }
}

void play() {
    std::wstring installer = prepare();
    for (const entry &e : row->after) {
        if (!build_name(e.what)) continue;
        watched_files.push_back(expand(e.path));
        first_seen.push_back(-1);
    }
    start_installer(installer);
    licence_page = page = wait_for_new_page();
    if (!page) {
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        fail("the licence page did not appear (installer %s, code %lu)", child_exited() ? "exited" : "still running",
             code);
        if (!child_exited()) TerminateProcess(child.hProcess, 99);
        return;
    }
    for (const step &s : row->steps) run_step(s);

    check_reports(run_to_the_end());
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    check(code == row->exit_code, "exit code %lu, expected %lu", code, row->exit_code);
    if (row->prefix_as_is) return;
    check_disk();
    check_write_order();
    check_registry();
    // A prefix taken as it is (the tour) sees no FL Studio of a scenario.
    delete_image_line_key();
}

void parse(int argc, wchar_t **argv) {
    if (argc < 3) abort_run("usage: e2e_driver <installer.exe> <scenario> [options]");
    opts.installer = argv[1];
    opts.scenario = argv[2];
    if (argc % 2 == 0) abort_run("an option lacks its value");
    for (int i = 3; i + 1 < argc; i += 2) {
        std::wstring option = argv[i], value = argv[i + 1];
        if (option == L"--licence") opts.licence_file = value;
        else if (option == L"--builds") opts.builds = value;
        else if (option == L"--pool") opts.pool = value;
        else if (option == L"--directory") opts.directory = value;
        else if (option == L"--shot") opts.shot = value;
        else abort_run("unknown option");
    }
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    parse(argc, argv);
    for (const scenario &s : SCENARIOS)
        if (opts.scenario == s.name) row = &s;
    if (!row) abort_run("unknown scenario");

    play();
    if (child.hProcess) CloseHandle(child.hProcess);
    if (child.hThread) CloseHandle(child.hThread);
    std::printf("%s: %s\n", narrow(opts.scenario).c_str(), failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}

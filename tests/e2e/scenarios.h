// What a scenario is: the machine it starts on, what the driver does on the
// installer's pages, and what must have happened afterwards. The scenarios
// themselves are the rows of SCENARIOS in scenarios.cpp.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

struct report {
    const wchar_t *text;     // may hold the paths' {S} and the like
    const wchar_t *caption;  // nullptr: the system's default error caption
    int answer = IDOK;       // IDRETRY or IDCANCEL: a report offering both
    bool release = false;    // the scenario's holds end before the answer
};

// The installer's report at the end of a successful install.
extern const report SUCCESS;

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
#define ELSEWHERE L"{S}\\Elsewhere"  // where a planted link leads
#define SHORTCUT L"{STARTMENU}\\Programs\\Quenthalvox Standalone.lnk"
// A drive of 64 KiB for scenarios with .small_drive, too small for any build.
#define SMALL_FL_FOLDER L"Q:\\FL Studio\\Plugins\\Fruity\\Effects\\Quenthalvox"

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

// What the scenarios put in the files they create beforehand.
const char MARKER[] = "left here by the scenario\r\n";

enum class content {
    absent,      // nothing at this path (only outside the scenario's folder)
    folder,      // a folder (inside the scenario's folder: an empty one)
    marker,      // a file holding MARKER
    build_cl64,  // a file byte-identical to the build of that name
    build_cl32,
    build_fl64,
    build_fl32,
    image,  // a file byte-identical to the plug-in holder, a PE image a host can load
    link,   // beforehand: a folder link to {S}\Elsewhere, as any program of the user's can plant one
};

struct entry {
    const wchar_t *path;
    content what;
};

// A file held as a running host holds it, from before the start until a
// report releases it or the run ends (plugin_holder.cpp).
struct hold {
    const wchar_t *path;
    const wchar_t *how;  // "load" or "lock"
};

// Which executable the scenario starts.
enum class installer_copy {
    as_built,
    corrupted,  // a copy with one pool byte changed
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

struct scenario {
    const wchar_t *name;
    bool small_drive = false;  // the runner mounts it as Q:
    // The prefix as it is: the driver's own environment and registry, no
    // scenario folder, no checks of the disk or the registry.
    bool prefix_as_is = false;
    std::vector<variable> environment = {};      // on top of DEFAULT_ENVIRONMENT
    const wchar_t *fl_value = DEFAULT_FL_VALUE;  // nullptr: the whole Image-Line key is deleted
    installer_copy installer = installer_copy::as_built;
    std::vector<entry> before = {};  // created before the start
    std::vector<hold> holds = {};
    labels selection_labels = ALL_HOSTS;
    std::vector<step> steps = {};
    std::vector<report> reports = {};  // every message box, in order
    // Afterwards: inside {S}, exactly these files and empty folders; outside,
    // each as stated.
    std::vector<entry> after = {};
    DWORD exit_code = 0;
};

// Each row's name on a line of its own, followed by the runner's options it
// needs (--small-drive).
void list_scenarios();
// nullptr when no row has that name.
const scenario *find_scenario(const std::wstring &name);

// The scenario goes as far as the selection page.
bool reaches_selection_page(const scenario &row);

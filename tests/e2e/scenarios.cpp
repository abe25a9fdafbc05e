// Every end-to-end scenario, one row each. The driver lists them
// (e2e_driver --list), and CTest makes one test of each.
#include "scenarios.h"

#include "tests/page_controls.h"

#include <algorithm>
#include <cstdio>

using namespace page_controls;

const wchar_t PRODUCT[] = L"Quenthalvox";

const report SUCCESS = {L"The installation finished successfully.\r\nPlease scan for new plugins in your DAW.",
                        PRODUCT};

namespace {

const report UNINSTALLED = {L"Quenthalvox has been uninstalled from your computer.", PRODUCT};
const report INACCESSIBLE = {L"The installation folder was inaccessible. Quenthalvox could not be installed.", nullptr};
const report NO_FL_STUDIO = {
    L"No FL Studio installation was found. Make sure you have installed the latest version of FL Studio.", nullptr};
const report CORRUPTED = {L"The installer has been corrupted. Please download Quenthalvox again.", nullptr};

#define IN_USE L"The file is in use. Close every program that uses it, such as your DAW, and try again."
#define LINK_REFUSED L"Skipped: the folder is a link the installer does not follow."
const report SUCCESS_RESTART = {L"The installation finished successfully.\r\nPlease scan for new plugins in your DAW."
                                L"\r\nRestart your DAW to use the new version.",
                                PRODUCT};
// After a cancelled update of the FL Studio DLLs in `folder`: the CLAP files are new, the DLLs keep their build.
#define CLAP_ONLY_FL_KEPT(folder)                                                                             \
    {L"Only these files were installed:\r\n" CLAP64_FILE L"\r\n" CLAP32_FILE L"\r\n\r\nThese files keep their earlier " \
     L"version:\r\n" folder L"\\Quenthalvox_x64.dll\r\n" folder L"\\Quenthalvox.dll\r\n"                              \
     L"Run the installer again to update them, with your DAW closed.", PRODUCT}

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

const labels NO_HOST = {nullptr, nullptr, nullptr};

const std::vector<entry> FULL_INSTALL = {
    {CLAP64_FILE, content::marker}, {CLAP32_FILE, content::marker}, {FL64_FILE, content::marker},
    {FL32_FILE, content::marker},   {STANDALONE, content::marker},  {SHORTCUT, content::marker},
};

// An older install of the four plug-in files, and the new one over it.
const std::vector<entry> OLDER_INSTALL = {
    {CLAP64_FILE, content::marker}, {CLAP32_FILE, content::marker}, {FL64_FILE, content::marker},
    {FL32_FILE, content::marker}};
const std::vector<entry> NEW_INSTALL = {
    {CLAP64_FILE, content::build_cl64}, {CLAP32_FILE, content::build_cl32}, {FL64_FILE, content::build_fl64},
    {FL32_FILE, content::build_fl32}};
const std::vector<entry> NEW_CLAP_ONLY = {
    {CLAP64_FILE, content::build_cl64}, {CLAP32_FILE, content::build_cl32}, {FL64_FILE, content::marker},
    {FL32_FILE, content::marker}};

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
    // A file where the CLAP folder belongs: nothing can be installed there.
    {.name = L"install-clap64-blocked",
     .before = {{L"{S}\\Common Files\\CLAP", content::marker}},
     .steps = on_selection_page({INSTALL}),
     .reports = {{CLAP64_FILE L"\r\n\r\nThe installation folder was inaccessible. Quenthalvox could not be installed.",
                  nullptr, IDCANCEL},
                 {L"Quenthalvox was not installed.", PRODUCT}},
     .after = {{L"{S}\\Common Files\\CLAP", content::marker}},
     .exit_code = 4},
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
     .installer = installer_copy::corrupted,
     .steps = on_selection_page({INSTALL}),
     .reports = {CORRUPTED},
     .exit_code = 1},

    // Updates while a DAW holds a plug-in file, and on a full disk: the old
    // file stays whole unless the new one takes its place.
    {.name = L"update-loaded",
     .before = {{CLAP64_FILE, content::marker}, {CLAP32_FILE, content::marker}, {FL64_FILE, content::image},
                {FL32_FILE, content::marker}},
     .holds = {{FL64_FILE, L"load"}},
     .steps = on_selection_page({INSTALL}),
     .reports = {SUCCESS_RESTART},
     .after = plus(NEW_INSTALL, {{FL64_FILE L".old", content::image}})},
    {.name = L"update-locked-retry",
     .before = OLDER_INSTALL,
     .holds = {{FL64_FILE, L"lock"}},
     .steps = on_selection_page({INSTALL}),
     .reports = {{FL64_FILE L"\r\n\r\n" IN_USE, nullptr, IDRETRY, true}, SUCCESS},
     .after = NEW_INSTALL},
    {.name = L"update-locked-cancel",
     .before = OLDER_INSTALL,
     .holds = {{FL64_FILE, L"lock"}},
     .steps = on_selection_page({INSTALL}),
     .reports = {{FL64_FILE L"\r\n\r\n" IN_USE, nullptr, IDCANCEL}, CLAP_ONLY_FL_KEPT(FL_FOLDER)},
     .after = NEW_CLAP_ONLY,
     .exit_code = 4},
    {.name = L"update-disk-full", .small_drive = true,
     .fl_value = L"Q:\\FL Studio\\FL64.exe",
     .before = {{CLAP64_FILE, content::marker}, {CLAP32_FILE, content::marker},
                {SMALL_FL_FOLDER L"\\Quenthalvox_x64.dll", content::marker},
                {SMALL_FL_FOLDER L"\\Quenthalvox.dll", content::marker}},
     .selection_labels = {ALL_HOSTS[0], ALL_HOSTS[1], L"Target: " SMALL_FL_FOLDER},
     .steps = on_selection_page({INSTALL}),
     .reports = {{SMALL_FL_FOLDER L"\\Quenthalvox_x64.dll\r\n\r\nThere is not enough free disk space on that drive.",
                  nullptr, IDCANCEL},
                 CLAP_ONLY_FL_KEPT(SMALL_FL_FOLDER)},
     .after = {{CLAP64_FILE, content::build_cl64},
               {CLAP32_FILE, content::build_cl32},
               {SMALL_FL_FOLDER L"\\Quenthalvox_x64.dll", content::marker},
               {SMALL_FL_FOLDER L"\\Quenthalvox.dll", content::marker},
               {SMALL_FL_FOLDER L"\\Quenthalvox_x64.dll.new", content::absent}},
     .exit_code = 4},

    // Links a program of the user's planted at the FL plug-in folder and at the
    // maker's folder, to a folder of files of the same names: never followed.
    {.name = L"install-fl-link",
     .before = {{FL_FOLDER, content::link}, {ELSEWHERE L"\\Quenthalvox_x64.dll", content::marker},
                {ELSEWHERE L"\\Quenthalvox.dll", content::marker}},
     .steps = on_selection_page({INSTALL}),
     .reports = {{FL64_FILE L"\r\n\r\n" LINK_REFUSED, nullptr, IDCANCEL},
                 {L"Only these files were installed:\r\n" CLAP64_FILE L"\r\n" CLAP32_FILE L"\r\n\r\n" LINK_REFUSED L"\r\n"
                  FL64_FILE L"\r\n" FL32_FILE L"\r\n", PRODUCT}},
     .after = {{CLAP64_FILE, content::build_cl64}, {CLAP32_FILE, content::build_cl32}, {FL64_FILE, content::marker},
               {FL32_FILE, content::marker}, {ELSEWHERE L"\\Quenthalvox_x64.dll", content::marker},
               {ELSEWHERE L"\\Quenthalvox.dll", content::marker}},
     .exit_code = 4},
    {.name = L"uninstall-links",
     .before = {{FL_FOLDER, content::link}, {MAKER_FOLDER, content::link}, {FL64_FILE, content::marker},
                {FL32_FILE, content::marker}, {STANDALONE, content::marker}},
     .steps = on_selection_page({click(ID_UNINSTALL)}),
     .reports = {{L"These files could not be removed:\r\n" FL64_FILE L"\r\n" LINK_REFUSED L"\r\n" FL32_FILE
                  L"\r\n" LINK_REFUSED L"\r\n" STANDALONE L"\r\n" LINK_REFUSED L"\r\n", PRODUCT}},
     .after = {{FL64_FILE, content::marker}, {FL32_FILE, content::marker}, {STANDALONE, content::marker},
               {FL_FOLDER L"\\Quenthalvox Standalone.exe", content::marker},  // both links lead to one folder
               {ELSEWHERE L"\\Quenthalvox_x64.dll", content::marker}, {ELSEWHERE L"\\Quenthalvox.dll", content::marker},
               {ELSEWHERE L"\\Quenthalvox Standalone.exe", content::marker}},
     .exit_code = 5},

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

    // What a DAW holds goes at the next restart where it can be moved aside, and
    // is named as left where it cannot.
    {.name = L"uninstall-held",
     .before = {{CLAP64_FILE, content::marker}, {CLAP32_FILE, content::marker}, {FL64_FILE, content::marker},
                {FL32_FILE, content::image}},
     .holds = {{FL64_FILE, L"lock"}, {FL32_FILE, L"load"}},
     .steps = on_selection_page({click(ID_UNINSTALL)}),
     .reports = {{L"These files could not be removed:\r\n" FL64_FILE L"\r\n" IN_USE
                  L"\r\n\r\nThese files will be removed when you restart your computer:\r\n" FL32_FILE L"\r\n",
                  PRODUCT}},
     .after = {{L"{S}\\Common Files\\CLAP", content::folder},
               {L"{S}\\Common Files (x86)\\CLAP", content::folder},
               {FL64_FILE, content::marker},
               {FL32_FILE L".old", content::image},
               {MAKER_FOLDER, content::folder}},
     .exit_code = 5},

    // Every way of leaving the selection page without a run.
    {.name = L"selection-cancel", .steps = on_selection_page({click(IDCANCEL)})},
    {.name = L"selection-escape", .steps = on_selection_page({key(VK_ESCAPE)})},
    {.name = L"selection-close-box", .steps = on_selection_page({CLOSE_BOX})},
};

}  // namespace

void list_scenarios() {
    for (const scenario &s : SCENARIOS) std::printf("%ls%s\n", s.name, s.small_drive ? " --small-drive" : "");
}

const scenario *find_scenario(const std::wstring &name) {
    for (const scenario &s : SCENARIOS)
        if (name == s.name) return &s;
    return nullptr;
}

bool reaches_selection_page(const scenario &row) {
    return std::any_of(row.steps.begin(), row.steps.end(), [](const step &s) { return s.what == act::next_page; });
}

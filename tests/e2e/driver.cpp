// End-to-end test driver: runs the real installer under Wine and does what a
// person and an automation tool would do (find its windows, read controls,
// click, press keys), then checks every message box it saw, the disk, the
// registry and the installer's exit code. Every scenario is one row of
// SCENARIOS in scenarios.cpp; this runner plays them all: machine.cpp prepares
// the machine, desktop.cpp reads and works the windows, checks.cpp compares.
//
// Usage: e2e_driver <installer.exe> <scenario> [options]
//        e2e_driver --list   the scenarios' names, each with its runner options
//   --licence <file>    the licence text the edit box must hold
//   --builds <folder>   the plug-in builds the archive was packed from
//   --pool <file>       the packed pool and directory, to damage a copy of
//   --directory <file>  the installer inside its pool
//   --shot <path>       screenshot handshake: the driver writes a shot's name and
//                       the screen area to keep (WxH+X+Y) into <path>.shot and
//                       waits until the runner has removed it
// Exit code: 0 every check passed, 1 a check failed, 2 the run itself failed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checks.h"
#include "desktop.h"
#include "driver.h"
#include "machine.h"
#include "tests/page_controls.h"
#include "verdict.h"

using namespace page_controls;

options opts;
const scenario *row = nullptr;

namespace {

const DWORD WINDOW_TIMEOUT_MS = 30000, RUN_TIMEOUT_MS = 60000, MARQUEE_TIMEOUT_MS = 5000;

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

// Reads a message box, checks what every box of the installer is, and answers
// it as the scenario's report of that place says (OK where there is none).
seen_report take_message_box(HWND box, size_t index) {
    report expected = index < row->reports.size() ? row->reports[index] : report{L"", nullptr};
    WaitForInputIdle(child.hProcess, 2000);
    seen_report seen = {text_of(GetDlgItem(box, ID_HEADING)), text_of(box)};
    std::printf("message box: \"%s\" (caption \"%s\")\n", narrow(seen.text).c_str(), narrow(seen.caption).c_str());
    if (selection_page)
        check(GetWindow(box, GW_OWNER) == selection_page, "the message box is not owned by the selection page");
    std::vector<HWND> buttons;
    for (HWND control : children_in_order(box))
        if (_wcsicmp(class_of(control).c_str(), L"Button") == 0 && IsWindowVisible(control)) buttons.push_back(control);
    if (expected.answer == IDOK)
        check(buttons.size() == 1 && GetDlgCtrlID(buttons[0]) == IDOK, "the message box has more than an OK button");
    else
        check(buttons.size() == 2 && GetDlgCtrlID(buttons[0]) == IDRETRY && GetDlgCtrlID(buttons[1]) == IDCANCEL,
              "the message box does not offer Retry and Cancel");
    if (installing && seen.text == SUCCESS.text) check_marquee_stopped();
    if (expected.release) release_files();

    PostMessageW(GetDlgItem(box, expected.answer), BM_CLICK, 0, 0);
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
        if (HWND box = find_message_box()) seen.push_back(take_message_box(box, seen.size()));
        if (HWND unexpected = find_new_page()) {
            fail("an unexpected page is shown");
            selection_page = unexpected;
            click_button(unexpected, IDCANCEL);
        }
        Sleep(5);
    }
    if (!child_exited()) {
        fail("the installer did not exit within %lu ms", RUN_TIMEOUT_MS);
        end_installer();
        WaitForSingleObject(child.hProcess, WINDOW_TIMEOUT_MS);
    }
    poll();
    return seen;
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
    hold_files();
    watched_files = expected_builds();
    first_seen.assign(watched_files.size(), -1);
    start_installer(installer, environment_block());
    licence_page = page = wait_for_new_page();
    if (!page) {
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        fail("the licence page did not appear (installer %s, code %lu)", child_exited() ? "exited" : "still running",
             code);
        end_installer();
        return;
    }
    for (const step &s : row->steps) run_step(s);

    check_reports(run_to_the_end());
    release_files();
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    check(code == row->exit_code, "exit code %lu, expected %lu", code, row->exit_code);
    if (row->prefix_as_is) return;
    check_disk();
    check_write_order(watched_files, first_seen);
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
    if (argc == 2 && argv[1] == std::wstring(L"--list")) return list_scenarios(), 0;
    parse(argc, argv);
    row = find_scenario(opts.scenario);
    if (!row) abort_run("unknown scenario");

    play();
    release_files();
    if (child.hProcess) CloseHandle(child.hProcess);
    if (child.hThread) CloseHandle(child.hThread);
    std::printf("%s: %s\n", narrow(opts.scenario).c_str(), failure_count() ? "FAILED" : "passed");
    return failure_count() ? 1 : 0;
}

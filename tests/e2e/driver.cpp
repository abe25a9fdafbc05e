// End-to-end test driver: runs the real installer under Wine and does what a
// user and an automation tool would do (find its windows, read controls, click,
// press keys), then checks what it saw and the installer's exit code.
//
// Usage: e2e_driver <installer.exe> <scenario> [options]
//   --licence <file>      the licence text the edit box must hold
//   --shot <path>         once the page is up, create <path>.ready and wait for
//                         <path>.done (the runner takes a screenshot in between)
//   --env NAME=VALUE      set a variable in the installer's environment
//   --unset NAME          leave a variable out of the installer's environment
// Exit code: 0 every check passed, 1 a check failed, 2 the run itself failed.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t PAGE_CLASS[] = L"#32770";
const wchar_t PAGE_TITLE[] = L"Quenthalvox Plugin Installer";
const wchar_t PROMPT[] = L"To install Quenthalvox, you need to agree to the end-user license agreement.";
const int PAGE_WIDTH_DU = 309, PAGE_HEIGHT_DU = 192;
const int ID_TITLE = 3000, ID_UNINSTALL = 2000;
const DWORD WINDOW_TIMEOUT_MS = 30000, EXIT_TIMEOUT_MS = 15000, SHOT_TIMEOUT_MS = 30000;

struct options {
    std::wstring installer;
    std::wstring scenario;
    std::wstring licence_file;
    std::wstring shot;
    std::vector<std::wstring> set;    // NAME=VALUE
    std::vector<std::wstring> unset;  // NAME
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
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fail("%s", text);
    return false;
}

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    return out;
}

[[noreturn]] void abort_run(const char *what) {
    std::printf("ERROR: %s (last error %lu)\n", what, GetLastError());
    if (child.hProcess) TerminateProcess(child.hProcess, 99);
    std::exit(2);
}

// The environment block: the driver's own, with --unset names left out and
// --env values put in, sorted by name as the platform expects.
std::vector<wchar_t> environment_block() {
    std::vector<std::wstring> entries;
    wchar_t *own = GetEnvironmentStringsW();
    for (const wchar_t *p = own; *p; p += wcslen(p) + 1) entries.push_back(p);
    FreeEnvironmentStringsW(own);

    auto name_of = [](const std::wstring &entry) {
        size_t equals = entry.find(L'=', 1);  // "=C:=C:\..." entries start with '='
        return entry.substr(0, equals);
    };
    auto drop = [&](const std::wstring &name) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const std::wstring &e) { return _wcsicmp(name_of(e).c_str(), name.c_str()) == 0; }),
                      entries.end());
    };
    for (const std::wstring &name : opts.unset) drop(name);
    for (const std::wstring &entry : opts.set) {
        drop(name_of(entry));
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(), [&](const std::wstring &a, const std::wstring &b) {
        return _wcsicmp(name_of(a).c_str(), name_of(b).c_str()) < 0;
    });

    std::vector<wchar_t> block;
    for (const std::wstring &entry : entries) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    block.push_back(0);
    return block;
}

void start_installer() {
    std::wstring command_line = L"\"" + opts.installer + L"\"";
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(0);
    std::vector<wchar_t> environment = environment_block();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(opts.installer.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), nullptr, &startup, &child))
        abort_run("cannot start the installer");
}

bool child_exited() { return WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0; }

DWORD window_process(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

// A visible top-level "#32770" window of the installer with the given title,
// other than `except`.
HWND find_child_dialog(const wchar_t *title, HWND except = nullptr) {
    for (HWND window = FindWindowExW(nullptr, nullptr, PAGE_CLASS, title); window;
         window = FindWindowExW(nullptr, window, PAGE_CLASS, title)) {
        if (window != except && window_process(window) == child.dwProcessId && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

HWND wait_for_dialog(const wchar_t *title, HWND except = nullptr) {
    for (DWORD waited = 0; waited < WINDOW_TIMEOUT_MS; waited += 50) {
        HWND window = find_child_dialog(title, except);
        if (window) {
            WaitForInputIdle(child.hProcess, 5000);
            return window;
        }
        if (child_exited()) return nullptr;
        Sleep(50);
    }
    return nullptr;
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

// Any message box the installer shows: a "#32770" window of its process with
// the static text control 0xFFFF.
HWND find_message_box() {
    for (HWND window = FindWindowExW(nullptr, nullptr, PAGE_CLASS, nullptr); window;
         window = FindWindowExW(nullptr, window, PAGE_CLASS, nullptr)) {
        if (window_process(window) == child.dwProcessId && IsWindowVisible(window) && GetDlgItem(window, 0xFFFF))
            return window;
    }
    return nullptr;
}

void fail_on_message_box(const char *when) {
    HWND box = find_message_box();
    if (!box) return;
    fail("unexpected message box %s: \"%s\" (caption \"%s\")", when, narrow(text_of(GetDlgItem(box, 0xFFFF))).c_str(),
         narrow(text_of(box)).c_str());
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void expect_exit(DWORD expected) {
    if (WaitForSingleObject(child.hProcess, EXIT_TIMEOUT_MS) != WAIT_OBJECT_0) {
        fail_on_message_box("while waiting for the exit");
        fail("the installer did not exit within %lu ms", EXIT_TIMEOUT_MS);
        TerminateProcess(child.hProcess, 99);
        WaitForSingleObject(child.hProcess, EXIT_TIMEOUT_MS);
        return;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    check(code == expected, "exit code %lu, expected %lu", code, expected);
}

void take_screenshot() {
    if (opts.shot.empty()) return;
    HANDLE ready = CreateFileW((opts.shot + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready == INVALID_HANDLE_VALUE) abort_run("cannot signal the screenshot");
    CloseHandle(ready);
    std::wstring done = opts.shot + L".done";
    for (DWORD waited = 0; waited < SHOT_TIMEOUT_MS; waited += 50) {
        if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) return;
        Sleep(50);
    }
    abort_run("the runner took no screenshot");
}

void press_key(HWND page, WORD key) {
    SetForegroundWindow(page);
    SetFocus(page);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    check(SendInput(2, input, sizeof(INPUT)) == 2, "SendInput of key 0x%02X failed", key);
}

void click_button(HWND page, int id) {
    HWND button = GetDlgItem(page, id);
    if (!check(button != nullptr, "no button with id %d", id)) return;
    // Posted, so that a handler that runs a modal loop cannot block the driver.
    PostMessageW(button, BM_CLICK, 0, 0);
}

// The dialog's base units, derived from its client area: the platform's own
// mapping of the page's 309 x 192 units (MapDialogRect only works in-process).
struct base_units {
    int x, y;
};

base_units page_base_units(HWND page) {
    RECT client;
    GetClientRect(page, &client);
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

const expected_control LICENCE_PAGE[] = {
    {L"Static", 0, L"", 0, 0x50000006, 0, 0, 309, 19, 0},
    {L"Static", ID_TITLE, PAGE_TITLE, 0, 0x50020001, 0, 6, 309, 9, 0},
    // An etched line gets a static edge from its class, and Wine widens the
    // window by that edge.
    {L"Static", 0, L"", 0, 0x50000010, -5, 19, 319, 1, WS_EX_STATICEDGE},
    {L"Static", 0, PROMPT, 0, 0x50020000, 13, 28, 283, 13, 0},
    {L"Edit", 0, nullptr, WS_EX_STATICEDGE, 0x50210844, 19, 46, 271, 115, 0},
    {L"Button", IDCANCEL, L"&Cancel", 0, 0x50010000, 252, 172, 50, 14, 0},
    {L"Button", IDOK, L"&Agree", 0, 0x50010001, 198, 172, 50, 14, 0},
};
const int LICENCE_PAGE_CONTROLS = sizeof LICENCE_PAGE / sizeof LICENCE_PAGE[0];

std::wstring licence_text() {
    FILE *file = _wfopen(opts.licence_file.c_str(), L"rb");
    if (!file) abort_run("cannot read the licence file");
    std::wstring text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<wchar_t>(c);
    std::fclose(file);
    return text;
}

std::vector<HWND> children_in_order(HWND page) {
    std::vector<HWND> children;
    for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    return children;
}

void check_control(HWND page, HWND control, const expected_control &want, base_units units, int order) {
    std::string name = "control " + std::to_string(order + 1);
    check(_wcsicmp(class_of(control).c_str(), want.class_name) == 0, "%s: class \"%s\", expected \"%s\"", name.c_str(),
          narrow(class_of(control)).c_str(), narrow(want.class_name).c_str());
    int id = GetDlgCtrlID(control);
    check(id == want.id, "%s: id %d, expected %d", name.c_str(), id, want.id);

    std::wstring expected_text = want.text ? want.text : licence_text();
    std::wstring text = text_of(control);
    check(text == expected_text, "%s: text \"%s\" (%zu units), expected \"%s\" (%zu units)", name.c_str(),
          narrow(text.substr(0, 60)).c_str(), text.size(), narrow(expected_text.substr(0, 60)).c_str(),
          expected_text.size());

    DWORD style = GetWindowLongW(control, GWL_STYLE);
    DWORD ex_style = GetWindowLongW(control, GWL_EXSTYLE);
    DWORD added = ex_style & ~want.ex_style & (DIALOG_EX_STYLE | want.class_ex_style);
    check(style == want.style, "%s: style 0x%08lX, expected 0x%08lX", name.c_str(), style, want.style);
    check((ex_style & ~added) == want.ex_style, "%s: extended style 0x%08lX, expected 0x%08lX", name.c_str(), ex_style,
          want.ex_style);

    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT *>(&rect), 2);
    int left = MulDiv(want.x, units.x, 4), top = MulDiv(want.y, units.y, 8);
    int right = left + MulDiv(want.cx, units.x, 4), bottom = top + MulDiv(want.cy, units.y, 8);
    int slack = 1 + ((added & WS_EX_STATICEDGE) ? 2 * GetSystemMetrics(SM_CXEDGE) : 0);
    check(std::abs(rect.left - left) <= slack && std::abs(rect.top - top) <= slack &&
              std::abs(rect.right - right) <= slack && std::abs(rect.bottom - bottom) <= slack,
          "%s: at (%ld,%ld)-(%ld,%ld) px, expected (%d,%d)-(%d,%d)", name.c_str(), rect.left, rect.top, rect.right,
          rect.bottom, left, top, right, bottom);
}

void check_centred(HWND page) {
    RECT work, rect;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(page, &rect);
    int x = (work.left + work.right - (rect.right - rect.left)) / 2;
    int y = (work.top + work.bottom - (rect.bottom - rect.top)) / 2;
    check(std::abs(rect.left - x) <= 1 && std::abs(rect.top - y) <= 1,
          "page at (%ld,%ld), expected (%d,%d) to centre it on the work area (%ld,%ld)-(%ld,%ld)", rect.left, rect.top,
          x, y, work.left, work.top, work.right, work.bottom);
}

void check_licence_page(HWND page) {
    check(text_of(page) == PAGE_TITLE, "caption \"%s\"", narrow(text_of(page)).c_str());
    std::vector<HWND> children = children_in_order(page);
    if (!check(children.size() == LICENCE_PAGE_CONTROLS, "%zu controls, expected %d", children.size(),
               LICENCE_PAGE_CONTROLS))
        return;
    base_units units = page_base_units(page);
    for (int i = 0; i < LICENCE_PAGE_CONTROLS; ++i) check_control(page, children[i], LICENCE_PAGE[i], units, i);
    check_centred(page);

    HWND edit = children[4], cancel = children[5], agree = children[6];
    check(GetNextDlgTabItem(page, edit, FALSE) == cancel, "tab from the edit box does not reach Cancel");
    check(GetNextDlgTabItem(page, cancel, FALSE) == agree, "tab from Cancel does not reach Agree");
    check(GetNextDlgTabItem(page, agree, FALSE) == edit, "tab from Agree does not return to the edit box");

    LRESULT default_id = SendMessageW(page, DM_GETDEFID, 0, 0);
    check(HIWORD(default_id) == DC_HASDEFID && LOWORD(default_id) == IDOK, "default button 0x%08lX, expected Agree",
          static_cast<unsigned long>(default_id));

    // More lines than the text's 18 means the long clauses are wrapped.
    LRESULT lines = SendMessageW(edit, EM_GETLINECOUNT, 0, 0);
    check(lines > 18, "the edit box shows %ld lines: the clauses are not wrapped", static_cast<long>(lines));

    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(page, nullptr), &gui);
    check(gui.hwndFocus == edit, "the focus is not on the edit box");
}

HWND open_licence_page() {
    start_installer();
    HWND page = wait_for_dialog(PAGE_TITLE);
    if (!page) {
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        fail("the licence page did not appear (installer %s, code %lu)", child_exited() ? "exited" : "still running",
             code);
        if (!child_exited()) TerminateProcess(child.hProcess, 99);
        return nullptr;
    }
    take_screenshot();
    return page;
}

void wait_until_gone(HWND page) {
    for (DWORD waited = 0; waited < WINDOW_TIMEOUT_MS && IsWindow(page); waited += 50) Sleep(50);
    check(!IsWindow(page), "the licence page is still open");
}

// Agree is accepted: the licence page closes, then either the process ends with
// 0 or the next page comes up (and is cancelled).
void expect_accepted(HWND page) {
    wait_until_gone(page);
    HWND next = wait_for_dialog(PAGE_TITLE, page);
    if (next) {
        check(GetDlgItem(next, ID_UNINSTALL) != nullptr, "the page after Agree is not the selection page");
        click_button(next, IDCANCEL);
    } else {
        fail_on_message_box("after Agree");
    }
    expect_exit(0);
}

void scenario_page(HWND page) {
    check_licence_page(page);
    click_button(page, IDCANCEL);
    wait_until_gone(page);
    expect_exit(0);
}

void scenario_cancel(HWND page) {
    click_button(page, IDCANCEL);
    wait_until_gone(page);
    expect_exit(0);
}

void scenario_escape(HWND page) {
    press_key(page, VK_ESCAPE);
    wait_until_gone(page);
    expect_exit(0);
}

void scenario_sc_close(HWND page) {
    PostMessageW(page, WM_SYSCOMMAND, SC_CLOSE, 0);
    wait_until_gone(page);
    expect_exit(0);
}

void scenario_wm_close(HWND page) {
    PostMessageW(page, WM_CLOSE, 0, 0);
    wait_until_gone(page);
    expect_exit(0);
}

// Finds the close box by asking the page itself what lies under each point of
// its caption row, right to left.
bool find_close_box(HWND page, POINT &where) {
    RECT rect;
    GetWindowRect(page, &rect);
    int caption = GetSystemMetrics(SM_CYCAPTION);
    for (int y = rect.top + caption / 2; y < rect.top + caption * 2; y += 2) {
        for (int x = rect.right - 1; x > rect.right - caption * 4; --x) {
            if (SendMessageW(page, WM_NCHITTEST, 0, MAKELPARAM(x, y)) != HTCLOSE) continue;
            where = {x - 3, y};
            return true;
        }
    }
    return false;
}

// A real mouse click on the caption's close button.
void scenario_close_box(HWND page) {
    POINT where = {};
    if (!check(find_close_box(page, where), "the page has no close box")) {
        TerminateProcess(child.hProcess, 99);
        return;
    }
    SetForegroundWindow(page);
    INPUT input[3] = {};
    for (INPUT &i : input) i.type = INPUT_MOUSE;
    input[0].mi.dx = MulDiv(where.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    input[0].mi.dy = MulDiv(where.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    check(SendInput(3, input, sizeof(INPUT)) == 3, "SendInput of the click failed");
    wait_until_gone(page);
    expect_exit(0);
}

void scenario_agree(HWND page) {
    click_button(page, IDOK);
    expect_accepted(page);
}

void scenario_enter(HWND page) {
    press_key(page, VK_RETURN);
    expect_accepted(page);
}

struct scenario {
    const wchar_t *name;
    void (*run)(HWND page);
};

const scenario SCENARIOS[] = {
    {L"page", scenario_page},         {L"cancel", scenario_cancel},     {L"escape", scenario_escape},
    {L"sc-close", scenario_sc_close}, {L"wm-close", scenario_wm_close}, {L"close-box", scenario_close_box},
    {L"agree", scenario_agree},       {L"enter", scenario_enter},
};

void parse(int argc, wchar_t **argv) {
    if (argc < 3) abort_run("usage: e2e_driver <installer.exe> <scenario> [options]");
    opts.installer = argv[1];
    opts.scenario = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        std::wstring option = argv[i], value = argv[i + 1];
        if (option == L"--licence") opts.licence_file = value;
        else if (option == L"--shot") opts.shot = value;
        else if (option == L"--env") opts.set.push_back(value);
        else if (option == L"--unset") opts.unset.push_back(value);
        else abort_run("unknown option");
    }
    if (argc % 2 == 0) abort_run("an option lacks its value");
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    parse(argc, argv);
    const scenario *chosen = nullptr;
    for (const scenario &s : SCENARIOS)
        if (opts.scenario == s.name) chosen = &s;
    if (!chosen) abort_run("unknown scenario");
    if (opts.licence_file.empty() && chosen->run == scenario_page) abort_run("the page scenario needs --licence");

    HWND page = open_licence_page();
    if (page) chosen->run(page);
    if (child.hProcess) CloseHandle(child.hProcess);
    if (child.hThread) CloseHandle(child.hThread);
    std::printf("%s: %s\n", narrow(opts.scenario).c_str(), failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}

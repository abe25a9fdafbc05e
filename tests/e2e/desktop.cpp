#include "desktop.h"

#include <algorithm>
#include <cstdio>

#include "driver.h"
#include "machine.h"
#include "tests/page_controls.h"
#include "verdict.h"

PROCESS_INFORMATION child = {};
HWND licence_page = nullptr, selection_page = nullptr, page = nullptr;

namespace {

const wchar_t PAGE_CLASS[] = L"#32770";
const DWORD WINDOW_TIMEOUT_MS = 30000, SHOT_TIMEOUT_MS = 30000;

DWORD window_process(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process;
}

bool known_page(HWND window) { return window == licence_page || window == selection_page; }

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

// The current page and any message box in front of it, on the screen.
RECT shot_area() {
    RECT area = {}, box = {};
    GetWindowRect(page, &area);
    if (HWND message_box = find_message_box()) {
        GetWindowRect(message_box, &box);
        UnionRect(&area, &area, &box);
    }
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&area, &area, &screen);
    return area;
}

}  // namespace

void start_installer(const std::wstring &installer, std::vector<wchar_t> environment) {
    std::wstring command_line = L"\"" + installer + L"\"";
    std::vector<wchar_t> line(command_line.begin(), command_line.end());
    line.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(installer.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.empty() ? nullptr : environment.data(), nullptr, &startup, &child))
        abort_run("cannot start the installer");
}

bool child_exited() { return WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0; }

void end_installer() {
    if (child.hProcess) TerminateProcess(child.hProcess, 99);
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

std::vector<HWND> children_in_order(HWND window) {
    std::vector<HWND> children;
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    return children;
}

HWND focus_of(HWND window) {
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui);
    return gui.hwndFocus;
}

// A visible "#32770" window of the installer titled as its pages.
HWND find_new_page() {
    for (HWND window = FindWindowExW(nullptr, nullptr, PAGE_CLASS, page_controls::TITLE); window;
         window = FindWindowExW(nullptr, window, PAGE_CLASS, page_controls::TITLE)) {
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
            GetDlgItem(window, page_controls::ID_HEADING) && text_of(window) != page_controls::TITLE)
            return window;
    }
    return nullptr;
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

void take_screenshot(const wchar_t *suffix) {
    if (opts.shot.empty()) return;
    RECT area = shot_area();
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, " %ldx%ld+%ld+%ld", area.right - area.left, area.bottom - area.top,
                  area.left, area.top);
    std::string request_text = narrow(opts.scenario + suffix) + geometry;
    std::wstring request = opts.shot + L".shot", scratch = request + L".tmp";
    write_file(scratch, request_text.data(), request_text.size());
    if (!MoveFileExW(scratch.c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) abort_run("cannot ask for a shot");
    for (DWORD waited = 0; waited < SHOT_TIMEOUT_MS; waited += 20) {
        if (!exists(request)) return;
        Sleep(20);
    }
    abort_run("the runner took no screenshot");
}

#include "checks.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "desktop.h"
#include "driver.h"
#include "machine.h"
#include "tests/page_controls.h"
#include "verdict.h"

using namespace page_controls;

namespace {

struct base_units {
    int x, y;
};

// The dialog's base units, derived from its client area: the platform's own
// mapping of the page's 309 x 192 units (MapDialogRect only works in-process).
base_units page_base_units(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    base_units units = {(client.right * 4 + WIDTH / 2) / WIDTH, (client.bottom * 8 + HEIGHT / 2) / HEIGHT};
    check(std::abs(MulDiv(WIDTH, units.x, 4) - client.right) <= 1 &&
              std::abs(MulDiv(HEIGHT, units.y, 8) - client.bottom) <= 1,
          "client area %ldx%ld is not 309x192 dialog units in any whole base units", client.right, client.bottom);
    return units;
}

std::wstring licence_text() {
    std::vector<char> bytes = read_file(opts.licence_file);
    if (bytes.empty()) abort_run("cannot read the licence file (--licence)");
    return std::wstring(bytes.begin(), bytes.end());
}

bool is_push_button(int id) { return id == IDOK || id == IDCANCEL || id == ID_UNINSTALL; }

// The dialog manager creates every control with this extended style.
const DWORD DIALOG_EX_STYLE = WS_EX_NOPARENTNOTIFY;

// Extended style a control's class may give itself under Wine: an etched line
// and a progress bar get a static edge, and Wine widens the line by it.
DWORD class_ex_style(const control &want) {
    bool etched = _wcsicmp(want.class_name, L"Static") == 0 && (want.style & SS_TYPEMASK) == SS_ETCHEDHORZ;
    return etched || _wcsicmp(want.class_name, L"msctls_progress32") == 0 ? WS_EX_STATICEDGE : 0;
}

void check_control(HWND window, HWND item, const control &want, const std::wstring &expected_text, base_units units,
                   int order) {
    std::string name = "control " + std::to_string(order + 1);
    check(_wcsicmp(class_of(item).c_str(), want.class_name) == 0, "%s: class \"%s\", expected \"%s\"", name.c_str(),
          narrow(class_of(item)).c_str(), narrow(want.class_name).c_str());
    int id = GetDlgCtrlID(item);
    check(id == want.id, "%s: id %d, expected %d", name.c_str(), id, want.id);

    std::wstring text = text_of(item);
    check(text == expected_text, "%s: text \"%s\" (%zu units), expected \"%s\" (%zu units)", name.c_str(),
          narrow(text.substr(0, 300)).c_str(), text.size(), narrow(expected_text.substr(0, 300)).c_str(),
          expected_text.size());

    // Enabled state is checked on its own; the dialog manager moves the
    // default-button look to whichever push button has the focus.
    DWORD varying = WS_DISABLED | (is_push_button(want.id) ? BS_DEFPUSHBUTTON : 0);
    DWORD style = GetWindowLongW(item, GWL_STYLE);
    DWORD ex_style = GetWindowLongW(item, GWL_EXSTYLE);
    DWORD added = ex_style & ~want.ex_style & (DIALOG_EX_STYLE | class_ex_style(want));
    check((style & ~varying) == (want.style & ~varying), "%s: style 0x%08lX, expected 0x%08lX", name.c_str(), style,
          want.style);
    check((ex_style & ~added) == want.ex_style, "%s: extended style 0x%08lX, expected 0x%08lX", name.c_str(), ex_style,
          want.ex_style);

    RECT rect;
    GetWindowRect(item, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&rect), 2);
    int left = MulDiv(want.x, units.x, 4), top = MulDiv(want.y, units.y, 8);
    int right = left + MulDiv(want.cx, units.x, 4), bottom = top + MulDiv(want.cy, units.y, 8);
    int slack = 1 + ((added & WS_EX_STATICEDGE) ? 2 * GetSystemMetrics(SM_CXEDGE) : 0);
    check(std::abs(rect.left - left) <= slack && std::abs(rect.top - top) <= slack &&
              std::abs(rect.right - right) <= slack && std::abs(rect.bottom - bottom) <= slack,
          "%s: at (%ld,%ld)-(%ld,%ld) px, expected (%d,%d)-(%d,%d)", name.c_str(), rect.left, rect.top, rect.right,
          rect.bottom, left, top, right, bottom);
}

// `open_texts` fill, in order, the texts the description leaves to the
// machine. Returns the children when the page has the expected number of
// controls.
std::vector<HWND> check_controls(HWND window, const control *want, size_t count,
                                 const std::vector<std::wstring> &open_texts) {
    check(text_of(window) == TITLE, "caption \"%s\"", narrow(text_of(window)).c_str());
    std::vector<HWND> children = children_in_order(window);
    if (!check(children.size() == count, "%zu controls, expected %zu", children.size(), count)) return {};
    base_units units = page_base_units(window);
    size_t open = 0;
    for (size_t i = 0; i < count; ++i)
        check_control(window, children[i], want[i], want[i].text ? want[i].text : open_texts.at(open++), units, int(i));

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

}  // namespace

void check_licence_page() {
    std::vector<HWND> children = check_controls(page, LICENCE_PAGE, std::size(LICENCE_PAGE), {licence_text()});
    if (children.empty()) return;
    HWND edit = children[LICENCE_BOX];
    check_tab_order(page, {edit, GetDlgItem(page, IDCANCEL), GetDlgItem(page, IDOK)});

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
    std::vector<std::wstring> labels;
    for (const wchar_t *label : row->selection_labels) labels.push_back(label ? expand(label) : NOT_AVAILABLE);
    if (check_controls(selection_page, SELECTION_PAGE, std::size(SELECTION_PAGE), labels).empty()) return;

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

namespace {

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
    } else if (what == content::image) {
        want = read_file(holder_program());
    } else {
        if (opts.builds.empty()) abort_run("this scenario needs --builds");
        want = read_file(opts.builds + L"\\" + build_name(what));
        if (want.empty()) abort_run("cannot read a build");
    }
    check(bytes == want, "%s holds %zu bytes that are not the expected %zu", name.c_str(), bytes.size(), want.size());
}

FILETIME last_write(const std::wstring &path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

}  // namespace

std::vector<std::wstring> expected_builds() {
    std::vector<std::wstring> builds;
    for (const entry &e : row->after)
        if (build_name(e.what)) builds.push_back(expand(e.path));
    return builds;
}

void check_disk() {
    std::vector<std::wstring> found = scenario_tree(), expected;
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

// The builds were written in the table's order: no file appeared, or was last
// written, before one that precedes it. (Two seen in the same poll with the
// same time stamp tell nothing either way.)
void check_write_order(const std::vector<std::wstring> &files, const std::vector<int> &first_seen) {
    for (size_t i = 0; i + 1 < files.size(); ++i) {
        const std::wstring &earlier = files[i], &later = files[i + 1];
        if (first_seen[i] < 0 || first_seen[i + 1] < 0) continue;  // missing files are reported on their own
        check(first_seen[i] <= first_seen[i + 1], "%s appeared before %s", narrow(later).c_str(),
              narrow(earlier).c_str());
        FILETIME a = last_write(earlier), b = last_write(later);
        check(CompareFileTime(&a, &b) <= 0, "%s was written after %s", narrow(earlier).c_str(), narrow(later).c_str());
    }
}

void check_reports(const std::vector<seen_report> &seen) {
    wchar_t error_caption[64] = {};
    // The caption a message box gets without one of its own.
    LoadStringW(GetModuleHandleW(L"user32.dll"), 2, error_caption, 64);
    bool same = seen.size() == row->reports.size();
    for (size_t i = 0; same && i < seen.size(); ++i)
        same = seen[i].text == expand(row->reports[i].text) &&
               seen[i].caption == (row->reports[i].caption ? row->reports[i].caption : error_caption);
    if (same) return;
    fail("%zu message boxes, expected %zu:", seen.size(), row->reports.size());
    for (const report &r : row->reports)
        std::printf("  expected: \"%s\" (caption \"%s\")\n", narrow(expand(r.text)).c_str(),
                    narrow(r.caption ? r.caption : error_caption).c_str());
}

void check_registry() {
    HKEY key = open_fl_key(false);
    if (!reaches_selection_page(*row)) {
        if (key) RegCloseKey(key);
        return;
    }
    // Looking for FL Studio leaves its key behind, even on a machine without it.
    if (!check(key != nullptr, "the key HKCU\\%s is missing", narrow(FL_KEY).c_str())) return;
    wchar_t value[600] = {};
    DWORD size = sizeof value;
    LSTATUS status = RegGetValueW(key, nullptr, FL_VALUE_NAME, RRF_RT_REG_SZ, nullptr, value, &size);
    RegCloseKey(key);
    if (fl_value().empty()) check(status == ERROR_FILE_NOT_FOUND, "FL Studio's value has appeared");
    else check(status == ERROR_SUCCESS && fl_value() == value, "FL Studio's value has changed");
}


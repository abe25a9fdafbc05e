#include "fake.h"

#include <cstring>

#include <winternl.h>

namespace fake {

User user;

namespace {

const uintptr_t DIALOG_HANDLE_STEP = 0x10000;
HMODULE const user32_module = reinterpret_cast<HMODULE>(0x7700);
HMODULE const kernel32_module = reinterpret_cast<HMODULE>(0x7800);
HMODULE const ntdll_module = reinterpret_cast<HMODULE>(0x7900);
HMONITOR const primary_monitor = reinterpret_cast<HMONITOR>(0x3000);
const DWORD ICC_PROGRESS_CLASS = 0x20;
const UINT SWP_NOMOVE = 0x0002;
// Further than any template could reach: the product's buffer is 0x1010000 bytes.
const size_t TEMPLATE_LIMIT = 0x1010000;

// Reads a template at byte offsets from its start, failing loudly on anything
// the platform would reject or read past.
struct TemplateReader {
    const BYTE *base;
    size_t at = 0;

    void need(size_t bytes) const {
        if (at + bytes > TEMPLATE_LIMIT) throw BadTemplate("template runs past any buffer");
    }
    BYTE u8() {
        need(1);
        return base[at++];
    }
    WORD u16() {
        BYTE low = u8();
        return WORD(low | u8() << 8);
    }
    DWORD u32() {
        WORD low = u16();
        return DWORD(low) | DWORD(u16()) << 16;
    }
    short s16() { return static_cast<short>(u16()); }
    std::u16string wide() {
        std::u16string text;
        for (WORD unit = u16(); unit; unit = u16()) text += char16_t(unit);
        return text;
    }
    NameOrOrdinal name_or_ordinal() {
        need(2);
        if (base[at] == 0xFF && base[at + 1] == 0xFF) {
            at += 2;
            return NameOrOrdinal{u16(), {}};
        }
        return NameOrOrdinal{std::nullopt, wide()};
    }
    void align(const char *what) {
        while (at % 4)
            if (u8() != 0) throw BadTemplate(std::string("non-zero padding before ") + what);
    }
};

std::string number(long long value) { return std::to_string(value); }

bool same_ascii_ignoring_case(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] >= u'a' && a[i] <= u'z' ? char16_t(a[i] - 32) : a[i];
        char16_t y = b[i] >= u'a' && b[i] <= u'z' ? char16_t(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

void read_header(TemplateReader &reader, Dialog &dialog) {
    if (reader.u16() != 1) throw BadTemplate("dlgVer is not 1");
    if (reader.u16() != 0xFFFF) throw BadTemplate("signature is not 0xFFFF");
    reader.u32();  // helpID
    dialog.ex_style = reader.u32();
    dialog.style = reader.u32();
    dialog.declared_items = reader.u16();
    dialog.x = reader.s16();
    dialog.y = reader.s16();
    dialog.cx = reader.s16();
    dialog.cy = reader.s16();
    NameOrOrdinal menu = reader.name_or_ordinal();
    NameOrOrdinal window_class = reader.name_or_ordinal();
    if (menu.ordinal || !menu.name.empty()) throw BadTemplate("the pages have no menu");
    if (window_class.ordinal || !window_class.name.empty()) throw BadTemplate("the pages use the dialog class");
    dialog.title = reader.wide();
    if (!(dialog.style & DS_SETFONT)) return;
    dialog.point_size = reader.u16();
    reader.u16();  // weight
    reader.u8();   // italic
    reader.u8();   // character set
    dialog.typeface = reader.wide();
}

Control read_item(TemplateReader &reader) {
    reader.align("an item");
    Control control{};
    reader.u32();  // helpID
    control.ex_style = reader.u32();
    control.style = reader.u32();
    control.x = reader.s16();
    control.y = reader.s16();
    control.cx = reader.s16();
    control.cy = reader.s16();
    control.id = reader.u32();
    control.class_name = reader.name_or_ordinal();
    control.text = reader.name_or_ordinal();
    WORD extra = reader.u16();
    reader.need(extra);
    reader.at += extra;
    control.enabled = true;
    return control;
}

HWND handle(uintptr_t value) { return reinterpret_cast<HWND>(value); }

Dialog *find_dialog(HWND window) {
    for (Dialog &dialog : user.dialogs)
        if (dialog.window == window) return &dialog;
    return nullptr;
}

Dialog *owner_of(HWND control) {
    for (Dialog &dialog : user.dialogs)
        for (Control &each : dialog.controls)
            if (each.window == control) return &dialog;
    return nullptr;
}

bool class_exists(const Control &control) {
    if (control.class_name.ordinal) return *control.class_name.ordinal >= 0x80 && *control.class_name.ordinal <= 0x85;
    for (const char16_t *name : {u"BUTTON", u"EDIT", u"STATIC", u"LISTBOX", u"SCROLLBAR", u"COMBOBOX"})
        if (same_ascii_ignoring_case(control.class_name.name, name)) return true;
    // The common controls exist only once they have been initialised.
    bool progress = user.common_controls && user.common_controls->dwSize == sizeof(INITCOMMONCONTROLSEX) &&
                    (user.common_controls->dwICC & ICC_PROGRESS_CLASS);
    return progress && same_ascii_ignoring_case(control.class_name.name, u"msctls_progress32");
}

Dialog &create_dialog(LPCDLGTEMPLATEW dialog_template) {
    const BYTE *base = reinterpret_cast<const BYTE *>(dialog_template);
    if (!base) throw BadTemplate("no template");
    if (reinterpret_cast<uintptr_t>(base) % 4) throw BadTemplate("template not on a 4-byte boundary in memory");
    Dialog &dialog = user.dialogs.emplace_back();
    dialog.window = handle(DIALOG_HANDLE_STEP * user.dialogs.size());
    TemplateReader reader{base};
    read_header(reader, dialog);
    for (WORD i = 0; i < dialog.declared_items; ++i) {
        dialog.controls.push_back(read_item(reader));
        dialog.controls.back().window = handle(DIALOG_HANDLE_STEP * user.dialogs.size() + i + 1);
    }
    dialog.template_size = reader.at;
    return dialog;
}

bool can_create(const Dialog &dialog) {
    if (user.fail_dialog == user.dialogs.size()) return false;
    for (const Control &control : dialog.controls)
        if (!class_exists(control)) return false;
    return true;
}

HWND first_tab_stop(const Dialog &dialog) {
    for (const Control &control : dialog.controls)
        if (control.style & WS_TABSTOP) return control.window;
    return nullptr;
}

// A modal loop has nobody left to close it once the script has returned,
// unless a worker thread still has to run.
void run_script(Dialog &dialog) {
    if (user.scripts.empty())
        throw StuckDialog("dialog \"" + narrow(dialog.title) + "\" opened with no script to drive it");
    std::function<void(HWND)> script = std::move(user.scripts.front());
    user.scripts.pop_front();
    script(dialog.window);
    if (!dialog.result) run_threads();
    if (!dialog.result) throw StuckDialog("dialog \"" + narrow(dialog.title) + "\" still open after its script");
}

struct RunningFlag {
    Dialog &dialog;
    explicit RunningFlag(Dialog &d) : dialog(d) { dialog.running = true; }
    ~RunningFlag() { dialog.running = false; }
};

LRESULT control_message(Control &control, UINT message, WPARAM wparam) {
    switch (message) {
    case BM_SETCHECK:
        control.checked = wparam;
        return 0;
    case BM_GETCHECK:
        return LRESULT(control.checked);
    case PBM_SETMARQUEE:
        control.marquee = wparam != 0;
        return TRUE;
    }
    return 0;
}

LRESULT window_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (Control *control = control_of(window)) return control_message(*control, message, wparam);
    if (find_dialog(window)) return deliver(window, message, wparam, lparam);
    return 0;
}

BOOL WINAPI set_dpi_awareness_context(DPI_AWARENESS_CONTEXT context) {
    log_call("SetProcessDpiAwarenessContext " + number(reinterpret_cast<intptr_t>(context)));
    user.dpi_contexts.push_back(context);
    return TRUE;
}

}  // namespace

bool Control::is_class(std::u16string_view name, WORD ordinal) const {
    return class_name.ordinal ? *class_name.ordinal == ordinal : same_ascii_ignoring_case(class_name.name, name);
}

bool Control::is_auto_check_box() const { return is_class(u"BUTTON", 0x80) && (style & 0xF) == BS_AUTOCHECKBOX; }

Control *Dialog::control(DWORD id) {
    for (Control &each : controls)
        if (each.id == id) return &each;
    return nullptr;
}

const Control *Dialog::control(DWORD id) const { return const_cast<Dialog *>(this)->control(id); }

Dialog *running_dialog() {
    for (auto dialog = user.dialogs.rbegin(); dialog != user.dialogs.rend(); ++dialog)
        if (dialog->running) return &*dialog;
    return nullptr;
}

Dialog &dialog_of(HWND window) {
    Dialog *dialog = find_dialog(window);
    if (!dialog) throw std::logic_error("no dialog with this window");
    return *dialog;
}

Control *control_of(HWND window) {
    Dialog *dialog = owner_of(window);
    if (!dialog) return nullptr;
    for (Control &each : dialog->controls)
        if (each.window == window) return &each;
    return nullptr;
}

INT_PTR deliver(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Dialog *dialog = find_dialog(window);
    // An ended dialog has left its message loop: nothing reaches it any more.
    if (!dialog || !dialog->running || dialog->result) return 0;
    return dialog->procedure(window, message, wparam, lparam);
}

INT_PTR send_command(HWND dialog, DWORD id, WORD code) {
    Control *control = dialog_of(dialog).control(id);
    LPARAM from = control ? reinterpret_cast<LPARAM>(control->window) : 0;
    return deliver(dialog, WM_COMMAND, WPARAM(WORD(id)) | WPARAM(code) << 16, from);
}

bool click(HWND dialog, DWORD id) {
    Dialog &target = dialog_of(dialog);
    Control *control = target.control(id);
    if (!target.running || target.result || !control || !control->enabled) return false;
    if (control->is_auto_check_box()) control->checked = control->checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    send_command(dialog, id, BN_CLICKED);
    return true;
}

bool press_escape(HWND dialog) {
    Dialog &target = dialog_of(dialog);
    // Wine's dialog manager sends IDCANCEL for Escape even while the Cancel
    // button is disabled; the page has to ignore it itself.
    if (!target.running || target.result) return false;
    send_command(dialog, IDCANCEL, BN_CLICKED);
    return true;
}

bool press_enter(HWND dialog) {
    Dialog &target = dialog_of(dialog);
    for (Control &control : target.controls)
        if (control.is_class(u"BUTTON", 0x80) && (control.style & 0xF) == BS_DEFPUSHBUTTON)
            return click(dialog, control.id);
    if (!target.running || target.result) return false;
    send_command(dialog, IDOK, BN_CLICKED);
    return true;
}

void run_threads() {
    while (!user.threads.empty()) {
        PendingThread thread = user.threads.front();
        user.threads.erase(user.threads.begin());
        thread.start(thread.parameter);
    }
}

void reset_user() { user = User{}; }

}  // namespace fake

using namespace fake;

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialog_template, HWND owner,
                                       DLGPROC dialog_proc, LPARAM init_param) {
    log_call("DialogBoxIndirectParamW");
    Dialog &dialog = create_dialog(dialog_template);
    dialog.instance = instance;
    dialog.owner = owner;
    dialog.procedure = dialog_proc;
    dialog.init_param = init_param;
    if (!dialog_proc) throw BadTemplate("no dialog procedure");
    if (!can_create(dialog)) return -1;
    RunningFlag running(dialog);
    dialog.init_result = dialog_proc(dialog.window, WM_INITDIALOG, reinterpret_cast<WPARAM>(first_tab_stop(dialog)),
                                     init_param);
    if (!dialog.result) run_script(dialog);
    return *dialog.result;
}

BOOL WINAPI EndDialog(HWND window, INT_PTR result) {
    log_call("EndDialog " + number(result));
    Dialog *dialog = find_dialog(window);
    if (!dialog || !dialog->running) return FALSE;
    dialog->result = result;
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND window, int id) {
    log_call("GetDlgItem " + number(id));
    Dialog *dialog = find_dialog(window);
    Control *control = dialog ? dialog->control(DWORD(id)) : nullptr;
    return control ? control->window : nullptr;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    Control *control = control_of(window);
    log_call("EnableWindow " + (control ? number(control->id) : std::string("?")) + " " + number(enable != 0));
    if (!control) return FALSE;
    BOOL was_disabled = !control->enabled;
    control->enabled = enable != 0;
    return was_disabled;
}

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Control *control = control_of(window);
    log_call("SendMessageW " + (control ? number(control->id) : std::string("dialog")) + " " + number(message) + " " +
             number(LONG_PTR(wparam)));
    return window_message(window, message, wparam, lparam);
}

// The dialog thread would take the message from its queue at once; the
// simulation applies it on the spot.
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Control *control = control_of(window);
    log_call("PostMessageW " + (control ? number(control->id) : std::string("dialog")) + " " + number(message) + " " +
             number(LONG_PTR(wparam)));
    if (!control && !find_dialog(window)) return FALSE;
    window_message(window, message, wparam, lparam);
    return TRUE;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND window, int index) {
    log_call("GetWindowLongPtrW " + number(index));
    Control *control = control_of(window);
    if (!control) return 0;
    return index == GWLP_ID ? LONG_PTR(control->id) : index == GWL_STYLE && !control->enabled ? WS_DISABLED : 0;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    log_call("GetWindowRect");
    Control *control = control_of(window);
    Dialog *dialog = control ? owner_of(window) : find_dialog(window);
    if (!dialog) return FALSE;
    int left = dialog->left, top = dialog->top;
    int cx = dialog->cx, cy = dialog->cy;
    if (control) {
        left += control->x * user.base_x / 4;
        top += control->y * user.base_y / 8;
        cx = control->cx;
        cy = control->cy;
    }
    *rect = RECT{left, top, left + (cx * user.base_x + 2) / 4, top + (cy * user.base_y + 4) / 8};
    return TRUE;
}

HMONITOR WINAPI MonitorFromWindow(HWND, DWORD flags) {
    log_call("MonitorFromWindow " + number(flags));
    return primary_monitor;
}

BOOL WINAPI GetMonitorInfoW(HMONITOR monitor, LPMONITORINFO info) {
    log_call("GetMonitorInfoW");
    if (monitor != primary_monitor || !info || info->cbSize != sizeof(MONITORINFO) || user.monitor_info_fails)
        return FALSE;
    info->rcMonitor = user.monitor_area;
    info->rcWork = user.work_area;
    info->dwFlags = 1;  // MONITORINFOF_PRIMARY
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
    log_call("SetWindowPos " + number(x) + " " + number(y));
    user.placements.push_back(WindowPlacement{window, insert_after, x, y, cx, cy, flags});
    Dialog *dialog = find_dialog(window);
    if (!dialog) return FALSE;
    if (!(flags & SWP_NOMOVE)) {
        dialog->left = x;
        dialog->top = y;
    }
    return TRUE;
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *init) {
    log_call("InitCommonControlsEx " + number(init->dwSize) + " " + number(init->dwICC));
    user.common_controls = *init;
    return init->dwSize == sizeof(INITCOMMONCONTROLSEX);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) {
    std::u16string text = u16(name);
    log_call("GetModuleHandleW", text);
    if (same_ascii_ignoring_case(text, u"ntdll.dll")) return ntdll_module;
    if (same_ascii_ignoring_case(text, u"user32.dll")) return user32_module;
    return same_ascii_ignoring_case(text, u"kernel32.dll") ? kernel32_module : nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    log_call(std::string("GetProcAddress ") + name);
    auto as_farproc = [](auto function) { return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function)); };
    if (module == user32_module && user.has_dpi_function && std::strcmp(name, "SetProcessDpiAwarenessContext") == 0)
        return as_farproc(&set_dpi_awareness_context);
    // A system old enough to lack the one lacks the other too.
    if (module == kernel32_module && user.has_dll_directories_function) {
        if (!std::strcmp(name, "SetDefaultDllDirectories")) return as_farproc(&SetDefaultDllDirectories);
        if (!std::strcmp(name, "SetProcessMitigationPolicy")) return as_farproc(&SetProcessMitigationPolicy);
        if (!std::strcmp(name, "GetProcessMitigationPolicy")) return as_farproc(&GetProcessMitigationPolicy);
        if (!std::strcmp(name, "DeviceIoControl")) return as_farproc(&DeviceIoControl);
        if (!std::strcmp(name, "GetFinalPathNameByHandleW")) return as_farproc(&GetFinalPathNameByHandleW);
        if (!std::strcmp(name, "CompareStringOrdinal")) return as_farproc(&CompareStringOrdinal);
    }
    if (module == ntdll_module) {
        if (!std::strcmp(name, "NtCreateFile")) return as_farproc(&NtCreateFile);
        if (!std::strcmp(name, "NtSetInformationFile")) return as_farproc(&NtSetInformationFile);
        if (!std::strcmp(name, "RtlNtStatusToDosError")) return as_farproc(&RtlNtStatusToDosError);
        if (!std::strcmp(name, "wine_get_version") && user.redirection_trust == User::Trust::echoed_by_wine) return as_farproc(&GetLastError);
    }
    return nullptr;
}

BOOL WINAPI SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T size) {
    DWORD flags = size == sizeof(DWORD) ? *static_cast<DWORD *>(buffer) : 0;
    log_call("SetProcessMitigationPolicy " + number(policy) + " " + number(flags));
    return user.redirection_trust != User::Trust::unknown;
}

BOOL WINAPI GetProcessMitigationPolicy(HANDLE process, PROCESS_MITIGATION_POLICY policy, PVOID buffer, SIZE_T size) {
    log_call("GetProcessMitigationPolicy " + number(policy));
    if (user.redirection_trust >= User::Trust::enforced && process == HANDLE(-1) && size == 4) *static_cast<DWORD *>(buffer) = 1;
    return user.redirection_trust != User::Trust::unknown;
}

BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
    log_call("SetDefaultDllDirectories " + number(flags));
    user.dll_directories = flags;
    return TRUE;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                           LPDWORD thread_id) {
    log_call("CreateThread");
    if (user.thread_fails) return nullptr;
    user.threads.push_back(PendingThread{start, parameter});
    if (thread_id) *thread_id = DWORD(user.threads.size());
    return reinterpret_cast<HANDLE>(0x5000 + 4 * user.threads.size());
}

void WINAPI Sleep(DWORD milliseconds) {
    log_call("Sleep " + number(milliseconds));
    user.slept_ms += milliseconds;
}

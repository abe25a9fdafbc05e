#include "installer/licence_page.h"

#include "dialog/command_table.h"
#include "dialog/dialog_procedure.h"
#include "dialog/template_writer.h"
#include "common/embedded_data.h"
#include "installer/page_header.h"

WCHAR *widen_licence_text() {
    SIZE_T length = SIZE_T(licence_text.end() - licence_text.start());
    // Zero-filled, so the last unit is already the terminator.
    WCHAR *text = static_cast<WCHAR *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 2 * length + 2));
    if (!text) return nullptr;
    for (SIZE_T i = 0; i < length; ++i) text[i] = WCHAR(licence_text.start()[i]);
    return text;
}

namespace {

void add_licence_controls(const WCHAR *text) {
    static constexpr control_rect prompt = control_at(13, 28, 283, 13);
    add_control(0, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, prompt, 0, "STATIC",
                "To install Quenthalvox, you need to agree to the end-user license agreement.");
    // No horizontal scrolling: each clause is one long line that the box wraps.
    static constexpr control_rect box = control_at(19, 46, 271, 115);
    add_control(WS_EX_STATICEDGE,
                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE, box, 0,
                "EDIT", text);
    // Cancel before Agree: the tab order runs text, Cancel, Agree.
    static constexpr control_rect cancel = control_at(252, 172, 50, 14);
    add_control(0, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, cancel, IDCANCEL, "BUTTON", "&Cancel");
    static constexpr control_rect agree = control_at(198, 172, 50, 14);
    add_control(0, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, agree, IDOK, "BUTTON", "&Agree");
}

// The dialog manager selects the whole text of the edit box it gives the first
// focus, which shows the end of the agreement, all highlighted, and Wine's does
// so again when the page is activated. Posted, these come after both: nothing
// selected, the caret at the beginning, and the box scrolled to it.
INT_PTR CALLBACK licence_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        HWND text_box = reinterpret_cast<HWND>(wparam);  // the first tab stop, which gets the focus
        PostMessageW(text_box, EM_SETSEL, 0, 0);
        PostMessageW(text_box, EM_SCROLLCARET, 0, 0);
    }
    return page_header_proc(page, message, wparam, lparam);
}

}  // namespace

INT_PTR run_licence_page(const WCHAR *text) {
    begin_page();
    add_licence_controls(text);
    register_command(IDCANCEL, on_cancel);
    register_command(IDOK, on_agree);
    return DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(template_buffer), nullptr,
                                   licence_page_proc, 0);
}

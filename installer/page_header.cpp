#include "installer/page_header.h"

#include "common/control_ids.h"
#include "dialog/command_table.h"
#include "dialog/dialog_procedure.h"
#include "dialog/template_writer.h"

namespace {

const char *const NO_TEXT = nullptr;

}  // namespace

void begin_page() {
    // Each page starts with no commands: the previous page's are gone.
    command_count = 0;
    begin_template(PAGE_TITLE, PAGE_WIDTH, PAGE_HEIGHT);
    static constexpr control_rect banner = control_at(0, 0, PAGE_WIDTH, 19);
    add_control(0, WS_CHILD | WS_VISIBLE | SS_WHITERECT, banner, 0, "STATIC", NO_TEXT);
    static constexpr control_rect title = control_at(0, 6, PAGE_WIDTH, 9);
    add_control(0, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, title, ID_TITLE, "STATIC", PAGE_TITLE);
    // Five units past both edges, so that the line reaches the dialog's frame.
    static constexpr control_rect line = control_at(-5, 19, PAGE_WIDTH + 10, 1);
    add_control(0, WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, line, 0, "STATIC", NO_TEXT);
}

INT_PTR page_header_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_CTLCOLORSTATIC) return shared_dialog_proc(page, message, wparam, lparam);
    // The title sits on the white banner: paint it in the window colour, and
    // leave every other static control its default colours.
    if (GetWindowLongPtrW(reinterpret_cast<HWND>(lparam), GWLP_ID) != ID_TITLE) return FALSE;
    return COLOR_WINDOW + 1;
}

#include "installer/page_header.h"

#include "dialog/template_writer.h"
#include "common/shared.h"

void begin_page() {
    begin_template(PAGE_TITLE, PAGE_WIDTH, PAGE_HEIGHT);
    const control_rect banner = control_at(0, 0, PAGE_WIDTH, 19);
    add_control(0, WS_CHILD | WS_VISIBLE | SS_WHITERECT, banner, 0, L"STATIC", nullptr);
    const control_rect title = control_at(0, 6, PAGE_WIDTH, 9);
    add_control(0, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, title, ID_TITLE, L"STATIC", PAGE_TITLE);
    // Five units past both edges, so that the line reaches the dialog's frame.
    const control_rect line = control_at(-5, 19, PAGE_WIDTH + 10, 1);
    add_control(0, WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, line, 0, L"STATIC", nullptr);
}

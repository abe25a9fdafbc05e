#include "dialog/template_writer.h"

alignas(16) BYTE template_buffer[TEMPLATE_CAPACITY];
unsigned long long template_length;

namespace {

// The append steps: each writes at template_length and checks nothing.
void template_append_u8(BYTE value) { template_buffer[template_length++] = value; }

void template_append_u16(WORD value) {
    template_append_u8(BYTE(value));
    template_append_u8(BYTE(value >> 8));
}

void template_append_u32(DWORD value) {
    template_append_u16(WORD(value));
    template_append_u16(WORD(value >> 16));
}

// A text of UTF-16 units, or of 7-bit ASCII widened as it is written (the
// fixed texts are kept so, at half the size); null is the empty string.
template <typename unit> void template_append_text(const unit *text) {
    for (; text && *text; ++text) template_append_u16(WORD(*text));
    template_append_u16(0);
}

void template_align() {
    while (template_length % 4) template_append_u8(0);
}

const DWORD DIALOG_STYLE = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
const WORD ITEM_COUNT_OFFSET = 16;

// Controls of these classes are written as ordinals; the order gives the ordinal.
// Names kept in place, not as pointers, so that the image needs no relocations.
const char ordinal_classes[][10] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
const WORD FIRST_CLASS_ORDINAL = 0x0080;

bool same_text(const char *a, const char *b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

void write_class(const char *class_name) {
    for (WORD i = 0; i < sizeof ordinal_classes / sizeof ordinal_classes[0]; ++i) {
        if (!same_text(class_name, ordinal_classes[i])) continue;
        template_append_u16(0xFFFF);
        template_append_u16(WORD(FIRST_CLASS_ORDINAL + i));
        return;
    }
    template_append_text(class_name);
}

void count_item() {
    BYTE *field = template_buffer + ITEM_COUNT_OFFSET;
    WORD count = WORD((field[0] | field[1] << 8) + 1);
    field[0] = BYTE(count);
    field[1] = BYTE(count >> 8);
}

// Everything of a control before its text.
void begin_control(DWORD ex_style, DWORD style, const control_rect &rect, DWORD id, const char *class_name) {
    template_align();
    template_append_u32(0);  // helpID
    template_append_u32(ex_style);
    template_append_u32(style);
    // Differences in unsigned arithmetic: the same low 16 bits as signed 32-bit, without overflow.
    template_append_u16(WORD(rect.left));
    template_append_u16(WORD(rect.top));
    template_append_u16(WORD(DWORD(rect.right) - DWORD(rect.left)));
    template_append_u16(WORD(DWORD(rect.bottom) - DWORD(rect.top)));
    template_append_u32(id);
    write_class(class_name);
}

void end_control() {
    template_append_u16(0);  // no creation data
    count_item();
}

}  // namespace

void begin_template(const char *title, int width, int height) {
    template_length = 0;
    template_append_u16(1);       // dlgVer
    template_append_u16(0xFFFF);  // signature: extended template
    template_append_u32(0);       // helpID
    template_append_u32(0);       // exStyle
    template_append_u32(DIALOG_STYLE);
    template_append_u16(0);  // cDlgItems, counted up by add_control
    template_append_u16(0);  // x, y: centre_dialog relies on the origin
    template_append_u16(0);
    template_append_u16(WORD(width));
    template_append_u16(WORD(height));
    template_append_u16(0);  // no menu
    template_append_u16(0);  // the predefined dialog class
    template_append_text(title);
    template_append_u16(9);  // point size
    template_append_u16(0);  // weight
    template_append_u8(0);   // italic
    template_append_u8(0);   // character set
    template_append_text("MS SHELL DLG");
    template_align();
}

void add_control(DWORD ex_style, DWORD style, const control_rect &rect, DWORD id, const char *class_name,
                 const char *text) {
    begin_control(ex_style, style, rect, id, class_name);
    template_append_text(text);
    end_control();
}

void add_control(DWORD ex_style, DWORD style, const control_rect &rect, DWORD id, const char *class_name,
                 const WCHAR *text) {
    begin_control(ex_style, style, rect, id, class_name);
    template_append_text(text);
    end_control();
}

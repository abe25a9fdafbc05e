// Dialog templates written at run time, in the extended template format, into
// one static buffer that is handed to DialogBoxIndirectParamW.
#pragma once

#include <windows.h>

// A control's place in dialog units; add_control writes x = left,
// cx = right - left, y = top, cy = bottom - top. Made by control_at, never
// spelt out: as a brace list its order would read like a RECT's.
struct control_rect {
    LONG left;
    LONG right;
    LONG top;
    LONG bottom;
};

// The control at (x, y), cx wide and cy high: the notation of the pages' tables.
// A fixed one is kept as a static constant, read from data: built in place, it
// would take more bytes of code than it holds.
constexpr control_rect control_at(LONG x, LONG y, LONG cx, LONG cy) { return {x, x + cx, y, y + cy}; }

enum : unsigned long { TEMPLATE_CAPACITY = 0x1010000 };

// The dialog manager needs the header and every item on a 4-byte boundary in
// memory, and the writer aligns by offset, so the buffer itself must be aligned.
alignas(16) extern BYTE template_buffer[TEMPLATE_CAPACITY];
extern unsigned long long template_length;  // bytes in use, also the write position

// Starts a new template at offset 0. Titles, class names and the fixed texts
// are 7-bit ASCII.
void begin_template(const char *title, int width, int height);
// Appends one control; text may be null (written as an empty string). The
// second form takes a text of UTF-16 units: the licence and the folders shown.
void add_control(DWORD ex_style, DWORD style, const control_rect &rect, DWORD id, const char *class_name,
                 const char *text);
void add_control(DWORD ex_style, DWORD style, const control_rect &rect, DWORD id, const char *class_name,
                 const WCHAR *text);

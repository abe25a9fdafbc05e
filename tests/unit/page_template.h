// The bytes a page's template must have, written here independently of the
// product's writer: the installer's title and size, then one item per control.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace page_template {

// A control of a page; class_ordinal 0 means the class is named.
struct Item {
    WORD class_ordinal;
    DWORD id;
    std::u16string text;
    DWORD ex_style, style;
    short x, y, cx, cy;
    std::u16string class_name = {};
};

const std::u16string TITLE = u"Quenthalvox Plugin Installer";

// The white banner, the title on it and the etched line that begin every page.
inline std::vector<Item> header() {
    return {
        {0x82, 0, u"", 0, 0x50000006, 0, 0, 309, 19},
        {0x82, 3000, TITLE, 0, 0x50020001, 0, 6, 309, 9},
        {0x82, 0, u"", 0, 0x50000010, -5, 19, 319, 1},
    };
}

// Little-endian, as the dialog manager reads it.
struct Bytes {
    std::vector<BYTE> out;
    void u16(WORD v) {
        out.push_back(BYTE(v));
        out.push_back(BYTE(v >> 8));
    }
    void u32(DWORD v) {
        u16(WORD(v));
        u16(WORD(v >> 16));
    }
    void wide(std::u16string_view text) {
        for (char16_t unit : text) u16(unit);
        u16(0);
    }
    void align() {
        while (out.size() % 4) out.push_back(0);
    }
};

inline std::vector<BYTE> bytes(const std::vector<Item> &items) {
    Bytes expected;
    expected.u16(1);
    expected.u16(0xFFFF);
    expected.u32(0);
    expected.u32(0);
    expected.u32(0x80C800C0);
    expected.u16(WORD(items.size()));
    for (WORD field : {0, 0, 309, 192, 0, 0}) expected.u16(field);
    expected.wide(TITLE);
    expected.u16(9);
    expected.u16(0);
    expected.u16(0);  // italic, character set
    expected.wide(u"MS SHELL DLG");
    for (const Item &item : items) {
        expected.align();
        expected.u32(0);
        expected.u32(item.ex_style);
        expected.u32(item.style);
        for (short field : {item.x, item.y, item.cx, item.cy}) expected.u16(WORD(field));
        expected.u32(item.id);
        if (item.class_ordinal) {
            expected.u16(0xFFFF);
            expected.u16(item.class_ordinal);
        } else {
            expected.wide(item.class_name);
        }
        expected.wide(item.text);
        expected.u16(0);
    }
    return expected.out;
}

}  // namespace page_template

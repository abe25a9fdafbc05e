// The bytes a page's template must have, written here independently of the
// product's writer: the installer's title and size, then one item per control
// of the shared description of the pages.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake.h"
#include "tests/page_controls.h"

namespace page_template {

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
    // The predefined classes by ordinal, any other by name.
    void control_class(const wchar_t *name) {
        const wchar_t *predefined[] = {L"Button", L"Edit", L"Static"};
        for (WORD ordinal = 0; ordinal < 3; ++ordinal) {
            if (fake::u16(name) != fake::u16(predefined[ordinal])) continue;
            u16(0xFFFF);
            u16(0x80 + ordinal);
            return;
        }
        wide(fake::u16(name));
    }
};

// `open_texts` fill, in order, the texts the description leaves to the machine.
template <size_t N>
std::vector<BYTE> bytes(const page_controls::control (&controls)[N], const std::vector<std::u16string> &open_texts) {
    Bytes expected;
    expected.u16(1);
    expected.u16(0xFFFF);
    expected.u32(0);
    expected.u32(0);
    expected.u32(0x80C800C0);
    expected.u16(WORD(N));
    for (WORD field : {0, 0, page_controls::WIDTH, page_controls::HEIGHT, 0, 0}) expected.u16(field);
    expected.wide(fake::u16(page_controls::TITLE));
    expected.u16(9);
    expected.u16(0);
    expected.u16(0);  // italic, character set
    expected.wide(u"MS SHELL DLG");
    size_t open = 0;
    for (const page_controls::control &item : controls) {
        expected.align();
        expected.u32(0);
        expected.u32(item.ex_style);
        expected.u32(item.style);
        for (short field : {item.x, item.y, item.cx, item.cy}) expected.u16(WORD(field));
        expected.u32(DWORD(item.id));
        expected.control_class(item.class_name);
        expected.wide(item.text ? fake::u16(item.text) : open_texts.at(open++));
        expected.u16(0);
    }
    EXPECT_EQ(open, open_texts.size());
    return expected.out;
}

}  // namespace page_template

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "dialog/template_writer.h"
#include "fake.h"

namespace {

WORD u16_at(size_t offset) { return WORD(template_buffer[offset] | template_buffer[offset + 1] << 8); }
DWORD u32_at(size_t offset) { return DWORD(u16_at(offset)) | DWORD(u16_at(offset + 2)) << 16; }

std::u16string wide_at(size_t offset) {
    std::u16string text;
    for (; u16_at(offset); offset += 2) text += char16_t(u16_at(offset));
    return text;
}

// Leftovers of an earlier, longer template, so that unwritten padding shows.
void dirty_buffer() { std::memset(template_buffer, 0xAA, 4096); }

const control_rect some_rect = control_at(1, 3, 1, 1);

}  // namespace

TEST(TemplateWriter, HeaderSizeAndPaddingFollowTheTitle) {
    struct Case {
        const char *title;
        size_t length;
    } cases[] = {{"", 64}, {"Q", 68}, {"Quenthalvox Plugin Installer", 120}};
    for (const Case &c : cases) {
        dirty_buffer();
        begin_template(c.title, 309, 192);
        SCOPED_TRACE(fake::narrow(fake::u16(c.title)));
        size_t units = fake::u16(c.title).size();
        EXPECT_EQ(template_length, c.length);
        EXPECT_EQ(wide_at(30), fake::u16(c.title));
        EXPECT_EQ(u16_at(32 + 2 * units), 9);  // point size
        EXPECT_EQ(wide_at(38 + 2 * units), u"MS SHELL DLG");
        for (size_t at = 64 + 2 * units; at < c.length; ++at) EXPECT_EQ(template_buffer[at], 0) << at;
    }
}

TEST(TemplateWriter, HeaderFieldsAndLow16BitsOfTheSize) {
    dirty_buffer();
    begin_template("T", 70000, -1);
    EXPECT_EQ(u16_at(0), 1);
    EXPECT_EQ(u16_at(2), 0xFFFF);
    EXPECT_EQ(u32_at(4), 0u);
    EXPECT_EQ(u32_at(8), 0u);
    EXPECT_EQ(u32_at(12), 0x80C800C0u);
    EXPECT_EQ(u16_at(16), 0);  // no items yet
    EXPECT_EQ(u32_at(18), 0u);  // placed at the origin
    EXPECT_EQ(u16_at(22), 70000 & 0xFFFF);
    EXPECT_EQ(u16_at(24), 0xFFFF);
    EXPECT_EQ(u32_at(26), 0u);  // no menu, the dialog class
    EXPECT_EQ(u16_at(34), 9);   // point size after the one-unit title
    EXPECT_EQ(u32_at(36), 0u);  // weight, italic, character set
    EXPECT_EQ(reinterpret_cast<uintptr_t>(template_buffer) % 4, 0u);
}

TEST(TemplateWriter, OnlyTheSixExactClassNamesBecomeOrdinals) {
    struct Case {
        const char *name;
        WORD ordinal;  // 0: written as a string
    } cases[] = {
        {"BUTTON", 0x80}, {"EDIT", 0x81},     {"STATIC", 0x82},    {"LISTBOX", 0x83},
        {"SCROLLBAR", 0x84}, {"COMBOBOX", 0x85}, {"button", 0},     {"Static", 0},
        {"EDITS", 0},     {"EDI", 0},         {"COMBOBOXEX", 0},   {"", 0},
        {"msctls_progress32", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(fake::narrow(fake::u16(c.name)));
        begin_template("", 1, 1);
        add_control(0, 0, some_rect, 7, c.name, "x");
        size_t name_units = fake::u16(c.name).size();
        size_t class_bytes = c.ordinal ? 4 : 2 * name_units + 2;
        EXPECT_EQ(template_length, 64 + 24 + class_bytes + 4 + 2);
        if (c.ordinal) {
            EXPECT_EQ(u16_at(64 + 24), 0xFFFF);
            EXPECT_EQ(u16_at(64 + 26), c.ordinal);
        } else {
            EXPECT_EQ(wide_at(64 + 24), fake::u16(c.name));
        }
        EXPECT_EQ(wide_at(64 + 24 + class_bytes), u"x");
    }
}

TEST(TemplateWriter, MissingAndEmptyTextGiveTheSameBytes) {
    begin_template("", 1, 1);
    add_control(0, 0, some_rect, 1, "STATIC", static_cast<const char *>(nullptr));
    std::vector<BYTE> missing(template_buffer, template_buffer + template_length);
    dirty_buffer();
    begin_template("", 1, 1);
    add_control(0, 0, some_rect, 1, "STATIC", "");
    std::vector<BYTE> empty(template_buffer, template_buffer + template_length);
    EXPECT_EQ(missing, empty);
    EXPECT_EQ(missing.size(), 64u + 24 + 4 + 2 + 2);
}

TEST(TemplateWriter, ItemFieldsKeepLow16BitsOfCoordinatesAndAll32BitsOfTheId) {
    struct Case {
        control_rect rect;
        DWORD id;
        WORD x, y, cx, cy;
    } cases[] = {
        {control_at(-5, 19, 319, 1), 0, 0xFFFB, 19, 319, 1},
        {control_at(0, 0, 309, 19), 0xFFFF, 0, 0, 309, 19},
        {control_at(0x12345, -1, 1, 0x10001), 0x12345678, 0x2345, 0xFFFF, 1, 1},
        {control_at(INT_MIN, INT_MAX, INT_MAX, INT_MIN), 3000, 0, 0xFFFF, 0xFFFF, 0},
    };
    for (const Case &c : cases) {
        begin_template("", 1, 1);
        add_control(0x20000, 0x50210844, c.rect, c.id, "EDIT", L"");
        EXPECT_EQ(u32_at(64), 0u);
        EXPECT_EQ(u32_at(68), 0x20000u);
        EXPECT_EQ(u32_at(72), 0x50210844u);
        EXPECT_EQ(u16_at(76), c.x);
        EXPECT_EQ(u16_at(78), c.y);
        EXPECT_EQ(u16_at(80), c.cx);
        EXPECT_EQ(u16_at(82), c.cy);
        EXPECT_EQ(u32_at(84), c.id);
    }
}

TEST(TemplateWriter, PadsBeforeAnItemAndNeverAfterTheLast) {
    dirty_buffer();
    begin_template("Quenthalvox Plugin Installer", 309, 192);
    add_control(0, 0, some_rect, 1, "STATIC", "a");  // 34 bytes: ends 2 past a multiple of 4
    EXPECT_EQ(template_length, 154u);
    EXPECT_EQ(template_buffer[154], 0xAA);  // nothing written after the last item
    add_control(0, 0, some_rect, 2, "STATIC", "a");
    EXPECT_EQ(template_buffer[154], 0);
    EXPECT_EQ(template_buffer[155], 0);
    EXPECT_EQ(u32_at(156 + 20), 2u);  // the second item starts aligned
    EXPECT_EQ(template_length, 156u + 34);
    EXPECT_EQ(u16_at(16), 2);
}

TEST(TemplateWriter, BeginTemplateStartsOverWithNoItems) {
    begin_template("first", 1, 1);
    for (DWORD id = 0; id < 300; ++id) add_control(0, 0, some_rect, id, "BUTTON", "");
    EXPECT_EQ(u16_at(16), 300);  // the count carries into its high byte
    begin_template("", 1, 1);
    EXPECT_EQ(u16_at(16), 0);
    EXPECT_EQ(template_length, 64u);
}

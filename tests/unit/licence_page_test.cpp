#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "dialog/command_table.h"
#include "dialog/template_writer.h"
#include "fake.h"
#include "common/shared.h"

extern "C" void WINAPI installer_entry();

namespace {

std::string stored_licence() {
    std::ifstream file(LICENCE_TEXT_FILE, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// Runs the installer up to the licence page, lets script drive it, and gives
// the page's record.
fake::Dialog &licence_page(std::string licence, std::function<void(HWND)> script) {
    fake::set_licence(std::move(licence));
    fake::user.scripts.push_back(std::move(script));
    EXPECT_EQ(fake::run_process([] { installer_entry(); }), EXIT_DONE);
    EXPECT_EQ(fake::user.dialogs.size(), 1u);
    return fake::user.dialogs.at(0);
}

void cancel(HWND page) { fake::click(page, IDCANCEL); }

// Little-endian template bytes, written here independently of the product's writer.
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

struct Item {
    WORD class_ordinal;
    DWORD id;
    std::u16string text;
    DWORD ex_style, style;
    short x, y, cx, cy;
};

}  // namespace

TEST(LicencePage, TemplateMatchesTheControlTableByteForByte) {
    std::string licence = stored_licence();
    ASSERT_EQ(licence.size(), 1861u);
    const std::u16string title = u"Quenthalvox Plugin Installer";
    const Item items[] = {
        {0x82, 0, u"", 0, 0x50000006, 0, 0, 309, 19},
        {0x82, 3000, title, 0, 0x50020001, 0, 6, 309, 9},
        {0x82, 0, u"", 0, 0x50000010, -5, 19, 319, 1},
        {0x82, 0, u"To install Quenthalvox, you need to agree to the end-user license agreement.", 0, 0x50020000, 13,
         28, 283, 13},
        {0x81, 0, fake::u16(licence), 0x20000, 0x50210844, 19, 46, 271, 115},
        {0x80, 2, u"&Cancel", 0, 0x50010000, 252, 172, 50, 14},
        {0x80, 1, u"&Agree", 0, 0x50010001, 198, 172, 50, 14},
    };
    Bytes expected;
    expected.u16(1);
    expected.u16(0xFFFF);
    expected.u32(0);
    expected.u32(0);
    expected.u32(0x80C800C0);
    expected.u16(7);
    for (WORD field : {0, 0, 309, 192, 0, 0}) expected.u16(field);
    expected.wide(title);
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
        expected.u16(0xFFFF);
        expected.u16(item.class_ordinal);
        expected.wide(item.text);
        expected.u16(0);
    }
    ASSERT_EQ(expected.out.size(), 4304u);

    fake::Dialog &page = licence_page(licence, cancel);
    ASSERT_EQ(template_length, 4304u);
    EXPECT_EQ(std::vector<BYTE>(template_buffer, template_buffer + template_length), expected.out);
    EXPECT_EQ(page.template_size, 4304u);
    EXPECT_EQ(page.controls.size(), 7u);
    EXPECT_EQ(page.instance, nullptr);
    EXPECT_EQ(page.owner, nullptr);
    EXPECT_EQ(page.procedure, &shared_dialog_proc);
    EXPECT_EQ(page.init_param, 0);
}

TEST(LicencePage, TheTextBoxShowsEveryByteWidenedAndTerminated) {
    std::string all_ascii;
    for (int c = 1; c < 0x80; ++c) all_ascii += char(c);
    for (const std::string &licence : {stored_licence(), std::string(), std::string("\r\n"), all_ascii}) {
        fake::reset();
        fake::Dialog &page = licence_page(licence, cancel);
        const fake::Control &box = page.controls.at(4);
        EXPECT_EQ(box.class_name.ordinal, 0x81);
        EXPECT_EQ(box.text.name, fake::u16(licence));
        ASSERT_EQ(fake::heap.live.size(), 1u);
        auto [block, size] = *fake::heap.live.begin();
        ASSERT_EQ(size, 2 * licence.size() + 2);
        EXPECT_EQ(fake::u16(static_cast<const wchar_t *>(block)), fake::u16(licence));
    }
}

TEST(LicencePage, TextBoxNotificationsDoNotEndThePage) {
    std::vector<INT_PTR> results;
    fake::Dialog &page = licence_page(stored_licence(), [&](HWND page) {
        for (WORD code : {0x0100, 0x0200, 0x0400, 0x0602})  // focus, lost focus, update, scroll
            results.push_back(fake::send_command(page, 0, code));
        EXPECT_TRUE(fake::dialog_of(page).running);
        EXPECT_FALSE(fake::dialog_of(page).result);
        cancel(page);
    });
    EXPECT_EQ(results, std::vector<INT_PTR>(4, FALSE));
    EXPECT_EQ(page.result, 0);
}

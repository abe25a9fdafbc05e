#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "dialog/command_table.h"
#include "dialog/template_writer.h"
#include "fake.h"
#include "page_template.h"
#include "common/exit_codes.h"

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

}  // namespace

TEST(LicencePage, TemplateMatchesTheControlTableByteForByte) {
    std::string licence = stored_licence();
    std::vector<BYTE> expected = page_template::bytes(page_controls::LICENCE_PAGE, {fake::u16(licence)});
    // Around the text, two bytes a character and its terminator, the page's
    // header and controls take 580 bytes.
    ASSERT_EQ(expected.size(), 580 + 2 * licence.size() + 2);

    fake::Dialog &page = licence_page(licence, cancel);
    EXPECT_EQ(std::vector<BYTE>(template_buffer, template_buffer + template_length), expected);
    EXPECT_EQ(page.template_size, expected.size());
    EXPECT_EQ(page.controls.size(), 7u);
    EXPECT_EQ(page.instance, nullptr);
    EXPECT_EQ(page.owner, nullptr);
    EXPECT_EQ(page.init_param, 0);
}

// The dialog manager gives the first focus to the text box and selects all of
// it; the page then clears the selection and scrolls back to the beginning.
TEST(LicencePage, OpensAtTheBeginningOfTheAgreementWithNothingSelected) {
    fake::Dialog &page = licence_page(stored_licence(), cancel);
    EXPECT_NE(page.init_result, FALSE);
    std::vector<std::string> posted = fake::calls_named("PostMessageW");
    EXPECT_EQ(posted, (std::vector<std::string>{"PostMessageW 0 177 0", "PostMessageW 0 183 0"}));
    EXPECT_EQ(fake::calls_named("SetWindowPos").size(), 1u);
}

TEST(LicencePage, TheTextBoxShowsEveryByteWidenedAndTerminated) {
    std::string all_ascii;
    for (int c = 1; c < 0x80; ++c) all_ascii += char(c);
    for (const std::string &licence : {stored_licence(), std::string(), std::string("\r\n"), all_ascii}) {
        fake::reset();
        fake::Dialog &page = licence_page(licence, cancel);
        const fake::Control &box = page.controls.at(page_controls::LICENCE_BOX);
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

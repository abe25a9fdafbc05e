#include <gtest/gtest.h>

#include "dialog/template_writer.h"
#include "installer_run.h"
#include "page_template.h"

using namespace installer_run;

namespace {

void cancel(HWND page) { fake::click(page, IDCANCEL); }

std::u16string units(size_t count, char16_t unit = u'x') { return std::u16string(count, unit); }

const std::u16string NOT_AVAILABLE = fake::u16(page_controls::NOT_AVAILABLE);

}  // namespace

// With no host, and with the longest folders each host can be offered with.
TEST(SelectionPage, TemplateMatchesTheControlTableByteForByte) {
    const std::vector<std::u16string> none(3, NOT_AVAILABLE);
    const std::u16string clap = u"C:\\" + units(236), fl = u"C:\\" + units(245);
    const std::vector<std::u16string> longest = {u"Target: " + clap + u"\\CLAP", u"Target: " + clap + u"\\CLAP",
                                                 u"Target: " + fl + u"\\Plugins\\Fruity\\Effects\\Quenthalvox"};
    for (bool hosts : {false, true}) {
        SCOPED_TRACE(hosts ? "longest folders" : "no host");
        fresh_process();
        if (hosts) {
            fake::set_variable(u"COMMONPROGRAMFILES", clap);
            fake::set_variable(u"COMMONPROGRAMFILES(X86)", clap);
            fake::registry.set_string(FL_KEY, u"FL Studio", fl + u"\\");  // 249 units
        }
        EXPECT_EQ(run(cancel), EXIT_DONE);
        std::vector<BYTE> expected = page_template::bytes(page_controls::SELECTION_PAGE, hosts ? longest : none);
        EXPECT_EQ(expected.size(), hosts ? 2510u : 1014u);
        EXPECT_EQ(std::vector<BYTE>(template_buffer, template_buffer + template_length), expected);
        EXPECT_EQ(available_targets, hosts ? 7u : 0u);
        EXPECT_EQ(selection_page().procedure, &selection_page_proc);
    }
}

TEST(SelectionPage, DetectsEachHostAndLabelsItsFolder) {
    struct Case {
        const char *name;
        std::optional<std::u16string> clap64, clap32, fl;
        std::u16string labels[3];
    } cases[] = {
        {"folders V, W and F", u"C:\\V", u"D:\\W", u"C:\\F\\FL64.exe",
         {u"Target: C:\\V\\CLAP", u"Target: D:\\W\\CLAP", u"Target: C:\\F\\Plugins\\Fruity\\Effects\\Quenthalvox"}},
        {"239 units offered, 240 not", units(239), units(240), std::nullopt,
         {u"Target: " + units(239) + u"\\CLAP", NOT_AVAILABLE, NOT_AVAILABLE}},
        {"empty variable, 250-unit value", u"", std::nullopt, units(250, u'\\'),
         {NOT_AVAILABLE, NOT_AVAILABLE, NOT_AVAILABLE}},
        {"value without a backslash", std::nullopt, std::nullopt, u"FL64.exe",
         {NOT_AVAILABLE, NOT_AVAILABLE, u"Target: \\Plugins\\Fruity\\Effects\\Quenthalvox"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh_process();
        if (c.clap64) fake::set_variable(u"COMMONPROGRAMFILES", *c.clap64);
        if (c.clap32) fake::set_variable(u"COMMONPROGRAMFILES(X86)", *c.clap32);
        if (c.fl) fake::registry.set_string(FL_KEY, u"FL Studio", *c.fl);
        EXPECT_EQ(run(cancel), EXIT_DONE);
        const fake::Dialog &page = selection_page();
        DWORD found = 0;
        for (int option = 0; option < 3; ++option) {
            EXPECT_EQ(page.controls.at(page_controls::LABEL_ROWS[option]).text.name, c.labels[option]);
            if (c.labels[option] != NOT_AVAILABLE) found |= 1u << option;
        }
        EXPECT_EQ(available_targets, found);
        EXPECT_TRUE(fake::registry.has_key(FL_KEY));  // created when missing, and kept
        EXPECT_EQ(fake::registry.open_keys(), 0u);
    }
}

// Available options open ticked, the others disabled and unticked; Install
// follows the ticks, and a disabled option can never be ticked.
TEST(SelectionPage, InstallIsOfferedExactlyWhileSomethingIsTicked) {
    fake::set_variable(u"COMMONPROGRAMFILES", u"C:\\Common64");
    fake::registry.set_string(FL_KEY, u"FL Studio", u"C:\\FL\\FL64.exe");
    std::vector<bool> install_enabled;
    EXPECT_EQ(run([&](HWND page) {
                  fake::Dialog &dialog = fake::dialog_of(page);
                  auto install = [&] { install_enabled.push_back(dialog.control(IDOK)->enabled); };
                  for (DWORD id : {1000, 1001, 1002}) {
                      bool available = id != 1001;
                      EXPECT_EQ(dialog.control(id)->enabled, available);
                      EXPECT_EQ(dialog.control(id)->checked, WPARAM(available ? BST_CHECKED : BST_UNCHECKED));
                  }
                  install();
                  fake::click(page, 1000);
                  install();
                  fake::click(page, 1002);
                  install();
                  EXPECT_FALSE(fake::click(page, 1001));
                  install();
                  fake::click(page, 1002);
                  install();
                  EXPECT_EQ(selected_targets, DWORD(TARGET_FL));
                  cancel(page);
              }),
              EXIT_DONE);
    EXPECT_EQ(install_enabled, (std::vector<bool>{true, true, false, false, true}));
    EXPECT_NE(selection_page().init_result, FALSE);  // the dialog manager sets the first focus
}

// The title sits on the white banner; every other control keeps the default colours.
TEST(SelectionPage, OnlyTheTitleIsPaintedOnTheWindowColour) {
    std::vector<INT_PTR> results;
    EXPECT_EQ(run([&](HWND page) {
                  for (const fake::Control &control : fake::dialog_of(page).controls)
                      results.push_back(fake::deliver(page, WM_CTLCOLORSTATIC, 0, LPARAM(control.window)));
                  results.push_back(fake::deliver(page, 0x0200, 0, 0));  // a message the procedure leaves alone
                  cancel(page);
              }),
              EXIT_DONE);
    std::vector<INT_PTR> expected(15, FALSE);
    expected[1] = COLOR_WINDOW + 1;
    EXPECT_EQ(results, expected);
}

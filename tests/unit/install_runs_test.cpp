#include <gtest/gtest.h>

#include "installer_run.h"
#include "error_report.h"
#include "target_test_support.h"

using namespace installer_run;

namespace {

const std::u16string CLAP64 = u"C:\\Common64\\CLAP\\Quenthalvox.clap";
const std::u16string CLAP32 = u"C:\\Common32\\CLAP\\Quenthalvox (32-bit).clap";
const std::u16string FL64 = u"C:\\FL\\Plugins\\Fruity\\Effects\\Quenthalvox\\Quenthalvox_x64.dll";
const std::u16string FL32 = u"C:\\FL\\Plugins\\Fruity\\Effects\\Quenthalvox\\Quenthalvox.dll";
const std::u16string INSTALLED = u"The installation finished successfully.\r\nPlease scan for new plugins in your DAW.";
const std::u16string FL_NOT_FOUND =
    u"No FL Studio installation was found. Make sure you have installed the latest version of FL Studio.";

std::vector<std::u16string> opened_paths() {
    std::vector<std::u16string> paths;
    for (const fake::OpenRecord &open : fake::files.opens) paths.push_back(open.path);
    return paths;
}

// Writes to path come up short; every other write is whole.
void short_write_to(std::u16string path) {
    fake::files.open_fails = [path](std::u16string_view opened) {
        fake::files.short_write_limit = opened == path ? std::optional<size_t>(3) : std::nullopt;
        return false;
    };
}

}  // namespace

// One install run per case, on a machine with every host: what reached the
// disk, what the user was told, and that the run always ends the same way.
TEST(InstallRun, InstallsTheTickedTargetsInOrderAndStopsAtTheFirstFailure) {
    struct Case {
        const char *name;
        std::function<void()> arrange;
        std::vector<DWORD> untick;
        std::function<void()> before_install;
        std::vector<std::u16string> attempted, written, reports;
    } cases[] = {
        {"all three", [] {}, {}, [] {}, {CLAP64, CLAP32, FL64, FL32}, {CLAP64, CLAP32, FL64, FL32}, {INSTALLED}},
        {"short write in the middle", [] { short_write_to(FL64); }, {}, [] {}, {CLAP64, CLAP32, FL64},
         {CLAP64, CLAP32}, {fake::u16(TEXT_FOLDER_INACCESSIBLE)}},
        // The licence text took the first block.
        {"no memory for the second file", [] { fake::heap.fail_allocation = 3; }, {}, [] {}, {CLAP64}, {CLAP64},
         {fake::u16(TEXT_NO_MEMORY)}},
        {"FL Studio gone since the page was built", [] {}, {1000, 1001},
         [] { fake::registry.keys.clear(); }, {}, {}, {FL_NOT_FOUND, INSTALLED}},
        {"CLAP 64-bit only, the 32-bit folder unknown", [] {}, {1001, 1002},
         [] { fake::remove_variable(u"COMMONPROGRAMFILES(X86)"); }, {}, {},
         {fake::u16(TEXT_FOLDER_INACCESSIBLE), INSTALLED}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh_process();
        add_hosts();
        target_test::install_payload();
        c.arrange();
        bool marquee_ran = false;
        EXPECT_EQ(run([&](HWND page) {
                      for (DWORD id : c.untick) fake::click(page, id);
                      c.before_install();
                      fake::click(page, IDOK);
                      marquee_ran = fake::dialog_of(page).control(ID_PROGRESS)->marquee;
                  }),
                  EXIT_DONE);
        EXPECT_EQ(opened_paths(), c.attempted);
        for (const std::u16string &path : {CLAP64, CLAP32, FL64, FL32})
            EXPECT_EQ(fake::files.is_file(path), std::count(c.written.begin(), c.written.end(), path) == 1);
        EXPECT_EQ(report_texts(), c.reports);
        for (const fake::MessageBoxRecord &box : fake::message_boxes) {
            EXPECT_EQ(box.owner, selection_page().window);
            EXPECT_EQ(box.caption, box.text == INSTALLED ? std::optional<std::u16string>(u"Quenthalvox") : std::nullopt);
        }
        EXPECT_TRUE(marquee_ran);
        EXPECT_FALSE(selection_page().control(ID_PROGRESS)->marquee);
        EXPECT_EQ(fake::user.slept_ms, 2000u);
        EXPECT_FALSE(selection_page().result);  // the worker ends the process, not the page
    }
}

TEST(InstallRun, LocksThePageWhileTheWorkerRunsAndEscapeCannotEndIt) {
    add_hosts();
    target_test::install_payload();
    EXPECT_EQ(run([](HWND page) {
                  fake::click(page, IDOK);
                  EXPECT_EQ(fake::calls_named("CreateThread").size(), 1u);
                  for (int id : {int(ID_UNINSTALL), IDOK, IDCANCEL, int(ID_OPTION_CLAP64), int(ID_OPTION_CLAP32), int(ID_OPTION_FL)})
                      EXPECT_FALSE(fake::dialog_of(page).control(id)->enabled) << id;
                  EXPECT_TRUE(fake::press_escape(page));
              }),
              EXIT_DONE);
    EXPECT_FALSE(selection_page().result);
    EXPECT_EQ(report_texts(), std::vector<std::u16string>{INSTALLED});
}

// Without a worker the page goes back to choosing, so the user can try again.
TEST(InstallRun, AWorkerThatCannotStartLeavesThePageAsItWasAndSaysSo) {
    fake::set_variable(u"COMMONPROGRAMFILES", u"C:\\Common64");
    fake::set_variable(u"COMMONPROGRAMFILES(X86)", u"C:\\Common32");
    target_test::install_payload();
    fake::user.thread_fails = true;
    EXPECT_EQ(run([](HWND page) {
                  fake::Dialog &dialog = fake::dialog_of(page);
                  fake::click(page, ID_OPTION_CLAP32);
                  fake::click(page, IDOK);
                  EXPECT_FALSE(dialog.control(ID_PROGRESS)->marquee);
                  for (int id : {int(ID_UNINSTALL), IDOK, IDCANCEL, int(ID_OPTION_CLAP64), int(ID_OPTION_CLAP32)})
                      EXPECT_TRUE(dialog.control(id)->enabled) << id;
                  EXPECT_FALSE(dialog.control(ID_OPTION_FL)->enabled);
                  EXPECT_EQ(selected_targets, DWORD(TARGET_CLAP64));
                  expect_one_error_report(page, u"The installation could not be started. Please try again.");
                  fake::user.thread_fails = false;
                  fake::click(page, IDOK);
              }),
              EXIT_DONE);
    EXPECT_EQ(opened_paths(), std::vector<std::u16string>{CLAP64});
    EXPECT_EQ(report_texts().back(), INSTALLED);
}

TEST(UninstallRun, RemovesEveryTargetWhateverIsTickedThenReportsAndEndsThePage) {
    add_hosts();
    fake::set_known_folder(FOLDERID_RoamingAppData, u"C:\\Roaming");
    fake::files.add_folder(u"C:\\Roaming");
    fake::set_known_folder(FOLDERID_StartMenu, u"C:\\Start");
    for (const std::u16string &path : {CLAP64, CLAP32, FL64, FL32}) fake::files.add_file(path, "old");
    EXPECT_EQ(run([](HWND page) {
                  for (DWORD id : {1000, 1001, 1002}) fake::click(page, id);
                  fake::click(page, ID_UNINSTALL);
              }),
              EXIT_DONE);
    for (const std::u16string &path : {CLAP64, CLAP32, FL64, FL32}) EXPECT_FALSE(fake::files.is_file(path));
    EXPECT_FALSE(fake::files.is_folder(u"C:\\FL\\Plugins\\Fruity\\Effects\\Quenthalvox"));
    EXPECT_TRUE(fake::files.is_folder(u"C:\\Roaming\\Brindlewoodsonics"));
    ASSERT_EQ(fake::message_boxes.size(), 1u);
    EXPECT_EQ(fake::message_boxes[0].text, u"Quenthalvox has been uninstalled from your computer.");
    EXPECT_EQ(fake::message_boxes[0].caption, u"Quenthalvox");
    EXPECT_EQ(fake::message_boxes[0].owner, selection_page().window);
    EXPECT_EQ(selection_page().result, 0);
    EXPECT_EQ(fake::calls.back(), "ExitProcess 0");
    EXPECT_TRUE(fake::calls_named("CreateThread").empty());
}

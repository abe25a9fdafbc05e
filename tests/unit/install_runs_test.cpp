#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "installer_run.h"
#include "error_report.h"
#include "target_test_support.h"

using namespace installer_run;
using namespace target_test;

namespace {

const std::u16string CLAP64 = u"C:\\Program Files\\Common Files\\CLAP\\Quenthalvox.clap";
const std::u16string CLAP32 = u"C:\\Program Files (x86)\\Common Files\\CLAP\\Quenthalvox (32-bit).clap";
const std::u16string FL64 = u"C:\\Program Files\\FL\\Plugins\\Fruity\\Effects\\Quenthalvox\\Quenthalvox_x64.dll";
const std::u16string FL32 = u"C:\\Program Files\\FL\\Plugins\\Fruity\\Effects\\Quenthalvox\\Quenthalvox.dll";
const std::u16string INSTALLED = u"The installation finished successfully.\r\nPlease scan for new plugins in your DAW.";

const std::u16string FL_FOLDER = u"C:\\Program Files\\FL\\Plugins\\Fruity\\Effects\\Quenthalvox";
const std::u16string PARTLY = u"Only these files were installed:\r\n";
const std::u16string RESTART_HOST = u"\r\nRestart your DAW to use the new version.";
const std::u16string IN_USE = u"The file is in use. Close every program that uses it, such as your DAW, and try again.";
const std::u16string DISK_FULL = u"There is not enough free disk space on that drive.";
const std::u16string LINK_REFUSED = u"Skipped: the folder is a link the installer does not follow.";
const std::u16string BLOCKED = u"Your antivirus program blocked or changed the file. You may allow it there and try again.";
const std::u16string CLAP_ONLY = u"Only these files were installed:\r\n" + CLAP64 + u"\r\n" + CLAP32 + u"\r\n\r\n";
const std::u16string LEFT_BESIDE = u"\r\n\r\nLeft beside the plug-in until you run the installer again:\r\n";
const std::u16string ELSEWHERE = u"C:\\Users\\Ana\\Elsewhere";

const std::vector<std::u16string> PLUGIN_FILES = {CLAP64, CLAP32, FL64, FL32};
const std::vector<std::string> ENTRIES = {"bin/target_cl64", "bin/target_cl32", "bin/target_fl64", "bin/target_fl32"};

std::u16string cannot_install(const std::u16string &path, const std::u16string &cause) {
    return path + u"\r\n\r\n" + cause;
}

std::u16string lines(std::vector<std::u16string> paths) {
    std::u16string text;
    for (const std::u16string &path : paths) text += path + u"\r\n";
    return text;
}

// The files an update did not reach, each still holding the build it had.
std::u16string kept(std::vector<std::u16string> paths) {
    return u"These files keep their earlier version:\r\n" + lines(paths) +
           u"Run the installer again to update them, with your DAW closed.";
}

// Writes to path fail with error; every other write succeeds.
void write_error_at(std::u16string path, DWORD error) {
    fake::files.create_fails = [path, error](std::u16string_view opened) {
        fake::files.write_error = opened == path + u".new" ? error : 0;
        return false;
    };
}

void hold(const std::u16string &path, fake::Hold how) { fake::files.node(path)->hold = how; }

void erase(const std::u16string &path) { fake::files.nodes.erase(fake::normalise_path(path)); }

// Turns folder into a link to a folder elsewhere that holds the same files.
void link_elsewhere(const std::u16string &folder, DWORD tag = IO_REPARSE_TAG_MOUNT_POINT) {
    std::string key = fake::normalise_path(folder);
    for (auto node = fake::files.nodes.lower_bound(key); node != fake::files.nodes.end() && node->first.rfind(key, 0) == 0;) {
        if (!node->second.is_folder) fake::files.add_file(ELSEWHERE + fake::u16(node->first.substr(key.size())), node->second.bytes);
        node = fake::files.nodes.erase(node);
    }
    fake::files.add_link(folder, ELSEWHERE, tag);
}

// Every move to path fails: putting a new build in place, and the old one back.
void moves_to_fail(const std::u16string &path) {
    fake::files.move_error = [path](std::u16string_view, std::u16string_view to) {
        return to == path ? DWORD(ERROR_ACCESS_DENIED) : DWORD(0);
    };
}

std::vector<std::string> names_in_folders() {
    std::vector<std::string> names;
    for (const char16_t *folder : {u"C:\\Program Files\\Common Files\\CLAP", u"C:\\Program Files (x86)\\Common Files\\CLAP", FL_FOLDER.c_str()})
        for (const std::string &name : fake::files.files_in(folder)) names.push_back(name.substr(name.rfind('\\') + 1));
    return names;
}

}  // namespace

// One install run per case, over an older install of all four files on a
// machine with every host: which files are new and which kept their old
// bytes, what stayed beside them, what the user was told, and the exit code.
TEST(InstallRun, ReplacesEachTickedFileOrLeavesItsOldBuild) {
    // The same whatever stands behind the link: it is not looked at.
    const std::vector<std::u16string> FL_LINK_REFUSED = {
        cannot_install(FL64, LINK_REFUSED), CLAP_ONLY + LINK_REFUSED + u"\r\n" + lines({FL64, FL32})};
    const std::vector<std::string> FOUR = {"QUENTHALVOX.CLAP", "QUENTHALVOX (32-BIT).CLAP", "QUENTHALVOX_X64.DLL",
                                           "QUENTHALVOX.DLL"};
    struct Case {
        const char *name;
        std::function<void()> arrange;
        std::vector<int> answers;
        std::vector<std::u16string> renewed, reports;
        UINT exit;
        std::vector<std::string> beside = {};  // besides the four, in the plug-in folders
        std::vector<std::u16string> gone = {};  // of the four, not there before nor after
    } cases[] = {
        {"all three", [] {}, {}, PLUGIN_FILES, {INSTALLED}, EXIT_DONE},
        {"FL 64-bit loaded by a host", [] { hold(FL64, fake::Hold::loaded); }, {}, PLUGIN_FILES,
         {INSTALLED + RESTART_HOST}, EXIT_DONE, {"QUENTHALVOX_X64.DLL.OLD"}},
        {"FL 64-bit loaded, an earlier update's old build still held beside it",
         [] {
             hold(FL64, fake::Hold::loaded);
             fake::files.add_file(FL64 + u".old", "oldest build");
             hold(FL64 + u".old", fake::Hold::loaded);
         },
         {IDCANCEL}, {CLAP64, CLAP32},
         {cannot_install(FL64, IN_USE), CLAP_ONLY + kept({FL64, FL32}) + LEFT_BESIDE + lines({FL64 + u".old"})},
         EXIT_INSTALL_FAILED, {"QUENTHALVOX_X64.DLL.OLD"}},
        {"an earlier update's old build of FL 64-bit still loaded beside it",
         [] { fake::files.add_file(FL64 + u".old", "oldest build"), hold(FL64 + u".old", fake::Hold::loaded); }, {},
         PLUGIN_FILES, {INSTALLED + RESTART_HOST}, EXIT_DONE, {"QUENTHALVOX_X64.DLL.OLD"}},
        {"FL 64-bit held open, Cancel", [] { hold(FL64, fake::Hold::locked); }, {IDCANCEL}, {CLAP64, CLAP32},
         {cannot_install(FL64, IN_USE), CLAP_ONLY + kept({FL64, FL32})}, EXIT_INSTALL_FAILED},
        {"FL 64-bit held open, Retry once the holder lets go",
         [] {
             hold(FL64, fake::Hold::locked);
             fake::on_message_box = [](const fake::MessageBoxRecord &) { hold(FL64, fake::Hold::none); };
         },
         {IDRETRY}, PLUGIN_FILES, {cannot_install(FL64, IN_USE), INSTALLED}, EXIT_DONE},
        {"FL 64-bit read-only", [] { fake::files.node(FL64)->read_only = true; }, {}, PLUGIN_FILES, {INSTALLED}, EXIT_DONE},
        {"FL 64-bit read-only and loaded", [] { fake::files.node(FL64)->read_only = true, hold(FL64, fake::Hold::loaded); },
         {}, PLUGIN_FILES, {INSTALLED + RESTART_HOST}, EXIT_DONE, {"QUENTHALVOX_X64.DLL.OLD"}},
        {"a folder at FL 64-bit's path: no earlier version there",
         [] { fake::files.nodes.erase(fake::normalise_path(FL64)), fake::files.add_folder(FL64); }, {IDCANCEL},
         {CLAP64, CLAP32}, {cannot_install(FL64, INACCESSIBLE), CLAP_ONLY + kept({FL32})}, EXIT_INSTALL_FAILED},
        {"disk full writing FL 64-bit", [] { write_error_at(FL64, ERROR_DISK_FULL); }, {IDCANCEL}, {CLAP64, CLAP32},
         {cannot_install(FL64, DISK_FULL), CLAP_ONLY + kept({FL64, FL32})}, EXIT_INSTALL_FAILED},
        {"access denied creating CLAP 64-bit's new file",
         [] { fake::files.create_fails = [](std::u16string_view path) { return path == CLAP64 + u".new"; }; },
         {IDCANCEL}, {}, {cannot_install(CLAP64, INACCESSIBLE), kept(PLUGIN_FILES)}, EXIT_INSTALL_FAILED},
        // Refused in place and again once the old file is aside: the old file goes back.
        {"the replace step failing",
         [] {
             fake::files.move_error = [](std::u16string_view from, std::u16string_view to) {
                 return from == CLAP32 + u".new" && to == CLAP32 ? DWORD(ERROR_ACCESS_DENIED) : DWORD(0);
             };
         },
         {IDCANCEL}, {CLAP64}, {cannot_install(CLAP32, INACCESSIBLE), PARTLY + lines({CLAP64}) + u"\r\n" + kept({CLAP32, FL64, FL32})},
         EXIT_INSTALL_FAILED},
        // The licence text took the first block.
        {"no memory for the second file", [] { fake::heap.fail_allocation = 3; }, {}, {CLAP64},
         {fake::u16(TEXT_NO_MEMORY), PARTLY + lines({CLAP64}) + u"\r\n" + kept({CLAP32, FL64, FL32})}, EXIT_INSTALL_FAILED},
        {"FL Studio gone since the page was built", [] { fake::registry.keys.clear(); }, {}, {CLAP64, CLAP32},
         {FL_NOT_FOUND, INSTALLED}, EXIT_DONE},
        {"the 32-bit CLAP folder unknown", [] { fake::remove_variable(u"COMMONPROGRAMFILES(X86)"); }, {}, {FL64, FL32},
         {INACCESSIBLE, INACCESSIBLE, INSTALLED}, EXIT_DONE},
        // Links are refused, whoever made them, and what they lead to is left alone.
        {"the FL plug-in folder a link the user made", [] { link_elsewhere(FL_FOLDER); }, {IDCANCEL}, {CLAP64, CLAP32},
         FL_LINK_REFUSED, EXIT_INSTALL_FAILED},
        {"FL Studio's folder a link the user made, FL 64-bit loaded",
         [] { link_elsewhere(u"C:\\Program Files\\FL"), hold(FL64, fake::Hold::loaded); }, {IDCANCEL}, {CLAP64, CLAP32},
         FL_LINK_REFUSED, EXIT_INSTALL_FAILED},
        {"the CLAP 64-bit file a link the user made",
         [] {
             fake::files.add_file(ELSEWHERE + u"\\Q.clap", "older build");
             fake::files.add_link(CLAP64, ELSEWHERE + u"\\Q.clap");
         },
         {IDCANCEL}, {}, {cannot_install(CLAP64, LINK_REFUSED), LINK_REFUSED + u"\r\n" + lines({CLAP64}) + u"\r\n" + kept({CLAP32, FL64, FL32})},
         EXIT_INSTALL_FAILED},
        {"the FL plug-in folder a symbolic link an administrator made",
         [] { link_elsewhere(FL_FOLDER, IO_REPARSE_TAG_SYMLINK); }, {IDCANCEL}, {CLAP64, CLAP32}, FL_LINK_REFUSED, EXIT_INSTALL_FAILED},
        // Whatever fails, the working build stays, and a file left beside it is named.
        {"moving FL 64-bit into place and back failing, then Retry",
         [] {
             hold(FL64, fake::Hold::loaded);
             moves_to_fail(FL64);
             fake::on_message_box = [](const fake::MessageBoxRecord &) { fake::files.move_error = nullptr; };
         },
         {IDRETRY}, PLUGIN_FILES, {cannot_install(FL64, INACCESSIBLE), INSTALLED + RESTART_HOST}, EXIT_DONE,
         {"QUENTHALVOX_X64.DLL.OLD"}},
        {"FL 64-bit held open, its new file not deletable",
         [] {
             hold(FL64, fake::Hold::locked);
             fake::files.delete_error = [](std::u16string_view path) {
                 return path == FL64 + u".new" ? DWORD(ERROR_ACCESS_DENIED) : DWORD(0);
             };
         },
         {IDCANCEL}, {CLAP64, CLAP32},
         {cannot_install(FL64, IN_USE), CLAP_ONLY + kept({FL64, FL32}) + LEFT_BESIDE + lines({FL64 + u".new"})},
         EXIT_INSTALL_FAILED, {"QUENTHALVOX_X64.DLL.NEW"}},
        {"FL 64-bit loaded, the disk full for FL 32-bit, Retry once the DAW is closed",
         [] {
             hold(FL64, fake::Hold::loaded);
             write_error_at(FL32, ERROR_DISK_FULL);
             fake::on_message_box = [](const fake::MessageBoxRecord &) {
                 if (fake::FileNode *old = fake::files.node(FL64 + u".old")) old->hold = fake::Hold::none;
                 fake::files.create_fails = nullptr;
                 fake::files.write_error = 0;
             };
         },
         {IDRETRY}, PLUGIN_FILES, {cannot_install(FL32, DISK_FULL), INSTALLED}, EXIT_DONE},
        {"FL 64-bit loaded, no removal at restart",
         [] { hold(FL64, fake::Hold::loaded), fake::files.restart_removal_fails = true; },
         {}, PLUGIN_FILES, {INSTALLED + RESTART_HOST + LEFT_BESIDE + lines({FL64 + u".old"})}, EXIT_DONE,
         {"QUENTHALVOX_X64.DLL.OLD"}},
        {"FL 64-bit loaded, outside the Program Files folders",
         [] { hold(FL64, fake::Hold::loaded), fake::remove_known_folder(FOLDERID_ProgramFiles); },
         {}, PLUGIN_FILES, {INSTALLED + RESTART_HOST + LEFT_BESIDE + lines({FL64 + u".old"})}, EXIT_DONE,
         {"QUENTHALVOX_X64.DLL.OLD"}},
        // A file is installed only once it reads back as written.
        {"a virus scanner blocking FL 64-bit's new file, Cancel",
         [] { fake::files.on_written = [](auto path, auto &file) { file.open_error = path == FL64 + u".new" ? 225 : 0; }; },
         {IDCANCEL}, {CLAP64, CLAP32},
         {cannot_install(FL64, BLOCKED), CLAP_ONLY + kept({FL64, FL32}) + LEFT_BESIDE + lines({FL64 + u".new"})},
         EXIT_INSTALL_FAILED, {"QUENTHALVOX_X64.DLL.NEW"}},
        {"a virus scanner changing FL 64-bit's new file, Retry once it is allowed",
         [] {
             fake::files.on_written = [](auto path, auto &file) { file.bytes[0] ^= path == FL64 + u".new"; };
             fake::on_message_box = [](const fake::MessageBoxRecord &) { fake::files.on_written = nullptr; };
         },
         {IDRETRY}, PLUGIN_FILES, {cannot_install(FL64, BLOCKED), INSTALLED}, EXIT_DONE},
        // However early a run stops, an earlier run's files beside a plug-in are named.
        {"the FL plug-in folder failing once to be looked at, over an earlier run's new file and its stranded FL 32-bit build",
         [] { fake::files.add_file(FL64 + u".new", "half"), erase(FL32), fake::files.add_file(FL32 + u".old", "older build"), 
             fake::files.look_fails = [failed = false](auto at) mutable { return at == FL_FOLDER && !std::exchange(failed, true); }; },
         {IDCANCEL}, {CLAP64, CLAP32},
         {cannot_install(FL64, INACCESSIBLE), CLAP_ONLY + kept({FL64, FL32 + u".old"}) + LEFT_BESIDE + lines({FL64 + u".new"})},
         EXIT_INSTALL_FAILED, {"QUENTHALVOX_X64.DLL.NEW", "QUENTHALVOX.DLL.OLD"}, {FL32}},
        {"the FL plug-in folder a link the user made, nothing behind it",
         [] { erase(FL64), erase(FL32), fake::files.add_folder(ELSEWHERE), link_elsewhere(FL_FOLDER); }, {IDCANCEL},
         {CLAP64, CLAP32}, FL_LINK_REFUSED, EXIT_INSTALL_FAILED, {}, {FL64, FL32}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh_process();
        add_hosts();
        target_test::install_payload();
        for (const std::u16string &path : PLUGIN_FILES) fake::files.add_file(path, "older build");
        fake::message_box_answers = c.answers;
        bool marquee_ran = false;
        EXPECT_EQ(run([&](HWND page) {
                      c.arrange();
                      fake::click(page, IDOK);
                      marquee_ran = fake::dialog_of(page).control(ID_PROGRESS)->marquee;
                  }),
                  c.exit);
        std::vector<std::string> names;
        for (size_t i = 0; i < PLUGIN_FILES.size(); ++i) {
            if (fake::files.is_folder(PLUGIN_FILES[i])) continue;  // as the row left it
            bool renewed = std::count(c.renewed.begin(), c.renewed.end(), PLUGIN_FILES[i]) == 1;
            bool gone = !renewed && std::count(c.gone.begin(), c.gone.end(), PLUGIN_FILES[i]) == 1;
            EXPECT_EQ(fake::files.read(PLUGIN_FILES[i]),
                      gone ? std::nullopt : std::optional(renewed ? target_test::bytes_of(ENTRIES[i]) : "older build"))
                << fake::narrow(PLUGIN_FILES[i]);
            if (!gone) names.push_back(FOUR[i]);
        }
        names.insert(names.end(), c.beside.begin(), c.beside.end());
        std::sort(names.begin(), names.end());
        std::vector<std::string> found = names_in_folders();
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, names);
        // The hint to restart the DAW comes exactly with an old build of the run still beside a file.
        bool aside = std::any_of(found.begin(), found.end(), [](const std::string &name) {
            return name.size() > 4 && name.compare(name.size() - 4, 4, ".OLD") == 0;
        });
        EXPECT_EQ(c.reports.back().find(RESTART_HOST) != std::u16string::npos, aside && c.exit == EXIT_DONE);
        EXPECT_EQ(report_texts(), c.reports);
        for (const fake::MessageBoxRecord &box : fake::message_boxes) {
            bool closing = &box == &fake::message_boxes.back();
            EXPECT_EQ(box.owner, selection_page().window);
            EXPECT_EQ(box.caption, closing ? std::optional<std::u16string>(u"Quenthalvox") : std::nullopt);
            EXPECT_EQ(box.type, UINT(box.text.rfind(u"C:\\", 0) == 0 ? MB_RETRYCANCEL : MB_OK));
        }
        EXPECT_EQ(install_failed, c.exit == EXIT_INSTALL_FAILED);
        EXPECT_TRUE(marquee_ran);
        EXPECT_FALSE(selection_page().control(ID_PROGRESS)->marquee);
        EXPECT_EQ(fake::user.slept_ms, c.exit == EXIT_DONE ? 2000u : 0u);  // no pause after a failure
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
    set_common_files();
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
    EXPECT_EQ(fake::files.read(CLAP64), target_test::bytes_of("bin/target_cl64"));
    EXPECT_FALSE(fake::files.is_file(CLAP32));
    EXPECT_EQ(report_texts().back(), INSTALLED);
}

// Whatever is ticked, every file goes; one a program still holds goes at the
// next restart where it can be moved aside, and is named as left where not.
TEST(UninstallRun, RemovesEveryTargetAndTellsWhatCouldNotGo) {
    const std::u16string UNINSTALLED = u"Quenthalvox has been uninstalled from your computer.";
    const std::u16string AT_RESTART = u"These files will be removed when you restart your computer:\r\n";
    const std::u16string LEFT = u"These files could not be removed:\r\n";
    const std::u16string LEFT_DENIED = u"The file could not be deleted.";
    const std::u16string ASIDE = FL64 + u".old";
    const std::u16string STANDALONE = u"C:\\Roaming\\Brindlewoodsonics\\Quenthalvox Standalone.exe";
    const std::u16string SHORTCUT = u"C:\\Start\\Programs\\Quenthalvox Standalone.lnk";
    struct Case {
        const char *name;
        std::function<void()> arrange;
        std::vector<std::u16string> kept;
        std::u16string report;
        UINT exit;
        std::vector<std::string> at_restart = {};
    } cases[] = {
        {"nothing held", [] {}, {}, UNINSTALLED, EXIT_DONE},
        {"FL 64-bit loaded by a host", [] { hold(FL64, fake::Hold::loaded); }, {ASIDE},
         UNINSTALLED + u"\r\n\r\n" + AT_RESTART + lines({FL64}), EXIT_DONE, {fake::normalise_path(ASIDE)}},
        {"FL 64-bit loaded, no removal at restart",
         [] { hold(FL64, fake::Hold::loaded), fake::files.restart_removal_fails = true; },
         {FL64}, LEFT + lines({FL64, IN_USE}), EXIT_UNINSTALL_INCOMPLETE},
        {"FL 64-bit held open and CLAP 32-bit read-only",
         [] { hold(FL64, fake::Hold::locked), fake::files.node(CLAP32)->read_only = true; },
         {FL64, CLAP32}, LEFT + lines({FL64, IN_USE, CLAP32, LEFT_DENIED}), EXIT_UNINSTALL_INCOMPLETE},
        {"FL 64-bit loaded, outside the Program Files folders",
         [] { hold(FL64, fake::Hold::loaded), fake::remove_known_folder(FOLDERID_ProgramFiles); },
         {FL64}, LEFT + lines({FL64, IN_USE}), EXIT_UNINSTALL_INCOMPLETE},
        {"FL 64-bit loaded, no removal at restart, and it cannot go back",
         [] {
             hold(FL64, fake::Hold::loaded);
             fake::files.restart_removal_fails = true;
             moves_to_fail(FL64);
         },
         {ASIDE}, LEFT + lines({ASIDE, IN_USE}), EXIT_UNINSTALL_INCOMPLETE},
        {"the FL plug-in folder a link the user made", [] { link_elsewhere(FL_FOLDER); },
         {FL64, FL32}, LEFT + lines({FL64, LINK_REFUSED, FL32, LINK_REFUSED}), EXIT_UNINSTALL_INCOMPLETE},
        {"the maker's folder's parent a link the user made",
         [] {
             fake::files.add_file(u"C:\\Roaming\\Brindlewoodsonics\\Quenthalvox Standalone.exe", "standalone");
             link_elsewhere(u"C:\\Roaming");
         },
         {STANDALONE}, LEFT + lines({STANDALONE, LINK_REFUSED}), EXIT_UNINSTALL_INCOMPLETE},
        {"the Start menu's Programs folder a link an administrator made",
         [] {
             fake::files.add_file(u"C:\\Start\\Programs\\Quenthalvox Standalone.lnk", "shortcut");
             link_elsewhere(u"C:\\Start\\Programs");
         },
         {SHORTCUT}, LEFT + lines({SHORTCUT, LINK_REFUSED}), EXIT_UNINSTALL_INCOMPLETE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh_process();
        add_hosts();
        fake::set_known_folder(FOLDERID_RoamingAppData, u"C:\\Roaming");
        fake::files.add_folder(u"C:\\Roaming");
        fake::set_known_folder(FOLDERID_StartMenu, u"C:\\Start");
        for (const std::u16string &path : PLUGIN_FILES) fake::files.add_file(path, "old");
        c.arrange();
        EXPECT_EQ(run([](HWND page) {
                      for (DWORD id : {1000, 1001, 1002}) fake::click(page, id);
                      fake::click(page, ID_UNINSTALL);
                  }),
                  c.exit);
        for (const std::u16string &path : {CLAP64, CLAP32, FL64, FL32, ASIDE, STANDALONE, SHORTCUT})
            EXPECT_EQ(fake::files.is_file(path), std::count(c.kept.begin(), c.kept.end(), path) == 1)
                << fake::narrow(path);
        bool fl_file_kept = std::count(c.kept.begin(), c.kept.end(), FL64) || std::count(c.kept.begin(), c.kept.end(), ASIDE);
        EXPECT_EQ(fake::files.is_folder(FL_FOLDER), fl_file_kept);
        EXPECT_EQ(fake::files.removed_at_restart, c.at_restart);
        EXPECT_TRUE(fake::files.is_folder(u"C:\\Roaming\\Brindlewoodsonics"));
        ASSERT_EQ(fake::message_boxes.size(), 1u);
        EXPECT_EQ(fake::message_boxes[0].text, c.report);
        EXPECT_EQ(fake::message_boxes[0].caption, u"Quenthalvox");
        EXPECT_EQ(fake::message_boxes[0].owner, selection_page().window);
        EXPECT_EQ(selection_page().result, INT_PTR(c.exit));
        EXPECT_EQ(fake::calls.back(), "ExitProcess " + std::to_string(c.exit));
        EXPECT_TRUE(fake::calls_named("CreateThread").empty());
    }
}

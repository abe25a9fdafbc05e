#include <gtest/gtest.h>

#include "fake.h"
#include "target_test_support.h"
#include "targets/standalone.h"

using namespace target_test;

namespace {

const std::u16string ROAMING = u"C:\\Users\\Ana\\AppData\\Roaming";
const std::u16string START_MENU = u"C:\\Users\\Ana\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu";
const std::u16string MAKER = u"\\Brindlewoodsonics";
const std::u16string PROGRAM = MAKER + u"\\Quenthalvox Standalone.exe";
const std::u16string SHORTCUT = u"\\Programs\\Quenthalvox Standalone.lnk";

// A folder path of exactly length units.
std::u16string folder_of_length(size_t length) { return u"C:\\" + std::u16string(length - 3, u'k'); }

class Standalone : public testing::Test {
protected:
    void SetUp() override {
        fake::set_known_folder(FOLDERID_RoamingAppData, ROAMING);
        fake::set_known_folder(FOLDERID_StartMenu, START_MENU);
    }
    // What a removal changes, read off the disk before it: the maker's folder
    // where it is missing, then each file that is there.
    static std::vector<std::string> expected_calls(const std::u16string &roaming, const std::u16string &start_menu) {
        std::vector<std::string> calls;
        if (!fake::files.is_folder(roaming + MAKER)) calls.push_back(call("NtCreateFile(create)", roaming + MAKER));
        for (const std::u16string &file : {roaming + PROGRAM, start_menu + SHORTCUT})
            if (fake::files.is_file(file)) calls.push_back(call("NtSetInformationFile(delete)", file));
        return calls;
    }
};

TEST_F(Standalone, RemovesProgramAndShortcutAndKeepsTheMakerFolder) {
    fake::files.add_file(ROAMING + PROGRAM, "program");
    fake::files.add_file(START_MENU + SHORTCUT, "shortcut");
    std::vector<std::string> expected = expected_calls(ROAMING, START_MENU);
    remove_standalone();
    EXPECT_EQ(file_system_calls(), expected);
    EXPECT_FALSE(fake::files.is_file(ROAMING + PROGRAM));
    EXPECT_FALSE(fake::files.is_file(START_MENU + SHORTCUT));
    EXPECT_TRUE(fake::files.is_folder(ROAMING + MAKER));
    EXPECT_TRUE(fake::files.is_folder(START_MENU + u"\\Programs"));
    EXPECT_TRUE(fake::message_boxes.empty());
}

TEST_F(Standalone, LooksUpBothFoldersForTheCurrentUser) {
    remove_standalone();
    ASSERT_EQ(fake::known_folders.lookups.size(), 2u);
    EXPECT_EQ(fake::known_folders.lookups[0].folder, "RoamingAppData");
    EXPECT_EQ(fake::known_folders.lookups[1].folder, "StartMenu");
    for (const fake::KnownFolderLookup &lookup : fake::known_folders.lookups) {
        EXPECT_EQ(lookup.flags, 0u);
        EXPECT_FALSE(lookup.token_given);
    }
}

TEST_F(Standalone, OnACleanMachineOnlyTheMakerFolderAppears) {
    fake::files.add_folder(ROAMING);
    fake::files.add_folder(START_MENU + u"\\Programs");
    auto before = fake::files.nodes;
    remove_standalone();
    before[fake::normalise_path(ROAMING + MAKER)].is_folder = true;
    EXPECT_EQ(fake::files.nodes.size(), before.size());
    for (const auto &node : before) EXPECT_TRUE(fake::files.nodes.count(node.first)) << node.first;
    EXPECT_TRUE(fake::message_boxes.empty());
}

TEST_F(Standalone, EachFileGoesWhenTheOtherIsMissing) {
    struct Case {
        const char *name;
        bool program, shortcut;
    } cases[] = {{"program only", true, false}, {"shortcut only", false, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::files = fake::FileSystem{};
        fake::calls.clear();
        fake::files.add_folder(ROAMING);
        fake::files.add_folder(START_MENU + u"\\Programs");
        if (c.program) fake::files.add_file(ROAMING + PROGRAM, "program");
        if (c.shortcut) fake::files.add_file(START_MENU + SHORTCUT, "shortcut");
        std::vector<std::string> expected = expected_calls(ROAMING, START_MENU);
        remove_standalone();
        EXPECT_EQ(file_system_calls(), expected);
        EXPECT_FALSE(fake::files.is_file(ROAMING + PROGRAM));
        EXPECT_FALSE(fake::files.is_file(START_MENU + SHORTCUT));
        EXPECT_TRUE(fake::files.is_folder(ROAMING + MAKER));
    }
    EXPECT_TRUE(fake::message_boxes.empty());
}

TEST_F(Standalone, KnownFolderLengthsUpTo260AreAccepted) {
    struct Case {
        size_t roaming, start_menu;
        bool accepted;
    } cases[] = {
        {260, 260, true}, {261, 260, false}, {260, 261, false}, {3, 400, false}, {400, 3, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.roaming << " and " << c.start_menu);
        fake::reset();
        std::u16string roaming = folder_of_length(c.roaming);
        std::u16string start_menu = folder_of_length(c.start_menu);
        fake::set_known_folder(FOLDERID_RoamingAppData, roaming);
        fake::set_known_folder(FOLDERID_StartMenu, start_menu);
        fake::files.add_file(roaming + PROGRAM, "program");
        fake::files.add_file(start_menu + SHORTCUT, "shortcut");
        std::vector<std::string> expected = c.accepted ? expected_calls(roaming, start_menu) : std::vector<std::string>{};
        remove_standalone();
        EXPECT_EQ(file_system_calls(), expected);
        EXPECT_EQ(fake::files.is_file(roaming + PROGRAM), !c.accepted);
        EXPECT_EQ(fake::files.is_file(start_menu + SHORTCUT), !c.accepted);
        EXPECT_TRUE(fake::message_boxes.empty());
    }
}

TEST_F(Standalone, AFolderThatCannotBeLookedUpStopsEverything) {
    for (const KNOWNFOLDERID *missing : {&FOLDERID_RoamingAppData, &FOLDERID_StartMenu}) {
        fake::reset();
        SetUp();
        fake::remove_known_folder(*missing);
        fake::files.add_file(ROAMING + PROGRAM, "program");
        fake::files.add_file(START_MENU + SHORTCUT, "shortcut");
        remove_standalone();
        EXPECT_EQ(fake::calls_named("SHGetKnownFolderPath").size(), 2u);
        EXPECT_TRUE(file_system_calls().empty());
        EXPECT_TRUE(fake::files.is_file(ROAMING + PROGRAM));
        EXPECT_TRUE(fake::files.is_file(START_MENU + SHORTCUT));
        EXPECT_TRUE(fake::message_boxes.empty());
    }
}

}  // namespace

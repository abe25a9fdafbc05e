#include <gtest/gtest.h>

#include <winternl.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "archive_builder.h"
#include "error_report.h"
#include "fake.h"
#include "common/exit_codes.h"
#include "payload/extract.h"

using namespace archive_builder;

namespace {

HWND const OWNER = reinterpret_cast<HWND>(0x7B0);
const char16_t INACCESSIBLE[] = u"The installation folder was inaccessible. Quenthalvox could not be installed.";
const char16_t NO_MEMORY[] = u"Insufficient memory was available. Quenthalvox could not be installed.";
const char16_t DISK_FULL[] = u"There is not enough free disk space on that drive.";
const char16_t CORRUPTED[] = u"The installer has been corrupted. Please download Quenthalvox again.";

const std::string POOL = "The bytes of a small plug-in build, stored once and sliced twice.";
const std::vector<Reference> PLUGIN_SLICES = {{4, 5}, {0, 4}, {40, 20}};

class Extract : public testing::Test {
protected:
    void SetUp() override {
        install_failed = 0;
        flag_at_report.clear();
        Entry damaged = entry("bin/damaged", POOL, {{0, 10}});
        damaged.checksum ^= 1;
        fake::set_payload(POOL, directory({entry("bin/plugin", POOL, PLUGIN_SLICES), Entry{"bin/empty", 0x84222325, 0, {}},
                                           damaged}));
        // Records the flag while each report is on screen, to check which comes first.
        fake::on_message_box = [this](const fake::MessageBoxRecord &) { flag_at_report.push_back(install_failed); };
    }
    void TearDown() override { fake::on_message_box = nullptr; }

    // Runs extract_file on a copy of path in a buffer with marks after the
    // terminator; checks the buffer comes back exactly as it went in.
    std::optional<UINT> extract(std::u16string path, const char *entry_name = "bin/plugin") {
        std::vector<WCHAR> buffer(path.begin(), path.end());
        buffer.push_back(0);
        buffer.insert(buffer.end(), {L'#', L'\\', 0});
        std::vector<WCHAR> before = buffer;
        std::optional<UINT> exit = fake::run_process([&] { extract_file(OWNER, buffer.data(), entry_name); });
        EXPECT_EQ(buffer, before) << "path buffer changed";
        return exit;
    }

    std::vector<BYTE> flag_at_report;
};

std::string plugin_bytes() { return contents(POOL, PLUGIN_SLICES); }

// The folders and files made, in order.
std::vector<std::string> made() { return fake::calls_named("NtCreateFile(create)"); }

}  // namespace

TEST_F(Extract, CreatesEveryFolderOutermostFirstAndWritesTheFileOnce) {
    struct Case {
        const char *what;
        const char16_t *existing;  // a folder present before the call, or null
        const char16_t *path;
        std::vector<std::string> folders;  // the missing ones, made in order
    } cases[] = {
        {"folders exist", u"C:\\Program Files\\Common Files\\CLAP", u"C:\\Program Files\\Common Files\\CLAP\\Q.clap", {}},
        {"three levels missing", u"C:\\Hosts", u"C:\\Hosts\\FL\\Plugins\\Fx\\Q.dll",
         {"C:\\Hosts\\FL", "C:\\Hosts\\FL\\Plugins", "C:\\Hosts\\FL\\Plugins\\Fx"}},
        {"leading backslash, forward slashes", nullptr, u"\\Audio/FL/Q.dll", {"\\Audio", "\\Audio\\FL"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        SetUp();
        if (c.existing) fake::files.add_folder(c.existing);
        EXPECT_FALSE(extract(c.path));
        std::vector<std::string> expected;
        for (const std::string &folder : c.folders) expected.push_back("NtCreateFile(create) " + folder);
        std::string file = fake::narrow(c.path);
        std::replace(file.begin(), file.end(), '/', '\\');  // each name is made within the folder before it
        expected.push_back("NtCreateFile(create) " + file + ".new");
        EXPECT_EQ(made(), expected);
        for (const std::string &folder : c.folders) EXPECT_TRUE(fake::files.is_folder(fake::u16(folder))) << folder;
        EXPECT_EQ(fake::files.read(c.path), plugin_bytes());
        EXPECT_EQ(fake::files.writes, 1u);
        EXPECT_EQ(install_failed, 0);
        EXPECT_TRUE(fake::message_boxes.empty());
    }
}

// The folders on the way are held open, without letting them be renamed or
// deleted, while the new file is created only as a new file inside the
// innermost; no name is followed where it is a link.
TEST_F(Extract, OpensANewFileForExclusiveWritingWhileTheFoldersAreHeldAndReleasesEverything) {
    fake::files.add_folder(u"C:\\Fx");
    ASSERT_FALSE(extract(u"C:\\Fx\\Q.clap"));
    ASSERT_GE(fake::files.opens.size(), 3u);
    EXPECT_EQ(fake::files.opens[1].path, u"C:\\Fx");  // after the drive's root, by name
    for (const fake::OpenRecord &held : {fake::files.opens[0], fake::files.opens[1]})
        EXPECT_EQ(held.share, DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE)) << fake::narrow(held.path);
    // FILE_FLAG_OPEN_REPARSE_POINT has the value of FILE_OPEN_REPARSE_POINT.
    for (const fake::OpenRecord &open : fake::files.opens)
        EXPECT_TRUE(open.options & FILE_OPEN_REPARSE_POINT) << fake::narrow(open.path);
    auto created = std::find_if(fake::files.opens.begin(), fake::files.opens.end(),
                                [](const fake::OpenRecord &open) { return open.access & GENERIC_WRITE; });
    ASSERT_NE(created, fake::files.opens.end());
    EXPECT_EQ(created->path, u"C:\\Fx\\Q.clap.new");  // renamed into place once complete
    EXPECT_EQ(fake::files.files_in(u"C:\\Fx"), std::vector<std::string>{"C:\\FX\\Q.CLAP"});
    EXPECT_EQ(created->share, 0u);
    EXPECT_EQ(created->disposition, DWORD(FILE_CREATE));
    EXPECT_EQ(fake::files.overlapped_writes, 0u);
    EXPECT_EQ(fake::files.open_handles(), 0u);
    EXPECT_EQ(fake::files.bad_closes, 0u);
    EXPECT_EQ(fake::heap.live_blocks(), 0u);
    EXPECT_EQ(fake::heap.bad_frees, 0u);
}

TEST_F(Extract, ReplacesALongerFileAndWritesAnEmptyOne) {
    fake::files.add_file(u"C:\\Fx\\Q.dll", std::string(500, 'x'));
    fake::files.add_file(u"C:\\Fx\\Empty.dll", "old contents");
    ASSERT_FALSE(extract(u"C:\\Fx\\Q.dll"));
    ASSERT_FALSE(extract(u"C:\\Fx\\Empty.dll", "bin/empty"));
    EXPECT_EQ(fake::files.read(u"C:\\Fx\\Q.dll"), plugin_bytes());
    EXPECT_EQ(fake::files.read(u"C:\\Fx\\Empty.dll"), std::string());
    EXPECT_EQ(fake::files.writes, 2u);  // the empty file is written too, with one write of 0 bytes
    EXPECT_EQ(fake::heap.live_blocks(), 0u);
}

// The flag is only ever set, never read: a caller that calls anyway gets the file.
TEST_F(Extract, DoesNotReadTheFailureFlag) {
    install_failed = 1;
    ASSERT_FALSE(extract(u"C:\\Q.clap"));
    EXPECT_EQ(fake::files.read(u"C:\\Q.clap"), plugin_bytes());
    EXPECT_EQ(install_failed, 1);
}

// Whatever stops the new file, the old one stays as it was, nothing new is
// left beside it, and the user may try again.
TEST_F(Extract, AFileThatCannotBeWrittenLeavesTheOldOneAndOffersToTryAgain) {
    struct Case {
        const char *what;
        std::function<void()> arrange;
        const char16_t *cause;
        std::vector<std::string> order;  // of the calls below
    } cases[] = {
        {"cannot be created",
         [] { fake::files.create_fails = [](std::u16string_view path) { return path == u"C:\\Fx\\Q.dll.new"; }; },
         INACCESSIBLE, {"MessageBoxW"}},
        {"write fails", [] { fake::files.write_error = ERROR_WRITE_FAULT; }, INACCESSIBLE,
         {"WriteFile", "NtSetInformationFile(delete)", "MessageBoxW"}},
        {"disk full", [] { fake::files.write_error = ERROR_DISK_FULL; }, DISK_FULL,
         {"WriteFile", "NtSetInformationFile(delete)", "MessageBoxW"}},
        {"one byte short", [] { fake::files.short_write_limit = plugin_bytes().size() - 1; }, DISK_FULL,
         {"WriteFile", "NtSetInformationFile(delete)", "MessageBoxW"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        SetUp();
        fake::files.add_file(u"C:\\Fx\\Q.dll", "a working older build");
        c.arrange();
        ASSERT_FALSE(extract(u"C:\\Fx\\Q.dll"));
        ASSERT_EQ(fake::message_boxes.size(), 1u);
        EXPECT_EQ(fake::message_boxes[0].text,
                  std::u16string(u"C:\\Fx\\Q.dll\r\n\r\n") + c.cause);
        EXPECT_EQ(fake::message_boxes[0].type, UINT(MB_RETRYCANCEL));
        EXPECT_FALSE(fake::message_boxes[0].caption);
        EXPECT_EQ(flag_at_report, std::vector<BYTE>{0});  // reported, then recorded on Cancel
        EXPECT_EQ(install_failed, 1);
        EXPECT_EQ(fake::files.read(u"C:\\Fx\\Q.dll"), "a working older build");
        EXPECT_EQ(fake::files.files_in(u"C:\\Fx"), std::vector<std::string>{"C:\\FX\\Q.DLL"});
        EXPECT_EQ(fake::files.open_handles(), 0u);
        EXPECT_EQ(fake::files.bad_closes, 0u);
        EXPECT_EQ(fake::heap.live_blocks(), 0u);
        std::vector<std::string> order;
        auto opened = std::find_if(fake::calls.begin(), fake::calls.end(),
                                   [](const std::string &call) { return call == "NtCreateFile(create) C:\\Fx\\Q.dll.new"; });
        for (auto call = opened + 1; call != fake::calls.end(); ++call) {
            std::string name = call->substr(0, call->find(' '));
            if (name == "WriteFile" || name == "NtSetInformationFile(delete)" || name == "MessageBoxW")
                order.push_back(name);
        }
        EXPECT_EQ(order, c.order);
    }
}

TEST_F(Extract, NoMemoryIsRecordedAndReportedBeforeTheDiskIsTouched) {
    fake::heap.fail_allocation = 1;
    ASSERT_FALSE(extract(u"C:\\New\\Q.clap"));
    expect_one_error_report(OWNER, NO_MEMORY);
    EXPECT_EQ(flag_at_report, std::vector<BYTE>{1});  // recorded, then reported
    EXPECT_EQ(install_failed, 1);
    EXPECT_TRUE(made().empty());
    EXPECT_TRUE(fake::files.opens.empty());
    EXPECT_TRUE(fake::calls_named("HeapFree").empty());
}

TEST_F(Extract, ACorruptedEntryEndsTheProcessWithNothingOnDisk) {
    for (const char *name : {"bin/damaged", "bin/missing"}) {
        SCOPED_TRACE(name);
        fake::reset();
        SetUp();
        std::optional<UINT> exit = extract(u"C:\\New\\Deeper\\Q.clap", name);
        EXPECT_EQ(exit, std::optional<UINT>(EXIT_PAYLOAD_CORRUPTED));
        expect_one_error_report(OWNER, CORRUPTED);
        EXPECT_EQ(install_failed, 0);
        EXPECT_TRUE(made().empty());
        EXPECT_TRUE(fake::files.opens.empty());
        EXPECT_FALSE(fake::files.is_folder(u"C:\\New"));
    }
}

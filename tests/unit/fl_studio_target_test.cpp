#include <gtest/gtest.h>

#include <functional>

#include "fake.h"
#include "payload/extract.h"
#include "target_test_support.h"
#include "targets/fl_studio_target.h"

using namespace target_test;

namespace {

const std::u16string KEY = u"SOFTWARE\\Image-Line\\Shared\\Paths";
const std::u16string FL_FOLDER = u"C:\\Program Files\\Image-Line\\FL Studio 21";
const std::u16string PLUGIN_FOLDER = u"\\Plugins\\Fruity\\Effects\\Quenthalvox";
const std::u16string DLL_64 = PLUGIN_FOLDER + u"\\Quenthalvox_x64.dll";
const std::u16string DLL_32 = PLUGIN_FOLDER + u"\\Quenthalvox.dll";

// A value of exactly length units ending in a backslash, so that its folder
// part is as long as a value of that length allows.
std::u16string value_of_length(size_t length) { return u"C:\\" + std::u16string(length - 4, u'f') + u"\\"; }

class FlStudioTarget : public testing::Test {
protected:
    void SetUp() override {
        install_payload();
        fake::registry.set_string(KEY, u"FL Studio", FL_FOLDER + u"\\FL64.exe");
    }
};

TEST(FakeRegistry, ReadsPlainStringsAsTheSystemDoes) {
    struct Case {
        const char *name;
        DWORD type;
        std::string bytes;
        LSTATUS status;
        DWORD size_after;
    } cases[] = {
        {"249 units with terminator", REG_SZ, std::string(500, 'a').replace(498, 2, 2, '\0'), ERROR_SUCCESS, 500},
        {"250 units with terminator", REG_SZ, std::string(502, 'a').replace(500, 2, 2, '\0'), ERROR_MORE_DATA, 502},
        {"249 units without terminator", REG_SZ, std::string(498, 'a'), ERROR_SUCCESS, 500},
        {"250 units without terminator", REG_SZ, std::string(500, 'a'), ERROR_MORE_DATA, 502},
        {"a number", REG_DWORD, std::string(4, '\1'), ERROR_UNSUPPORTED_TYPE, 500},
        {"an expandable string", REG_EXPAND_SZ, std::string("a\0\0\0", 4), ERROR_UNSUPPORTED_TYPE, 500},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::registry.set_value(u"Software\\Test", u"Value", c.type, c.bytes);
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\TEST", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        WCHAR buffer[260] = {};
        DWORD size = 500;
        EXPECT_EQ(RegGetValueW(key, nullptr, L"value", RRF_RT_REG_SZ, nullptr, buffer, &size), c.status);
        EXPECT_EQ(size, c.size_after);
        if (c.status == ERROR_SUCCESS) {
            EXPECT_EQ(fake::u16(buffer), std::u16string(249, u'\x6161'));
        }
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        EXPECT_EQ(fake::registry.open_keys(), 0u);
    }
}

struct CutCase {
    const char *name;
    std::u16string value;
    std::u16string folder;  // the part before the last backslash
};

class FlStudioCut : public FlStudioTarget, public testing::WithParamInterface<CutCase> {};

TEST_P(FlStudioCut, InstallWritesBothDllsUnderTheFolderPart) {
    const CutCase &c = GetParam();
    fake::registry.set_string(KEY, u"FL Studio", c.value);
    fl_studio_target(PAGE, 0);
    EXPECT_EQ(files_put_in_place(),
              (std::vector<std::string>{fake::narrow(c.folder + DLL_64), fake::narrow(c.folder + DLL_32)}));
    EXPECT_EQ(fake::files.read(c.folder + DLL_64), bytes_of("bin/target_fl64"));
    EXPECT_EQ(fake::files.read(c.folder + DLL_32), bytes_of("bin/target_fl32"));
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_EQ(install_failed, 0);
}

TEST_P(FlStudioCut, RemovalDeletesBothDllsAndThePluginFolder) {
    const CutCase &c = GetParam();
    fake::registry.set_string(KEY, u"FL Studio", c.value);
    fake::files.add_file(c.folder + DLL_64, "64");
    fake::files.add_file(c.folder + DLL_32, "32");
    fl_studio_target(PAGE, 1);
    EXPECT_EQ(file_system_calls(), (std::vector<std::string>{call("NtSetInformationFile(delete)", c.folder + DLL_64),
                                                             call("NtSetInformationFile(delete)", c.folder + DLL_32),
                                                             call("NtSetInformationFile(delete)", c.folder + PLUGIN_FOLDER)}));
    EXPECT_FALSE(fake::files.is_folder(c.folder + PLUGIN_FOLDER));
    EXPECT_TRUE(fake::files.is_folder(c.folder + u"\\Plugins\\Fruity\\Effects"));
    EXPECT_TRUE(fake::message_boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, FlStudioCut,
    testing::Values(CutCase{"NamesAFile", FL_FOLDER + u"\\FL64.exe", FL_FOLDER},
                    CutCase{"EndsInABackslash", u"C:\\Audio\\FL Studio\\", u"C:\\Audio\\FL Studio"},
                    CutCase{"NoBackslash", u"FL64.exe", u""},
                    CutCase{"OnlyBackslashFirst", u"\\FL64.exe", u""},
                    CutCase{"ForwardSlashesAreNoSeparators", u"C:\\Audio/FL Studio/FL64.exe", u"C:"},
                    CutCase{"LongestValue", value_of_length(249), value_of_length(249).substr(0, 248)}),
    [](const testing::TestParamInfo<CutCase> &info) { return std::string(info.param.name); });

struct AbsentCase {
    const char *name;
    std::function<void()> arrange;
};

class FlStudioAbsent : public FlStudioTarget, public testing::WithParamInterface<AbsentCase> {
protected:
    void SetUp() override {
        FlStudioTarget::SetUp();
        fake::registry = fake::Registry{};
        GetParam().arrange();
    }
};

TEST_P(FlStudioAbsent, InstallReportsOnceAndWritesNothing) {
    fl_studio_target(PAGE, 0);
    expect_one_report(FL_NOT_FOUND);
    EXPECT_TRUE(file_system_calls().empty());
    EXPECT_EQ(install_failed, 0);
    EXPECT_EQ(fake::registry.open_keys(), 0u);
    EXPECT_EQ(fake::registry.bad_closes, 0u);
}

TEST_P(FlStudioAbsent, RemovalIsSilentAndTouchesNoFile) {
    fake::files.add_file(FL_FOLDER + DLL_64, "64");
    fl_studio_target(PAGE, 1);
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_TRUE(file_system_calls().empty());
    EXPECT_TRUE(fake::files.is_file(FL_FOLDER + DLL_64));
    EXPECT_EQ(fake::registry.open_keys(), 0u);
    EXPECT_EQ(fake::registry.bad_closes, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlStudioAbsent,
    testing::Values(
        AbsentCase{"NoKey", [] {}},
        AbsentCase{"NoValue", [] { fake::registry.set_string(KEY, u"FL Studio Path", FL_FOLDER + u"\\FL64.exe"); }},
        AbsentCase{"NotAPlainString", [] { fake::registry.set_value(KEY, u"FL Studio", REG_BINARY, "C:\\FL"); }},
        AbsentCase{"ANumber", [] { fake::registry.set_value(KEY, u"FL Studio", REG_DWORD, std::string(4, '\0')); }},
        AbsentCase{"Value250Units", [] { fake::registry.set_string(KEY, u"FL Studio", value_of_length(250)); }},
        AbsentCase{"Value300Units", [] { fake::registry.set_string(KEY, u"FL Studio", value_of_length(300)); }},
        AbsentCase{"KeyCannotBeOpened", [] { fake::registry.create_fails = ERROR_ACCESS_DENIED; }}),
    [](const testing::TestParamInfo<AbsentCase> &info) { return std::string(info.param.name); });

TEST_F(FlStudioTarget, OpensTheKeyWithCreateSemanticsAndClosesIt) {
    for (int remove : {0, 1}) {
        SCOPED_TRACE(remove);
        fake::reset();
        fake::registry.set_string(KEY, u"FL Studio", FL_FOLDER + u"\\FL64.exe");
        install_payload();
        fl_studio_target(PAGE, remove);
        ASSERT_EQ(fake::registry.creates.size(), 1u);
        const fake::RegistryCreate &create = fake::registry.creates[0];
        EXPECT_EQ(create.root, HKEY_CURRENT_USER);
        EXPECT_EQ(create.subkey, KEY);
        EXPECT_EQ(create.reserved, 0u);
        EXPECT_FALSE(create.class_given);
        EXPECT_EQ(create.options, DWORD(REG_OPTION_NON_VOLATILE));
        EXPECT_EQ(create.access, REGSAM(KEY_ALL_ACCESS));
        EXPECT_FALSE(create.security_given);
        EXPECT_TRUE(create.result_given);
        EXPECT_FALSE(create.disposition_given);
        ASSERT_EQ(fake::registry.reads.size(), 1u);
        const fake::RegistryRead &read = fake::registry.reads[0];
        EXPECT_NE(read.key, HKEY_CURRENT_USER);
        EXPECT_FALSE(read.subkey.has_value());
        EXPECT_EQ(read.value, u"FL Studio");
        EXPECT_EQ(read.flags, DWORD(RRF_RT_REG_SZ));
        EXPECT_FALSE(read.type_given);
        EXPECT_TRUE(read.data_given);
        EXPECT_EQ(read.size, 500u);
        EXPECT_EQ(fake::calls[2], "RegCloseKey");
        EXPECT_EQ(fake::registry.open_keys(), 0u);
    }
}

TEST_F(FlStudioTarget, LeavesTheEmptyKeyBehindWithoutFlStudio) {
    for (int remove : {0, 1}) {
        SCOPED_TRACE(remove);
        fake::registry = fake::Registry{};
        fl_studio_target(PAGE, remove);
        EXPECT_TRUE(fake::registry.key_is_empty(KEY));
        EXPECT_TRUE(fake::registry.has_key(u"SOFTWARE\\Image-Line\\Shared"));
    }
}

TEST_F(FlStudioTarget, AnEarlierFailureLeavesRegistryAndFilesAlone) {
    fake::registry = fake::Registry{};
    for (int remove : {0, 1}) {
        SCOPED_TRACE(remove);
        install_failed = 1;
        fl_studio_target(PAGE, remove);
        EXPECT_TRUE(fake::calls.empty());
        EXPECT_FALSE(fake::registry.has_key(KEY));
        EXPECT_TRUE(fake::message_boxes.empty());
        EXPECT_EQ(install_failed, 1);
    }
}

TEST_F(FlStudioTarget, AFailed64BitDllLeavesThe32BitDllUnwritten) {
    fake::files.create_fails = [](std::u16string_view path) { return path == FL_FOLDER + DLL_64 + u".new"; };
    fl_studio_target(PAGE, 0);
    expect_cannot_install(FL_FOLDER + DLL_64, INACCESSIBLE);
    EXPECT_TRUE(files_put_in_place().empty());
    EXPECT_FALSE(fake::files.is_file(FL_FOLDER + DLL_32));
    EXPECT_EQ(install_failed, 1);
}

TEST_F(FlStudioTarget, RemovalTakesThePluginFolderOnlyWhenItBecomesEmpty) {
    struct Case {
        const char *name;
        bool dll_64, dll_32, other_file;
        bool folder_remains;
    } cases[] = {
        {"both DLLs", true, true, false, false},
        {"only the 32-bit DLL", false, true, false, false},
        {"only the 64-bit DLL", true, false, false, false},
        {"an empty folder", false, false, false, false},
        {"another file beside the DLLs", true, true, true, true},
    };
    const std::u16string folder = FL_FOLDER + PLUGIN_FOLDER;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::files = fake::FileSystem{};
        fake::files.add_folder(folder);
        if (c.dll_64) fake::files.add_file(FL_FOLDER + DLL_64, "64");
        if (c.dll_32) fake::files.add_file(FL_FOLDER + DLL_32, "32");
        if (c.other_file) fake::files.add_file(folder + u"\\presets.fst", "kept");
        fl_studio_target(PAGE, 1);
        EXPECT_FALSE(fake::files.is_file(FL_FOLDER + DLL_64));
        EXPECT_FALSE(fake::files.is_file(FL_FOLDER + DLL_32));
        EXPECT_EQ(fake::files.is_folder(folder), c.folder_remains);
        EXPECT_TRUE(fake::files.is_folder(FL_FOLDER + u"\\Plugins\\Fruity\\Effects"));
    }
    EXPECT_TRUE(fake::message_boxes.empty());
}

}  // namespace

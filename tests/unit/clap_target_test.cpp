#include <gtest/gtest.h>

#include <optional>

#include "fake.h"
#include "payload/extract.h"
#include "target_test_support.h"
#include "targets/clap_target.h"

using namespace target_test;

namespace {

const std::u16string SUFFIX_64 = u"\\CLAP\\Quenthalvox.clap";
const std::u16string SUFFIX_32 = u"\\CLAP\\Quenthalvox (32-bit).clap";

// A value of exactly length units; from three units on, an absolute path.
std::u16string value_of_length(size_t length) {
    if (length < 3) return std::u16string(length, u'D');
    return u"C:\\" + std::u16string(length - 3, u'f');
}

class ClapTarget : public testing::Test {
protected:
    void SetUp() override {
        set_common_files();
        install_payload();
    }
};

TEST(FakeEnvironment, ReportsLengthsAsTheSystemDoes) {
    struct Case {
        const char *name;
        std::optional<size_t> length;  // nothing: the variable is missing
        DWORD size;
        DWORD result;
        bool copied;
    } cases[] = {
        {"fits", 249, 250, 249, true},
        {"one unit too long", 250, 250, 251, false},
        {"far too long", 400, 250, 401, false},
        {"defined but empty", 0, 250, 0, false},
        {"missing", std::nullopt, 250, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        std::u16string value(c.length.value_or(0), u'v');
        if (c.length) fake::set_variable(u"Some_Variable", value);
        WCHAR buffer[512];
        for (WCHAR &unit : buffer) unit = L'#';
        EXPECT_EQ(GetEnvironmentVariableW(L"SOME_variable", buffer, c.size), c.result);
        if (c.copied)
            EXPECT_EQ(fake::u16(buffer), value);
        else
            EXPECT_EQ(buffer[0], L'#');  // left as it was
    }
}

struct BuildCase {
    int build;
    std::u16string written;
    const char *entry;
    std::u16string untouched;
};

class ClapInstall : public ClapTarget, public testing::WithParamInterface<BuildCase> {};

TEST_P(ClapInstall, WritesTheChosenBuildOnly) {
    const BuildCase &c = GetParam();
    clap_target(PAGE, 0, c.build);
    EXPECT_EQ(fake::files.read(c.written), bytes_of(c.entry));
    EXPECT_FALSE(fake::files.is_file(c.untouched));
    EXPECT_EQ(files_put_in_place(), std::vector<std::string>{fake::narrow(c.written)});
    EXPECT_EQ(fake::calls_named("GetEnvironmentVariableW"),
              (std::vector<std::string>{"GetEnvironmentVariableW COMMONPROGRAMFILES",
                                        "GetEnvironmentVariableW COMMONPROGRAMFILES(X86)"}));
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_EQ(install_failed, 0);
    EXPECT_EQ(fake::heap.live_blocks(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Builds, ClapInstall,
                         testing::Values(BuildCase{0, COMMON + SUFFIX_64, "bin/target_cl64", COMMON_X86 + SUFFIX_32},
                                         BuildCase{1, COMMON_X86 + SUFFIX_32, "bin/target_cl32", COMMON + SUFFIX_64},
                                         BuildCase{-7, COMMON_X86 + SUFFIX_32, "bin/target_cl32", COMMON + SUFFIX_64}));

struct VariableCase {
    bool x86;                      // which variable the case sets
    std::optional<size_t> length;  // nothing: missing
    bool accepted;
};

std::string variable_case_name(const testing::TestParamInfo<VariableCase> &info) {
    const VariableCase &c = info.param;
    return std::string(c.x86 ? "X86_" : "Native_") + (c.length ? "Length" + std::to_string(*c.length) : "Missing");
}

class ClapVariable : public ClapTarget, public testing::WithParamInterface<VariableCase> {
protected:
    void SetUp() override {
        ClapTarget::SetUp();
        const VariableCase &c = GetParam();
        const char16_t *name = c.x86 ? u"COMMONPROGRAMFILES(X86)" : u"COMMONPROGRAMFILES";
        if (c.length)
            fake::set_variable(name, value_of_length(*c.length));
        else
            fake::remove_variable(name);
    }
    std::u16string path_64() const { return (GetParam().x86 ? COMMON : value_of_length(*GetParam().length)) + SUFFIX_64; }
    std::u16string path_32() const {
        return (GetParam().x86 ? value_of_length(*GetParam().length) : COMMON_X86) + SUFFIX_32;
    }
};

TEST_P(ClapVariable, InstallUsesOnlyAnAcceptedValue) {
    const VariableCase &c = GetParam();
    clap_target(PAGE, 0, c.x86 ? 1 : 0);
    if (!c.accepted) {
        expect_one_report(INACCESSIBLE);
        EXPECT_TRUE(file_system_calls().empty());
        EXPECT_TRUE(fake::calls_named("HeapAlloc").empty());
        EXPECT_EQ(install_failed, 0);
        return;
    }
    std::u16string written = c.x86 ? path_32() : path_64();
    EXPECT_EQ(files_put_in_place(), std::vector<std::string>{fake::narrow(written)});
    if (*c.length >= 3) {
        EXPECT_EQ(fake::files.read(written), bytes_of(c.x86 ? "bin/target_cl32" : "bin/target_cl64"));
        EXPECT_TRUE(fake::message_boxes.empty());
    }
}

TEST_P(ClapVariable, RemovalUsesOnlyAnAcceptedValueAndIsSilent) {
    std::vector<std::string> expected;
    if (GetParam().accepted) {
        for (const std::u16string &path : {path_64(), path_32()}) fake::files.add_file(path, "older build");
        expected = {call("NtSetInformationFile(delete)", path_64()), call("NtSetInformationFile(delete)", path_32())};
    }
    clap_target(PAGE, 1, 0);
    EXPECT_EQ(file_system_calls(), expected);
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_EQ(install_failed, 0);
}

// Accepted are 1 to 240 units; 241 to 249 come back as their length, 250 and
// more as the size the call would need.
INSTANTIATE_TEST_SUITE_P(
    Lengths, ClapVariable,
    testing::Values(VariableCase{false, std::nullopt, false}, VariableCase{false, 0, false},
                    VariableCase{false, 1, true}, VariableCase{false, 240, true}, VariableCase{false, 241, false},
                    VariableCase{false, 249, false}, VariableCase{false, 250, false},
                    VariableCase{false, 251, false}, VariableCase{true, std::nullopt, false},
                    VariableCase{true, 0, false}, VariableCase{true, 1, true}, VariableCase{true, 240, true},
                    VariableCase{true, 241, false}, VariableCase{true, 249, false},
                    VariableCase{true, 250, false}),
    variable_case_name);

TEST_F(ClapTarget, SixtyFourBitInstallNeedsTheX86VariableToo) {
    fake::remove_variable(u"COMMONPROGRAMFILES(X86)");
    clap_target(PAGE, 0, 0);
    expect_one_report(INACCESSIBLE);
    EXPECT_TRUE(file_system_calls().empty());
    EXPECT_FALSE(fake::files.is_folder(COMMON + u"\\CLAP"));
    EXPECT_EQ(install_failed, 0);
}

TEST_F(ClapTarget, InstallAfterAnEarlierFailureExtractsNothing) {
    for (int build : {0, 1}) {
        SCOPED_TRACE(build);
        fake::calls.clear();
        install_failed = 1;
        clap_target(PAGE, 0, build);
        EXPECT_TRUE(fake::calls_named("HeapAlloc").empty());
        EXPECT_TRUE(file_system_calls().empty());
        EXPECT_TRUE(fake::message_boxes.empty());
        EXPECT_EQ(install_failed, 1);
    }
}

TEST_F(ClapTarget, AFailedWriteIsReportedOnceByTheExtraction) {
    fake::files.create_fails = [](std::u16string_view) { return true; };
    clap_target(PAGE, 0, 0);
    expect_cannot_install(COMMON + SUFFIX_64, INACCESSIBLE);
    EXPECT_EQ(install_failed, 1);
}

TEST_F(ClapTarget, RemovalDeletesBothFilesWhateverTheBuildAndKeepsTheFolders) {
    for (int build : {0, 1}) {
        SCOPED_TRACE(build);
        fake::calls.clear();
        fake::files.add_file(COMMON + SUFFIX_64, "old 64");
        fake::files.add_file(COMMON_X86 + SUFFIX_32, "old 32");
        clap_target(PAGE, 1, build);
        EXPECT_EQ(file_system_calls(), (std::vector<std::string>{call("NtSetInformationFile(delete)", COMMON + SUFFIX_64),
                                                                 call("NtSetInformationFile(delete)", COMMON_X86 + SUFFIX_32)}));
        EXPECT_FALSE(fake::files.is_file(COMMON + SUFFIX_64));
        EXPECT_FALSE(fake::files.is_file(COMMON_X86 + SUFFIX_32));
        EXPECT_TRUE(fake::files.is_folder(COMMON + u"\\CLAP"));
        EXPECT_TRUE(fake::files.is_folder(COMMON_X86 + u"\\CLAP"));
    }
    EXPECT_TRUE(fake::message_boxes.empty());
}

TEST_F(ClapTarget, RemovalOfMissingFilesChangesNothing) {
    fake::files.add_file(COMMON + u"\\CLAP\\Other.clap", "another plug-in");
    auto before = fake::files.nodes;
    clap_target(PAGE, 1, 0);
    EXPECT_EQ(fake::files.nodes.size(), before.size());
    EXPECT_EQ(fake::files.read(COMMON + u"\\CLAP\\Other.clap"), "another plug-in");
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_EQ(install_failed, 0);
}

}  // namespace

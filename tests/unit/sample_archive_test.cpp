// The archive the build packed, read back through the installer's own reader
// and held to the builds it was packed from: the generated samples, or the
// folder given with QUENTHALVOX_PAYLOAD_DIR.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "archive_rules.h"
#include "fake.h"
#include "payload/archive.h"

namespace {

std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct sample {
    const char *file;
    size_t size;
};

const sample SAMPLES[] = {
    {"target_cl64", 6304270}, {"target_cl32", 6000654}, {"target_fl64", 6292494},
    {"target_fl32", 5989902}, {"target_st64", 6497294},
};

// The configured builds: a missing one fails the tests that read it.
std::string build_file(const sample &s) {
    std::filesystem::path path = std::filesystem::path(PAYLOAD_FOLDER) / s.file;
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    return read_file(path);
}

TEST(SampleArchive, SamplesHaveTheSizesOfTheRealBuilds) {
    if (!PAYLOAD_SAMPLES) GTEST_SKIP() << "the build packs the builds in " << PAYLOAD_FOLDER;
    size_t total = 0;
    for (const sample &s : SAMPLES) {
        size_t size = build_file(s).size();
        EXPECT_EQ(size, s.size) << s.file;
        total += size;
    }
    EXPECT_EQ(total, 31084614u);
}

TEST(SampleArchive, HoldsEveryRuleOfTheFormat) {
    packer::archive archive;
    std::string pool = read_file(PAYLOAD_POOL_FILE), directory = read_file(PAYLOAD_DIRECTORY_FILE);
    archive.pool.assign(pool.begin(), pool.end());
    archive.directory.assign(directory.begin(), directory.end());
    std::vector<input_file> inputs;
    for (const sample &s : SAMPLES) {
        std::string content = build_file(s);
        inputs.push_back({std::string("bin/") + s.file, bytes(content.begin(), content.end())});
    }
    EXPECT_TRUE(holds_rules(archive, inputs));
}

TEST(SampleArchive, ReaderRebuildsEverySampleExactly) {
    fake::set_payload(read_file(PAYLOAD_POOL_FILE), read_file(PAYLOAD_DIRECTORY_FILE));
    for (const sample &s : SAMPLES) {
        SCOPED_TRACE(s.file);
        std::string expected = build_file(s);
        std::string name = std::string("bin/") + s.file;
        loaded_entry entry = load_entry(nullptr, name.c_str());
        ASSERT_NE(entry.bytes, nullptr);
        ASSERT_EQ(entry.size, expected.size());
        EXPECT_TRUE(std::string(reinterpret_cast<const char *>(entry.bytes), entry.size) == expected);
        HeapFree(GetProcessHeap(), 0, entry.bytes);
    }
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_EQ(fake::heap.live_blocks(), decoded_pool ? 1u : 0u);  // a compressed pool, decoded once, stays
}

}  // namespace

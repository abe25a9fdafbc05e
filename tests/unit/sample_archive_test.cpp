// The archive the build packed from the sample builds, read back through the
// installer's own reader.
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

// The build writes the archive to <build>/archive and the samples to <build>/samples.
std::filesystem::path sample_folder() {
    return std::filesystem::path(SAMPLE_POOL).parent_path().parent_path() / "samples";
}

struct sample {
    const char *file;
    size_t size;
};

const sample SAMPLES[] = {
    {"target_cl64", 6304270}, {"target_cl32", 6000654}, {"target_fl64", 6292494},
    {"target_fl32", 5989902}, {"target_st64", 6497294},
};

class SampleArchive : public testing::Test {
  protected:
    void SetUp() override {
        for (const char *path : {SAMPLE_POOL, SAMPLE_DIRECTORY})
            if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " has not been built";
        for (const sample &s : SAMPLES)
            if (!std::filesystem::exists(sample_folder() / s.file)) GTEST_SKIP() << s.file << " is not a generated sample";
    }
};

TEST_F(SampleArchive, SamplesHaveTheSizesOfTheRealBuilds) {
    size_t total = 0;
    for (const sample &s : SAMPLES) {
        EXPECT_EQ(std::filesystem::file_size(sample_folder() / s.file), s.size) << s.file;
        total += std::filesystem::file_size(sample_folder() / s.file);
    }
    EXPECT_EQ(total, 31084614u);
}

TEST_F(SampleArchive, HoldsEveryRuleOfTheFormat) {
    packer::archive archive;
    std::string pool = read_file(SAMPLE_POOL), directory = read_file(SAMPLE_DIRECTORY);
    archive.pool.assign(pool.begin(), pool.end());
    archive.directory.assign(directory.begin(), directory.end());
    std::vector<input_file> inputs;
    for (const sample &s : SAMPLES) {
        std::string content = read_file(sample_folder() / s.file);
        inputs.push_back({std::string("bin/") + s.file, bytes(content.begin(), content.end())});
    }
    EXPECT_TRUE(holds_rules(archive, inputs));
}

TEST_F(SampleArchive, ReaderRebuildsEverySampleExactly) {
    fake::set_payload(read_file(SAMPLE_POOL), read_file(SAMPLE_DIRECTORY));
    for (const sample &s : SAMPLES) {
        SCOPED_TRACE(s.file);
        std::string expected = read_file(sample_folder() / s.file);
        std::string name = std::string("bin/") + s.file;
        loaded_entry entry = load_entry(nullptr, name.c_str());
        ASSERT_NE(entry.bytes, nullptr);
        ASSERT_EQ(entry.size, expected.size());
        EXPECT_TRUE(std::string(reinterpret_cast<const char *>(entry.bytes), entry.size) == expected);
        HeapFree(GetProcessHeap(), 0, entry.bytes);
    }
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_EQ(fake::heap.live_blocks(), 0u);
}

}  // namespace

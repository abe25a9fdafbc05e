#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "archive_rules.h"
#include "payload/packer/packer.h"

namespace {

using packer::layout;

struct test_rng {
    uint64_t state;
    uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
};

bytes random_bytes(size_t size, uint64_t seed) {
    test_rng r{seed * 2654435761u + 1};
    bytes out(size);
    for (uint8_t &b : out) b = static_cast<uint8_t>(r.next() >> 24);
    return out;
}

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

bytes head(const bytes &b, size_t count) { return bytes(b.begin(), b.begin() + count); }
bytes tail(const bytes &b, size_t count) { return bytes(b.end() - count, b.end()); }

// The baseline layout: first file whole, then new runs that follow each
// other in the pool, and slices of the first file on 256-byte boundaries.
testing::AssertionResult holds_baseline_layout(const packer::archive &a, const std::vector<input_file> &inputs) {
    std::vector<walked_entry> entries;
    testing::AssertionResult rules = holds_rules(a, inputs, &entries);
    if (!rules) return rules;
    uint32_t first_size = entries[0].size;
    if (first_size && (entries[0].slices.size() != 1 || entries[0].slices[0].offset != 0))
        return testing::AssertionFailure() << "first entry is not stored whole";
    uint64_t next_new = first_size;
    for (size_t i = 1; i < entries.size(); ++i) {
        bool previous_new = false;
        for (const slice &s : entries[i].slices) {
            bool is_new = s.offset >= first_size;
            if (is_new) {
                if (s.offset != next_new) return testing::AssertionFailure() << "new bytes out of order";
                if (previous_new) return testing::AssertionFailure() << "two new runs side by side";
                next_new += s.count;
            } else if (s.offset == 0 || s.offset % 256 || s.count < 16 || s.offset + s.count > first_size) {
                return testing::AssertionFailure() << "bad reused slice at " << s.offset << " of " << s.count;
            }
            previous_new = is_new;
        }
    }
    if (next_new != a.pool.size()) return testing::AssertionFailure() << "pool holds unreferenced bytes";
    return testing::AssertionSuccess();
}

packer::archive pack_ok(const std::vector<input_file> &inputs, layout mode) {
    packer::archive a;
    std::string error;
    EXPECT_TRUE(packer::pack(inputs, mode, a, error)) << error;
    return a;
}

// A base file and variants of it: scattered changed bytes, a block inserted
// part way (shifting the rest by an odd amount) and a block removed.
std::vector<input_file> shaped_inputs() {
    bytes base = random_bytes(60000, 7);
    bytes changed = base;
    test_rng r{99};
    for (size_t at = 100; at + 4 < changed.size(); at += 30 + r.next() % 40) changed[at] ^= 0x21;
    bytes inserted = concat({bytes(base.begin(), base.begin() + 20011), random_bytes(333, 8),
                             bytes(base.begin() + 20011, base.end())});
    bytes removed = concat({bytes(base.begin(), base.begin() + 9001), bytes(base.begin() + 9778, base.end())});
    return {{"bin/base", base}, {"bin/changed", changed}, {"bin/inserted", inserted}, {"bin/removed", removed}};
}

struct packing_case {
    const char *what;
    std::vector<input_file> inputs;
};

std::vector<packing_case> tricky_cases() {
    bytes block = random_bytes(5000, 1);
    bytes planted = random_bytes(3001, 2);
    bytes repeated, periodic;
    for (size_t period : {1, 37, 50, 301})
        for (int i = 0; i < 40; ++i) periodic = concat({periodic, random_bytes(period, period)});
    for (int i = 0; i < 6; ++i) repeated = concat({repeated, random_bytes(7 + 13 * i, 40 + i), planted});
    return {
        {"identical files", {{"a", block}, {"b", block}, {"c", block}}},
        {"empty file first", {{"empty", {}}, {"full", block}}},
        {"empty file later", {{"full", block}, {"empty", {}}, {"again", block}}},
        {"only an empty file", {{"empty", {}}}},
        {"file that is a prefix of the next", {{"short", bytes(block.begin(), block.begin() + 1234)}, {"long", block}}},
        {"file that extends the previous one at its start", {{"long", block}, {"short", bytes(block.begin() + 17, block.end())}}},
        {"tiny files", {{"one", {0}}, {"two", {0, 0}}, {"fifteen", bytes(15, 0xAB)}, {"sixteen", bytes(16, 0xAB)},
                         {"seventeen", bytes(17, 0xAB)}, {"zero", bytes(1, 0)}}},
        {"runs repeated at odd offsets", {{"runs", repeated}, {"planted", concat({random_bytes(5, 3), planted})}}},
        {"planted shared blocks",
         {{"x", concat({random_bytes(777, 4), planted, random_bytes(2049, 5)})},
          {"y", concat({random_bytes(1313, 6), planted, random_bytes(99, 7), planted})},
          {"z", concat({planted, block, planted})}}},
        {"short patterns repeated many times", {{"periodic", periodic}, {"again", periodic}}},
        {"long zero runs", {{"zeros", bytes(70000, 0)}, {"mixed", concat({bytes(5000, 0), block, bytes(3333, 0)})}}},
        {"shaped builds", shaped_inputs()},
        // Where the parse can go wrong.
        {"a match across the end of one file into the next",
         {{"a", block}, {"b", planted}, {"c", concat({tail(block, 900), head(planted, 700)})}}},
        {"a match into the file's own new bytes", {{"a", concat({planted, block, planted, head(planted, 99)})}}},
        {"references that meet the pool's end",
         {{"a", block}, {"b", concat({tail(block, 300), planted})}, {"c", tail(planted, 64)}, {"d", tail(planted, 1)},
          {"e", concat({tail(planted, 20), head(planted, 30)})}}},
        {"one-byte files", {{"one", {7}}, {"empty", {}}, {"same", {7}}, {"other", {8}}, {"last of the pool", {8}}}},
    };
}

TEST(Packer, EveryLayoutHoldsTheRulesOnTrickyInputs) {
    for (const packing_case &c : tricky_cases()) {
        SCOPED_TRACE(c.what);
        packer::archive dedup = pack_ok(c.inputs, layout::deduplicated);
        EXPECT_TRUE(holds_rules(dedup, c.inputs));
        packer::archive baseline = pack_ok(c.inputs, layout::baseline);
        EXPECT_TRUE(holds_baseline_layout(baseline, c.inputs));
        std::string error;
        EXPECT_TRUE(packer::verify(dedup.pool, dedup.directory, c.inputs, error)) << error;
    }
}

TEST(Packer, StatisticsAddUp) {
    for (const packing_case &c : tricky_cases()) {
        SCOPED_TRACE(c.what);
        for (layout mode : {layout::deduplicated, layout::baseline}) {
            packer::archive a = pack_ok(c.inputs, mode);
            std::vector<walked_entry> entries;
            ASSERT_TRUE(holds_rules(a, c.inputs, &entries));
            uint64_t input = 0, references = 0;
            for (const walked_entry &e : entries) {
                input += e.size;
                references += e.slices.size();
            }
            EXPECT_EQ(a.stats.input_bytes, input);
            EXPECT_EQ(a.stats.reused_bytes + a.stats.new_bytes, input);
            EXPECT_EQ(a.stats.new_bytes, a.pool.size());
            EXPECT_EQ(a.stats.pool_bytes, a.pool.size());
            EXPECT_EQ(a.stats.directory_bytes, a.directory.size());
            EXPECT_EQ(a.stats.references, references);
        }
    }
}

TEST(Packer, RepeatedBytesAreStoredOnce) {
    bytes block = random_bytes(40000, 11);
    bytes planted = random_bytes(4000, 12);
    struct {
        const char *what;
        std::vector<input_file> inputs;
        size_t pool_at_most;
    } cases[] = {
        {"identical files", {{"a", block}, {"b", block}, {"c", block}}, block.size()},
        {"a prefix of an earlier file", {{"a", block}, {"b", bytes(block.begin(), block.begin() + 30001)}}, block.size()},
        {"a block at odd offsets in later files",
         {{"a", planted}, {"b", concat({bytes(3, 1), planted, bytes(5, 2), planted})}}, planted.size() + 8},
        {"a block repeated inside the first file",
         {{"a", concat({planted, random_bytes(17, 13), planted, random_bytes(31, 14), planted})}},
         planted.size() + 17 + 31},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        packer::archive a = pack_ok(c.inputs, layout::deduplicated);
        EXPECT_TRUE(holds_rules(a, c.inputs));
        EXPECT_LE(a.pool.size(), c.pool_at_most);
    }
}

TEST(Packer, DeduplicationBeatsTheBaselineOnShapedBuilds) {
    std::vector<input_file> inputs = shaped_inputs();
    packer::archive dedup = pack_ok(inputs, layout::deduplicated);
    packer::archive baseline = pack_ok(inputs, layout::baseline);
    size_t dedup_total = dedup.pool.size() + dedup.directory.size();
    size_t baseline_total = baseline.pool.size() + baseline.directory.size();
    EXPECT_LT(dedup_total, baseline_total * 3 / 4);
    // Every variant is mostly the base file: far less than twice it in all.
    EXPECT_LT(dedup_total, inputs[0].bytes.size() * 2);
}

TEST(Packer, SameInputGivesSameBytes) {
    std::vector<input_file> inputs = shaped_inputs();
    for (layout mode : {layout::deduplicated, layout::baseline}) {
        packer::archive first = pack_ok(inputs, mode);
        packer::archive second = pack_ok(inputs, mode);
        EXPECT_EQ(first.pool, second.pool);
        EXPECT_EQ(first.directory, second.directory);
    }
}

TEST(Packer, RefusesNamesTheReaderCannotServe) {
    bytes data = random_bytes(100, 3);
    struct {
        std::vector<std::string> names;
        const char *message;
    } cases[] = {
        {{}, "no entries"},
        {{"bin/a", ""}, "empty name"},
        {{"bin/a", "bin/b", "bin/a"}, "duplicate entry name \"bin/a\""},
        {{"bin/abc", "bin/ab"}, "begins the earlier name \"bin/abc\""},
        {{"bin/ab", "bin/x", "bin/abc"}, "\"bin/abc\" begins with the earlier name \"bin/ab\""},
        {{"bin/\x80"}, "outside 1..127"},
        {{std::string("bin/a\0b", 7)}, "outside 1..127"},
    };
    for (const auto &c : cases) {
        std::vector<input_file> inputs;
        for (const std::string &name : c.names) inputs.push_back({name, data});
        SCOPED_TRACE(c.message);
        packer::archive a;
        std::string error;
        EXPECT_FALSE(packer::pack(inputs, layout::deduplicated, a, error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(packer::check_names(inputs), error);
    }
}

// Short stretches of the first file, each on a 256-byte boundary and in a
// shuffled order: the simple layout finds every one, the deduplicated one
// samples too sparsely to, and so is larger.
TEST(Packer, WritesTheSimpleLayoutWhenItIsSmaller) {
    bytes first = random_bytes(256 * 400, 21), second;
    for (size_t i = 0; i < 400; ++i) {
        size_t at = 256 * ((i * 7919) % 400);
        second = concat({second, bytes(first.begin() + at, first.begin() + at + 24)});
    }
    std::vector<input_file> inputs = {{"a", first}, {"b", second}};
    packer::archive dedup = pack_ok(inputs, layout::deduplicated);
    packer::archive baseline = pack_ok(inputs, layout::baseline);
    EXPECT_TRUE(dedup.stats.simple_layout_written);
    EXPECT_GT(dedup.stats.deduplicated_bytes, baseline.pool.size() + baseline.directory.size());
    EXPECT_EQ(dedup.pool, baseline.pool);
    EXPECT_EQ(dedup.directory, baseline.directory);
    EXPECT_TRUE(holds_baseline_layout(dedup, inputs));
    EXPECT_NE(packer::summary(dedup.stats).find("simple layout written"), std::string::npos);
}

// Small files that share pieces at every distance, packed under the
// sanitizers. The first set is the one that once made the packer read 4
// bytes before its pool: the match of the second file left a distance that
// pointed below zero at the third file's start.
TEST(Packer, RandomSetsOfSmallFilesHoldTheRules) {
    bytes a = random_bytes(200, 31);
    std::vector<std::vector<input_file>> sets = {
        {{"a", a}, {"b", concat({{'x', 'y', 'z', 'w'}, a})}, {"c", {1, 2, 3, 4}}}};
    test_rng r{77};
    for (int set = 0; set < 300; ++set) {
        std::vector<input_file> files;
        bytes seen = random_bytes(64, set);
        for (size_t f = 0, count = 1 + r.next() % 6; f < count; ++f) {
            bytes file;
            for (size_t size = r.next() % 300; file.size() < size;) {
                size_t at = r.next() % seen.size(), length = 1 + r.next() % 40;
                bool copy = r.next() % 3;
                file = concat({file, copy ? head(tail(seen, seen.size() - at), std::min(seen.size() - at, length))
                                          : random_bytes(length, r.next())});
            }
            seen = concat({seen, file});
            files.push_back({"f" + std::to_string(10 + f), file});
        }
        sets.push_back(files);
    }
    for (const std::vector<input_file> &inputs : sets) {
        packer::archive dedup = pack_ok(inputs, layout::deduplicated);
        packer::archive baseline = pack_ok(inputs, layout::baseline);
        ASSERT_TRUE(holds_rules(dedup, inputs));
        std::string error;
        ASSERT_TRUE(packer::verify(dedup.pool, dedup.directory, inputs, error)) << error;
        EXPECT_LE(dedup.pool.size() + dedup.directory.size(), baseline.pool.size() + baseline.directory.size());
    }
}

// The reader takes a second entry whose name begins with the request as
// damage, so verify() must too, whichever of the two stands first.
TEST(Packer, VerifyWantsEachNameToSelectOneEntry) {
    std::vector<input_file> inputs = {{"bin/a", random_bytes(50, 1)}, {"bin/bc", random_bytes(60, 2)}};
    packer::archive a = pack_ok(inputs, layout::deduplicated);
    a.directory[inputs[0].name.size() + 1 + 8 + 16 + 4] = 'a';  // "bin/bc" becomes "bin/ac"
    inputs[1].name = "bin/ac";
    std::string error;
    EXPECT_FALSE(packer::verify(a.pool, a.directory, inputs, error));
    EXPECT_NE(error.find("a request for \"bin/a\" selects more than one entry"), std::string::npos) << error;
}

TEST(Packer, RefusesAPoolBeyondItsLimit) {
    std::vector<input_file> inputs = {{"a", random_bytes(300, 5)}, {"b", random_bytes(300, 6)}};
    for (layout mode : {layout::deduplicated, layout::baseline}) {
        packer::archive a;
        std::string error;
        EXPECT_FALSE(packer::pack(inputs, mode, a, error, 500));
        EXPECT_NE(error.find("32-bit offsets"), std::string::npos) << error;
        EXPECT_TRUE(packer::pack(inputs, mode, a, error, 600)) << error;
    }
}

TEST(Packer, ChecksumIsTheLowHalfOf64BitFnv1a) {
    struct {
        std::string text;
        uint32_t expected;
    } cases[] = {{"", 0x84222325u}, {"abc", 0x0541574Bu}, {"a", 0x8601EC8Cu}};
    for (const auto &c : cases) {
        EXPECT_EQ(packer::checksum(reinterpret_cast<const uint8_t *>(c.text.data()), c.text.size()), c.expected)
            << c.text;
    }
}

TEST(Packer, VerifyCatchesDamagedArchives) {
    std::vector<input_file> inputs = shaped_inputs();
    packer::archive good = pack_ok(inputs, layout::deduplicated);
    std::vector<walked_entry> entries;
    ASSERT_TRUE(holds_rules(good, inputs, &entries));
    size_t first_count = inputs[0].name.size() + 1 + 8 + 4;  // the first entry is one reference
    struct {
        const char *what;
        void (*damage)(packer::archive &, size_t);
    } cases[] = {
        {"a pool byte changed", [](packer::archive &a, size_t) { a.pool[a.pool.size() / 2] ^= 1; }},
        {"the end byte missing", [](packer::archive &a, size_t) { a.directory.pop_back(); }},
        {"a byte after the end byte", [](packer::archive &a, size_t) { a.directory.push_back(0); }},
        {"a count one too large", [](packer::archive &a, size_t at) { ++a.directory[at]; }},
        {"a count one too small", [](packer::archive &a, size_t at) { --a.directory[at]; }},
        {"a name changed", [](packer::archive &a, size_t) { a.directory[0] ^= 0x20; }},
        {"the pool cut short", [](packer::archive &a, size_t) { a.pool.pop_back(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        packer::archive bad = good;
        c.damage(bad, first_count);
        std::string error;
        EXPECT_FALSE(packer::verify(bad.pool, bad.directory, inputs, error));
        EXPECT_FALSE(error.empty());
    }
}

#ifdef PACKER_PROGRAM

struct cli_result {
    int exit_code;
    std::string output;
};

class PackerProgram : public testing::Test {
  protected:
    std::filesystem::path folder;

    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("packer_test_" + std::to_string(::getpid()) + "_" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string path(const char *name) const { return (folder / name).string(); }

    void write(const char *name, const bytes &content) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(reinterpret_cast<const char *>(content.data()), content.size());
    }

    bytes read(const char *name) const {
        std::ifstream in(path(name), std::ios::binary);
        return bytes(std::istreambuf_iterator<char>(in), {});
    }

    cli_result run(const std::string &arguments) const {
        std::string command = std::string(PACKER_PROGRAM) + " --pool " + path("pool") + " --directory " +
                              path("directory") + " " + arguments + " > " + path("out") + " 2>&1";
        int status = std::system(command.c_str());
        bytes text = read("out");
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(text.begin(), text.end())};
    }
};

TEST_F(PackerProgram, WritesAVerifiedArchiveAndASummary) {
    std::vector<input_file> inputs = shaped_inputs();
    const char *files[] = {"base", "changed", "inserted", "removed"};
    std::string arguments;
    size_t input_bytes = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        write(files[i], inputs[i].bytes);
        arguments += " " + inputs[i].name + "=" + path(files[i]);
        input_bytes += inputs[i].bytes.size();
    }
    for (const char *mode : {"", "--baseline "}) {
        cli_result result = run(mode + arguments);
        ASSERT_EQ(result.exit_code, 0) << result.output;
        packer::archive written{read("pool"), read("directory"), {}};
        EXPECT_TRUE(holds_rules(written, inputs));
        EXPECT_NE(result.output.find("input " + std::to_string(input_bytes) + " bytes"), std::string::npos)
            << result.output;
        EXPECT_NE(result.output.find("pool " + std::to_string(written.pool.size()) + " bytes"), std::string::npos);
    }
}

// What it leaves at its output paths is held by packer_program_test.cpp.
TEST_F(PackerProgram, RefusesInputsItCannotPackWithAClearMessage) {
    write("file", random_bytes(64, 1));
    {
        std::ofstream huge(path("huge"), std::ios::binary);
    }
    std::filesystem::resize_file(path("huge"), uint64_t(1) << 32);  // sparse: takes no disk
    struct {
        std::string arguments;
        const char *message;
    } cases[] = {
        {"bin/a" + path("file"), "is not name=path"},
        {"=" + path("file"), "empty name"},
        {"bin/a=" + path("file") + " bin/a=" + path("file"), "duplicate entry name"},
        {"bin/ab=" + path("file") + " bin/a=" + path("file"), "begins the earlier name \"bin/ab\""},
        {"bin/a=" + path("file") + " bin/ab=" + path("file"), "begins with the earlier name \"bin/a\""},
        {"bin/a=" + path("huge"), "4 GiB or larger"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        cli_result result = run(c.arguments);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    }
}

#endif

}  // namespace

// The choice between the layouts, the names, the limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "packer_inputs.h"
#include "payload/packer/writer/packer.h"

namespace {

TEST(Packer, SameInputGivesSameBytes) {
    std::vector<input_file> inputs = shaped_inputs();
    for (layout mode : {layout::deduplicated, layout::simple}) {
        packer::archive first = pack_ok(inputs, mode);
        packer::archive second = pack_ok(inputs, mode);
        EXPECT_EQ(first.pool, second.pool);
        EXPECT_EQ(first.directory, second.directory);
    }
}

// Decoded by liblzma rather than by the installer's decoder, which the
// packer's own check uses; the smaller of the two layouts kept; the same
// bytes each time.
TEST(Packer, CompressedArchiveRebuildsEveryInputFromTheSmallerLayout) {
    std::vector<input_file> cases[] = {
        shaped_inputs(),
        {{"a", bytes(300000, 0)}, {"b", concat({bytes(70000, 0xFF), random_bytes(99, 3)})}},  // long runs of one byte
        {{"a", random_bytes(40000, 1)}, {"b", random_bytes(20000, 2)}, {"c", random_bytes(40000, 1)}},
        {{"a", {}}},
    };
    for (const std::vector<input_file> &inputs : cases) {
        packer::archive a = pack_ok(inputs, layout::deduplicated, true);
        EXPECT_TRUE(holds_rules(a, inputs)) << inputs[0].name << " of " << inputs.size();
        uint64_t whole = a.stats.whole_compressed_bytes, deduplicated = a.stats.deduplicated_compressed_bytes;
        EXPECT_EQ(a.pool.size() + a.directory.size(), std::min(whole, deduplicated));
        EXPECT_EQ(a.stats.whole_written, whole <= deduplicated);
        EXPECT_EQ(a.pool, pack_ok(inputs, layout::deduplicated, true).pool);
    }
}

TEST(Packer, RefusesNamesTheReaderCannotServe) {
    struct {
        std::vector<std::string> names;
        const char *message;
    } cases[] = {
        {{}, "no entries"},
        {{"bin/a", ""}, "empty name"},
        {{"bin/a", "bin/b", "bin/a"}, "duplicate entry name \"bin/a\""},
        {{"bin/abc", "bin/ab"}, "begins the earlier name \"bin/abc\""},
        {{"bin/ab", "bin/x", "bin/abc"}, "\"bin/abc\" begins with the earlier name \"bin/ab\""},
        {{"bin/\x80"}, "\"bin/\\x80\" has the byte 0x80; names take printable ASCII characters only"},
        {{std::string("bin/a\0b", 7)}, "\"bin/a\\x00b\" has the byte 0x00"},
        {{"bin/a\nb"}, "\"bin/a\\x0ab\" has the byte 0x0a"},
        {{"bin/a", "bin/\x01"}, "\"bin/\\x01\" has the byte 0x01"},
        {{"bin/\x7f"}, "\"bin/\\x7f\" has the byte 0x7f"},
    };
    for (const auto &c : cases) {
        std::vector<input_file> inputs;
        for (const std::string &name : c.names) inputs.push_back({name, {}});
        std::string error = packer::check_names(inputs);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
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
    packer::archive simple = pack_ok(inputs, layout::simple);
    EXPECT_TRUE(dedup.stats.simple_layout_written);
    EXPECT_EQ(dedup.stats.simple_layout_bytes, simple.pool.size() + simple.directory.size());  // weighed as packed
    EXPECT_GT(dedup.stats.deduplicated_bytes, simple.pool.size() + simple.directory.size());
    EXPECT_EQ(dedup.pool, simple.pool);
    EXPECT_EQ(dedup.directory, simple.directory);
    EXPECT_TRUE(holds_simple_layout(dedup, inputs));
    EXPECT_NE(packer::summary(dedup.stats).find("simple layout written"), std::string::npos);
    EXPECT_NE(packer::summary(dedup.stats).find("parse rounds per file"), std::string::npos);
}

TEST(Packer, RefusesAPoolBeyondItsLimit) {
    std::vector<input_file> inputs = {{"a", random_bytes(300, 5)}, {"b", random_bytes(300, 6)}};
    for (layout mode : {layout::deduplicated, layout::simple}) {
        packer::archive a;
        std::string error;
        EXPECT_FALSE(packer::pack(inputs, mode, a, error, 500));
        EXPECT_NE(error.find("32-bit offsets"), std::string::npos) << error;
        EXPECT_TRUE(packer::pack(inputs, mode, a, error, 600)) << error;
    }
    // The second file is the first moved by one byte: only the deduplicated
    // layout, the one written, keeps it within the limit.
    inputs[1].bytes = concat({{0}, inputs[0].bytes});
    packer::archive a;
    std::string error;
    EXPECT_FALSE(packer::pack(inputs, layout::simple, a, error, 500));
    EXPECT_TRUE(packer::pack(inputs, layout::deduplicated, a, error, 500)) << error;
    EXPECT_FALSE(a.stats.simple_layout_written);
    EXPECT_TRUE(holds_rules(a, inputs));
}

}  // namespace

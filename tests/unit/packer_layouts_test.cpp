// The two layouts: every rule on tricky inputs, and what each one saves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "packer_inputs.h"
#include "payload/packer/writer/packer.h"
#include "payload/packer/engine/parse.h"

namespace {

bytes head(const bytes &b, size_t count) { return bytes(b.begin(), b.begin() + count); }
bytes tail(const bytes &b, size_t count) { return bytes(b.end() - count, b.end()); }

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
    bytes records = random_bytes(56, 9);
    for (size_t i = 1; i < 300; ++i) {
        bytes record(records.end() - 56, records.end());
        record[i % 56] ^= static_cast<uint8_t>(i);
        record[(i * 7) % 56] += 1;
        records = concat({records, record});
    }
    bytes pieces = random_bytes(4000, 10);
    bytes pieces_reordered = concat({tail(pieces, 1000), head(tail(pieces, 3000), 2000), head(pieces, 1000)});
    bytes records_changed = records;
    for (size_t at = 500; at < records_changed.size(); at += 1100) records_changed[at] ^= 0x5A;
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
        {"a table of records, each a near copy of the one before",
         {{"table", records}, {"changed", records_changed}, {"again", records}}},
        {"that table three times in one file", {{"tables", concat({records, records_changed, records})}}},
        // Where the parse can go wrong.
        {"a match across the end of one file into the next",
         {{"a", block}, {"b", planted}, {"c", concat({tail(block, 900), head(planted, 700)})}}},
        {"a match into the file's own new bytes", {{"a", concat({planted, block, planted, head(planted, 99)})}}},
        {"references that meet the pool's end",
         {{"a", block}, {"b", concat({tail(block, 300), planted})}, {"c", tail(planted, 64)}, {"d", tail(planted, 1)},
          {"e", concat({tail(planted, 20), head(planted, 30)})}}},
        {"pieces that later files read in another order",
         {{"a", pieces}, {"b", pieces_reordered}, {"c", concat({pieces_reordered, pieces})}, {"d", pieces}}},
        {"one-byte files", {{"one", {7}}, {"empty", {}}, {"same", {7}}, {"other", {8}}, {"last of the pool", {8}}}},
    };
}

TEST(Packer, EveryLayoutHoldsTheRulesOnTrickyInputs) {
    for (const packing_case &c : tricky_cases()) {
        SCOPED_TRACE(c.what);
        packer::archive dedup = pack_ok(c.inputs, layout::deduplicated);
        EXPECT_TRUE(holds_rules(dedup, c.inputs));
        packer::archive simple = pack_ok(c.inputs, layout::simple);
        EXPECT_TRUE(holds_simple_layout(simple, c.inputs));
        std::string error;
        EXPECT_TRUE(packer::verify(dedup.pool, dedup.directory, c.inputs, error)) << error;
    }
}

TEST(Packer, StatisticsAddUp) {
    for (const packing_case &c : tricky_cases()) {
        SCOPED_TRACE(c.what);
        for (layout mode : {layout::deduplicated, layout::simple}) {
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
            EXPECT_EQ(a.stats.parse_rounds.size(), mode == layout::deduplicated ? c.inputs.size() : 0);
            for (uint32_t rounds : a.stats.parse_rounds) {
                EXPECT_GE(rounds, 1u);
                EXPECT_LE(rounds, packer::MAX_PARSE_ROUNDS);
            }
        }
    }
}

TEST(Packer, RepeatedBytesAreStoredOnce) {
    bytes block = random_bytes(40000, 11);
    bytes planted = random_bytes(4000, 12);
    bytes patched = block;
    for (size_t at = 700; at + 2 < patched.size(); at += 900) {
        patched[at] = block[at / 3];
        patched[at + 1] = block[at / 3 + 1];
    }
    // A changed pair every 17 bytes, one the pool holds: two references per
    // 17 bytes cost less than storing them anew only once the pair is
    // priced without its bytes. A changed triple every 301 bytes, which the
    // pool mostly holds too.
    bytes pairs_changed = block, triples_changed = block;
    for (size_t at = 2000; at + 2 < block.size(); at += 17) std::copy_n(&block[at / 3], 2, &pairs_changed[at]);
    for (size_t at = 2000; at + 3 < block.size(); at += 301) std::copy_n(&block[at / 3], 3, &triples_changed[at]);
    // Stretches of 24 bytes from odd places, which only dense anchors find.
    bytes first = head(block, 8000), stretches;
    for (size_t i = 0; i < 300; ++i) stretches = concat({stretches, head(tail(first, 8000 - (i * 7919) % 7900), 24)});
    struct {
        const char *what;
        std::vector<input_file> inputs;
        size_t pool_at_most;
        size_t references_at_most = SIZE_MAX;
    } cases[] = {
        {"identical files", {{"a", block}, {"b", block}, {"c", block}}, block.size()},
        {"a prefix of an earlier file", {{"a", block}, {"b", bytes(block.begin(), block.begin() + 30001)}}, block.size()},
        {"a block at odd offsets in later files",
         {{"a", planted}, {"b", concat({bytes(3, 1), planted, bytes(5, 2), planted})}}, planted.size() + 8},
        {"a block repeated inside the first file",
         {{"a", concat({planted, random_bytes(17, 13), planted, random_bytes(31, 14), planted})}},
         planted.size() + 17 + 31},
        {"changed bytes that the pool holds elsewhere", {{"a", block}, {"b", patched}}, block.size()},
        {"a changed pair every few bytes that the pool holds", {{"a", block}, {"b", pairs_changed}}, block.size() + 64},
        {"a changed triple every few hundred bytes the pool holds", {{"a", block}, {"b", triples_changed}}, block.size() + 96},
        {"short stretches of the first file in another order", {{"a", first}, {"b", stretches}}, first.size() + 24 * 10},
        // Only reached through a parse that costs more than the one before.
        {"a long run of one byte value, from a few hundred of its bytes", {{"zeros", bytes(70000, 0)}}, 1024, 200},
        // Laid out as the later files read the pieces: two references for
        // the first file, one for each of the others.
        {"pieces that two later files read in another order",
         {{"a", concat({planted, patched})}, {"b", concat({patched, planted})}, {"c", concat({patched, planted})}},
         planted.size() + patched.size(), 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        packer::archive a = pack_ok(c.inputs, layout::deduplicated);
        EXPECT_TRUE(holds_rules(a, c.inputs));
        EXPECT_LE(a.pool.size(), c.pool_at_most);
        EXPECT_LE(a.stats.references, c.references_at_most);
    }
}

TEST(Packer, DeduplicationBeatsTheSimpleLayoutOnShapedBuilds) {
    std::vector<input_file> inputs = shaped_inputs();
    packer::archive dedup = pack_ok(inputs, layout::deduplicated);
    packer::archive simple = pack_ok(inputs, layout::simple);
    size_t dedup_total = dedup.pool.size() + dedup.directory.size();
    size_t simple_total = simple.pool.size() + simple.directory.size();
    EXPECT_LT(dedup_total, simple_total * 3 / 4);
    // Every variant is mostly the base file: far less than twice it in all.
    EXPECT_LT(dedup_total, inputs[0].bytes.size() * 2);
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
        packer::archive simple = pack_ok(inputs, layout::simple);
        ASSERT_TRUE(holds_rules(dedup, inputs));
        std::string error;
        ASSERT_TRUE(packer::verify(dedup.pool, dedup.directory, inputs, error)) << error;
        EXPECT_LE(dedup.pool.size() + dedup.directory.size(), simple.pool.size() + simple.directory.size());
    }
}

}  // namespace

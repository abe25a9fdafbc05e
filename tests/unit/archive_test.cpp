#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "archive_builder.h"
#include "error_report.h"
#include "fake.h"
#include "common/embedded_data.h"
#include "payload/archive.h"
#include "payload/packer/writer/packer.h"
#include "tools/shared/little_endian.h"

using namespace archive_builder;

namespace {

HWND const OWNER = reinterpret_cast<HWND>(0x5A0);
const char16_t CORRUPTED[] = u"The installer has been corrupted. Please download Quenthalvox again.";

std::string pattern(size_t length, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char &byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

std::string block_bytes(const BYTE *bytes, size_t size) { return std::string(reinterpret_cast<const char *>(bytes), size); }

struct Load {
    std::optional<UINT> exit;
    loaded_entry loaded{};
    std::optional<std::string> buffer_at_report;  // the entry's buffer while the report was on screen
};

Load load(const std::string &name) {
    Load result;
    fake::on_message_box = [&](const fake::MessageBoxRecord &) {
        if (fake::heap.live_blocks() == 1) {
            auto block = *fake::heap.live.begin();
            result.buffer_at_report = block_bytes(static_cast<BYTE *>(block.first), block.second);
        }
    };
    result.exit = fake::run_process([&] { result.loaded = load_entry(OWNER, name.c_str()); });
    fake::on_message_box = nullptr;
    return result;
}

std::string take(loaded_entry loaded) {
    std::string bytes = block_bytes(loaded.bytes, loaded.size);
    HeapFree(GetProcessHeap(), 0, loaded.bytes);
    return bytes;
}

void expect_corruption_report(const Load &result) {
    EXPECT_EQ(result.exit, std::optional<UINT>(1));
    expect_one_error_report(OWNER, CORRUPTED);
    EXPECT_TRUE(fake::calls_named("HeapFree").empty());
}

}  // namespace

TEST(PayloadChecksum, IsTheLowHalfOf64BitFnv1aOnEveryLength) {
    EXPECT_EQ(fnv64_low("abc"), 0x0541574Bu);  // the reference itself
    std::string bytes = pattern(4099, 7);
    bytes.replace(0, 3, "abc");
    const BYTE *start = reinterpret_cast<const BYTE *>(bytes.data());
    EXPECT_EQ(archive_format::checksum(start, 3), 0x0541574Bu);  // not 0x1A47E90B, the 32-bit FNV-1a
    EXPECT_EQ(archive_format::checksum(start, 0), 0x84222325u);
    for (size_t length : {1u, 2u, 7u, 8u, 9u, 63u, 64u, 65u, 255u, 1000u, 4096u}) {
        std::string_view slice(bytes.data() + 3, length);  // unaligned start
        EXPECT_EQ(archive_format::checksum(reinterpret_cast<const BYTE *>(slice.data()), DWORD(slice.size())),
                  fnv64_low(slice))
            << "length " << slice.size();
    }
}

TEST(FindEntry, SelectsTheOneEntryWhoseNameBeginsWithTheRequest) {
    std::string pool = pattern(64, 1);
    std::vector<Entry> entries = {
        entry("bin/a", pool, {{0, 1}}),
        entry("bin/bc", pool, {{5, 2}, {9, 0}, {0, 3}}),  // a zero-count slice and one at offset 0
        entry("bin/target_cl64", pool, {{1, 3}}),
        entry("bin/target_cl32", pool, {{2, 4}}),
        entry("Bin/C", pool, {{3, 5}}),
    };
    fake::set_payload(pool, directory(entries));
    std::vector<Layout> places = layout(entries);
    struct Case {
        const char *name;
        int selected;  // index into entries; -1: no entry, or more than one, begins with it
    } cases[] = {
        {"bin/a", 0},           {"bin/bc", 1},          {"bin/b", 1},      {"bin/target_cl3", 3},
        {"bin/target_cl32", 3}, {"Bin/C", 4},           {"", -1},          {"bin/", -1},
        {"bin/target_cl", -1},  {"bin/bcd", -1},        {"bin/A", -1},     {"BIN/bc", -1},
        {"x", -1},              {"bin/target_cl645", -1},
    };
    for (const Case &c : cases) {
        payload_entry found{};
        bool present = find_entry(c.name, &found);
        EXPECT_EQ(present, c.selected >= 0) << '"' << c.name << '"';
        if (!present || c.selected < 0) continue;
        const Entry &expected = entries[c.selected];
        EXPECT_EQ(found.size, expected.size) << c.name;
        EXPECT_EQ(found.checksum, expected.checksum) << c.name;
        EXPECT_EQ(found.references, payload_directory.start() + places[c.selected].references) << c.name;
    }
}

// The walk ends where the directory does, however the directory ends; every
// block the fake gives the reader is exactly its length, so a read past it is
// an AddressSanitizer error.
TEST(FindEntry, AnAbsentNameNeverTakesTheWalkPastTheDirectory) {
    std::string pool = pattern(32, 2);
    std::vector<Entry> entries = {entry("first", pool, {{0, 4}, {4, 4}}), entry("second", pool, {{8, 8}})};
    std::string whole = directory(entries, false);
    std::vector<Layout> places = layout(entries);
    struct Case {
        const char *what;
        std::string bytes;
        bool second_present;
    } cases[] = {
        {"empty directory", "", false},
        {"only the end mark", std::string(1, '\0'), false},
        {"no end mark", whole, true},
        {"cut inside a name", whole.substr(0, places[1].name + 3), false},
        {"cut after a name's zero byte", whole.substr(0, places[1].checksum), false},
        {"cut inside the checksum and size", whole.substr(0, places[1].checksum + 5), false},
        {"cut inside the end of list", whole.substr(0, places[1].end - 1), false},
        {"cut inside an earlier list", whole.substr(0, places[0].end - 9), false},
        {"a name after the end mark", directory({entries[0]}) + directory({entries[1]}), false},
    };
    for (const Case &c : cases) {
        fake::set_payload(pool, c.bytes);
        payload_entry found{};
        EXPECT_EQ(find_entry("second", &found), c.second_present) << c.what;
        EXPECT_FALSE(find_entry("third", &found)) << c.what;
        EXPECT_FALSE(find_entry("first-and-more", &found)) << c.what;
    }
}

TEST(LoadEntry, RebuildsTheSlicesInListOrder) {
    std::string pool = pattern(100, 3);
    pool.replace(40, 3, "abc");
    std::vector<Entry> entries = {
        entry("whole", pool, {{0, 100}}),
        entry("shared", pool, {{60, 10}, {0, 5}, {60, 10}, {99, 1}}),
        entry("gaps", pool, {{7, 0}, {10, 3}, {100, 0}, {20, 2}}),  // empty slices, one at the pool's end
        Entry{"abc", 0x0541574B, 3, {{40, 3}}},
        Entry{"empty", 0x84222325, 0, {}},
    };
    fake::set_payload(pool, directory(entries));
    for (const Entry &expected : entries) {
        Load result = load(expected.name.c_str());
        ASSERT_FALSE(result.exit) << expected.name;
        ASSERT_NE(result.loaded.bytes, nullptr);  // an empty entry too gets a block
        EXPECT_EQ(result.loaded.size, expected.size);
        EXPECT_EQ(take(result.loaded), contents(pool, expected.references)) << expected.name;
    }
    EXPECT_TRUE(fake::message_boxes.empty());
    EXPECT_EQ(fake::heap.allocation_flags, std::vector<DWORD>(entries.size(), 0));
    EXPECT_EQ(fake::heap.live_blocks(), 0u);
}

TEST(LoadEntry, NoMemoryForAnIntactEntryIsReturnedUnreported) {
    std::string pool = pattern(16, 4);
    fake::set_payload(pool, directory({entry("intact", pool, {{0, 8}, {8, 8}})}));
    fake::heap.fail_allocation = 1;
    Load result = load("intact");
    EXPECT_FALSE(result.exit);
    EXPECT_EQ(result.loaded.bytes, nullptr);
    EXPECT_TRUE(fake::message_boxes.empty());
}

// Slices that leave the pool or do not fill the size are found while the list
// is walked, before memory is asked for, so that a damaged size is never taken
// for a shortage of memory; the checksum is tested on the rebuilt bytes.
TEST(LoadEntry, CorruptionIsFoundBeforeAnyAllocationUnlessOnlyTheChecksumDiffers) {
    std::string pool = pattern(64, 5);
    pool.replace(30, 3, "abc");
    const uint32_t checksum = fnv64_low(pool.substr(0, 4) + pool.substr(10, 4));
    struct Case {
        const char *what;
        Entry entry;
        bool fits;  // only the checksum differs
    } cases[] = {
        {"size changed to a huge value", Entry{"e", checksum, 0xFFFFFFF0, {{0, 4}, {10, 4}}}, false},
        {"one byte over", Entry{"e", checksum, 7, {{0, 4}, {10, 4}}}, false},
        {"one byte short", Entry{"e", checksum, 9, {{0, 4}, {10, 4}}}, false},
        {"no slices for a non-empty size", Entry{"e", 0, 1, {}}, false},
        {"a count near 2^32 after earlier bytes", Entry{"e", 0, 10, {{0, 4}, {1, 0xFFFFFFFD}}}, false},
        {"a count of 2^32 - 1", Entry{"e", 0, 10, {{0, 4}, {1, 0xFFFFFFFF}}}, false},
        {"slice one byte past the pool", Entry{"e", 0, 4, {{61, 4}}}, false},
        {"empty slice beyond the pool", Entry{"e", fnv64_low(pool.substr(0, 4)), 4, {{65, 0}, {0, 4}}}, false},
        {"offset that wraps 32 bits", Entry{"e", 0, 4, {{0xFFFFFFFF, 2}, {0, 2}}}, false},
        {"checksum of another file", Entry{"e", fnv64_low(pool.substr(10, 4)), 4, {{0, 4}}}, true},
        {"32-bit FNV-1a of \"abc\"", Entry{"e", 0x1A47E90B, 3, {{30, 3}}}, true},
    };
    for (const Case &c : cases) {
        fake::reset();
        fake::heap.largest_block = 1 << 20;  // a machine that could not give a damaged size either
        fake::set_payload(pool, directory({c.entry}));
        SCOPED_TRACE(c.what);
        Load result = load("e");
        expect_corruption_report(result);
        if (c.fits) EXPECT_EQ(result.buffer_at_report, contents(pool, c.entry.references));
        else EXPECT_TRUE(fake::calls_named("HeapAlloc").empty());
    }
}

TEST(LoadEntry, AnAbsentNameIsReportedAsCorruption) {
    std::string pool = pattern(8, 7);
    fake::set_payload(pool, directory({entry("bin/one", pool, {{0, 8}})}));
    Load result = load("bin/two");
    expect_corruption_report(result);
    EXPECT_TRUE(fake::calls_named("HeapAlloc").empty());
}

// Entries share slices; changing one pool byte must fail exactly the entries
// whose slices cover it.
TEST(LoadEntry, AChangedPoolByteFailsExactlyTheEntriesCoveringIt) {
    std::string pool = pattern(40, 8);
    std::vector<Entry> entries = {
        entry("a", pool, {{0, 10}}),
        entry("b", pool, {{5, 10}, {30, 2}}),
        entry("c", pool, {{20, 5}, {0, 1}, {39, 1}}),
        entry("d", pool, {{17, 0}, {25, 5}}),
    };
    std::string listing = directory(entries);
    for (size_t changed = 0; changed < pool.size(); ++changed) {
        std::string damaged = pool;
        damaged[changed] = static_cast<char>(damaged[changed] ^ 0x20);
        for (const Entry &e : entries) {
            bool covered = false;
            for (const Reference &r : e.references) covered |= changed >= r.offset && changed < r.offset + r.count;
            fake::reset();
            fake::set_payload(damaged, listing);
            Load result = load(e.name.c_str());
            EXPECT_EQ(result.exit.has_value(), covered) << "byte " << changed << " entry " << e.name;
            if (!result.exit) {
                EXPECT_EQ(take(result.loaded), contents(pool, e.references));
            }
        }
    }
}

// The checksum does not cover names: however one byte of a name (its zero byte
// too) is changed, each request gives its own entry's bytes or the corruption
// report, never another entry's bytes.
TEST(LoadEntry, AChangedNameByteNeverSelectsAnotherEntry) {
    std::string pool = pattern(48, 9);
    std::vector<Entry> entries = {
        entry("bin/target_cl64", pool, {{0, 16}}),
        entry("bin/target_fl64", pool, {{16, 16}}),
        entry("bin/target_cl32", pool, {{32, 16}, {0, 4}}),
    };
    const std::string listing = directory(entries);
    for (const Layout &place : layout(entries))
        for (size_t at = place.name; at < place.checksum; ++at)
            for (int value = 0; value < 256; ++value) {
                if (char(value) == listing[at]) continue;
                std::string damaged = listing;
                damaged[at] = char(value);
                for (const Entry &requested : entries) {
                    fake::reset();
                    fake::set_payload(pool, damaged);
                    Load result = load(requested.name);
                    SCOPED_TRACE("byte " + std::to_string(at) + " = " + std::to_string(value) + ", " + requested.name);
                    if (result.exit) {
                        ASSERT_EQ(result.exit, std::optional<UINT>(1));
                        ASSERT_EQ(fake::message_boxes.size(), 1u);
                        ASSERT_EQ(fake::message_boxes[0].text, CORRUPTED);
                    } else {
                        ASSERT_EQ(take(result.loaded), contents(pool, requested.references));
                    }
                }
            }
}


// A compressed pool's checksum, which covers its lengths, is tested before any
// memory is asked for; a stream with a matching checksum that does not decode
// to exactly its length is damage all the same. No memory for the pool, or
// for the decoder's state, is no memory for the entry; the next one decodes
// it, once, into one block that stays.
TEST(LoadEntry, ACompressedPoolIsCheckedThenDecodedOnce) {
    const std::string pool = pattern(3000, 10) + std::string(5000, 'x');
    std::vector<uint8_t> coded;
    std::string error;
    ASSERT_TRUE(packer::compress_pool(std::vector<uint8_t>(pool.begin(), pool.end()), coded, error)) << error;
    const std::string block(coded.begin(), coded.end());
    const uint32_t decoded = uint32_t(pool.size()), stream = uint32_t(block.size() - 24);
    // The header's lengths set and its checksum made to match, as a packer that
    // coded the stream wrongly would write them.
    auto with_lengths = [](std::string b, uint32_t decoded_bytes, uint32_t stream_bytes) {
        uint8_t *header = reinterpret_cast<uint8_t *>(b.data());
        little_endian::put64(header + 8, decoded_bytes | uint64_t(stream_bytes) << 32);
        little_endian::put64(header + 16, archive_format::stream_checksum(header + 8, header + 24, b.size() - 24));
        return b;
    };
    auto flipped = [&](size_t at) { std::string b = block; b[at] ^= 0x10; return b; };
    struct Case {
        const char *what;
        std::string block;
        bool checksum_holds;
    } cases[] = {
        {"a byte of the magic", flipped(3), false},
        {"the decoded length", flipped(8), false},
        {"the checksum", flipped(23), false},
        {"a byte in the stream", flipped(block.size() / 2), false},
        {"the stream's last byte", flipped(block.size() - 1), false},
        {"the stream cut short", block.substr(0, block.size() - 1), false},
        {"declared one byte longer", with_lengths(block, decoded + 1, stream), true},
        {"declared one byte shorter", with_lengths(block, decoded - 1, stream), true},
        {"cut short, the header to match", with_lengths(block.substr(0, block.size() - 2), decoded, stream - 2), true},
        {"a byte after the end mark, the header to match", with_lengths(block + 'x', decoded, stream + 1), true},
        {"other properties, the checksum to match", with_lengths(flipped(24), decoded, stream), true},
    };
    // The first slice runs past what the block holds, so a block read as a plain pool fails it.
    std::vector<Entry> entries = {entry("a", pool, {{0, 4000}}), entry("b", pool, {{7000, 1000}, {0, 10}})};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        fake::reset();
        fake::set_payload(c.block, directory(entries));
        EXPECT_EQ(load("a").exit, std::optional<UINT>(1));
        expect_one_error_report(OWNER, CORRUPTED);
        EXPECT_EQ(fake::calls_named("HeapAlloc").empty(), !c.checksum_holds);
    }
    fake::reset();
    fake::set_payload(block, directory(entries));
    for (unsigned failing : {1u, 2u}) {
        fake::heap.fail_allocation = fake::heap.allocations + failing;
        EXPECT_EQ(load("a").loaded.bytes, nullptr) << failing;
        EXPECT_EQ(fake::heap.live_blocks(), 0u) << failing;
    }
    for (const Entry &e : entries) EXPECT_EQ(take(load(e.name).loaded), contents(pool, e.references));
    EXPECT_TRUE(fake::message_boxes.empty());
    ASSERT_EQ(fake::heap.live_blocks(), 1u);
    EXPECT_EQ(fake::heap.live.begin()->second, pool.size());
}

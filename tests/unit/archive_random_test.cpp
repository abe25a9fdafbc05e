#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "archive_builder.h"
#include "fake.h"
#include "payload/archive.h"

using namespace archive_builder;

namespace {

const char16_t CORRUPTED[] = u"The installer has been corrupted. Please download Quenthalvox again.";

enum Damage { NONE, NO_END_MARK, DIRECTORY_BYTE, POOL_BYTE, DIRECTORY_CUT, POOL_CUT, DAMAGE_KINDS };

struct Archive {
    std::string pool;
    std::vector<Entry> entries;
};

uint32_t below(std::mt19937 &random, uint32_t bound) { return bound ? random() % bound : 0; }

Archive random_archive(std::mt19937 &random) {
    Archive archive;
    // A small alphabet now and then, so that slices repeat each other's bytes.
    unsigned alphabet = random() % 2 ? 256 : 3;
    archive.pool.resize(below(random, 200));
    for (char &byte : archive.pool) byte = static_cast<char>(below(random, alphabet));
    uint32_t length = uint32_t(archive.pool.size());
    std::vector<uint32_t> ids;
    for (uint32_t count = 1 + below(random, 5); ids.size() < count;) {
        uint32_t id = below(random, 1000);
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
    for (uint32_t id : ids) {
        std::vector<Reference> references;
        for (uint32_t n = below(random, 7); n; --n) {
            uint32_t offset = below(random, length + 1);
            uint32_t count = below(random, 4) ? below(random, length - offset + 1) : 0;
            if (offset || count) references.push_back({offset, count});
        }
        // Three digits: no name begins with another, and one changed byte may
        // turn one name into another.
        std::string name = "bin/" + std::to_string(1000 + id).substr(1);
        archive.entries.push_back(entry(name, archive.pool, references));
    }
    return archive;
}

struct Outcome {
    std::optional<UINT> exit;
    bool no_memory = false;
    std::string bytes;
};

Outcome load(const std::string &name) {
    fake::reset_kernel();
    // Room for every entry here, none for a damaged size, which must never be
    // asked for.
    fake::heap.largest_block = 4096;
    Outcome outcome;
    outcome.exit = fake::run_process([&] {
        loaded_entry loaded = load_entry(nullptr, name.c_str());
        outcome.no_memory = loaded.bytes == nullptr;
        if (outcome.no_memory) return;
        outcome.bytes.assign(reinterpret_cast<const char *>(loaded.bytes), loaded.size);
        HeapFree(GetProcessHeap(), 0, loaded.bytes);
    });
    return outcome;
}

bool covers(const Entry &entry, size_t byte) {
    for (const Reference &reference : entry.references)
        if (byte >= reference.offset && byte < size_t(reference.offset) + reference.count) return true;
    return false;
}

bool inside(const Entry &entry, size_t pool_length) {
    for (const Reference &reference : entry.references)
        if (size_t(reference.offset) + reference.count > pool_length) return false;
    return true;
}

}  // namespace

// Random archives, damaged at random: the reader never reads or writes out of
// bounds (every block is exactly sized under AddressSanitizer) and gives the
// entry's exact bytes or the corruption outcome, and the one it must give
// wherever the damage decides it.
TEST(ArchiveRandom, GivesTheExactBytesOrTheCorruptionOutcome) {
    std::mt19937 random(20261207);
    unsigned loaded = 0, corrupted = 0;
    for (int iteration = 0; iteration < 3000; ++iteration) {
        Archive archive = random_archive(random);
        std::string pool = archive.pool;
        std::string listing = directory(archive.entries);
        std::vector<Layout> places = layout(archive.entries);
        Damage damage = Damage(below(random, DAMAGE_KINDS));
        size_t at = 0;
        switch (damage) {
        case NONE: break;
        case NO_END_MARK: listing.pop_back(); break;
        case DIRECTORY_BYTE:
            at = below(random, uint32_t(listing.size()));
            listing[at] = static_cast<char>(listing[at] ^ (1 + below(random, 255)));
            break;
        case POOL_BYTE:
            if (pool.empty()) break;
            at = below(random, uint32_t(pool.size()));
            pool[at] = static_cast<char>(pool[at] ^ (1 + below(random, 255)));
            break;
        case DIRECTORY_CUT: listing.resize(below(random, uint32_t(listing.size()))); break;
        case POOL_CUT: pool.resize(below(random, uint32_t(pool.size()) + 1)); break;
        default: break;
        }
        fake::set_payload(pool, listing);

        for (size_t i = 0; i < archive.entries.size(); ++i) {
            const Entry &entry = archive.entries[i];
            SCOPED_TRACE("iteration " + std::to_string(iteration) + " damage " + std::to_string(damage) + " entry " +
                         entry.name);
            Outcome outcome = load(entry.name);
            ASSERT_FALSE(outcome.no_memory);
            if (outcome.exit) {
                ++corrupted;
                ASSERT_EQ(outcome.exit, std::optional<UINT>(1));
                ASSERT_EQ(fake::message_boxes.size(), 1u);
                ASSERT_EQ(fake::message_boxes[0].text, CORRUPTED);
            } else {
                ++loaded;
                ASSERT_EQ(outcome.bytes, contents(archive.pool, entry.references));
                ASSERT_TRUE(fake::message_boxes.empty());
            }
            std::optional<bool> must_load;
            if (damage == NONE || damage == NO_END_MARK) must_load = true;
            if (damage == POOL_BYTE && !pool.empty()) must_load = !covers(entry, at);
            // A lookup walks the whole directory, so only a cut between entries
            // after this one leaves it readable.
            if (damage == DIRECTORY_CUT)
                must_load = std::any_of(places.begin() + i, places.end(),
                                        [&](const Layout &place) { return place.end == listing.size(); });
            if (damage == POOL_CUT) must_load = inside(entry, pool.size());
            ASSERT_TRUE(!must_load || !outcome.exit == *must_load);
        }
        Outcome absent = load("bin/absent");
        ASSERT_EQ(absent.exit, std::optional<UINT>(1)) << "iteration " << iteration;
    }
    // Both outcomes came up often enough for the run to mean something.
    EXPECT_GT(loaded, 1000u);
    EXPECT_GT(corrupted, 1000u);
}

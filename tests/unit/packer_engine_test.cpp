// The engine's own tools: work on a second thread, and the sort by key.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "packer_inputs.h"
#include "payload/packer/engine/second_thread.h"
#include "payload/packer/engine/sort_by_key.h"

namespace {

// Each piece runs once whichever thread takes it, and a failure on either
// thread reaches the caller and leaves the second thread serving.
TEST(Packer, SecondThreadRunsEachPieceOnceAndPassesFailuresOn) {
    packer::shared_turns turns;
    for (int turn = 0; turn < 100; ++turn) {
        std::atomic<int> runs[3] = {};
        turns.run({[&] { ++runs[0]; }, [&] { ++runs[1]; }, [&] { ++runs[2]; }});
        for (const std::atomic<int> &r : runs) ASSERT_EQ(r, 1) << "turn " << turn;
    }
    EXPECT_THROW(turns.run({[] {}, [] { throw std::runtime_error("piece"); }, [] {}}), std::runtime_error);
    int after = 0;
    turns.run({[&] { ++after; }});
    EXPECT_EQ(after, 1);

    packer::made_ahead<size_t> squares(5, [](size_t k) {
        if (k == 3) throw std::runtime_error("made");
        return k * k;
    });
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(squares.take(k), k * k);
    EXPECT_THROW(squares.take(3), std::runtime_error);
    {
        packer::made_ahead<size_t> untaken(3, [](size_t k) { return k; });  // destroyed untaken: returns
    }
    EXPECT_THROW(packer::side_by_side([] { throw std::runtime_error("aside"); }, [] {}), std::runtime_error);
    // Both halves fail, at 2 and at 5: the lower is said, as in one pass.
    EXPECT_EQ(packer::each_in_halves(6,
                                     [](size_t i, std::string &failure) {
                                         if (i % 3 == 2) failure = std::to_string(i);
                                         return failure.empty();
                                     }),
              "2");
}

// Keys of every digit count, many of them equal: the order of a stable
// comparison sort.
TEST(Packer, SortByKeyOrdersEveryDigitAndKeepsTies) {
    struct item {
        uint64_t key;
        size_t order;
    };
    test_rng r{7};
    for (size_t count : {0, 1, 3000}) {
        std::vector<item> items;
        for (size_t i = 0; i < count; ++i) items.push_back({(r.next() % 5) << (i % 40), i});
        std::vector<item> expected = items;
        std::stable_sort(expected.begin(), expected.end(), [](const item &a, const item &b) { return a.key < b.key; });
        packer::sort_by_key(items, [](const item &i) { return i.key; });
        ASSERT_EQ(items.size(), expected.size());
        for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].order, expected[i].order) << i;
    }
}

}  // namespace

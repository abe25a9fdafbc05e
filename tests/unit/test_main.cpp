#include <gtest/gtest.h>

#include "fake.h"

namespace {

// Every test starts on a fresh simulated machine.
class FreshMachine : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override { fake::reset(); }
};

}  // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshMachine);
    return RUN_ALL_TESTS();
}

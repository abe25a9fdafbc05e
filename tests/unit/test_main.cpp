#include <gtest/gtest.h>

#include "installer_run.h"

namespace {

// Every test starts as a fresh process on a fresh simulated machine. The last
// one is cleared too:
// simulated processes keep heap blocks until they end (the licence text, for
// one), and the leak checker would report them.
class FreshMachine : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override { installer_run::fresh_process(); }
    void OnTestProgramEnd(const testing::UnitTest &) override { fake::reset(); }
};

}  // namespace

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshMachine);
    return RUN_ALL_TESTS();
}

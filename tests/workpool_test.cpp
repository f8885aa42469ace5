// The copying threads' pool alone: every task runs, the first failure noted stays, drain returns
// only when all is done, and a feeder kept waiting still gets its ticks.
#include "platform/workpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace mivex {
namespace {

struct PoolCase {
    int threads;
    std::size_t line;
};

class WorkPoolTest : public ::testing::TestWithParam<PoolCase> {};

TEST_P(WorkPoolTest, RunsAllKeepsFirstFailureAndDrainWaits) {
    constexpr int kTasks = 400;
    constexpr int kFailing = 100;
    std::atomic<int> ran{0};
    std::atomic<bool> firstNoted{false};
    int ticks = 0;
    WorkPool pool(GetParam().threads, GetParam().line, [&ticks] { ++ticks; });
    for (int i = 0; i < kTasks; ++i) {
        pool.submit([&, i] {
            // The first tasks hold every thread, so the line fills and the feeder waits.
            if (i < GetParam().threads) {
                std::this_thread::sleep_for(std::chrono::milliseconds(60));
            }
            if (i == kFailing) {
                pool.noteFailure(7);
                firstNoted = true;
            } else if (i > kFailing) {
                while (!firstNoted) {  // started after task kFailing, so it ends
                    std::this_thread::yield();
                }
                pool.noteFailure(9);
            }
            ++ran;
        });
    }
    pool.drain();
    EXPECT_EQ(ran.load(), kTasks);
    EXPECT_EQ(pool.failure(), 7);
    EXPECT_GT(ticks, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WorkPoolTest,
                         ::testing::Values(PoolCase{1, 1}, PoolCase{2, 1}, PoolCase{4, 8}));

}  // namespace
}  // namespace mivex

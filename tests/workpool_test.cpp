// The copying threads' pool: all tasks run, the first failure stays, a waiting feeder gets ticks.
#include "engine/workpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace mivex;

TEST(WorkPool, RunsAllKeepsFirstFailureAndDrainWaits) {
    for (const auto& [threads, line] : {std::pair{1, 1u}, {2, 1u}, {4, 8u}}) {
        std::atomic<int> ran{0};
        int ticks = 0;
        WorkPool pool(threads, line, [&ticks] { ++ticks; });
        for (int i = 0; i < 400; ++i) {
            if (i == 200) {
                pool.drain();  // task 100 has noted its failure: later ones come after it
            }
            pool.submit([&, i] {
                // The first tasks hold every thread, so the line fills and the feeder waits.
                if (i < threads) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(60));
                }
                if (i == 100 || i > 200) {
                    pool.noteFailure(i == 100 ? 7 : 9);
                }
                ++ran;
            });
        }
        pool.drain();
        EXPECT_EQ(ran.load(), 400);
        EXPECT_EQ(pool.failure(), 7);
        EXPECT_GT(ticks, 0);
    }
}

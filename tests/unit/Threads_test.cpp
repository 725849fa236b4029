#include "Threads.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

TEST(Threads, CoreCountIsAtLeastOne) { EXPECT_GE(CoreCount(), 1u); }

// Four threads take turns by ticket: each waits on the condition until the shared counter
// reaches one of its own numbers. Lost wake-ups or unlocked increments hang or miscount.
TEST(Threads, ConditionHandsTurnsAroundInOrder) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    Mutex mutex;
    Condition turn;
    int next = 0;
    std::vector<int> order;
    {
        std::vector<std::unique_ptr<Thread>> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back(new Thread([&, t] {
                for (int round = 0; round < kRounds; ++round) {
                    MutexLock hold(mutex);
                    while (next % kThreads != t) turn.Wait(mutex);
                    order.push_back(t);
                    ++next;
                    turn.NotifyAll();
                }
            }));
        }
    }  // joined here
    ASSERT_EQ(order.size(), static_cast<size_t>(kThreads * kRounds));
    for (size_t i = 0; i < order.size(); ++i) ASSERT_EQ(order[i], static_cast<int>(i % kThreads)) << i;
}

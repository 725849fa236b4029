#include "WorkerState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

// A writer thread alternates two values as fast as it can while this thread samples them.
TEST(WorkerStateThreads, ReaderNeverSeesATornStatusText) {
    const std::string first = "C:\\" + std::string(250, 'a') + ".TXT";  // cut to 255 when stored
    const std::string second = "D:\\" + std::string(120, 'b');
    const std::string firstStored = first.substr(0, 255);
    SharedText text;
    text.Store(first.c_str());
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done.load(std::memory_order_relaxed)) {
            text.Store(second.c_str());
            text.Store(first.c_str());
        }
    });
    long samples = 0;
    std::string torn;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    for (char seen[256]; torn.empty(); ++samples) {
        if (samples % 1024 == 0 && std::chrono::steady_clock::now() > end) break;
        text.Load(seen);
        if (std::strcmp(seen, firstStored.c_str()) != 0 && std::strcmp(seen, second.c_str()) != 0)
            torn.assign(seen, strnlen(seen, sizeof seen));
    }
    done = true;
    writer.join();
    EXPECT_EQ(torn, "") << "after " << samples << " samples";
}

TEST(WorkerStateThreads, ReaderNeverSeesATornFraction) {
    const double values[] = {1.0 / 3.0, -123456789.125};
    SharedFraction fraction;
    fraction.Store(values[0]);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done.load(std::memory_order_relaxed)) {
            fraction.Store(values[1]);
            fraction.Store(values[0]);
        }
    });
    bool torn = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    for (long samples = 0; !torn; ++samples) {
        if (samples % 1024 == 0 && std::chrono::steady_clock::now() > end) break;
        const double seen = fraction.Load();
        torn = seen != values[0] && seen != values[1];
    }
    done = true;
    writer.join();
    EXPECT_FALSE(torn);
}

}  // namespace

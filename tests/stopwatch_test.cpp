#include "driver/stopwatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string printed(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%3.3f", seconds);
    return text;
}

TEST(Stopwatch, ReadingsAndWindowsPrintAsWholeMilliseconds)
{
    EXPECT_EQ(clockMsFromTicks(0), 0);
    EXPECT_EQ(clockMsFromTicks(1234), 1234);
    EXPECT_EQ(printed(elapsedSeconds(1000, 2234)), "1.234");
    // Shorter than a millisecond: both readings are the same.
    EXPECT_EQ(printed(elapsedSeconds(clockMsFromTicks(77), clockMsFromTicks(77))), "0.000");
    EXPECT_EQ(printed(elapsedSeconds(0, 12345)), "12.345");
}

TEST(Stopwatch, NoTimeAvailableReadsMinusOneAndEveryWindowIsZero)
{
    EXPECT_EQ(clockMsFromTicks(-1), -1);
    EXPECT_EQ(printed(elapsedSeconds(clockMsFromTicks(-1), clockMsFromTicks(-1))), "0.000");
}

TEST(Stopwatch, ReadingKeepsThe32BitFormPastItsRange)
{
    // After 2^31 ms the reading wraps like a 32-bit counter, and a window
    // across the wrap still has its true length.
    EXPECT_EQ(clockMsFromTicks(2147483648LL + 5), INT_MIN + 5);
    EXPECT_EQ(clockMsFromTicks(4294967296LL + 7), 7);
    EXPECT_EQ(printed(elapsedSeconds(INT_MAX - 1, INT_MIN + 1)), "0.003");
}

TEST(Stopwatch, MeasuresRealTimeWhileSeveralThreadsAreBusy)
{
    // Processor time of two busy threads would count twice as fast.
    std::atomic<bool> stop{false};
    std::vector<std::thread> busy;
    for (int i = 0; i < 2; ++i)
        busy.emplace_back([&stop] {
            while (!stop.load())
                continue;
        });
    const int32_t start = clockMs();
    const auto begun = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const int32_t end = clockMs();
    const auto wall = std::chrono::steady_clock::now() - begun;
    stop = true;
    for (std::thread& t : busy)
        t.join();

    const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(wall).count();
    EXPECT_GE(start, 0);
    EXPECT_NEAR(static_cast<double>(end - start), static_cast<double>(wallMs), 20.0);
}

} // namespace

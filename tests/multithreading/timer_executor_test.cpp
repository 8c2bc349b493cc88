#include "multithreading/TimerExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/LogCapture.h"
#include "tests/support/Threads.h"

namespace {

using Multithreading::TimerExecutor;
using vlibtest::WaitFor;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The intervals are the behaviour under test: a run comes no earlier than
// one interval after the start (lower bounds only, which load cannot break).
TEST(TimerExecutor, RunOnceRunsOneIntervalAfterEachStart) {
    std::atomic<int> runs{0};
    std::atomic<Clock::rep> ranAt{0};
    TimerExecutor timer([&] { ranAt = Clock::now().time_since_epoch().count(), ++runs; }, 200, "Once", true);
    for (int round = 1; round <= 2; ++round) {
        const auto started = Clock::now();
        timer.StartExecute();
        ASSERT_TRUE(WaitFor([&] { return runs == round; }));
        EXPECT_GE(Clock::time_point(Clock::duration(ranAt.load())) - started, milliseconds(200));
        ASSERT_TRUE(WaitFor([&] { return !timer.IsRunning(); }));
        timer.StopExecute();
        EXPECT_EQ(runs, round);  // the thread is joined: no second run
    }
}

TEST(TimerExecutor, StopDuringTheWaitEndsWithoutARun) {
    std::atomic<int> runs{0};
    TimerExecutor timer([&] { ++runs; }, 60'000, "Long", false);
    timer.StartExecute();
    EXPECT_TRUE(timer.IsRunning());
    ASSERT_TRUE(vlibtest::BlockedIn(vlibtest::ThreadNamed("Long"), {SYS_futex}));
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        timer.StopExecute();
        stopped = true;
    });
    EXPECT_TRUE(WaitFor([&] { return stopped.load(); })) << "the stop waited for the interval";
    stopper.join();
    EXPECT_EQ(runs, 0);
    EXPECT_FALSE(timer.IsRunning());
}

TEST(TimerExecutor, StopWaitsForARunInProgress) {
    std::atomic<bool> inRun{false}, finished{false};
    TimerExecutor* self = nullptr;
    TimerExecutor timer(
        [&] {
            inRun = true;
            WaitFor([&] { return !self->IsRunning(); });  // the stop has begun
            finished = true;
        },
        1, "Busy", false);
    self = &timer;
    timer.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return inRun.load(); }));
    timer.StopExecute();
    EXPECT_TRUE(finished);
}

TEST(TimerExecutor, PeriodicRunsAndResetRestartsTheInterval) {
    std::atomic<int> runs{0};
    std::atomic<Clock::rep> lastRun{0};
    TimerExecutor timer("Periodic");
    timer.SetTask([&] { lastRun = Clock::now().time_since_epoch().count(), ++runs; });
    timer.SetTimer(30);
    timer.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return runs >= 3; }));
    timer.SetTimer(300);  // read at the next start
    const auto reset = Clock::now();
    timer.ResetExecute();
    const int before = runs;  // a run in progress at the reset has finished
    ASSERT_TRUE(WaitFor([&] { return runs > before; }));
    EXPECT_GE(Clock::time_point(Clock::duration(lastRun.load())) - reset, milliseconds(300));
    timer.StopExecute();
}

// Back-to-back runs (interval 0) once kept the lock and could not be stopped.
TEST(TimerExecutor, PeriodicTimerWithIntervalZeroCanBeStopped) {
    std::atomic<long> runs{0};
    TimerExecutor timer([&] { ++runs; }, 0, "Spin", false);
    timer.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return runs > 1000; }));
    timer.StopExecute();
    EXPECT_FALSE(timer.IsRunning());
}

TEST(TimerExecutor, EscapingExceptionsAndAMissingTaskAreLogged) {
    vlibtest::LogCapture log;
    std::atomic<int> runs{0};
    TimerExecutor failing(
        [&] {
            ++runs;
            throw std::runtime_error("tick failed");
        },
        5, "T", false);
    failing.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return runs >= 2; }));
    failing.StopExecute();
    TimerExecutor empty("Empty");
    empty.SetRunOnce(true);
    empty.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return !empty.IsRunning(); }));
    empty.StopExecute();
    const auto entries = log.CloseAndRead(static_cast<std::size_t>(runs) + 1);
    ASSERT_GE(entries.size(), 4u);
    EXPECT_EQ(entries[0].function, "Multithreading::TimerExecutor::OnExecute");
    EXPECT_EQ(entries[0].message, "Timer: T, MESSAGE: tick failed: ");
    EXPECT_EQ(entries[entries.size() - 2].message, "Timer: Empty, MESSAGE: bad_function_call: ");
}

}  // namespace

#include "multithreading/TaskExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <numeric>
#include <set>
#include <stdexcept>
#include <thread>

#include "multithreading/BufferParser.h"
#include "multithreading/TimerExecutor.h"
#include "platform/kernel/Threads.h"
#include "tests/support/AcpScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestException.h"
#include "tests/support/Threads.h"

namespace {

using Multithreading::TaskExecutor;
using vlibtest::WaitFor;

TEST(TaskExecutor, RunsTasksInOrderOnOneNamedThread) {
    TaskExecutor executor("Quotes");
    std::mutex mutex;
    std::vector<int> order;
    std::set<DWORD> threads;
    for (int i = 0; i < 100; ++i) {
        executor.AddTask([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.insert(GetCurrentThreadId());
        });
    }
    // The last task holds the worker while its name is read from outside.
    std::atomic<bool> hold{true};
    std::atomic<DWORD> tid{0};
    executor.AddTask([&] {
        tid = GetCurrentThreadId();
        WaitFor([&] { return !hold; });
    });
    executor.StartExecute();
    EXPECT_TRUE(executor.IsRunning());
    ASSERT_TRUE(WaitFor([&] { return tid != 0; }));
    EXPECT_EQ(vlibtest::KernelThreadName(tid), "Quotes");
    hold = false;
    executor.StopExecute();
    EXPECT_FALSE(executor.IsRunning());
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(threads, std::set<DWORD>{tid.load()});
    EXPECT_NE(tid, GetCurrentThreadId());
}

TEST(TaskExecutor, StopLetsTheCurrentTaskFinishAndLaterTasksWaitForTheNextStart) {
    TaskExecutor executor("Stop");
    std::atomic<bool> started{false}, finished{false};
    std::atomic<int> later{0};
    executor.AddTask([&] {
        started = true;
        WaitFor([&] { return !executor.IsRunning(); });  // the stop has begun
        finished = true;
    });
    for (int i = 0; i < 10; ++i) executor.AddTask([&] { ++later; });
    executor.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return started.load(); }));
    executor.StopExecute();
    EXPECT_TRUE(finished);
    EXPECT_EQ(later, 0);
    executor.AddTask([&] { ++later; });  // no worker runs it while stopped
    EXPECT_EQ(later, 0);
    executor.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return later == 1; }));
    executor.StopExecute();
}

TEST(TaskExecutor, ClearedTasksNeverRunAndTasksMayQueueTasks) {
    TaskExecutor executor("Chain");
    std::atomic<int> count{0};
    executor.AddTask([&] { count += 1000; });
    executor.ClearTasks();
    std::function<void()> chain = [&] {
        if (++count < 50) executor.AddTask(chain);
    };
    executor.AddTask(chain);
    executor.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return count == 50; }));
    executor.StartExecute();  // ignored while running
    executor.StopExecute();
    EXPECT_EQ(count, 50);
}

TEST(TaskExecutor, EscapingExceptionsAreLoggedAndTheWorkerGoesOn) {
    vlibtest::AcpScope acp(CP_UTF8);
    vlibtest::LogCapture log;
    TaskExecutor executor("W");
    std::atomic<bool> last{false};
    executor.AddTask([] { throw std::runtime_error("boom"); });
    executor.AddTask([] { throw 7; });
    executor.AddTask([] { throw new vlibtest::TestMfcException(L"mfc failure"); });
    executor.AddTask([] { throw std::runtime_error(std::string("cut\0here", 8)); });
    executor.AddTask([&] { last = true; });
    executor.StartExecute();
    ASSERT_TRUE(WaitFor([&] { return last.load(); }));
    executor.StopExecute();
    const auto entries = log.CloseAndRead(4);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].function, "Multithreading::TaskExecutor::OnExecute");
    EXPECT_EQ(entries[0].message, "Executor: W, MESSAGE: boom: ");
    EXPECT_EQ(entries[1].message, "Executor: W; MESSAGE: Nieznany Wyjątek; ");
    EXPECT_EQ(entries[2].message, "Executor: W, MESSAGE: Wyjątek MFC: mfc failure: ");
    EXPECT_EQ(entries[3].message, "Executor: W, MESSAGE: cut: ");
}

TEST(TaskExecutor, ManyProducersEachTaskRunsExactlyOnce) {
    TaskExecutor executor("Many");
    executor.StartExecute();
    std::atomic<int> sum{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&] {
            for (int i = 1; i <= 1000; ++i) executor.AddTask([&sum, i] { sum += i; });
        });
    }
    for (auto& p : producers) p.join();
    ASSERT_TRUE(WaitFor([&] { return sum == 4 * 500500; }));
    executor.StopExecute();
}

// Each executor's stop, called from its own worker, throws instead of
// joining itself (which would end the process or dead-lock).
TEST(Executors, StopFromTheirOwnWorkerIsRefused) {
    std::atomic<int> outcome{0};
    const auto stopInside = [&](auto stop) {
        try {
            stop();
            outcome = 1;
        } catch (const std::system_error& e) {
            outcome = e.code() == std::errc::resource_deadlock_would_occur ? 2 : 3;
        }
    };
    TaskExecutor executor("Self");
    executor.AddTask([&] { stopInside([&] { executor.StopExecute(); }); });
    Multithreading::BufferParser parser("SelfParser");
    parser.StartParsing([&](Multithreading::BufferManager&) { stopInside([&] { parser.StopParsing(); }); });
    Multithreading::TimerExecutor* self = nullptr;
    Multithreading::TimerExecutor timer([&] { stopInside([&] { self->StopExecute(); }); }, 1, "SelfTimer", true);
    self = &timer;
    for (int round = 0; round < 3; ++round) {
        outcome = 0;
        if (round == 0) executor.StartExecute();
        if (round == 1) parser.AddBuffer("x", 1);
        if (round == 2) timer.StartExecute();
        ASSERT_TRUE(WaitFor([&] { return outcome != 0; })) << round;
        EXPECT_EQ(outcome, 2) << round;
    }
    executor.StopExecute();
    parser.StopParsing();
    timer.StopExecute();
}

// An owner that forgets to stop: the destructor stops the worker (queued
// work discarded) instead of ending the process.
TEST(Executors, DestroyingARunningExecutorStopsIt) {
    std::atomic<int> ran{0};
    {
        TaskExecutor executor("Forgotten");
        executor.StartExecute();
        for (int i = 0; i < 10; ++i) executor.AddTask([&] { ++ran; });
        ASSERT_TRUE(WaitFor([&] { return ran >= 1; }));
    }
    {
        Multithreading::TimerExecutor timer([&] { ++ran; }, 60'000, "ForgottenTimer", false);
        timer.StartExecute();
    }
    {
        Multithreading::BufferParser parser("ForgottenParser");
        parser.StartParsing([](Multithreading::BufferManager&) {});
        parser.AddBuffer("x", 1);
    }
}

}  // namespace

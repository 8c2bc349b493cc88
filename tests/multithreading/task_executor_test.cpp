#include "multithreading/TaskExecutor.h"

#include "multithreading/BufferParser.h"
#include "multithreading/TimerExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <numeric>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/kernel/Threads.h"
#include "platform/mfc/AfxException.h"
#include "tests/support/AcpScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestException.h"
#include "tests/support/Wait.h"

namespace {

using Multithreading::TaskExecutor;

// The kernel's name of thread `tid`, as tools outside the process see it.
std::string KernelThreadName(DWORD tid) {
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

TEST(TaskExecutor, RunsTasksInOrderOnOneNamedThread) {
    TaskExecutor executor("Quotes");
    std::mutex mutex;
    std::vector<int> order;
    std::set<DWORD> threads;
    std::atomic<DWORD> tid{0};
    for (int i = 0; i < 100; ++i) {
        executor.AddTask([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            threads.insert(GetCurrentThreadId());
            tid = GetCurrentThreadId();
        });
    }
    // The last task holds the worker (after the hundred have run) while the
    // thread's name is read from outside.
    std::atomic<bool> hold{true}, holding{false};
    executor.AddTask([&] {
        holding = true;
        while (hold) std::this_thread::yield();
    });
    executor.StartExecute();
    EXPECT_TRUE(executor.IsRunning());
    ASSERT_TRUE(vlibtest::WaitFor([&] { return holding.load(); }));
    EXPECT_EQ(KernelThreadName(tid), "Quotes");
    hold = false;
    executor.StopExecute();
    EXPECT_FALSE(executor.IsRunning());
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), GetCurrentThreadId());
}

TEST(TaskExecutor, StopLetsTheCurrentTaskFinishAndDiscardsTheRest) {
    TaskExecutor executor("Stop");
    std::atomic<bool> started{false}, finished{false};
    std::atomic<int> later{0};
    executor.AddTask([&] {
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true;
    });
    for (int i = 0; i < 10; ++i) executor.AddTask([&] { ++later; });
    executor.StartExecute();
    ASSERT_TRUE(vlibtest::WaitFor([&] { return started.load(); }));
    executor.StopExecute();
    EXPECT_TRUE(finished);
    EXPECT_EQ(later, 0);
    // Tasks added while stopped wait for the next start.
    executor.AddTask([&] { ++later; });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(later, 0);
    executor.StartExecute();
    ASSERT_TRUE(vlibtest::WaitFor([&] { return later == 1; }));
    executor.StopExecute();
}

TEST(TaskExecutor, ClearTasksAndTasksAddingTasks) {
    TaskExecutor executor("Chain");
    std::atomic<int> count{0};
    executor.AddTask([&] { ++count; });
    executor.ClearTasks();
    std::function<void()> chain = [&] {
        if (++count < 50) executor.AddTask(chain);
    };
    executor.AddTask(chain);
    executor.StartExecute();
    ASSERT_TRUE(vlibtest::WaitFor([&] { return count == 50; }));
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
    ASSERT_TRUE(vlibtest::WaitFor([&] { return last.load(); }));
    executor.StopExecute();
    const auto entries = log.CloseAndRead(4);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].function, "Multithreading::TaskExecutor::OnExecute");
    EXPECT_EQ(entries[0].message, "Executor: W, MESSAGE: boom: ");
    EXPECT_EQ(entries[1].message, "Executor: W; MESSAGE: Nieznany Wyjątek; ");
    EXPECT_EQ(entries[2].message, "Executor: W, MESSAGE: Wyjątek MFC: mfc failure: ");
    EXPECT_EQ(entries[3].message, "Executor: W, MESSAGE: cut: ");
}

TEST(TaskExecutor, StopFromItsOwnWorkerIsRefused) {
    TaskExecutor executor("Self");
    std::atomic<int> outcome{0};
    executor.AddTask([&] {
        try {
            executor.StopExecute();
            outcome = 1;
        } catch (const std::system_error& e) {
            outcome = e.code() == std::errc::resource_deadlock_would_occur ? 2 : 3;
        }
    });
    executor.StartExecute();
    ASSERT_TRUE(vlibtest::WaitFor([&] { return outcome != 0; }));
    EXPECT_EQ(outcome, 2);
    executor.StopExecute();
}

TEST(TaskExecutor, ManyProducersAllTasksRunExactlyOnce) {
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
    ASSERT_TRUE(vlibtest::WaitFor([&] { return sum == 4 * 500500; }));
    executor.StopExecute();
}

}  // namespace

namespace {

TEST(Executors, DestroyingARunningExecutorStopsItInsteadOfEndingTheProcess) {
    std::atomic<int> ran{0};
    {
        Multithreading::TaskExecutor executor("Forgotten");
        executor.StartExecute();
        executor.AddTask([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ++ran;
        });
        for (int i = 0; i < 10; ++i) executor.AddTask([&] { ++ran; });
        ASSERT_TRUE(vlibtest::WaitFor([&] { return ran >= 1; }));
    }
    EXPECT_LE(ran, 11);
    {
        Multithreading::TimerExecutor timer([&] { ++ran; }, 10000, "ForgottenTimer", false);
        timer.StartExecute();
    }
    {
        Multithreading::BufferParser parser("ForgottenParser");
        parser.StartParsing([](Multithreading::BufferManager&) {});
        parser.AddBuffer("x", 1);
    }
}

}  // namespace

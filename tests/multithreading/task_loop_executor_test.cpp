// The task loop executor: one task per registered message on a message-loop
// thread that can own windows.
#include "multithreading/TaskLoopExecutor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "multithreading/UniqueMessage.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "platform/user/Window.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/AcpScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Threads.h"
#include "tests/support/Wait.h"

namespace {

using Multithreading::TaskLoopExecutor;

// Every test leaves as many kernel and USER handles as it found.
class TaskLoop : public vlibtest::HandleCountTest {};

// The executor's messages are registered when the library loads, under the
// names that loops in other processes register too (the register's own rules
// are tested in tests/platform/user).
TEST(UniqueMessage, TheExecutorsTwoMessagesAreRegisteredAtLoadUnderTheirNames) {
    const UINT execute = TaskLoopExecutor::m_executeOneTaskMessage.Id(),
               stop = TaskLoopExecutor::m_stopLoopMessage.Id();
    EXPECT_EQ(execute, RegisterWindowMessageW(L"TaskLoopExecutor_ExecuteOneTask_PostSend"));
    EXPECT_EQ(stop, RegisterWindowMessageW(L"TaskLoopExecutor_StopLoopTask_PostSend"));
    EXPECT_TRUE(execute != 0 && stop != 0 && execute != stop);
}

TEST_F(TaskLoop, TasksRunInOrderOnTheNamedLoopThreadAndAllBeforeStopReturns) {
    TaskLoopExecutor executor("QuotesLoop");
    bool droppedRan = false;
    executor.AddTask([&] { droppedRan = true; });  // before the start: dropped
    executor.StartLoopExecute();
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<DWORD> loopThread{0};
    for (int i = 0; i < 3; ++i) {
        executor.AddTask([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            loopThread = GetCurrentThreadId();
        });
    }
    std::string name;
    executor.AddTask([&] { name = vlibtest::KernelThreadName(GetCurrentThreadId()); });
    executor.StopLoopExecute();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_NE(loopThread.load(), GetCurrentThreadId());
    EXPECT_EQ(name, "QuotesLoop");
    EXPECT_FALSE(droppedRan);
    executor.StopLoopExecute();  // stopped: returns at once
    bool afterStop = false;
    executor.AddTask([&] { afterStop = true; });
    executor.StartLoopExecute();
    executor.StopLoopExecute();
    EXPECT_FALSE(afterStop);
}

TEST_F(TaskLoop, AFailedStartCheckRunsNoLoopAndTheNextStartJoinsItsThread) {
    TaskLoopExecutor executor("Check");
    std::atomic<int> checks{0};
    executor.StartLoopExecute([&] {
        ++checks;
        return false;
    });
    std::atomic<bool> ran{false};
    EXPECT_TRUE(vlibtest::WaitFor([&] {
        executor.AddTask([&] { ran = true; });
        return checks.load() == 1;
    }));
    executor.StopLoopExecute();
    EXPECT_FALSE(ran.load());
    executor.StartLoopExecute([&] { return ++checks == 2; });
    executor.StartLoopExecute([&] { return ++checks == 2; });  // running: ignored
    executor.AddTask([&] { ran = true; });
    executor.StopLoopExecute();
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(checks.load(), 2);
}

TEST_F(TaskLoop, AnEscapingExceptionIsLoggedAndTheNextTaskRuns) {
    vlibtest::AcpScope acp(CP_UTF8);
    vlibtest::LogCapture log;
    TaskLoopExecutor executor("W");
    executor.StartLoopExecute();
    std::atomic<bool> last{false};
    executor.AddTask([] { throw 7; });
    // Stopping from a task would wait for itself: refused, and logged as the
    // task's exception.
    executor.AddTask([&] { executor.StopLoopExecute(); });
    executor.AddTask([&] { last = true; });
    executor.StopLoopExecute();
    EXPECT_TRUE(last.load());
    const auto entries = log.CloseAndRead(2);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].function, "Multithreading::TaskLoopExecutor::ExecuteTask");
    EXPECT_EQ(entries[0].message, "Executor: W; MESSAGE: Nieznany Wyjątek; ");
    EXPECT_EQ(entries[1].message, "Executor: W, MESSAGE: " +
                                      std::make_error_code(std::errc::resource_deadlock_would_occur).message() + ": ");
}

LRESULT CALLBACK Doubler(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
        return 0;
    }
    if (message == WM_APP + 1) return static_cast<LRESULT>(wParam * 2 + GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST_F(TaskLoop, AWindowMadeByATaskGetsPostedAndSentMessages) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Doubler;
    wc.lpszClassName = L"VlibTestDoubler";
    RegisterClassExW(&wc);
    TaskLoopExecutor executor("Windows");
    executor.StartLoopExecute();
    std::atomic<HWND> window{nullptr};
    executor.AddTask([&] {
        window = CreateWindowExW(0, L"VlibTestDoubler", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    });
    ASSERT_TRUE(vlibtest::WaitFor([&] { return window.load() != nullptr; }));
    EXPECT_TRUE(PostMessageW(window, WM_APP, 100, 0));
    EXPECT_TRUE(vlibtest::WaitFor([&] { return SendMessageW(window, WM_APP + 1, 21, 0) == 142; }));
    executor.AddTask([&] { DestroyWindow(window); });
    executor.StopLoopExecute();
    EXPECT_FALSE(IsWindow(window));
    UnregisterClassW(L"VlibTestDoubler", nullptr);
}

// More tasks than the loop thread's queue holds while the loop is busy: every
// one still runs, in order, before StopLoopExecute returns.
TEST_F(TaskLoop, ABurstBeyondTheQueueQuotaAllRunsBeforeStopReturns) {
    TaskLoopExecutor executor("Burst");
    executor.StartLoopExecute();
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> blocked{false};
    executor.AddTask([&] {
        blocked = true;
        WaitForSingleObject(release, INFINITE);
    });
    ASSERT_TRUE(vlibtest::WaitFor([&] { return blocked.load(); }));
    constexpr int kTasks = 12'000;
    std::vector<int> order;
    order.reserve(kTasks);
    for (int i = 0; i < kTasks; ++i) executor.AddTask([&order, i] { order.push_back(i); });
    SetEvent(release);
    executor.StopLoopExecute();
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
    CloseHandle(release);
}

// A stop from one thread meeting a start from another ends the loop (or
// finds it not started yet): it never waits for a loop that gets no stop.
TEST_F(TaskLoop, RaceAStopMeetingAStartOnAnotherThreadReturns) {
    for (int round = 0; round < 300; ++round) {
        TaskLoopExecutor executor("StartStop");
        std::atomic<int> arrived{0};
        std::atomic<bool> stopped{false};
        auto together = [&] {
            ++arrived;
            while (arrived.load() < 2) {
            }
        };
        std::thread starter([&] {
            together();
            executor.StartLoopExecute();
        });
        std::thread stopper([&] {
            together();
            executor.StopLoopExecute();
            stopped = true;
        });
        starter.join();
        const bool returned = vlibtest::WaitFor([&] { return stopped.load(); }, std::chrono::seconds(5));
        if (!returned) executor.StopLoopExecute();  // a second stop frees the first
        stopper.join();
        ASSERT_TRUE(returned) << "round " << round;
    }
}

TEST_F(TaskLoop, RaceManyStartsAndStopsLeaveNoHandleOrThreadBehind) {
    std::atomic<int> ran{0};
    for (int cycle = 0; cycle < 200; ++cycle) {
        TaskLoopExecutor executor("Cycle");
        executor.StartLoopExecute();
        std::thread producer([&] {
            for (int i = 0; i < 5; ++i) executor.AddTask([&] { ++ran; });
        });
        producer.join();
        executor.StopLoopExecute();
    }
    EXPECT_EQ(ran.load(), 1000);
}

}  // namespace

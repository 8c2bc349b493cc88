// Threads of CreateThread: start-up, suspension with Windows' counts,
// termination of threads that have not run, priorities as nice values.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/kernel/Threads.h"
#include "platform/user/Messages.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/Seam.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::WaitFor;

// The kernel's view of thread `tid`: its state letter and nice value.
std::string Stat(DWORD tid, int field) {
    std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream rest(text.substr(text.rfind(')') + 2));  // fields from 3 on
    std::string value;
    for (int i = 3; i <= field && rest >> value; ++i) {
    }
    return value;
}

class ThreadControl : public vlibtest::HandleCountTest {};

std::atomic<long> g_spins{0};

DWORD WINAPI Spin(LPVOID stop) {
    while (!static_cast<std::atomic<bool>*>(stop)->load()) g_spins.fetch_add(1);
    return 7;
}

// Counts the messages it gets until WM_QUIT; returns the count.
DWORD WINAPI CountMessages(LPVOID counter) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) static_cast<std::atomic<int>*>(counter)->fetch_add(1);
    return static_cast<DWORD>(static_cast<std::atomic<int>*>(counter)->load());
}

// The routine's result is the exit code; a message posted right after the
// creation is never lost, also when the thread is held.
TEST_F(ThreadControl, CreateThreadRunsTheRoutineWithTheMessagesPostedRightAfterIt) {
    for (const DWORD flags : {DWORD{0}, CREATE_SUSPENDED}) {
        std::atomic<int> counter{0};
        DWORD id = 0;
        const HANDLE thread = CreateThread(nullptr, 64 * 1024, CountMessages, &counter, flags, &id);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(GetThreadId(thread), id);
        EXPECT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0)) << flags;
        EXPECT_TRUE(PostThreadMessageW(id, WM_QUIT, 0, 0));
        if (flags == CREATE_SUSPENDED) {
            EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
            EXPECT_EQ(ResumeThread(thread), 1u);
        }
        EXPECT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(thread, &code) && code == 1);
        CloseHandle(thread);
    }
    EXPECT_TRUE(
        FailsWith(ERROR_INVALID_PARAMETER, [] { return CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr); }));
    EXPECT_TRUE(
        FailsWith(ERROR_INVALID_PARAMETER, [] { return CreateThread(nullptr, 0, Spin, nullptr, 0x2, nullptr); }));
}

TEST_F(ThreadControl, SuspendAndResumeCountAsOnWindowsAndParkTheThread) {
    std::atomic<bool> stop{false};
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, Spin, &stop, 0, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(WaitFor([] { return g_spins.load() > 0; }));
    EXPECT_EQ(SuspendThread(thread), 0u);
    EXPECT_EQ(SuspendThread(thread), 1u);
    // Parked: asleep in the kernel, where a spinning thread never is (it
    // may still be on its way into the sleep when SuspendThread returns).
    const auto asleep = [&] { return Stat(id, 3) == "S"; };
    EXPECT_TRUE(WaitFor(asleep));
    const long parkedAt = g_spins.load();
    EXPECT_EQ(ResumeThread(thread), 2u);
    EXPECT_TRUE(WaitFor(asleep));
    EXPECT_EQ(g_spins.load(), parkedAt);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_TRUE(WaitFor([&] { return g_spins.load() > parkedAt; }));
    EXPECT_EQ(ResumeThread(thread), 0u);
    stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return SuspendThread(thread) != static_cast<DWORD>(-1); }));
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return SuspendThread(thread) != static_cast<DWORD>(-1); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return ResumeThread(thread) != static_cast<DWORD>(-1); }));
}

TEST_F(ThreadControl, RaceASuspendedThreadMakesNoProgressWhileMessagesArrive) {
    std::atomic<int> counter{0};
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, CountMessages, &counter, 0, &id);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0));
    ASSERT_TRUE(WaitFor([&] { return counter.load() == 1; }));
    // Parked while it sleeps in GetMessageW.
    EXPECT_EQ(SuspendThread(thread), 0u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0));
    EXPECT_FALSE(WaitFor([&] { return counter.load() != 1; }, std::chrono::milliseconds(100)));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_TRUE(WaitFor([&] { return counter.load() == 4; }));
    PostThreadMessageW(id, WM_QUIT, 0, 0);
    EXPECT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

// A held thread's count goes up to its limit and down without a signal, and
// terminating it ends it before it ran; a thread that runs cannot be ended.
TEST_F(ThreadControl, TerminateEndsOnlyAThreadThatHasNotRun) {
    std::atomic<bool> stop{true};
    g_spins = 0;
    const HANDLE held = CreateThread(nullptr, 0, Spin, &stop, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(held, nullptr);
    for (DWORD i = 1; i < MAXIMUM_SUSPEND_COUNT; ++i) ASSERT_EQ(SuspendThread(held), i);
    EXPECT_TRUE(FailsWith(ERROR_SIGNAL_REFUSED, [&] { return SuspendThread(held) != static_cast<DWORD>(-1); }));
    EXPECT_EQ(ResumeThread(held), MAXIMUM_SUSPEND_COUNT);
    EXPECT_TRUE(TerminateThread(held, 42));
    EXPECT_EQ(WaitForSingleObject(held, 10'000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(held, &code) && code == 42);
    EXPECT_EQ(g_spins.load(), 0);
    EXPECT_TRUE(TerminateThread(held, 1));  // already ended
    CloseHandle(held);

    stop = false;
    const HANDLE running = CreateThread(nullptr, 0, Spin, &stop, 0, nullptr);
    ASSERT_NE(running, nullptr);
    EXPECT_TRUE(FailsWith(ERROR_NOT_SUPPORTED, [&] { return TerminateThread(running, 0); }));
    EXPECT_TRUE(FailsWith(ERROR_NOT_SUPPORTED, [] { return TerminateThread(GetCurrentThread(), 0); }));
    stop = true;
    EXPECT_EQ(WaitForSingleObject(running, 10'000), WAIT_OBJECT_0);
    CloseHandle(running);
}

TEST_F(ThreadControl, PrioritiesAreNiceValues) {
    std::atomic<bool> stop{false};
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, Spin, &stop, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    const struct {
        int priority;
        const char* nice;
    } cases[] = {{THREAD_PRIORITY_IDLE, "19"},          {THREAD_PRIORITY_LOWEST, "10"},
                 {THREAD_PRIORITY_BELOW_NORMAL, "5"},   {THREAD_PRIORITY_NORMAL, "0"},
                 {THREAD_PRIORITY_ABOVE_NORMAL, "-5"},  {THREAD_PRIORITY_HIGHEST, "-10"},
                 {THREAD_PRIORITY_TIME_CRITICAL, "-20"}};
    // Raising a priority needs a privilege; without it only the way down is tried.
    const bool privileged = geteuid() == 0;
    int last = THREAD_PRIORITY_NORMAL;
    for (const auto& c : cases) {
        if (!privileged && c.priority != THREAD_PRIORITY_IDLE) continue;
        EXPECT_TRUE(SetThreadPriority(thread, c.priority)) << c.priority;
        EXPECT_EQ(Stat(id, 19), c.nice) << c.priority;
        EXPECT_EQ(GetThreadPriority(thread), c.priority);
        last = c.priority;
    }
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return SetThreadPriority(thread, 7); }));
    // The kernel's refusal (no privilege to raise it) keeps the priority.
    {
        const vlibtest::SeamScope seam(
            [](auto& s) { s.setpriority = [](int, id_t, int) { return errno = EACCES, -1; }; });
        EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST); }));
    }
    EXPECT_EQ(GetThreadPriority(thread), last);
    stop = true;
    WaitForSingleObject(thread, 10'000);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_LOWEST));  // ended: kept, without effect
    CloseHandle(thread);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ERROR_RETURN);
}

// A thread that posts to itself and peeks in a loop (taking the queue's lock
// all the time) is suspended again and again while other threads post to
// it: no post ever blocks behind the parked thread.
TEST_F(ThreadControl, RaceSuspendingABusyQueueNeverBlocksItsPosters) {
    std::atomic<bool> stop{false};
    DWORD id = 0;
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID stopFlag) -> DWORD {
            MSG msg;
            while (!static_cast<std::atomic<bool>*>(stopFlag)->load()) {
                PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0);
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                }
            }
            return 0;
        },
        &stop, 0, &id);
    ASSERT_NE(thread, nullptr);
    std::atomic<bool> posting{true};
    std::thread poster([&] {
        while (posting) PostThreadMessageW(id, WM_APP + 1, 0, 0);
    });
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(SuspendThread(thread), 0u);
        PostThreadMessageW(id, WM_APP + 2, 0, 0);
        ASSERT_EQ(ResumeThread(thread), 1u);
    }
    posting = false;
    poster.join();
    stop = true;
    EXPECT_EQ(WaitForSingleObject(thread, 10'000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

}  // namespace

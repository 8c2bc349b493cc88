// VWinThread: messages handled on a named MFC thread, and stops that never
// kill a running thread.
#include "multithreading/VWinThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "tests/support/TestException.h"
#include "tests/support/Threads.h"
#include "tests/support/Wait.h"

namespace {

using vlibtest::WaitFor;

constexpr UINT kCount = WM_APP;
constexpr UINT kThrowStd = WM_APP + 1;
constexpr UINT kThrowInt = WM_APP + 2;
constexpr UINT kThrowMfc = WM_APP + 3;
constexpr UINT kBlock = WM_APP + 4;
constexpr UINT kStopItself = WM_APP + 5;
constexpr UINT kDestroyItself = WM_APP + 6;
constexpr UINT kStartTimer = WM_APP + 7;
constexpr UINT kKillTimer = WM_APP + 8;

// What the worker objects did; read after their threads have ended.
struct Seen {
    std::atomic<int> handled{0}, initialized{0}, exited{0}, mfcDeleted{0}, ticks{0}, destroyed{0};
    std::atomic<bool> blocked{false};
    std::atomic<bool> exitedBeforeDestruction{false};
    std::atomic<UINT_PTR> firstTimer{0}, timer{0};
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Seen() { CloseHandle(release); }
};

class Worker : public VWinThread {
public:
    explicit Worker(Seen& seen, const char* name = "Worker") : VWinThread(name), m_seen(seen) {}
    ~Worker() override {
        m_seen.exitedBeforeDestruction = m_seen.exited.load() == 1;
        ++m_seen.destroyed;
    }

    BOOL InitInstance() override {
        ++m_seen.initialized;
        return TRUE;
    }
    int ExitInstance() override {
        ++m_seen.exited;
        return VWinThread::ExitInstance();
    }
    bool ProcessMessage(const MSG& msg) override {
        switch (msg.message) {
            case kCount:
                ++m_seen.handled;
                return true;
            case kThrowStd:
                throw std::runtime_error("boom");
            case kThrowInt:
                throw 5;
            case kThrowMfc:
                throw new vlibtest::TestMfcException(L"mfc", &m_deleted);
            case kBlock:
                m_seen.blocked = true;
                WaitForSingleObject(m_seen.release, INFINITE);
                return true;
            case kStopItself:
                Stop();
                return true;
            case kDestroyItself:
                Destroy();
                return true;
            case kStartTimer:
                SetTimer(1, 10, m_timer);
                m_seen.firstTimer = m_timer;
                SetTimer(1, 10, m_timer);  // replaces the first
                m_seen.timer = m_timer;
                return true;
            case kKillTimer:
                KillTimer(m_timer);
                KillTimer(m_timer);  // 0 now: nothing
                m_seen.timer = m_timer;
                return true;
            case WM_TIMER:
                if (msg.wParam == m_timer) ++m_seen.ticks;
                return true;
            default:
                return false;
        }
    }

    int MfcDeleted() const { return m_deleted; }

private:
    Seen& m_seen;
    int m_deleted = 0;
    std::uint64_t m_timer = 0;
};

// A worker whose thread was created (with `flags`).
Worker* Started(Seen& seen, DWORD flags = 0) {
    auto* worker = new Worker(seen);
    EXPECT_TRUE(worker->CreateInternal(THREAD_PRIORITY_NORMAL, flags));
    return worker;
}

class VWinThreadTest : public ::testing::Test {
protected:
    void SetUp() override { GetProcessHandleCount(GetCurrentProcess(), &m_handles); }
    void TearDown() override {
        DWORD now = 0;
        EXPECT_TRUE(WaitFor([&] {
            GetProcessHandleCount(GetCurrentProcess(), &now);
            return now == m_handles;
        })) << "kernel handles left: "
            << now - m_handles;
    }
    DWORD m_handles = 0;
};

TEST_F(VWinThreadTest, MessagesAreHandledAndExceptionsFromHandlingAreIgnored) {
    Seen seen;
    auto* worker = new Worker(seen, "Notowania");
    ASSERT_TRUE(worker->CreateInternal(THREAD_PRIORITY_NORMAL, 0));
    EXPECT_FALSE(worker->CreateInternal(THREAD_PRIORITY_NORMAL, 0));  // has a thread
    for (const UINT message : {kCount, kThrowStd, kThrowInt, kThrowMfc, kCount}) {
        EXPECT_TRUE(worker->PostThreadMessageW(message));
    }
    ASSERT_TRUE(WaitFor([&] { return seen.handled.load() == 2; }));
    EXPECT_EQ(worker->MfcDeleted(), 1);
    EXPECT_EQ(vlibtest::KernelThreadName(worker->GetThreadId()), "Notowania");
    EXPECT_TRUE(worker->IsWorking());
    worker->Stop();
    EXPECT_FALSE(worker->IsWorking());
    EXPECT_EQ(worker->m_hThread, nullptr);
    EXPECT_EQ(seen.exited.load(), 1);
    EXPECT_FALSE(worker->CreateInternal(THREAD_PRIORITY_NORMAL, 0));  // not started again
    worker->Stop();                                                   // twice: at once
    worker->Destroy();
    EXPECT_EQ(seen.destroyed.load(), 1);
}

// Stop resumes a thread suspended twice and returns once it has ended; a
// thread held since its creation ends without running at all.
TEST_F(VWinThreadTest, StopEndsSuspendedThreads) {
    Seen seen, held;
    auto* worker = new Worker(seen);
    auto* never = Started(held, CREATE_SUSPENDED);
    ASSERT_TRUE(worker->CreateInternal(THREAD_PRIORITY_BELOW_NORMAL, 0));
    worker->PostThreadMessageW(kCount);
    EXPECT_TRUE(never->PostThreadMessageW(kCount));  // its queue exists
    ASSERT_TRUE(WaitFor([&] { return seen.handled.load() == 1; }));
    EXPECT_EQ(worker->SuspendThread(), 0u);
    EXPECT_EQ(worker->SuspendThread(), 1u);
    worker->Stop();
    EXPECT_EQ(seen.exited.load(), 1);
    never->Stop();
    EXPECT_EQ(never->m_hThread, nullptr);
    EXPECT_EQ(held.initialized + held.exited + held.handled, 0);
    worker->Destroy();
    never->Destroy();
}

TEST_F(VWinThreadTest, APostedQuitEndsAfterTheCurrentMessageAndDestroyWaitsForTheEnd) {
    Seen seen;
    auto* worker = Started(seen);
    worker->PostThreadMessageW(kBlock);
    ASSERT_TRUE(WaitFor([&] { return seen.blocked.load(); }));
    worker->PostThreadMessageW(kCount);
    EXPECT_TRUE(worker->PostThreadMessageW(WM_QUIT));
    EXPECT_FALSE(worker->IsWorking());
    worker->Stop();  // stopping was set: returns at once, the thread still runs
    EXPECT_EQ(WaitForSingleObject(worker->m_hThread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    std::thread destroyer([&] { worker->Destroy(); });
    SetEvent(seen.release);
    destroyer.join();
    EXPECT_TRUE(seen.exitedBeforeDestruction.load());
    EXPECT_EQ(seen.handled.load(), 0);
}

// With the queue full the quit cannot be posted: the thread is not killed
// but leaves its loop after the message in progress.
TEST_F(VWinThreadTest, AStopWhoseQuitCannotBePostedStillEndsTheLoopCleanly) {
    Seen seen;
    auto* worker = Started(seen);
    worker->PostThreadMessageW(kBlock);
    ASSERT_TRUE(WaitFor([&] { return seen.blocked.load(); }));
    while (worker->PostThreadMessageW(kCount)) {
    }
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    std::thread stopper([&] { worker->Stop(); });
    // The blocked message ends only once the stop has been requested.
    EXPECT_TRUE(WaitFor([&] { return !worker->IsWorking(); }));
    SetEvent(seen.release);
    stopper.join();
    EXPECT_EQ(seen.exited.load(), 1);
    EXPECT_EQ(seen.handled.load(), 0);
    worker->Destroy();
}

TEST_F(VWinThreadTest, ConcurrentStopsEndTheThreadOnce) {
    Seen seen;
    auto* worker = Started(seen);
    std::thread a([&] { worker->Stop(); });
    std::thread b([&] { worker->Stop(); });
    worker->Stop();
    a.join();
    b.join();
    EXPECT_EQ(seen.exited.load(), 1);
    worker->Destroy();
}

TEST_F(VWinThreadTest, OnItsOwnThreadStopRequestsAndDestroyDeletesAfterRun) {
    Seen seen;
    auto* worker = Started(seen);
    worker->PostThreadMessageW(kStopItself);
    ASSERT_TRUE(WaitFor([&] { return seen.exited.load() == 1; }));
    worker->Destroy();

    Seen second;
    auto* self = Started(second);
    self->PostThreadMessageW(kDestroyItself);
    // Deleted on its thread once Run has returned; its handle closed there.
    ASSERT_TRUE(WaitFor([&] { return second.destroyed.load() == 1; }));
    EXPECT_TRUE(second.exitedBeforeDestruction.load());
}

TEST_F(VWinThreadTest, ATimerTicksWithItsHandleAndSettingAgainReplacesIt) {
    Seen seen;
    auto* worker = Started(seen);
    worker->PostThreadMessageW(kStartTimer);
    ASSERT_TRUE(WaitFor([&] { return seen.ticks.load() >= 3; }));
    EXPECT_NE(seen.firstTimer.load(), seen.timer.load());
    worker->PostThreadMessageW(kKillTimer);
    ASSERT_TRUE(WaitFor([&] { return seen.timer.load() == 0; }));
    worker->Destroy();
}

TEST_F(VWinThreadTest, RaceTwoHundredCreateAndStopCyclesLeaveNothingBehind) {
    for (int cycle = 0; cycle < 200; ++cycle) {
        Seen seen;
        auto* worker = Started(seen, cycle % 3 == 0 ? CREATE_SUSPENDED : 0);
        worker->PostThreadMessageW(kCount);
        worker->Destroy();
        ASSERT_EQ(seen.destroyed.load(), 1);
    }
}

}  // namespace

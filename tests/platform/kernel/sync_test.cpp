// Waits on events, mutexes and threads: reset modes, wait-any and wait-all,
// timeouts, abandoned mutexes, thread ends (also against a reused thread
// id), objects watched through descriptors, and failed system calls.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/kernel/Memory.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/internal/Waitable.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/Seam.h"

namespace {

using vlibtest::BlockedIn;
using vlibtest::FailsWith;
using vplatform::test::RealSyscalls;

constexpr DWORD kNone = 0xdeadbeef;

class Sync : public vlibtest::HandleCountTest {};

// A thread that runs `body` once it has its id; joined when destroyed.
class Worker {
public:
    explicit Worker(std::function<void()> body)
        : m_thread([this, body = std::move(body)] {
              m_tid = GetCurrentThreadId();
              body();
          }) {
        vlibtest::WaitFor([&] { return m_tid != 0; });
    }
    ~Worker() { Join(); }
    DWORD Tid() const { return m_tid; }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::atomic<DWORD> m_tid{0};
    std::thread m_thread;
};

DWORD Wait(std::initializer_list<HANDLE> handles, bool all, DWORD milliseconds = 0) {
    return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.begin(), all, milliseconds);
}

// Three threads wait; a set or a pulse of an auto-reset event releases
// exactly one of them, of a manual-reset one all; only a set manual-reset
// event stays signalled.
TEST_F(Sync, EventsReleaseOneWaiterOrAllAsTheirResetModeSays) {
    for (const bool pulse : {false, true}) {
        for (const BOOL manual : {FALSE, TRUE}) {
            SCOPED_TRACE(std::string(pulse ? "pulse" : "set") + (manual ? ", manual" : ", auto"));
            const HANDLE event = CreateEventW(nullptr, manual, FALSE, L"");
            std::atomic<int> woken{0};
            std::vector<std::unique_ptr<Worker>> waiters;
            for (int i = 0; i < 3; ++i) {
                waiters.push_back(std::make_unique<Worker>([&] {
                    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
                    ++woken;
                }));
            }
            for (const auto& w : waiters) ASSERT_TRUE(BlockedIn(w->Tid(), {SYS_futex}));
            EXPECT_TRUE(pulse ? PulseEvent(event) : SetEvent(event));
            ASSERT_TRUE(vlibtest::WaitFor([&] { return woken == (manual ? 3 : 1); }));
            EXPECT_EQ(WaitForSingleObject(event, 0), manual && !pulse ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
            for (int left = 3 - woken; left > 0; --left) EXPECT_TRUE(SetEvent(event));
            waiters.clear();
            EXPECT_TRUE(ResetEvent(event));
            EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
            EXPECT_TRUE(CloseHandle(event));
        }
    }
}

// Wait-any takes only the lowest signalled object.  Wait-all never holds
// part of its objects: a signal it cannot use yet stays for others, and it
// takes everything in one step at the end.
TEST_F(Sync, WaitAnyTakesOneObjectAndWaitAllTakesAllInOneStep) {
    const HANDLE a = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    const HANDLE b = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    const HANDLE c = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(Wait({c, a, b}, false), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(Wait({c, a, b}, false), WAIT_OBJECT_0 + 2);
    // One object twice is fine here.
    EXPECT_EQ(Wait({c, c}, false, 20), WAIT_TIMEOUT);

    EXPECT_TRUE(SetEvent(a));
    EXPECT_EQ(Wait({a, b}, true, 20), WAIT_TIMEOUT);
    std::atomic<DWORD> result{kNone};
    Worker all([&] { result = Wait({a, b}, true, INFINITE); });
    ASSERT_TRUE(BlockedIn(all.Tid(), {SYS_futex}));
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);  // still free for others
    EXPECT_TRUE(SetEvent(b));
    EXPECT_EQ(result, kNone);
    EXPECT_TRUE(SetEvent(a));
    all.Join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_EQ(Wait({a, b}, false), WAIT_TIMEOUT);  // both were reset together
    for (HANDLE h : {a, b, c}) EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Sync, BadWaitsFail) {
    const HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, e);
    // Counts of 0 and above the maximum, no array, one object twice in a wait for all.
    for (const auto& [count, handles, all] : {std::tuple{0u, many.data(), FALSE},
                                              {MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE},
                                              {1u, static_cast<HANDLE*>(nullptr), FALSE},
                                              {2u, many.data(), TRUE}}) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER,
                              [&] { return WaitForMultipleObjects(count, handles, all, 0) != WAIT_FAILED; }));
    }
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(e));
}

// As on Windows, the pseudo handles are waitable alone (the running process
// and thread are not signalled), also kept in 32 bits, and refused with
// ERROR_INVALID_HANDLE in a wait for several objects.
TEST_F(Sync, PseudoHandlesWaitAloneAndFailAmongSeveral) {
    const HANDLE e = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const auto low32 = [](HANDLE h) {
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(reinterpret_cast<std::uintptr_t>(h) & 0xFFFFFFFFu));
    };
    for (HANDLE pseudo : {GetCurrentProcess(), GetCurrentThread(), low32(GetCurrentProcess())}) {
        EXPECT_EQ(WaitForSingleObject(pseudo, 0), WAIT_TIMEOUT);
        for (const std::vector<HANDLE>& handles : {std::vector<HANDLE>{pseudo}, std::vector<HANDLE>{e, pseudo}}) {
            EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] {
                return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, 20) !=
                       WAIT_FAILED;
            }));
        }
    }
    EXPECT_EQ(WaitForSingleObject(GetCurrentThread(), 20), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
}

// A mutex is recursive and owned by one thread; one whose owner ended
// without releasing it reports WAIT_ABANDONED to the one wait that takes it
// next: queued or not, alone or with others.
TEST_F(Sync, MutexesAreRecursiveOwnedByOneThreadAndAbandonedOnce) {
    const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE always = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
    Worker([&] {
        EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(FailsWith(ERROR_NOT_OWNER, [&] { return ReleaseMutex(m); }));
    });
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(m) && ReleaseMutex(m));
    EXPECT_TRUE(FailsWith(ERROR_NOT_OWNER, [&] { return ReleaseMutex(m); }));

    const auto abandon = [&] { Worker([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0); }); };
    abandon();
    EXPECT_EQ(Wait({never, m}, false), WAIT_ABANDONED_0 + 1);
    EXPECT_TRUE(ReleaseMutex(m));
    abandon();
    EXPECT_EQ(Wait({always, m}, true), WAIT_ABANDONED_0 + 1);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // owned again, not abandoned
    EXPECT_TRUE(ReleaseMutex(m) && ReleaseMutex(m));

    std::atomic<bool> taken{false}, release{false};
    std::atomic<DWORD> queued{kNone};
    Worker owner([&] {
        taken = WaitForSingleObject(m, 0) == WAIT_OBJECT_0;
        vlibtest::WaitFor([&] { return release.load(); });
    });
    ASSERT_TRUE(vlibtest::WaitFor([&] { return taken.load(); }));
    Worker waiter([&] {
        queued = WaitForSingleObject(m, INFINITE);
        ReleaseMutex(m);
    });
    ASSERT_TRUE(BlockedIn(waiter.Tid(), {SYS_futex}));
    release = true;
    waiter.Join();
    EXPECT_EQ(queued, WAIT_ABANDONED);
    for (HANDLE h : {never, always, m}) EXPECT_TRUE(CloseHandle(h));
}

// Threads count under one mutex: nothing is lost, and ThreadSanitizer sees
// the mutex order every access.
TEST_F(Sync, RaceAMutexExcludesItsOtherWaiters) {
    const HANDLE m = CreateMutexW(nullptr, FALSE, nullptr);
    int counter = 0;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.push_back(std::make_unique<Worker>([&] {
            for (int i = 0; i < 500; ++i) {
                ASSERT_EQ(WaitForSingleObject(m, INFINITE), WAIT_OBJECT_0);
                ++counter;
                ASSERT_TRUE(ReleaseMutex(m));
            }
        }));
    }
    workers.clear();
    EXPECT_EQ(counter, 2000);
    EXPECT_TRUE(CloseHandle(m));
}

// A wait holds its objects: closing a handle that a thread waits on leaves
// the wait running, satisfied through another object.
TEST_F(Sync, RaceClosingAHandleLeavesAWaitOnItRunning) {
    const HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE other = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> result{kNone};
    Worker waiter([&] { result = Wait({closed, other}, false, INFINITE); });
    ASSERT_TRUE(BlockedIn(waiter.Tid(), {SYS_futex}));
    EXPECT_TRUE(CloseHandle(closed));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return SetEvent(closed); }));
    EXPECT_TRUE(SetEvent(other));
    waiter.Join();
    EXPECT_EQ(result, WAIT_OBJECT_0 + 1);
    EXPECT_TRUE(CloseHandle(other));
}

// --- Threads ------------------------------------------------------------------------

// Looks at its own thread's handle as the thread ends.
struct LateUser {
    std::atomic<DWORD>* out = nullptr;
    ~LateUser() {
        const HANDLE self = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
        if (out != nullptr) *out = WaitForSingleObject(self, 0);
        CloseHandle(self);
    }
};
thread_local LateUser t_late;

// The handle signals when the thread ends, by itself (no join first), after
// the thread's thread_local destructors, which may still use the platform.
// It keeps its record: it stays signalled while a new thread runs, even one
// that got the same id, whose own handle is not.
TEST_F(Sync, AThreadHandleSignalsAfterTheLastDestructorAndOutlivesItsId) {
    const HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> fromDestructor{kNone};
    DWORD endedTid = 0, code = 0;
    HANDLE ended = nullptr;
    {
        Worker worker([&] {
            t_late.out = &fromDestructor;
            WaitForSingleObject(go, INFINITE);
        });
        endedTid = worker.Tid();
        ended = OpenThread(SYNCHRONIZE, FALSE, endedTid);
        EXPECT_TRUE(GetExitCodeThread(ended, &code) && code == STILL_ACTIVE);
        EXPECT_TRUE(SetEvent(go));
        EXPECT_EQ(WaitForSingleObject(ended, INFINITE), WAIT_OBJECT_0);
        EXPECT_EQ(fromDestructor, WAIT_TIMEOUT);
        EXPECT_TRUE(GetExitCodeThread(ended, &code) && code == 0);
    }
    EXPECT_TRUE(ResetEvent(go));
    Worker running([&] { WaitForSingleObject(go, INFINITE); });
    EXPECT_EQ(WaitForSingleObject(ended, 0), WAIT_OBJECT_0);
    EXPECT_EQ(GetThreadId(ended), endedTid);
    if (running.Tid() == endedTid) {
        const HANDLE again = OpenThread(SYNCHRONIZE, FALSE, endedTid);
        EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(CloseHandle(again));
    } else {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return OpenThread(SYNCHRONIZE, FALSE, endedTid); }));
    }
    EXPECT_TRUE(SetEvent(go));
    running.Join();
    for (HANDLE h : {ended, go}) EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Sync, OpenThreadRefusesThreadsThePlatformHasNotSeen) {
    std::atomic<pid_t> tid{0};
    std::promise<void> release;
    std::thread unseen([&, released = release.get_future()] {
        tid = static_cast<pid_t>(syscall(SYS_gettid));
        released.wait();
    });
    ASSERT_TRUE(vlibtest::WaitFor([&] { return tid != 0; }));
    for (const DWORD id : {static_cast<DWORD>(tid.load()), 0u}) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return OpenThread(SYNCHRONIZE, FALSE, id); }));
    }
    release.set_value();
    unseen.join();
}

// --- Objects watched through descriptors, failed system calls -------------------------

// A waitable whose state comes from outside: signalled once its pipe is
// readable.
class PipeWaitable final : public vplatform::Waitable {
public:
    static constexpr vplatform::ObjectType kType = static_cast<vplatform::ObjectType>(0x1F0);
    explicit PipeWaitable(int fd) : m_fd(fd) {}
    bool IsSignalled(const vplatform::ThreadRecord&) const override { return m_ready; }
    int WatchFd() const override { return m_fd; }
    void FdReady() override {
        m_ready = true;
        Signalled();
    }

private:
    int m_fd;
    bool m_ready = false;
};

class WatchedPipe : public Sync {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(m_fds), 0);
        m_pipe = vplatform::KernelHandles().Insert(std::make_shared<PipeWaitable>(m_fds[0]));
    }
    void TearDown() override {
        CloseHandle(m_pipe);
        CloseHandle(m_event);
        close(m_fds[0]);
        close(m_fds[1]);
        Sync::TearDown();
    }
    int m_fds[2] = {-1, -1};
    HANDLE m_pipe = nullptr;
    HANDLE m_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

TEST_F(WatchedPipe, DescriptorsAndSignalsWakeTheSameWait) {
    std::atomic<DWORD> result{kNone};
    for (const bool byEvent : {true, false}) {
        Worker waiter([&] { result = Wait({m_event, m_pipe}, false, INFINITE); });
        ASSERT_TRUE(BlockedIn(waiter.Tid(), {SYS_poll, SYS_ppoll}));
        if (byEvent) {
            EXPECT_TRUE(SetEvent(m_event));
        } else {
            ASSERT_EQ(write(m_fds[1], "x", 1), 1);
        }
        waiter.Join();
        EXPECT_EQ(result, byEvent ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + 1);
    }
    EXPECT_EQ(Wait({m_event, m_pipe}, true), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(m_event));
    EXPECT_EQ(Wait({m_event, m_pipe}, true), WAIT_OBJECT_0);
}

// Each case runs on a new thread, whose record and wake-up descriptor are
// made under the failing table.
TEST_F(WatchedPipe, FailedSystemCallsFailTheCall) {
    const struct {
        void (*fail)(vplatform::Syscalls&);
        DWORD error;
        std::function<bool()> call;
    } cases[] = {
        {[](vplatform::Syscalls& s) { s.eventfd = [](unsigned, int) { return errno = EMFILE, -1; }; },
         ERROR_TOO_MANY_OPEN_FILES, [&] { return WaitForSingleObject(m_pipe, 0) != WAIT_FAILED; }},
        {[](vplatform::Syscalls& s) { s.poll = [](pollfd*, nfds_t, int) { return errno = ENOMEM, -1; }; },
         ERROR_NOT_ENOUGH_MEMORY, [&] { return WaitForSingleObject(m_pipe, 0) != WAIT_FAILED; }},
        {[](vplatform::Syscalls& s) {
             s.pthread_setname_np = [](pthread_t thread, const char* name) {
                 return std::string_view(name) == "refused" ? EPERM : RealSyscalls().pthread_setname_np(thread, name);
             };
         },
         ERROR_ACCESS_DENIED,
         [] {
             EXPECT_EQ(SetThreadDescription(GetCurrentThread(), L"kept"), S_OK);
             const HRESULT refused = SetThreadDescription(GetCurrentThread(), L"refused");
             LPWSTR text = nullptr;
             EXPECT_EQ(GetThreadDescription(GetCurrentThread(), &text), S_OK);
             EXPECT_STREQ(text, L"kept");
             LocalFree(text);
             SetLastError(static_cast<DWORD>(refused) & 0xFFFF);  // the Windows code of the HRESULT
             return SUCCEEDED(refused);
         }},
    };
    for (const auto& c : cases) {
        Worker([&] {
            const vlibtest::SeamScope seam(c.fail);
            EXPECT_TRUE(FailsWith(c.error, c.call));
        });
    }
}

}  // namespace

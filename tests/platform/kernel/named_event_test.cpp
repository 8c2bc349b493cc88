// Named events: one event per name for the user's processes, set in one
// process and waited for in another, names shared with named mutexes.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Sync.h"
#include "platform/kernel/Threads.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/Child.h"
#include "tests/support/EnvScope.h"
#include "tests/support/TempDir.h"
#include "tests/support/Threads.h"
#include "text/StringConversion.h"

namespace {

using VTools::String::Utf8ToWide;

class NamedEvent : public vlibtest::HandleCountTest {
protected:
    vlibtest::TempDir m_runtime;
    vlibtest::EnvScope m_env{"XDG_RUNTIME_DIR", m_runtime.Path().c_str()};

    static std::string Name(const char* what) {
        static std::atomic<int> counter{0};
        return std::string("vlib-test-event-") + what + "-" + std::to_string(getpid()) + "-" +
               std::to_string(counter++);
    }
    // A handle and the last error of the call that gave it.
    template <class Call>
    static std::pair<HANDLE, DWORD> Made(Call call) {
        SetLastError(0xdeadbeef);
        const HANDLE handle = call();
        return {handle, GetLastError()};
    }
    static std::pair<HANDLE, DWORD> Create(const std::string& name, BOOL manual = TRUE) {
        return Made([&] { return CreateEventW(nullptr, manual, FALSE, Utf8ToWide(name).c_str()); });
    }
    static std::unique_ptr<vlibtest::Child> Helper(const std::vector<std::string>& args) {
        std::vector<std::string> argv{VLIB_DESKTOP_HELPER};
        argv.insert(argv.end(), args.begin(), args.end());
        auto child = vlibtest::Child::Start(argv);
        EXPECT_TRUE(child);
        return child;
    }
};

TEST_F(NamedEvent, ASecondCreationOpensTheExistingEventAndNamesAreSharedWithMutexes) {
    const std::string name = Name("same");
    const auto [first, created] = Create(name, FALSE);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(created, ERROR_SUCCESS);
    // Local\ and Global\ name the same event, which keeps its kind of reset.
    for (const std::string& alias : {name, "Local\\" + name, "Global\\" + name}) {
        const auto [again, error] = Create(alias, TRUE);
        EXPECT_EQ(error, ERROR_ALREADY_EXISTS) << alias;
        EXPECT_TRUE(SetEvent(again));
        EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_TIMEOUT);  // auto-reset: taken by the first wait
        CloseHandle(again);
    }
    const auto [opened, openError] =
        Made([&] { return OpenEventW(EVENT_ALL_ACCESS, FALSE, Utf8ToWide(name).c_str()); });
    EXPECT_NE(opened, nullptr);
    EXPECT_EQ(openError, ERROR_SUCCESS);
    CloseHandle(opened);
    // Names compare with case; a name nobody holds cannot be opened.
    const auto [other, otherError] = Create("X" + name);
    EXPECT_EQ(otherError, ERROR_SUCCESS);
    CloseHandle(other);
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_FILE_NOT_FOUND,
                                    [&] { return OpenEventW(SYNCHRONIZE, FALSE, Utf8ToWide("Y" + name).c_str()); }));
    // An event's name is no mutex's, in this process or in another; nor the reverse.
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_INVALID_HANDLE,
                                    [&] { return CreateMutexW(nullptr, FALSE, Utf8ToWide(name).c_str()); }));
    const auto helper = Helper({"mutex", name});
    EXPECT_EQ(helper->ReadLine(), "failed " + std::to_string(ERROR_INVALID_HANDLE));
    CloseHandle(first);
    const std::string mutexName = Name("mutex");
    const auto holder = Helper({"mutex", mutexName});
    EXPECT_EQ(holder->ReadLine(), "created");
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_INVALID_HANDLE, [&] { return Create(mutexName).first; }));
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_INVALID_HANDLE,
                                    [&] { return OpenEventW(SYNCHRONIZE, FALSE, Utf8ToWide(mutexName).c_str()); }));
    holder->CloseInput();
    EXPECT_EQ(holder->Wait(), 0);
}

// A set in one process satisfies a wait in another, both ways; an auto-reset
// event wakes one waiter of all the processes per set, a manual-reset one
// stays set for all until reset.
TEST_F(NamedEvent, ASetInOneProcessSatisfiesAWaitInAnother) {
    for (const bool manual : {true, false}) {
        SCOPED_TRACE(manual ? "manual reset" : "auto reset");
        const std::string name = Name("across");
        const auto helper = Helper({"event", name, manual ? "manual" : "auto"});
        ASSERT_EQ(helper->ReadLine(), "created");
        const auto [event, error] = Create(name, manual);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(error, ERROR_ALREADY_EXISTS);

        // The other process sets; a thread here is already asleep in its wait.
        std::atomic<DWORD> waited{WAIT_FAILED}, waiter{0};
        std::thread local([&] {
            waiter = GetCurrentThreadId();
            waited = WaitForSingleObject(event, 10'000);
        });
        ASSERT_TRUE(vlibtest::WaitFor([&] { return waiter.load() != 0; }));
        ASSERT_TRUE(vlibtest::BlockedIn(waiter, {SYS_poll, SYS_ppoll}));
        helper->WriteLine("set");
        EXPECT_EQ(helper->ReadLine(), "done");
        local.join();
        EXPECT_EQ(waited.load(), WAIT_OBJECT_0);
        helper->WriteLine("wait 0");
        EXPECT_EQ(helper->ReadLine(), manual ? "signalled" : "timeout");
        EXPECT_TRUE(ResetEvent(event));
        helper->WriteLine("wait 0");
        EXPECT_EQ(helper->ReadLine(), "timeout");

        // This process sets for a waiter there and one here: with auto reset
        // one set wakes one of them, the next set the other.
        waited = WAIT_FAILED;
        waiter = 0;
        std::thread second([&] {
            waiter = GetCurrentThreadId();
            waited = WaitForSingleObject(event, 10'000);
        });
        ASSERT_TRUE(vlibtest::WaitFor([&] { return waiter.load() != 0; }));
        ASSERT_TRUE(vlibtest::BlockedIn(waiter, {SYS_poll, SYS_ppoll}));
        helper->WriteLine("wait 10000");
        EXPECT_TRUE(SetEvent(event));
        if (manual) {
            EXPECT_EQ(helper->ReadLine(), "signalled");
            second.join();
        } else {
            // Whichever woke, the other still waits until the next set.
            const auto there = helper->ReadLine(std::chrono::milliseconds(300));
            const bool hereWoke = !there && vlibtest::WaitFor([&] { return waited.load() != WAIT_FAILED; });
            EXPECT_TRUE(there || hereWoke);
            if (there) {
                EXPECT_EQ(*there, "signalled");
                EXPECT_EQ(waited.load(), WAIT_FAILED);
            } else {
                EXPECT_FALSE(helper->ReadLine(std::chrono::milliseconds(100)));
            }
            EXPECT_TRUE(SetEvent(event));
            second.join();
            if (!there) {
                EXPECT_EQ(helper->ReadLine(), "signalled");
            }
        }
        EXPECT_EQ(waited.load(), WAIT_OBJECT_0);
        helper->CloseInput();
        EXPECT_EQ(helper->Wait(), 0);
        CloseHandle(event);
    }
}

}  // namespace

// A fixture that checks that a test leaves as many kernel, USER and GDI
// handles open as it found; the sentinel check of a failing call; a wait for
// a thread to block in a system call.
#pragma once

#include <gtest/gtest.h>
#include <sys/syscall.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <string>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Threads.h"
#include "tests/support/Wait.h"

namespace vlibtest {

struct HandleCounts {
    DWORD kernel = 0, user = 0, gdi = 0;
    static HandleCounts Now() {
        HandleCounts counts;
        GetProcessHandleCount(GetCurrentProcess(), &counts.kernel);
        counts.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
        counts.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
        return counts;
    }
};

class HandleCountTest : public ::testing::Test {
protected:
    void TearDown() override {
        const HandleCounts now = HandleCounts::Now();
        EXPECT_EQ(now.kernel, m_start.kernel) << "kernel handles leaked";
        EXPECT_EQ(now.user, m_start.user) << "USER handles leaked";
        EXPECT_EQ(now.gdi, m_start.gdi) << "GDI handles leaked";
    }
    const HandleCounts m_start = HandleCounts::Now();
};

// Sets the sentinel last error, runs `call` (true when it succeeded) and
// checks that it failed with `error`.
template <class Call>
::testing::AssertionResult FailsWith(DWORD error, Call call) {
    SetLastError(0xdeadbeef);
    if (call()) return ::testing::AssertionFailure() << "succeeded";
    if (GetLastError() != error) return ::testing::AssertionFailure() << "last error " << GetLastError();
    return ::testing::AssertionSuccess();
}

// True once the thread `tid` of this process sleeps inside one of the system
// calls `numbers` (SYS_read, SYS_futex…), as /proc shows it.
inline bool BlockedIn(DWORD tid, std::initializer_list<long> numbers) {
    return WaitFor([&] {
        std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/syscall");
        long current = -1;
        return file >> current && std::find(numbers.begin(), numbers.end(), current) != numbers.end();
    });
}

}  // namespace vlibtest

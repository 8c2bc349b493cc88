#include "multithreading/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Threads.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Threads.h"

namespace {

using vlibtest::WaitFor;

std::wstring Description(DWORD tid) {
    const HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, tid);
    if (thread == nullptr) return L"<no thread>";
    LPWSTR text = nullptr;
    std::wstring result = SUCCEEDED(GetThreadDescription(thread, &text)) ? text : L"<failed>";
    LocalFree(text);
    CloseHandle(thread);
    return result;
}

// The whole name is the description; the kernel's name is cut to 15 bytes,
// never inside a character.  Polish names come from the ANSI code page.
TEST(Thread, NamesAreSeenWholeThroughTheDescriptionAndCutToFitTheKernel) {
    const struct {
        UINT acp;
        const char* name;
        const wchar_t* description;
        const char* kernel;
    } cases[] = {
        {CP_UTF8, "Log", L"Log", "Log"},
        {CP_UTF8, "QuotesReceiverWorker", L"QuotesReceiverWorker", "QuotesReceiverW"},
        // "Wątek notowań!" in Windows-1250: 14 characters, 16 bytes of UTF-8.
        {1250, "W\xB9tek notowa\xF1!", L"W\u0105tek notowa\u0144!", "W\xC4\x85tek notowa\xC5\x84"},
    };
    for (const auto& c : cases) {
        vlibtest::AcpScope acp(c.acp);
        std::atomic<DWORD> tid{0};
        std::atomic<bool> release{false};
        std::thread thread([&] {
            VTools::Thread::SetThreadName(c.name);
            tid = GetCurrentThreadId();
            WaitFor([&] { return release.load(); });
        });
        ASSERT_TRUE(WaitFor([&] { return tid != 0; }));
        EXPECT_EQ(vlibtest::KernelThreadName(tid), c.kernel);
        EXPECT_EQ(Description(tid), c.description);
        release = true;
        thread.join();
    }
    EXPECT_EQ(SetThreadDescription(nullptr, L"x"), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetThreadDescription(GetCurrentThread(), nullptr), E_INVALIDARG);
    EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
}

TEST(Thread, WaitForEndThreadReturnsOnceTheThreadHasEnded) {
    VTools::Thread::WaitForEndThread(nullptr);
    std::atomic<DWORD> tid{0};
    std::atomic<bool> release{false};
    std::thread worker([&] {
        tid = GetCurrentThreadId();
        WaitFor([&] { return release.load(); });
    });
    ASSERT_TRUE(WaitFor([&] { return tid != 0; }));
    const HANDLE handle = OpenThread(SYNCHRONIZE | THREAD_SUSPEND_RESUME, FALSE, tid);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
    // Released only once this thread waits inside WaitForEndThread.
    const DWORD waiting = GetCurrentThreadId();
    std::thread releaser([&] { release = vlibtest::BlockedIn(waiting, {SYS_futex}) || true; });
    VTools::Thread::WaitForEndThread(handle);
    EXPECT_TRUE(release);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    worker.join();
    releaser.join();
    CloseHandle(handle);
}

}  // namespace

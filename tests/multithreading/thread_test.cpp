#include "multithreading/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Threads.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Wait.h"

namespace {

std::string KernelThreadName(DWORD tid) {
    std::ifstream comm("/proc/self/task/" + std::to_string(tid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

std::wstring Description(DWORD tid) {
    const HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, tid);
    if (thread == nullptr) return L"<no thread>";
    LPWSTR text = nullptr;
    std::wstring result = SUCCEEDED(GetThreadDescription(thread, &text)) ? text : L"<failed>";
    LocalFree(text);
    CloseHandle(thread);
    return result;
}

// Runs `body` on a new thread that stays alive until the check is done.
template <class Body, class Check>
void OnThread(Body body, Check check) {
    std::atomic<DWORD> tid{0};
    std::atomic<bool> release{false};
    std::thread thread([&] {
        body();
        tid = GetCurrentThreadId();
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(vlibtest::WaitFor([&] { return tid != 0; }));
    check(tid.load());
    release = true;
    thread.join();
}

TEST(Thread, NamesAreSeenWholeThroughTheDescriptionAndCutToFitTheKernel) {
    OnThread([] { VTools::Thread::SetThreadName("Log"); },
             [](DWORD tid) {
                 EXPECT_EQ(KernelThreadName(tid), "Log");
                 EXPECT_EQ(Description(tid), L"Log");
             });
    OnThread([] { VTools::Thread::SetThreadName("QuotesReceiverWorker"); },
             [](DWORD tid) {
                 EXPECT_EQ(KernelThreadName(tid), "QuotesReceiverW");
                 EXPECT_EQ(Description(tid), L"QuotesReceiverWorker");
             });
}

TEST(Thread, PolishNamesComeFromTheAnsiCodePageAndAreNotCutInsideACharacter) {
    vlibtest::AcpScope acp(1250);
    // "Wątek notowań" in Windows-1250: 13 characters, 15 bytes of UTF-8.
    OnThread([] { VTools::Thread::SetThreadName("W\xB9tek notowa\xF1!"); },
             [](DWORD tid) {
                 EXPECT_EQ(Description(tid), L"W\u0105tek notowa\u0144!");
                 EXPECT_EQ(KernelThreadName(tid), "W\xC4\x85tek notowa\xC5\x84");
             });
}

TEST(Thread, WaitForEndThreadReturnsWhenTheThreadHasEnded) {
    VTools::Thread::WaitForEndThread(nullptr);
    std::atomic<DWORD> tid{0};
    std::atomic<bool> release{false};
    std::thread worker([&] {
        tid = GetCurrentThreadId();
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_TRUE(vlibtest::WaitFor([&] { return tid != 0; }));
    const HANDLE handle = OpenThread(SYNCHRONIZE | THREAD_SUSPEND_RESUME, FALSE, tid);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        release = true;
    });
    VTools::Thread::WaitForEndThread(handle);
    worker.join();
    releaser.join();
    EXPECT_TRUE(release);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    CloseHandle(handle);
}

TEST(Thread, PlatformThreadCallsCheckTheirHandles) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(OpenThread(SYNCHRONIZE, FALSE, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetThreadDescription(nullptr, L"x"), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetThreadDescription(GetCurrentThread(), nullptr), E_INVALIDARG);
    EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
}

}  // namespace

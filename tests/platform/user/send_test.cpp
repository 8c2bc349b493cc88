// SendMessageW across threads: the procedure runs on the window's thread and
// may answer early, a waiting sender serves messages sent to it, and a window
// or thread gone meanwhile answers 0.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/platform/user/UserTestSupport.h"

namespace {

using vlibtest::MakeWindow;
using vlibtest::PumpThread;
using vlibtest::Recorder;

class Send : public vlibtest::HandleCountTest {};

// Each thread's procedure sends to the other thread's window while that
// thread waits in its own SendMessageW: both are served, three levels deep.
TEST_F(Send, RaceTwoThreadsSendingToEachOtherNeverDeadlock) {
    PumpThread a, b;
    Recorder logA, logB;
    std::atomic<HWND> windowA{nullptr}, windowB{nullptr};
    const auto bounce = [](std::atomic<HWND>& other) {
        return [&other](HWND, UINT message, WPARAM depth, LPARAM, LRESULT& result) {
            if (message != WM_APP) return false;
            result = depth == 0 ? 1 : 1 + SendMessageW(other, WM_APP, depth - 1, 0);
            return true;
        };
    };
    logA.onMessage = bounce(windowB);
    logB.onMessage = bounce(windowA);
    windowA = a.Run([&] { return MakeWindow(&logA); });
    windowB = b.Run([&] { return MakeWindow(&logB); });
    for (int round = 0; round < 5; ++round) {
        std::thread fromA([&] { EXPECT_EQ(a.Run([&] { return SendMessageW(windowB, WM_APP, 3, 0); }), 4); });
        EXPECT_EQ(b.Run([&] { return SendMessageW(windowA, WM_APP, 3, 0); }), 4);
        fromA.join();
    }
    a.Run([&] { return DestroyWindow(windowA); });
    b.Run([&] { return DestroyWindow(windowB); });
}

TEST_F(Send, RaceAWindowOrThreadGoneBeforeHandlingGivesZero) {
    Recorder log;
    log.onMessage = [](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        result = 7;
        return message == WM_APP;
    };
    for (const bool endThread : {false, true}) {
        std::atomic<HWND> window{nullptr};
        std::thread owner([&] {
            window = MakeWindow(&log);
            // Waits for the message to arrive without handling it.
            MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
            if (!endThread) DestroyWindow(window);
        });
        ASSERT_TRUE(vlibtest::WaitFor([&] { return window.load() != nullptr; }));
        EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 0) << endThread;
        owner.join();
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST_F(Send, TheProcedureRunsOnTheWindowsThreadAndReplyMessageLetsTheSenderGoOnEarly) {
    PumpThread owner;
    Recorder log;
    std::atomic<DWORD> ranOn{0};
    std::atomic<bool> release{false}, finished{false};
    log.onMessage = [&](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != WM_APP) return false;
        ranOn = GetCurrentThreadId();
        EXPECT_TRUE(InSendMessage());
        EXPECT_TRUE(ReplyMessage(5));
        EXPECT_FALSE(ReplyMessage(6));
        vlibtest::WaitFor([&] { return release.load(); });
        finished = true;
        result = 9;  // dropped: the answer was given
        return true;
    };
    const HWND window = owner.Run([&] { return MakeWindow(&log); });
    EXPECT_EQ(SendMessageW(window, WM_APP, 0, 0), 5);
    EXPECT_EQ(ranOn.load(), owner.Id());
    EXPECT_FALSE(InSendMessage());
    EXPECT_FALSE(finished.load());
    release = true;
    owner.Run([&] { return DestroyWindow(window); });
    EXPECT_TRUE(finished.load());
    EXPECT_FALSE(ReplyMessage(1));
}

}  // namespace

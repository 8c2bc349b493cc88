// Thread message queues: who has one, the quota, Windows' retrieval order and
// filters, waits that include the queue, timers, registered numbers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/platform/user/UserTestSupport.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::WaitFor;

class Queue : public vlibtest::HandleCountTest {
protected:
    // Removes what a test left in the calling thread's queue.
    void TearDown() override {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        HandleCountTest::TearDown();
    }
};

TEST_F(Queue, PostingNeedsAQueueOfALiveThreadOfThisProcess) {
    std::atomic<DWORD> id{0};
    std::atomic<int> step{0};
    std::thread thread([&] {
        id = GetCurrentThreadId();  // a platform call, not a message call: no queue yet
        WaitFor([&] { return step.load() == 1; });
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        step = 2;
        WaitFor([&] { return step.load() == 3; });
    });
    ASSERT_TRUE(WaitFor([&] { return id.load() != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_THREAD_ID, [&] { return PostThreadMessageW(id, WM_APP, 0, 0); }));
    step = 1;
    ASSERT_TRUE(WaitFor([&] { return step.load() == 2; }));
    EXPECT_TRUE(PostThreadMessageW(id, WM_APP, 0, 0));
    step = 3;
    thread.join();
    // The queue went with its thread, messages and all.
    EXPECT_TRUE(FailsWith(ERROR_INVALID_THREAD_ID, [&] { return PostThreadMessageW(id, WM_APP, 0, 0); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_THREAD_ID, [] { return PostThreadMessageW(1, WM_APP, 0, 0); }));
    EXPECT_TRUE(
        FailsWith(ERROR_MESSAGE_SYNC_ONLY, [] { return PostThreadMessageW(GetCurrentThreadId(), WM_SETTEXT, 0, 0); }));
}

TEST_F(Queue, AQueueHoldsTenThousandPostedMessages) {
    const DWORD self = GetCurrentThreadId();
    for (int i = 0; i < 10'000; ++i) ASSERT_TRUE(PostThreadMessageW(self, WM_APP, static_cast<WPARAM>(i), 0)) << i;
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_QUOTA, [&] { return PostThreadMessageW(self, WM_APP, 0, 0); }));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_TRUE(PostThreadMessageW(self, WM_APP, 10'000, 0));
    WPARAM expected = 1;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) EXPECT_EQ(msg.wParam, expected++);
    EXPECT_EQ(expected, 10'001u);
}

// Several threads post to one queue while its owner takes the messages and
// other threads send to its window: nothing is lost or doubled, and each
// poster's messages come in the order it posted them.
TEST_F(Queue, RaceConcurrentPostersAndSendersLoseNothingAndKeepEachPostersOrder) {
    constexpr int kPosters = 4;
    constexpr int kPerPoster = 2'000;  // all of them fit in the quota
    constexpr int kSends = 200;
    vlibtest::PumpThread owner;
    vlibtest::Recorder log;
    std::atomic<int> sent{0};
    log.onMessage = [&](HWND, UINT message, WPARAM, LPARAM, LRESULT& result) {
        if (message != WM_APP + 1) return false;
        result = ++sent;
        return true;
    };
    const HWND window = owner.Run([&] { return vlibtest::MakeWindow(&log); });
    std::atomic<DWORD> readerId{0};
    std::vector<int> next(kPosters, 0);
    bool inOrder = true;
    std::thread reader([&] {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        readerId = GetCurrentThreadId();
        for (int got = 0; got < kPosters * kPerPoster && GetMessageW(&msg, nullptr, 0, 0) > 0; ++got) {
            const auto poster = static_cast<int>(msg.wParam);
            if (msg.message != WM_APP || poster >= kPosters || msg.lParam != next[poster]) inOrder = false;
            if (poster < kPosters) ++next[poster];
        }
    });
    ASSERT_TRUE(WaitFor([&] { return readerId.load() != 0; }));
    std::vector<std::thread> threads;
    for (int poster = 0; poster < kPosters; ++poster) {
        threads.emplace_back([&, poster] {
            for (int i = 0; i < kPerPoster; ++i) {
                EXPECT_TRUE(PostThreadMessageW(readerId, WM_APP, static_cast<WPARAM>(poster), i));
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kSends; ++i) EXPECT_GT(SendMessageW(window, WM_APP + 1, 0, 0), 0);
    });
    for (auto& thread : threads) thread.join();
    reader.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(next, std::vector<int>(kPosters, kPerPoster));
    EXPECT_EQ(sent.load(), kSends);
    owner.Run([&] { return DestroyWindow(window); });
}

// Two threads answer each other's thread messages many times, waiting in
// GetMessageW, in MsgWaitForMultipleObjects without objects, and with a
// timeout: every wake-up arrives whether the waiter looks, is about to
// sleep or sleeps (a lost one would hang the exchange).
TEST_F(Queue, RacePingPongBetweenTwoThreadsNeverLosesAWakeUp) {
    constexpr int kRounds = 20'000;
    // Takes the next message: through GetMessageW, or by looking and then
    // waiting in MsgWaitForMultipleObjects (only input new since the look
    // ends that wait).
    const auto take = [](MSG& msg, int way) {
        if (way == 0) return GetMessageW(&msg, nullptr, 0, 0) > 0;
        while (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, way == 1 ? INFINITE : 60'000, QS_POSTMESSAGE);
        }
        return msg.message != WM_QUIT;
    };
    const DWORD self = GetCurrentThreadId();
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    std::atomic<DWORD> echoId{0};
    std::thread echo([&] {
        MSG got;
        PeekMessageW(&got, nullptr, 0, 0, PM_NOREMOVE);
        echoId = GetCurrentThreadId();
        for (int i = 0; take(got, i % 3); ++i) EXPECT_TRUE(PostThreadMessageW(self, WM_APP + 1, got.wParam, 0));
    });
    ASSERT_TRUE(WaitFor([&] { return echoId.load() != 0; }));
    int answered = 0;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(PostThreadMessageW(echoId, WM_APP, static_cast<WPARAM>(i), 0));
        ASSERT_TRUE(take(msg, i % 4 == 3 ? 2 : 0));
        if (msg.message == WM_APP + 1 && msg.wParam == static_cast<WPARAM>(i)) ++answered;
    }
    PostThreadMessageW(echoId, WM_QUIT, 0, 0);
    echo.join();
    EXPECT_EQ(answered, kRounds);
}

// Sent messages first (delivered, not returned), then posted ones in order,
// then the quit request, then WM_TIMER.
TEST_F(Queue, RetrievalFollowsWindowsOrder) {
    vlibtest::Recorder recorder;
    const HWND window = vlibtest::MakeWindow(&recorder);
    ASSERT_NE(window, nullptr);
    recorder.Take();
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, nullptr);
    ASSERT_NE(timer, 0u);
    PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0);
    PostMessageW(window, WM_APP + 2, 0, 0);
    PostQuitMessage(5);
    LRESULT sentResult = 0;
    std::thread sender([&] { sentResult = SendMessageW(window, WM_APP + 3, 0, 0); });
    // Wait until the sent message is here and the timer is due.
    ASSERT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 10'000, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0);
    ASSERT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 10'000, QS_TIMER, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0);

    using Got = std::tuple<UINT, WPARAM, HWND>;
    std::vector<Got> order;
    MSG msg;
    for (int i = 0; i < 4; ++i) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        EXPECT_EQ(got, msg.message == WM_QUIT ? FALSE : TRUE);
        order.emplace_back(msg.message, msg.wParam, msg.hwnd);
    }
    sender.join();
    EXPECT_EQ(
        order,
        (std::vector<Got>{
            {WM_APP + 1, 0, nullptr}, {WM_APP + 2, 0, window}, {WM_QUIT, 5, nullptr}, {WM_TIMER, timer, nullptr}}));
    EXPECT_EQ(recorder.Take(), std::vector<UINT>{WM_APP + 3});
    EXPECT_TRUE(KillTimer(nullptr, timer));
    DestroyWindow(window);
}

TEST_F(Queue, FiltersSelectByWindowAndRangeAndPeekMayLeaveTheMessage) {
    vlibtest::Recorder recorder;
    const HWND parent = vlibtest::MakeWindow(&recorder);
    const HWND child = vlibtest::MakeWindow(&recorder, WS_CHILD, parent);
    const HWND other = vlibtest::MakeWindow(&recorder);
    const DWORD self = GetCurrentThreadId();
    PostThreadMessageW(self, WM_USER + 1, 0, 0);
    PostMessageW(other, WM_USER + 2, 0, 0);
    PostMessageW(child, WM_USER + 3, 0, 0);
    PostThreadMessageW(self, WM_USER + 4, 0, 0);
    const HWND threadOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
    const struct {
        HWND filter;
        UINT first, last;
        UINT expected;  // 0: none
    } cases[] = {
        {nullptr, 0, 0, WM_USER + 1},
        {nullptr, WM_USER + 2, WM_USER + 4, WM_USER + 2},
        {nullptr, WM_USER + 4, WM_USER + 2, WM_USER + 1},  // wrapping range
        {threadOnly, WM_USER + 2, WM_USER + 9, WM_USER + 4},
        {parent, 0, 0, WM_USER + 3},  // a child's messages are the parent's
        {child, WM_USER + 5, WM_USER + 9, 0},
    };
    MSG msg;
    for (const auto& c : cases) {
        const BOOL got = PeekMessageW(&msg, c.filter, c.first, c.last, PM_NOREMOVE);
        EXPECT_EQ(got != FALSE, c.expected != 0) << c.first;
        if (got) {
            EXPECT_EQ(msg.message, c.expected) << c.first;
        }
    }
    PostQuitMessage(0);
    EXPECT_TRUE(PeekMessageW(&msg, child, WM_USER + 5, WM_USER + 9, PM_REMOVE));  // WM_QUIT passes every filter
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));

    MSG* none = nullptr;
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetMessageW(none, nullptr, 0, 0) != -1; }));
    std::thread([&] {
        EXPECT_TRUE(FailsWith(ERROR_WINDOW_OF_OTHER_THREAD, [&] { return GetMessageW(&msg, parent, 0, 0) != -1; }));
    }).join();
    DestroyWindow(other);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return PeekMessageW(&msg, other, 0, 0, PM_REMOVE); }));
    // The destroyed window's posted message went with it.
    std::vector<UINT> left;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) left.push_back(msg.message);
    EXPECT_EQ(left, (std::vector<UINT>{WM_USER + 1, WM_USER + 3, WM_USER + 4}));
    DestroyWindow(parent);
}

TEST_F(Queue, MsgWaitWakesForObjectsAndForInputNotYetLookedAt) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_OBJECT_0);
    ResetEvent(event);
    const DWORD self = GetCurrentThreadId();
    std::thread poster([self] { PostThreadMessageW(self, WM_APP, 0, 0); });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 10'000, QS_POSTMESSAGE), WAIT_OBJECT_0 + 1);
    poster.join();
    // Looked at but left in the queue: only new input wakes a wait, unless
    // input already there counts.
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_ALLINPUT), WAIT_TIMEOUT);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 0, QS_TIMER, MWMO_INPUTAVAILABLE), WAIT_TIMEOUT);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS, event);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] {
        return MsgWaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0, QS_ALLINPUT) != WAIT_FAILED;
    }));
    CloseHandle(event);
}

TEST_F(Queue, ATimerHasOnePendingTickAndGoesWhenKilled) {
    const auto start = std::chrono::steady_clock::now();
    const UINT_PTR timer = SetTimer(nullptr, 0, 1, nullptr);  // below the 10 ms minimum
    ASSERT_NE(timer, 0u);
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, WM_TIMER, WM_TIMER), TRUE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    // However many periods pass unread, one WM_TIMER waits.
    const auto later = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
    ASSERT_TRUE(WaitFor([&] { return std::chrono::steady_clock::now() >= later; }));
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    // Naming the thread timer replaces it; a killed timer's tick is gone.
    EXPECT_EQ(SetTimer(nullptr, timer, 10, nullptr), timer);
    const UINT_PTR second = SetTimer(nullptr, 0, 10, nullptr);
    EXPECT_NE(second, timer);
    EXPECT_TRUE(KillTimer(nullptr, timer));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return KillTimer(nullptr, timer); }));
    EXPECT_TRUE(KillTimer(nullptr, second));
}

TEST_F(Queue, WindowTimersTickToTheirWindowOrTheirProcedure) {
    vlibtest::Recorder recorder;
    const HWND window = vlibtest::MakeWindow(&recorder);
    recorder.Take();
    static std::atomic<int> procCalls;
    procCalls = 0;
    const TIMERPROC proc = [](HWND, UINT message, UINT_PTR id, DWORD) {
        if (message == WM_TIMER && id == 9) ++procCalls;
    };
    EXPECT_EQ(SetTimer(window, 7, 10, nullptr), 7u);
    EXPECT_EQ(SetTimer(window, 9, 10, proc), 9u);
    std::set<UINT_PTR> ticked;
    MSG msg;
    while (ticked.size() < 2 && GetMessageW(&msg, window, WM_TIMER, WM_TIMER) > 0) {
        ticked.insert(msg.wParam);
        DispatchMessageW(&msg);
    }
    EXPECT_EQ(procCalls.load(), 1);
    EXPECT_EQ(recorder.Take(), std::vector<UINT>{WM_TIMER});
    std::thread([&] {
        EXPECT_TRUE(FailsWith(ERROR_WINDOW_OF_OTHER_THREAD, [&] { return SetTimer(window, 1, 10, nullptr); }));
        const MSG foreign{window, WM_APP, 0, 0, 0, {0, 0}};
        EXPECT_TRUE(FailsWith(ERROR_WINDOW_OF_OTHER_THREAD, [&] {
            DispatchMessageW(&foreign);
            return false;
        }));
    }).join();
    DestroyWindow(window);  // its timers go with it
    EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return KillTimer(window, 7); }));
}

// Case and numbering across processes are the message table's tests.
TEST_F(Queue, RegisteredNamesAreOnePerNameWithoutCaseAndAtMost255Long) {
    EXPECT_EQ(RegisterWindowMessageW(L"VlibTest_\u017Bubr"), RegisterWindowMessageW(L"VLIBTEST_\u017Cubr"));
    EXPECT_NE(RegisterWindowMessageW(std::wstring(255, L'x').c_str()), 0u);
    const std::wstring tooLong(256, L'x');
    for (const wchar_t* bad : {static_cast<const wchar_t*>(nullptr), L"", tooLong.c_str()}) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return RegisterWindowMessageW(bad) != 0; }));
    }
}

}  // namespace

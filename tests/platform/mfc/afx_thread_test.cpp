// CWinThread: MFC's loop with idle processing, thread message maps, run-time
// classes, AfxBeginThread and the per-thread state.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/kernel/Handles.h"
#include "platform/mfc/AfxThread.h"
#include "tests/platform/kernel/HandleTestSupport.h"

namespace {

UINT g_refresh = 0;  // a registered number, set before the thread starts

// What the threads of these tests saw; written on their threads, read after
// they ended.
struct Seen {
    std::vector<UINT> handled;
    std::vector<LONG> idleCounts;
    UINT currentDuringHandler = 0;
    bool initialized = false;
};
Seen g_seen;
std::atomic<int> g_idleCalls{0};

class CQuotesThread : public CWinThread {
    DECLARE_DYNCREATE(CQuotesThread)

public:
    BOOL InitInstance() override {
        g_seen.initialized = true;
        return TRUE;
    }
    // Two idle rounds after each burst of messages.
    BOOL OnIdle(LONG count) override {
        g_seen.idleCounts.push_back(count);
        ++g_idleCalls;
        return count < 1;
    }

protected:
    void OnQuote(WPARAM wParam, LPARAM) {
        g_seen.handled.push_back(static_cast<UINT>(wParam));
        g_seen.currentDuringHandler = AfxGetThreadState()->m_msgCur.message;
    }
    void OnRefresh(WPARAM, LPARAM lParam) {
        g_seen.handled.push_back(0xC000);
        if (lParam == 1) PostQuitMessage(3);
    }

    DECLARE_MESSAGE_MAP()
};

IMPLEMENT_DYNCREATE(CQuotesThread, CWinThread)

BEGIN_MESSAGE_MAP(CQuotesThread, CWinThread)
ON_THREAD_MESSAGE(WM_APP + 1, &CQuotesThread::OnQuote)
ON_REGISTERED_THREAD_MESSAGE(g_refresh, &CQuotesThread::OnRefresh)
END_MESSAGE_MAP()

class AfxThread : public vlibtest::HandleCountTest {};

TEST_F(AfxThread, MessageMapsDispatchThreadAndRegisteredMessages) {
    g_seen = Seen{};
    g_idleCalls = 0;
    g_refresh = RegisterWindowMessageW(L"VlibTest_Refresh");
    CWinThread* thread = AfxBeginThread(RUNTIME_CLASS(CQuotesThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(thread->IsKindOf(RUNTIME_CLASS(CWinThread)));
    EXPECT_TRUE(thread->IsKindOf(RUNTIME_CLASS(CQuotesThread)));
    thread->m_bAutoDelete = FALSE;
    // Posted while held: none is lost.
    EXPECT_TRUE(thread->PostThreadMessageW(WM_APP + 1, 11, 0));
    EXPECT_TRUE(thread->PostThreadMessageW(g_refresh, 0, 0));
    EXPECT_EQ(thread->ResumeThread(), 1u);
    // Once they are handled and the queue is empty, idle rounds 0 and 1.
    ASSERT_TRUE(vlibtest::WaitFor([] { return g_idleCalls.load() == 2; }));
    EXPECT_TRUE(thread->PostThreadMessageW(WM_APP + 1, 12, 0));
    EXPECT_TRUE(thread->PostThreadMessageW(g_refresh, 0, 1));
    ASSERT_EQ(WaitForSingleObject(thread->m_hThread, 10'000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread->m_hThread, &code);
    EXPECT_EQ(code, 3u);
    EXPECT_TRUE(g_seen.initialized);
    EXPECT_EQ(g_seen.handled, (std::vector<UINT>{11, 0xC000, 12, 0xC000}));
    EXPECT_EQ(g_seen.currentDuringHandler, static_cast<UINT>(WM_APP + 1));
    // Each time the queue ran empty the rounds started again from 0 and
    // stopped where OnIdle declined.
    ASSERT_EQ(g_seen.idleCounts.size() % 2, 0u);
    for (std::size_t i = 0; i < g_seen.idleCounts.size(); ++i) {
        EXPECT_EQ(g_seen.idleCounts[i], static_cast<LONG>(i % 2));
    }
    delete thread;
}

TEST_F(AfxThread, AWorkerFunctionRunsAndItsObjectDeletesItself) {
    static std::atomic<CWinThread*> running{nullptr};
    static UINT parameter = 5;
    CWinThread* thread = AfxBeginThread(
        [](LPVOID value) -> UINT {
            running = AfxGetThread();
            return *static_cast<UINT*>(value);
        },
        &parameter, THREAD_PRIORITY_BELOW_NORMAL);
    ASSERT_NE(thread, nullptr);
    // As the thread ends, its object closes the handle and deletes itself.
    EXPECT_TRUE(vlibtest::WaitFor([&] { return vlibtest::HandleCounts::Now().kernel == m_start.kernel; }));
    EXPECT_EQ(running.load(), thread);
    EXPECT_EQ(AfxBeginThread(RUNTIME_CLASS(CCmdTarget)), nullptr);
    EXPECT_FALSE(CCmdTarget().IsKindOf(RUNTIME_CLASS(CWinThread)));
    EXPECT_EQ(AfxGetThread(), nullptr);
}

}  // namespace

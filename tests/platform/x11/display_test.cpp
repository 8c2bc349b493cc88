// Without a display, and when the server goes away: every desktop call fails
// with ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION, the process lives on, a
// failed connection is tried again only after a delay, and the platform
// never reports an X error to the application's handler.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/kernel/Memory.h"
#include "platform/user/Clipboard.h"
#include "platform/user/Keyboard.h"
#include "platform/user/Monitor.h"
#include "platform/user/SystemMetrics.h"
#include "platform/x11/internal/Desktop.h"
#include "tests/support/EnvScope.h"
#include "tests/support/Wait.h"
#include "tests/support/XServer.h"

namespace {

using vplatform::x11::test::ResetDisplayForTesting;

constexpr DWORD kNoDesktop = ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION;

// Runs `call` (true when it succeeded) with the sentinel set; the error it failed with.
template <class Call>
DWORD FailureOf(Call call) {
    SetLastError(0xdeadbeef);
    return call() ? ERROR_SUCCESS : GetLastError();
}

// Every kind of desktop call, each true when it succeeded.
void ExpectAllFail(DWORD error) {
    EXPECT_EQ(FailureOf([] { return MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY) != nullptr; }), error);
    EXPECT_EQ(FailureOf([] {
                  return EnumDisplayMonitors(
                             nullptr, nullptr, [](HMONITOR, HDC, LPRECT, LPARAM) -> BOOL { return TRUE; }, 0) != FALSE;
              }),
              error);
    EXPECT_EQ(FailureOf([] { return GetSystemMetrics(SM_CXVIRTUALSCREEN) != 0; }), error);
    EXPECT_EQ(FailureOf([] { return GetKeyState(VK_SHIFT) != 0 || GetLastError() == 0xdeadbeef; }), error);
    EXPECT_EQ(FailureOf([] { return OpenClipboard(nullptr) != FALSE; }), error);
}

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = vlibtest::XServer::Shared();
        ASSERT_NE(m_x, nullptr);
    }
    void TearDown() override { ResetDisplayForTesting(); }
    vlibtest::XServer* m_x = nullptr;
};

TEST_F(Desktop, WithoutADisplayEveryCallFailsAndATryWaitsForTheDelay) {
    {
        const vlibtest::EnvScope none("DISPLAY", nullptr);
        ResetDisplayForTesting();
        ExpectAllFail(kNoDesktop);
    }
    // The display is back, but the failed try is recent: no new try yet.
    EXPECT_EQ(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), nullptr);
    EXPECT_EQ(GetLastError(), kNoDesktop);
    // After the delay (a few seconds) the next call connects.
    EXPECT_TRUE(vlibtest::WaitFor(
        [] {
            return MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY) != nullptr;
        },
        std::chrono::seconds(10)));
}

TEST_F(Desktop, ALostServerFailsEveryCallAndTheProcessLives) {
    auto server = vlibtest::XServer::Start();
    ASSERT_TRUE(server);
    {
        const vlibtest::EnvScope display("DISPLAY", server->Display().c_str());
        ResetDisplayForTesting();
        ASSERT_NE(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), nullptr);
        // The clipboard's thread serves text when the server goes.
        ASSERT_TRUE(OpenClipboard(nullptr));
        const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 4 * sizeof(wchar_t));
        std::memcpy(GlobalLock(block), L"abc", 4 * sizeof(wchar_t));
        GlobalUnlock(block);
        ASSERT_EQ(SetClipboardData(CF_UNICODETEXT, block), block);
        ASSERT_TRUE(CloseClipboard());
        server->Kill();
        ExpectAllFail(kNoDesktop);
    }
    // Here still: back to the binary's own server.
    ResetDisplayForTesting();
    EXPECT_NE(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), nullptr);
}

}  // namespace

// VTools::Process::FindTopWindow and CloseProcess with real programs that
// open X windows on the binary's own Xvfb.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "platform/user/Window.h"
#include "system/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "tests/support/XServer.h"

namespace {

using VTools::Process::CloseProcess;
using VTools::Process::FindTopWindow;
using VTools::Process::OpenProcess;
using VTools::Process::OpenProcessResult;

class ProcessWindows : public vlibtest::TempDirTest {
protected:
    void SetUp() override {
        vlibtest::TempDirTest::SetUp();
        ASSERT_NE(vlibtest::XServer::Shared(), nullptr);  // DISPLAY is set for the children too
    }

    OpenProcessResult Client(const std::wstring& arguments) {
        return OpenProcess(L"" VLIB_X_WINDOW_CLIENT, L"--note=" + (m_dir.Path() / "note").wstring() + L" " + arguments);
    }

    static DWORD ExitCode(const OpenProcessResult& result) {
        EXPECT_EQ(WaitForSingleObject(result.GetProcessHandle(), 10'000), WAIT_OBJECT_0);
        DWORD code = 259;
        EXPECT_TRUE(GetExitCodeProcess(result.GetProcessHandle(), &code));
        return code;
    }

    bool Noted() const { return std::filesystem::exists(m_dir.Path() / "note"); }
};

// Once ended, nothing is asked of whatever now has the program's id, and
// nothing fails.
TEST_F(ProcessWindows, TheTopWindowPassesOverHiddenAndOwnedWindowsAndClosingEndsTheProgramOnce) {
    // "hidden" and "owned" are above "main" in the stacking order.
    const auto result = Client(L"main hidden owned");
    ASSERT_TRUE(result);
    HWND top = nullptr;
    ASSERT_TRUE(vlibtest::WaitFor([&] { return (top = FindTopWindow(result.GetProcessId())) != nullptr; }));
    wchar_t title[16] = {};
    GetWindowTextW(top, title, 16);
    EXPECT_STREQ(title, L"main");
    CloseProcess(result);
    EXPECT_EQ(ExitCode(result), 0u);
    EXPECT_TRUE(Noted());
    EXPECT_TRUE(result);  // the handles stay the caller's
    std::filesystem::remove(m_dir.Path() / "note");
    CloseProcess(result);
    CloseProcess(OpenProcessResult{});
    EXPECT_FALSE(Noted());
    EXPECT_EQ(FindTopWindow(result.GetProcessId()), nullptr);
}

TEST_F(ProcessWindows, AProgramWithoutAWindowThatTakesTheRequestIsTerminatedWithZero) {
    const std::wstring client = L"" VLIB_X_WINDOW_CLIENT;
    const struct {
        std::wstring path, arguments;
        bool window;
    } cases[] = {{L"/bin/sleep", L"60", false}, {client, L"hidden owned", false}, {client, L"nodelete", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + L" " + c.arguments);
        const auto result = OpenProcess(c.path, c.arguments);
        ASSERT_TRUE(result);
        if (c.window) {
            ASSERT_TRUE(vlibtest::WaitFor([&] { return FindTopWindow(result.GetProcessId()) != nullptr; }));
        } else {
            EXPECT_EQ(FindTopWindow(result.GetProcessId()), nullptr);
        }
        CloseProcess(result);
        EXPECT_EQ(ExitCode(result), 0u);
    }
}

}  // namespace

// CrashHandler::AutoThreadInstaller: a thread's crash stack while the process
// has crash reporting (executor threads are covered by the overflow crash test).
#include "diagnostics/CrashHandler.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/crashreport/CrashReport.h"

namespace {

// Installs crash reporting for the process for one scope.
class ProcessCrashReporting {
public:
    ProcessCrashReporting() {
        CR_INSTALL_INFOW info{};
        info.cb = sizeof info;  // no handlers, no report folder
        EXPECT_EQ(crInstallW(&info), 0);
        CrashHandler::Installed = true;
    }
    ~ProcessCrashReporting() {
        CrashHandler::Installed = false;
        crUninstall();
    }
};

TEST(CrashGuard, GivesItsThreadACrashStackOnlyWhileTheProcessHasCrashReporting) {
    std::thread([] {
        CrashHandler::AutoThreadInstaller guard;
        EXPECT_FALSE(vplatformThreadHasCrashStack());
        EXPECT_NE(crInstallToCurrentThread2(0), 0);  // refused without the process installation
        wchar_t text[128];
        EXPECT_GT(crGetLastErrorMsgW(text, 128), 0);
    }).join();
    ProcessCrashReporting reporting;
    std::thread([] {
        {
            CrashHandler::AutoThreadInstaller guard;
            EXPECT_TRUE(vplatformThreadHasCrashStack());
            CrashHandler::AutoThreadInstaller copy = guard;
            copy = guard;
        }
        EXPECT_FALSE(vplatformThreadHasCrashStack());
    }).join();
}

TEST(CrashGuard, AGuardOutlivingTheProcessInstallationLeavesTheThreadToItsOwnCleanUp) {
    std::thread([] {
        auto reporting = std::make_unique<ProcessCrashReporting>();
        auto guard = std::make_unique<CrashHandler::AutoThreadInstaller>();
        ASSERT_TRUE(vplatformThreadHasCrashStack());
        reporting.reset();  // Installed is false again
        guard.reset();
        EXPECT_TRUE(vplatformThreadHasCrashStack());
        EXPECT_EQ(crUninstallFromCurrentThread(), 0);
    }).join();
}

}  // namespace

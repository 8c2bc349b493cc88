#include "diagnostics/CrashHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "multithreading/TaskExecutor.h"
#include "platform/crashreport/CrashReport.h"
#include "tests/support/Wait.h"

namespace {

// Installs crash reporting for the process for one scope.
class ProcessCrashReporting {
public:
    ProcessCrashReporting() {
        const CR_INSTALL_INFOW info{sizeof(CR_INSTALL_INFOW), L"tests", L"1", 0};
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

TEST(CrashGuard, ExecutorThreadsCarryTheirOwnInstallation) {
    ProcessCrashReporting reporting;
    Multithreading::TaskExecutor executor("Guarded");
    std::atomic<int> hasStack{-1};
    executor.AddTask([&] { hasStack = vplatformThreadHasCrashStack() ? 1 : 0; });
    executor.StartExecute();
    ASSERT_TRUE(vlibtest::WaitFor([&] { return hasStack != -1; }));
    executor.StopExecute();
    EXPECT_EQ(hasStack, 1);
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

// The crash-report layer: a thread whose alternate signal stack cannot be
// installed (sigaltstack failing through the system-call table) is refused
// with the layer's text, and nothing is left installed.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/crashreport/CrashReport.h"
#include "platform/internal/Syscalls.h"

namespace {

int FailingSigaltstack(const stack_t*, stack_t*) {
    errno = ENOMEM;
    return -1;
}

std::wstring LastText() {
    wchar_t text[256];
    return std::wstring(text, static_cast<std::size_t>(crGetLastErrorMsgW(text, 256)));
}

TEST(CrashReport, AThreadWhoseCrashStackCannotBeInstalledIsRefused) {
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    ASSERT_EQ(crInstallW(&info), 0);
    {
        vplatform::Syscalls table = vplatform::test::RealSyscalls();
        table.sigaltstack = FailingSigaltstack;
        const vplatform::test::ScopedSyscallsForTesting scope(table);
        EXPECT_NE(crInstallToCurrentThread2(0), 0);
        EXPECT_EQ(LastText(), L"The crash stack could not be installed.");
    }
    EXPECT_FALSE(vplatformThreadHasCrashStack());
    EXPECT_NE(crUninstallFromCurrentThread(), 0);  // nothing to remove
    EXPECT_EQ(crUninstall(), 0);
}

}  // namespace

// The crash-report layer: a thread whose alternate signal stack cannot be
// installed (sigaltstack failing through the system-call table) is refused
// with the layer's text, and nothing is left installed.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "platform/crashreport/CrashReport.h"
#include "tests/support/Seam.h"

namespace {

std::wstring LastText() {
    wchar_t text[256];
    return std::wstring(text, static_cast<std::size_t>(crGetLastErrorMsgW(text, 256)));
}

TEST(CrashReport, AThreadWhoseCrashStackCannotBeInstalledIsRefused) {
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    ASSERT_EQ(crInstallW(&info), 0);
    {
        const vlibtest::SeamScope seam(
            [](auto& s) { s.sigaltstack = [](const stack_t*, stack_t*) { return errno = ENOMEM, -1; }; });
        EXPECT_NE(crInstallToCurrentThread2(0), 0);
        EXPECT_EQ(LastText(), L"The crash stack could not be installed.");
    }
    EXPECT_FALSE(vplatformThreadHasCrashStack());
    EXPECT_NE(crUninstallFromCurrentThread(), 0);  // nothing to remove
    EXPECT_EQ(crUninstall(), 0);
}

}  // namespace

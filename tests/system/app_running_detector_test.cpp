// Single instance over a named mutex (whose release by a killed holder is
// tested in tests/platform/kernel): names, moves, per-folder names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "system/AppRunningDetector.h"
#include "tests/support/Child.h"
#include "tests/support/EnvScope.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

namespace fs = std::filesystem;

// A name no other test or run uses.
std::wstring UniqueName(const char* what) {
    static std::atomic<int> counter{0};
    return VTools::String::Utf8ToWide(std::string("vlib-detector-") + what + "-" + std::to_string(getpid()) + "-" +
                                      std::to_string(counter++));
}

class Detector : public ::testing::Test {
protected:
    vlibtest::TempDir m_runtime;
    vlibtest::EnvScope m_env{"XDG_RUNTIME_DIR", m_runtime.Path().c_str()};
};

TEST(DetectorName, BackslashesBecomeUnderscoresAndOnlyTheLast260CharactersStay) {
    const std::wstring tail(250, L'x');
    const struct {
        std::wstring in;
        std::wstring out;
    } cases[] = {
        {L"C:\\Apps\\Viewer", L"C:_Apps_Viewer"},
        {L"/opt/Ä b/Viewer", L"/opt/Ä b/Viewer"},
        {std::wstring(260, L'a'), std::wstring(260, L'a')},
        {std::wstring(40, L'\\') + L"0123456789" + tail, L"0123456789" + tail},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(AppRunningDetector::PrepareKernelObjectName(c.in), c.out);
}

TEST_F(Detector, TheFirstDetectorIsAloneAndLaterOnesAndLaterCallsSeeIt) {
    const std::wstring name = UniqueName("same");
    AppRunningDetector first(name, false);
    AppRunningDetector second(name, false);
    EXPECT_FALSE(first.IsAppAlreadyRunning());
    EXPECT_TRUE(second.IsAppAlreadyRunning());
    EXPECT_TRUE(first.IsAppAlreadyRunning());  // its own earlier handle keeps the name
    EXPECT_TRUE(first.IsAppAlreadyRunning());
}

TEST_F(Detector, MovesTransferTheHandleAndAssignmentGivesTheHeldOneBack) {
    const std::wstring a = UniqueName("a");
    const std::wstring b = UniqueName("b");
    AppRunningDetector holderA(a, false);
    ASSERT_FALSE(holderA.IsAppAlreadyRunning());
    AppRunningDetector moved(std::move(holderA));
    EXPECT_TRUE(AppRunningDetector(a, false).IsAppAlreadyRunning());  // still held, by `moved`
    {
        AppRunningDetector holderB(b, false);
        ASSERT_FALSE(holderB.IsAppAlreadyRunning());
        moved = std::move(holderB);
    }
    // A's handle went with the assignment; B's lives on in `moved`.
    EXPECT_FALSE(AppRunningDetector(a, false).IsAppAlreadyRunning());
    EXPECT_TRUE(AppRunningDetector(b, false).IsAppAlreadyRunning());
    EXPECT_TRUE(moved.IsAppAlreadyRunning());
}

TEST_F(Detector, CopiesInTwoFoldersAreAloneAndCopiesInOneAreNot) {
    const std::string name = VTools::String::WideToUtf8(UniqueName("folder"));
    const vlibtest::TempDir folders;
    std::string copies[2];
    for (int i = 0; i < 2; ++i) {
        const fs::path folder = folders.Path() / ("copy " + std::to_string(i));
        fs::create_directories(folder);
        copies[i] = (folder / "desktop_helper").string();
        fs::copy_file(VLIB_DESKTOP_HELPER, copies[i]);
    }
    auto start = [&](const std::string& program) {
        auto child = vlibtest::Child::Start({program, "detector", name});
        EXPECT_TRUE(child);
        return child;
    };
    auto first = start(copies[0]);
    auto other = start(copies[1]);
    EXPECT_EQ(first->ReadLine(), "alone");
    EXPECT_EQ(other->ReadLine(), "alone");
    auto again = start(copies[0]);
    EXPECT_EQ(again->ReadLine(), "running");
    // In this process, without the folder, the name is free.
    EXPECT_FALSE(AppRunningDetector(VTools::String::Utf8ToWide(name), false).IsAppAlreadyRunning());
}

}  // namespace

// The crash-report layer in the test process: installation failures, the
// reporter process, per-thread stacks, and the report's text.
#include "platform/crashreport/CrashReport.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/WinError.h"
#include "platform/crashreport/internal/ReportText.h"
#include "tests/support/LastError.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"

namespace {

using vlibtest::FailsWith;

std::wstring LastText() {
    wchar_t text[256];
    return std::wstring(text, static_cast<std::size_t>(crGetLastErrorMsgW(text, 256)));
}

CR_INSTALL_INFOW Info(const wchar_t* saveFolder = nullptr, DWORD flags = 0) {
    CR_INSTALL_INFOW info{};
    info.cb = sizeof info;
    info.dwFlags = flags;
    info.pszErrorReportSaveDir = saveFolder;
    return info;
}

TEST(CrashReport, AThreadWhoseCrashStackCannotBeInstalledIsRefused) {
    const CR_INSTALL_INFOW info = Info();
    ASSERT_EQ(crInstallW(&info), 0);
    std::thread([] {
        const vlibtest::SeamScope seam(
            [](auto& s) { s.sigaltstack = [](const stack_t*, stack_t*) { return errno = ENOMEM, -1; }; });
        EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_MEMORY, [] { return crInstallToCurrentThread2(0) == 0; }));
        EXPECT_EQ(LastText(), L"The crash stack could not be installed.");
        EXPECT_FALSE(vplatformThreadHasCrashStack());
        EXPECT_NE(crUninstallFromCurrentThread(), 0);  // nothing to remove
    }).join();
    EXPECT_EQ(crUninstall(), 0);
}

// A refused installation changes nothing; a reporter that cannot be started
// does not refuse it.
TEST(CrashReport, InstallationFailsWithoutChangeForABadRecordATakenInstallationOrAnUnusableFolder) {
    vlibtest::TempDir dir;
    dir.Write("file", "x");
    const std::wstring underFile = vlibtest::Wide(dir.Path() / "file" / "reports");
    const std::wstring existing = vlibtest::Wide(dir.Path());
    CR_INSTALL_INFOW wrongSize = Info();
    wrongSize.cb = 40;
    const struct {
        const char* name;
        CR_INSTALL_INFOW info;
        DWORD error;
        std::wstring text;
        bool unwritable = false;  // as root, only the seam can refuse to write
    } cases[] = {
        {"wrong size", wrongSize, ERROR_INVALID_PARAMETER, L"Invalid installation info."},
        {"folder under a file", Info(underFile.c_str()), ERROR_PATH_NOT_FOUND,
         L"The report folder cannot be created: " + underFile},
        {"unwritable folder", Info(existing.c_str()), ERROR_ACCESS_DENIED,
         L"The report folder cannot be written: " + existing, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const vlibtest::SeamScope seam([&](auto& s) {
            if (c.unwritable) s.access = [](const char*, int) { return errno = EACCES, -1; };
        });
        EXPECT_TRUE(FailsWith(c.error, [&] { return crInstallW(&c.info) == 0; }));
        EXPECT_EQ(LastText(), c.text);
        EXPECT_NE(crUninstall(), 0) << "left installed";
    }
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [] { return crInstallW(nullptr) == 0; }));
    EXPECT_NE(crSetCrashCallbackW(nullptr, nullptr), 0);

    const vlibtest::SeamScope seam(
        [](auto& s) { s.socketpair = [](int, int, int, int*) { return errno = EMFILE, -1; }; });
    const std::wstring folder = vlibtest::Wide(dir.Path() / "a" / "b");
    const CR_INSTALL_INFOW good = Info(folder.c_str(), CR_INST_ALL_POSSIBLE_HANDLERS);
    ASSERT_EQ(crInstallW(&good), 0);
    EXPECT_EQ(vplatformCrashReporterProcessId(), 0u);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "a" / "b"));
    EXPECT_TRUE(FailsWith(ERROR_ALREADY_INITIALIZED, [&] { return crInstallW(&good) == 0; }));
    EXPECT_EQ(crSetCrashCallbackW(nullptr, nullptr), 0);
    EXPECT_EQ(crUninstall(), 0);
}

// A save folder that others could put their own entries into, and so swap
// the user's report for theirs, is refused: another user's folder, or one
// that others may write without the sticky bit.  A sticky folder is taken.
TEST(CrashReport, ASaveFolderOthersCouldReplaceEntriesInIsRefused) {
    vlibtest::TempDir dir;
    const struct {
        const char* name;
        mode_t mode;
        bool another = false;  // owned by another user (needs root)
        std::wstring text;     // "" when taken
    } cases[] = {
        {"world-writable", 0777, false, L"The report folder can be written by other users: "},
        {"group-writable", 0770, false, L"The report folder can be written by other users: "},
        {"another user's", 0755, true, L"The report folder belongs to another user: "},
        {"sticky", 01777, false, L""},
        {"private", 0700, false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.another && geteuid() != 0) continue;
        const std::filesystem::path folder = dir.Path() / c.name;
        std::filesystem::create_directory(folder);
        ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
        if (c.another) {
            ASSERT_EQ(chown(folder.c_str(), 4242, 4242), 0);
        }
        const std::wstring wide = vlibtest::Wide(folder);
        const CR_INSTALL_INFOW info = Info(wide.c_str());
        if (c.text.empty()) {
            EXPECT_EQ(crInstallW(&info), 0) << LastText();
            EXPECT_EQ(crUninstall(), 0);
        } else {
            EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return crInstallW(&info) == 0; }));
            EXPECT_EQ(LastText(), c.text + wide);
            EXPECT_NE(crUninstall(), 0) << "left installed";
        }
    }
}

// Fields 4 (parent) and 6 (session) of /proc/PID/stat.
std::pair<long, long> ParentAndSession(DWORD pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    char state = 0;
    long parent = 0, group = 0, session = 0;
    rest >> state >> parent >> group >> session;
    return {parent, session};
}

// Installing takes the crash signals (never the stop requests) onto the crash
// stack and starts a reporter outside the process's tree and session;
// uninstalling puts the dispositions back and ends the reporter.
TEST(CrashReport, TheReporterRunsDetachedAndUninstallingPutsEverythingBack) {
    struct sigaction before = {}, during = {}, interrupt = {}, after = {};
    sigaction(SIGSEGV, nullptr, &before);
    const CR_INSTALL_INFOW info = Info(nullptr, CR_INST_ALL_POSSIBLE_HANDLERS);
    ASSERT_EQ(crInstallW(&info), 0);
    sigaction(SIGSEGV, nullptr, &during);
    EXPECT_NE(during.sa_sigaction, before.sa_sigaction);
    EXPECT_NE(during.sa_flags & SA_ONSTACK, 0);
    sigaction(SIGINT, nullptr, &interrupt);
    EXPECT_EQ(interrupt.sa_handler, SIG_DFL);
    const DWORD reporter = vplatformCrashReporterProcessId();
    ASSERT_NE(reporter, 0u);
    const auto [parent, session] = ParentAndSession(reporter);
    EXPECT_NE(parent, getpid());
    EXPECT_NE(session, getsid(0));
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, reporter, 0));
    ASSERT_GE(pidfd, 0);
    EXPECT_EQ(crUninstall(), 0);
    sigaction(SIGSEGV, nullptr, &after);
    EXPECT_EQ(after.sa_sigaction, before.sa_sigaction);
    EXPECT_EQ(vplatformCrashReporterProcessId(), 0u);
    pollfd ended{pidfd, POLLIN, 0};
    EXPECT_EQ(poll(&ended, 1, 10000), 1) << "the reporter outlived the installation";
    close(pidfd);
}

std::string Text(void (*fill)(vplatform::crash::TextBuffer&), std::size_t capacity = 256) {
    std::string storage(capacity, '\0');
    vplatform::crash::TextBuffer buffer(storage.data(), capacity);
    fill(buffer);
    return std::string(buffer.Data(), buffer.Size());
}

TEST(CrashReportText, NumbersTimesAndJsonStringsAreFormattedWithoutAllocating) {
    using vplatform::crash::TextBuffer;
    const std::pair<std::string, std::string> cases[] = {
        {Text([](TextBuffer& b) { b.AppendDecimal(INT64_MIN); }), "-9223372036854775808"},
        {Text([](TextBuffer& b) { b.AppendDecimal(0); }), "0"},
        {Text([](TextBuffer& b) { b.AppendHex(0xabc, 6); }), "000abc"},
        {Text([](TextBuffer& b) { b.AppendHex(UINT64_MAX); }), "ffffffffffffffff"},
        // 2024-02-29 23:59:59, a leap day.
        {Text([](TextBuffer& b) { vplatform::crash::AppendCompactTime(b, 1709251199); }), "20240229-235959"},
        {Text([](TextBuffer& b) { vplatform::crash::AppendIsoTime(b, 0, 999'999'999, -(5 * 3600 + 30 * 60)); }),
         "1969-12-31T18:30:00.999-05:30"},
        {Text([](TextBuffer& b) { b.AppendJsonString("a\"b\\c\n\x01żółw"); }), "\"a\\\"b\\\\c\\u000a\\u0001żółw\""},
        {Text([](TextBuffer& b) { b.AppendJsonString("\xff\xc3(\xef\xbf\xbd"); }),
         "\"\xef\xbf\xbd\xef\xbf\xbd(\xef\xbf\xbd\""},
        // What does not fit is cut off, the text stays terminated.
        {Text([](TextBuffer& b) { b.Append("abcdef"); }, 4), "abc"},
    };
    for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);

    wchar_t wide[8];
    vplatform::crash::Utf8ToUtf16("a\xf0\x9f\x98\x80\xff", wide, 8);
    EXPECT_EQ(std::wstring(wide), (std::wstring{L'a', 0xD83D, 0xDE00, 0xFFFD}));
    const wchar_t lone[] = {L'x', 0xD800, L'y', 0};
    EXPECT_EQ(vplatform::crash::Utf16ToUtf8(lone), "x\xef\xbf\xbdy");
}

}  // namespace

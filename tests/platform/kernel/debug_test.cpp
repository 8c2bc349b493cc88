// Debug output: standard error receives it while /proc/self/status names a
// tracer, both read and written through the system-call table, so a test can
// play the tracer; without the status file nothing is written and the caller's
// last error stays.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/kernel/Debug.h"
#include "platform/kernel/WinError.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"

namespace {

std::string g_status;  // the file that stands for /proc/self/status
std::string g_standardError;

int StatusOpen(const char* path, int flags, mode_t mode) {
    if (std::strcmp(path, "/proc/self/status") != 0) return vplatform::test::RealSyscalls().open(path, flags, mode);
    if (g_status.empty()) {
        errno = ENOENT;
        return -1;
    }
    return vplatform::test::RealSyscalls().open(g_status.c_str(), flags, mode);
}

ssize_t CapturingWrite(int fd, const void* buffer, size_t count) {
    if (fd != 2) return vplatform::test::RealSyscalls().write(fd, buffer, count);
    g_standardError.append(static_cast<const char*>(buffer), count);
    return static_cast<ssize_t>(count);
}

TEST(Debug, OutputReachesStandardErrorOnlyWhileATracerIsAttached) {
    vlibtest::TempDir dir;
    vlibtest::AcpScope acp(1250);
    const vlibtest::SeamScope seam([](auto& s) {
        s.open = StatusOpen;
        s.write = CapturingWrite;
    });

    struct Case {
        const char* status;  // nullptr: no status file
        bool traced;
    };
    const Case cases[] = {
        {"Name:\tapp\nState:\tS\nTracerPid:\t4242\n", true}, {"Name:\tapp\nTracerPid:\t0\n", false}, {nullptr, false}};
    for (const Case& c : cases) {
        g_status = c.status != nullptr ? dir.Write("status", c.status).string() : std::string();
        g_standardError.clear();
        SetLastError(0xdeadbeef);
        EXPECT_EQ(IsDebuggerPresent(), c.traced ? TRUE : FALSE);
        OutputDebugStringA("narrow;");
        OutputDebugStringW(L"\u0141\u00F3d\u017A");
        EXPECT_EQ(g_standardError, c.traced ? "narrow;\xA3\xF3\x64\x9F" : "") << (c.status ? c.status : "none");
        EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    }
}

}  // namespace

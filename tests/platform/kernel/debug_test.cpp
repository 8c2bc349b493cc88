// Debug output without /proc/self/status (the status file read through the
// system-call table): no tracer is assumed, nothing is written and the
// caller's last error stays.  Output under a real tracer is checked by the
// trace test (tests/diagnostics/trace_test.cpp).
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/WinError.h"
#include "platform/kernel/Debug.h"
#include "tests/support/Seam.h"

namespace {

std::string g_standardError;

TEST(Debug, WithoutTheStatusFileNothingIsWrittenAndTheLastErrorStays) {
    const vlibtest::SeamScope seam([](auto& s) {
        s.open = [](const char* path, int flags, mode_t mode) {
            if (std::strcmp(path, "/proc/self/status") == 0) return errno = ENOENT, -1;
            return vplatform::test::RealSyscalls().open(path, flags, mode);
        };
        s.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
            if (fd != 2) return vplatform::test::RealSyscalls().write(fd, buffer, count);
            g_standardError.append(static_cast<const char*>(buffer), count);
            return static_cast<ssize_t>(count);
        };
    });
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(IsDebuggerPresent());
    OutputDebugStringA("narrow;");
    OutputDebugStringW(L"wide");
    EXPECT_EQ(g_standardError, "");
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
}

}  // namespace

// Tests of debug output: Trace::Write reaches standard error only while a
// tracer is attached, cut at 2047 characters.  A child process asks to be
// traced by the test (PTRACE_TRACEME), so the tracer is real.
#include <gtest/gtest.h>

#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

#include "diagnostics/Trace.h"
#include "platform/WinError.h"
#include "platform/kernel/Debug.h"
#include "platform/nls/CodePage.h"

namespace {

constexpr int kTracingRefused = 90;  // PTRACE_TRACEME failed
constexpr int kWrongTracer = 91;     // IsDebuggerPresent disagreed with the setup
constexpr int kErrorChanged = 92;    // the body changed the last error

struct ChildRun {
    int exitCode = -1;
    std::string standardError;
};

// Runs `body` in a child whose standard error is a pipe, traced by this
// process when `traced`.  Everything the body needs is prepared before the
// fork.
ChildRun RunChild(bool traced, const std::function<void()>& body) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeEnds[0]);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[1]);
        if (traced && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(kTracingRefused);
        if ((IsDebuggerPresent() != FALSE) != traced) _exit(kWrongTracer);
        SetLastError(0xdeadbeef);
        body();
        _exit(GetLastError() == 0xdeadbeef ? 0 : kErrorChanged);
    }
    close(pipeEnds[1]);
    ChildRun run;
    int status = 0;
    // A traced child stops at every signal it receives; let it go on.
    while (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        ptrace(PTRACE_CONT, pid, nullptr, WSTOPSIG(status));
    }
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    char buffer[4096];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        run.standardError.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeEnds[0]);
    return run;
}

// Trace::Write cuts at 2047 characters; wide debug output takes the ANSI
// code page; null texts write nothing.  Untraced, nothing is written at all.
TEST(Trace, WritesOnlyWhileTracedInTheAnsiCodePageCutAt2047Characters) {
    std::string longText(3000, ' ');
    for (std::size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char>('a' + i % 26);
    const auto body = [&longText] {
        SetACP(1250);
        VTools::Trace::Write("%d-%s|", 42, "x");
        VTools::Trace::Write("%s", longText.c_str());
        OutputDebugStringW(L"\u0141\u00F3d\u017A\n");
        OutputDebugStringA(nullptr);
        OutputDebugStringW(nullptr);
    };
    const ChildRun traced = RunChild(true, body);
    if (traced.exitCode == kTracingRefused) GTEST_SKIP() << "ptrace is not permitted here";
    if (IsDebuggerPresent()) GTEST_SKIP() << "the tests themselves run under a tracer";
    ASSERT_EQ(traced.exitCode, 0);
    EXPECT_EQ(traced.standardError, "42-x|" + longText.substr(0, 2047) +
                                        "\xA3\xF3"
                                        "d\x9F\n");
    const ChildRun untraced = RunChild(false, body);
    ASSERT_EQ(untraced.exitCode, 0);
    EXPECT_EQ(untraced.standardError, "");
}

}  // namespace

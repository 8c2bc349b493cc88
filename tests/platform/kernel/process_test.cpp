// Processes started with CreateProcessW: arguments, descriptors and signals
// of the child, exec failures, waits, exit codes, termination and reaping
// through process descriptors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/kernel/Files.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

namespace fs = std::filesystem;
using vlibtest::FailsWith;
using vlibtest::WaitFor;

class Process : public vlibtest::HandleCountTest {
protected:
    // Starts `line` with its standard output in `output` (when given);
    // false with the last error from CreateProcessW.
    bool Start(const std::wstring& line, PROCESS_INFORMATION& info, const fs::path* output = nullptr,
               BOOL inherit = FALSE, LPCWSTR folder = nullptr, LPVOID environment = nullptr, DWORD flags = 0) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        HANDLE file = nullptr;
        if (output != nullptr) {
            file = CreateFileW(output->wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            EXPECT_NE(file, INVALID_HANDLE_VALUE);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = file;
        }
        std::wstring writable = line;
        const BOOL ok = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, inherit, flags, environment, folder,
                                       &startup, &info);
        const DWORD error = GetLastError();
        if (file != nullptr) CloseHandle(file);
        SetLastError(error);
        return ok != FALSE;
    }

    // Runs `line` to its end; its output and exit code.
    std::string Run(const std::wstring& line, DWORD* code = nullptr) {
        const fs::path output = m_dir.Path() / "output";
        PROCESS_INFORMATION info{};
        if (!Start(line, info, &output)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return {};
        }
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 20'000), WAIT_OBJECT_0);
        DWORD exit = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &exit));
        if (code != nullptr) *code = exit;
        Close(info);
        return vlibtest::TempDir::Read(output);
    }

    static void Close(PROCESS_INFORMATION& info) {
        EXPECT_TRUE(CloseHandle(info.hThread));
        EXPECT_TRUE(CloseHandle(info.hProcess));
    }

    static std::string State(DWORD pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto paren = line.rfind(')');
        return paren == std::string::npos ? std::string() : line.substr(paren + 2, 1);
    }

    vlibtest::TempDir m_dir;
};

std::wstring Wide(const std::string& text) {
    return VTools::String::Utf8ToWide(text);
}

// The descriptor of this process open on `file`, or -1.
int DescriptorOf(const fs::path& file) {
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error) == file) return std::stoi(entry.path().filename().string());
    }
    return -1;
}

// The splitting rules are the shared splitter's (shell/command_line_test.cpp);
// here the arguments reach a real program intact.
TEST_F(Process, ArgumentsReachTheProgramIntact) {
    const fs::path script = m_dir.Write("echo.py", "import json, sys\nprint(json.dumps(sys.argv[1:]))\n");
    const std::string out =
        Run(Wide("/usr/bin/python3 " + script.string() + R"( "two words" "" a\"b "end\\" Zażółć 😀)"));
    EXPECT_EQ(boost::json::parse(out), boost::json::parse(R"(["two words", "", "a\"b", "end\\", "Zażółć", "😀"])"))
        << out;
}

// The exit status, or 128 + the number of the signal that ended the program.
TEST_F(Process, TheExitCodeIsTheStatusOrTheSignalPlus128) {
    for (const auto& [line, expected] :
         {std::pair{L"sh -c \"exit 7\"", 7u}, std::pair{L"sh -c \"kill -TERM $$\"", 128u + SIGTERM}}) {
        DWORD code = 0;
        Run(line, &code);
        EXPECT_EQ(code, expected) << expected;
    }
}

// A running process is STILL_ACTIVE and waits beside an event; TerminateProcess
// from another thread ends the wait on it with the given code, and only once.
TEST_F(Process, TerminateProcessEndsARunningProcessOnceWithTheGivenCode) {
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(Start(L"sleep 60", info));
    EXPECT_EQ(info.dwThreadId, info.dwProcessId);
    EXPECT_EQ(GetProcessId(info.hProcess), info.dwProcessId);
    EXPECT_EQ(GetThreadId(info.hThread), info.dwProcessId);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code) && code == STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(info.hThread, 0), WAIT_TIMEOUT);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE both[] = {event, info.hProcess};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 10), WAIT_OBJECT_0);
    ResetEvent(event);
    std::thread ender([&] { EXPECT_TRUE(TerminateProcess(info.hProcess, 42)); });
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 20'000), WAIT_OBJECT_0 + 1);
    ender.join();
    SetEvent(event);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 20'000), WAIT_OBJECT_0);
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return TerminateProcess(info.hProcess, 1); }));
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code) && code == 42);
    CloseHandle(event);
    Close(info);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return TerminateProcess(info.hProcess, 1); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetExitCodeProcess(info.hProcess, &code); }));
}

// A failed start zeroes the caller's PROCESS_INFORMATION, as on Windows.
TEST_F(Process, ExecFailuresFailTheCallItselfAndZeroTheProcessInformation) {
    const fs::path plain = m_dir.Write("plain", "text");
    const fs::path garbage = m_dir.Write("garbage", std::string(64, '\x7f'));
    fs::permissions(garbage, fs::perms::owner_all);
    struct Case {
        std::wstring line;
        DWORD error;
    } cases[] = {
        {(m_dir.Path() / "missing").wstring(), ERROR_FILE_NOT_FOUND},
        {(m_dir.Path() / "no" / "where").wstring(), ERROR_PATH_NOT_FOUND},
        {L"vlib-no-such-program-on-path", ERROR_FILE_NOT_FOUND},
        {plain.wstring(), ERROR_ACCESS_DENIED},
        {m_dir.Path().wstring(), ERROR_ACCESS_DENIED},
        {garbage.wstring(), ERROR_BAD_EXE_FORMAT},
    };
    for (const auto& c : cases) {
        PROCESS_INFORMATION info{reinterpret_cast<HANDLE>(0x1234), reinterpret_cast<HANDLE>(0x5678), 7, 8};
        EXPECT_TRUE(FailsWith(c.error, [&] { return Start(c.line, info); })) << fs::path(c.line);
        EXPECT_TRUE(info.hProcess == nullptr && info.hThread == nullptr && info.dwProcessId == 0 &&
                    info.dwThreadId == 0);
    }
}

TEST_F(Process, ParametersThatCannotBeServedFailWithTheirErrors) {
    PROCESS_INFORMATION info{};
    STARTUPINFOW startup{};
    std::wstring line = L"true";
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] {
        return CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info);
    }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] {
        return CreateProcessW(nullptr, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    }));
    EXPECT_TRUE(FailsWith(ERROR_NOT_SUPPORTED,
                          [&] { return Start(L"true", info, nullptr, FALSE, nullptr, nullptr, CREATE_SUSPENDED); }));
    const std::wstring file = m_dir.Write("file", "").wstring();
    EXPECT_TRUE(FailsWith(ERROR_DIRECTORY, [&] { return Start(L"true", info, nullptr, FALSE, file.c_str()); }));
    char block[] = "NO_EQUALS_SIGN\0";
    EXPECT_TRUE(FailsWith(ERROR_BAD_ENVIRONMENT, [&] { return Start(L"true", info, nullptr, FALSE, nullptr, block); }));
}

TEST_F(Process, FolderEnvironmentAndStandardOutputAreTheGivenOnes) {
    const fs::path folder = m_dir.Path() / fs::path(u8"zażółć");
    fs::create_directory(folder);
    const wchar_t environment[] = L"VLIB_VALUE=gęślą jaźń\0PATH=/usr/bin:/bin\0";
    const fs::path output = m_dir.Path() / "output";
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(Start(L"sh -c \"pwd; echo $VLIB_VALUE\"", info, &output, FALSE, Wide(folder.string()).c_str(),
                      const_cast<wchar_t*>(environment), CREATE_UNICODE_ENVIRONMENT));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20'000), WAIT_OBJECT_0);
    Close(info);
    EXPECT_EQ(vlibtest::TempDir::Read(output), folder.string() + "\ngęślą jaźń\n");
}

TEST_F(Process, OnlyStandardAndInheritableDescriptorsReachTheProgram) {
    const int raw = ::open(m_dir.Write("raw", "").c_str(), O_RDONLY);  // no close-on-exec
    ASSERT_GE(raw, 3);
    const HANDLE closed =
        CreateFileW(m_dir.Write("closed", "").wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const HANDLE inherited = CreateFileW(m_dir.Write("inherited", "").wstring().c_str(), GENERIC_READ, 0, &inheritable,
                                         OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(inherited, INVALID_HANDLE_VALUE);
    const int inheritedFd = DescriptorOf(m_dir.Path() / "inherited");
    const fs::path script = m_dir.Write(
        "fds.py",
        "import os, sys\nprint(sorted(int(fd) for fd in sys.argv[1:] if os.path.exists('/proc/self/fd/' + fd)))\n");
    const std::wstring line = Wide("/usr/bin/python3 " + script.string() + " 0 1 2 " + std::to_string(raw) + " " +
                                   std::to_string(raw + 1) + " " + std::to_string(inheritedFd));
    for (const BOOL inherit : {TRUE, FALSE}) {
        const fs::path output = m_dir.Path() / "output";
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(Start(line, info, &output, inherit));
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 20'000), WAIT_OBJECT_0);
        Close(info);
        EXPECT_EQ(vlibtest::TempDir::Read(output),
                  inherit ? "[0, 1, 2, " + std::to_string(inheritedFd) + "]\n" : std::string("[0, 1, 2]\n"));
    }
    ::close(raw);
    CloseHandle(closed);
    CloseHandle(inherited);
}

TEST_F(Process, TheProgramStartsWithAnEmptySignalMaskAndDefaultActions) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction old {};
    sigaction(SIGUSR2, &ignore, &old);
    const std::string status = Run(L"sh -c \"exec grep -E '^Sig(Blk|Ign)' /proc/self/status\"");
    sigaction(SIGUSR2, &old, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(status, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

// An ended child stays a zombie until its last handle closes; a running one
// whose handles are closed is reaped when it ends.
TEST_F(Process, AChildIsReapedOnceItHasEndedAndItsLastHandleIsClosed) {
    PROCESS_INFORMATION ended{}, running{};
    ASSERT_TRUE(Start(L"sh -c \"exit 3\"", ended));
    ASSERT_TRUE(Start(L"sleep 60", running));
    ASSERT_EQ(WaitForSingleObject(ended.hProcess, 20'000), WAIT_OBJECT_0);
    EXPECT_EQ(State(ended.dwProcessId), "Z");
    CloseHandle(ended.hProcess);
    EXPECT_EQ(State(ended.dwProcessId), "Z");  // the thread handle holds it
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(ended.hThread, &code) && code == 3);
    CloseHandle(ended.hThread);
    Close(running);
    EXPECT_TRUE(State(running.dwProcessId) == "S" || State(running.dwProcessId) == "R");
    kill(static_cast<pid_t>(running.dwProcessId), SIGKILL);
    for (const DWORD pid : {ended.dwProcessId, running.dwProcessId}) {
        EXPECT_TRUE(WaitFor([&] { return State(pid).empty(); })) << pid;
    }
}

TEST_F(Process, RaceStartWaitAndCloseFromManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 8; ++i) {
                PROCESS_INFORMATION info{};
                if (!Start(i % 2 == 0 ? L"true" : L"sh -c \"exit 5\"", info)) {
                    ADD_FAILURE() << GetLastError();
                    continue;
                }
                std::thread closer([&] { EXPECT_EQ(WaitForSingleObject(info.hThread, 20'000), WAIT_OBJECT_0); });
                EXPECT_EQ(WaitForSingleObject(info.hProcess, 20'000), WAIT_OBJECT_0);
                DWORD code = 0;
                EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
                EXPECT_EQ(code, i % 2 == 0 ? 0u : 5u);
                closer.join();
                Close(info);
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

}  // namespace

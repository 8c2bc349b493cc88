// A child process for the crash tests: installs crash reporting, then
// crashes as its first argument says (the modes are the branches of main).
//
//   crash_child MODE SAVE_FOLDER LOG_FILE [COPY_FOLDER...]
//
// "relative" installs from the log's folder and crashes from its "moved"
// sub-folder; "full-disk" sends its standard error to its standard output;
// "planted…" says "ready" and crashes when its input ends.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "diagnostics/CrashHandler.h"
#include "diagnostics/Log.h"
#include "multithreading/TaskExecutor.h"
#include "tests/support/FixedClock.h"
#include "text/StringConversion.h"

// Exported (the executable exports its symbols) so that the report names them.
// The undefined-behaviour sanitizer would stop the child before the fault.
extern "C" __attribute__((noinline, visibility("default"), no_sanitize_undefined)) void CrashChildNullPointer(
    volatile int* target) {
    *target = 42;
}

extern "C" __attribute__((noinline, visibility("default"))) void CrashChildThrow() {
    throw std::runtime_error("zły \"dzień\"");
}

namespace {

// A function without a dynamic symbol: only the symbol table names it.
__attribute__((noinline)) void StaticStep(volatile int* target) {
    CrashChildNullPointer(target);
    asm volatile("");  // not a tail call: this frame stays on the stack
}

// Each call keeps a frame of its own: no tail call, no loop.
// Ends only by overflowing (the limit is never reached).
__attribute__((noinline)) int Recurse(int depth, const volatile int* limit) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth == *limit) return 0;
    return Recurse(depth + 1, limit) + frame[0];
}

int HangingCallback(CR_CRASH_CALLBACK_INFOW*) {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

int CrashingCallback(CR_CRASH_CALLBACK_INFOW*) {
    CrashChildNullPointer(nullptr);
    return CR_CB_DODEFAULT;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    umask(022);
    const std::string mode = argv[1];
    const bool killReporter = mode == "reporter-killed" || mode == "hang-reporter-killed" || mode == "planted-raw";
    if (mode == "relative" && chdir(std::filesystem::path(argv[3]).parent_path().c_str()) != 0) return 8;
    if (mode == "full-disk") dup2(STDOUT_FILENO, STDERR_FILENO);
    // "fixed-clock" runs at 2024-02-29 12:34:56.789 UTC in a zone 5:30 ahead.
    std::optional<vlibtest::FixedClock> clock;
    if (mode == "fixed-clock") clock.emplace(timespec{1'709'210'096, 789'654'321}, 19'800);
    if (!VTools::Log::Instance().Open(VTools::String::Utf8ToWide(argv[3]))) return 3;
    // Short enough for the tests, long enough for a loaded machine.
    vplatformSetCrashCallbackLimit(mode.starts_with("hang") || mode == "callback-segv" ? 300 : 20000);
    // The name is a view into longer text, the version a temporary: both
    // must be copied by Install.
    if (mode == "no-ptrace") setenv("VLIB_CRASH_REPORTER_NO_PTRACE", "1", 1);
    const std::wstring_view name(L"crash-child and more", 11);
    if (!CrashHandler::Install(VTools::String::Utf8ToWide(argv[2]), name, std::wstring(L"1.2.3"))) return 4;
    for (int i = 4; i < argc; ++i) CrashHandler::AddCopyDirectoryOnCrash(VTools::String::Utf8ToWide(argv[i]));

    if (mode == "relative" && chdir("moved") != 0) return 8;

    volatile int* null = nullptr;
    if (killReporter) {
        const DWORD reporter = vplatformCrashReporterProcessId();
        if (reporter == 0) return 6;
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, reporter, 0));
        kill(static_cast<pid_t>(reporter), SIGKILL);
        pollfd gone{pidfd, POLLIN, 0};
        if (pidfd < 0 || poll(&gone, 1, 10000) != 1) return 7;
    }
    if (mode.starts_with("planted")) {
        std::printf("ready\n");
        std::fflush(stdout);
        char byte = 0;
        while (read(STDIN_FILENO, &byte, 1) > 0) {
        }
    }
    if (mode == "segv" || mode == "no-ptrace" || mode == "reporter-killed" || mode == "relative" ||
        mode == "full-disk" || mode == "fixed-clock" || mode.starts_with("planted"))
        StaticStep(null);
    if (mode == "abort") std::abort();
    if (mode == "throw") CrashChildThrow();
    if (mode.starts_with("hang")) crSetCrashCallbackW(HangingCallback, nullptr);
    if (mode == "callback-segv") crSetCrashCallbackW(CrashingCallback, nullptr);
    if (mode == "removed") std::filesystem::remove_all(argv[2]);
    if (mode == "overflow") {
        Multithreading::TaskExecutor executor("Overflow");
        executor.AddTask([] {
            volatile int never = -1;
            Recurse(0, &never);
        });
        executor.StartExecute();
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (mode == "two-threads") {
        std::atomic<int> ready{0};
        auto crash = [&] {
            ++ready;
            while (ready < 2) {
            }
            CrashChildNullPointer(nullptr);
        };
        std::thread first(crash), second(crash);
        first.join();
        second.join();
    }
    if (mode == "forked") {
        const pid_t child = fork();
        if (child == 0) CrashChildNullPointer(null);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFSIGNALED(status) ? 100 + WTERMSIG(status) : 5;
    }
    CrashChildNullPointer(null);
    return 0;
}

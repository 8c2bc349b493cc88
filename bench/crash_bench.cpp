// From the fault to a dead process with its report: crash reporting with the
// reporter process, beside a handler that runs eu-stack (elfutils) on its own
// process, and, for reference, a handler that writes backtrace_symbols_fd
// (no files, lines or static functions).
//
// Each iteration starts this binary as a child (--child=KIND FOLDER) that sets
// up its handler, runs a second (as an application has run before it
// crashes), notes the time and writes through a null pointer; the time runs
// until the parent has reaped it.  Setting up is not timed.  The warm-up is
// the same second for every kind: our reporter process reads the modules
// meanwhile, and the eu-stack child runs eu-stack on itself once (output
// discarded), so that eu-stack, its libraries and this binary's files are
// loaded and cached when the fault comes; eu-stack cannot read the modules
// ahead of the fault.  "ours, cold" crashes right after installing, before
// the reporter can have read anything.  20 crashes per kind unless
// --benchmark_repetitions says otherwise; the ratios are of the medians,
// with the range of the rounds.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <VLibIncludes.h>

#include "MedianReporter.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

char g_self[4096];
int g_timeFd = -1;    // the child's pipe to the parent
int g_outputFd = -1;  // the peers' report file

std::int64_t Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

extern "C" __attribute__((noinline, visibility("default"), no_sanitize_undefined)) void BenchCrash(
    volatile int* target) {
    const std::int64_t now = Now();
    if (write(g_timeFd, &now, sizeof now) != sizeof now) _exit(9);
    *target = 1;
}

void DieByDefault(int signal) {
    ::signal(signal, SIG_DFL);
    raise(signal);
}

// eu-stack on this process, its output in the report file.
void EuStackHandler(int signal) {
    char pid[16];
    std::snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
    const pid_t child = fork();
    if (child == 0) {
        dup2(g_outputFd, STDOUT_FILENO);
        execl("/usr/bin/eu-stack", "eu-stack", "-s", "-p", pid, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    DieByDefault(signal);
}

void BacktraceHandler(int signal) {
    void* frames[128];
    backtrace_symbols_fd(frames, backtrace(frames, 128), g_outputFd);
    DieByDefault(signal);
}

// Runs eu-stack on this process once, its output discarded.
void WarmEuStack() {
    char pid[16];
    std::snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl("/usr/bin/eu-stack", "eu-stack", "-s", "-p", pid, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
}

int RunChild(const std::string& kind, const fs::path& folder) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    unsetenv("DEBUGINFOD_URLS");
    if (kind == "ours" || kind == "ours-cold") {
        const std::wstring save = folder.wstring();
        CR_INSTALL_INFOW info{};
        info.cb = sizeof info;
        info.dwFlags = CR_INST_ALL_POSSIBLE_HANDLERS;
        info.pszErrorReportSaveDir = save.c_str();
        if (crInstallW(&info) != 0) return 3;
    } else {
        fs::create_directories(folder);
        g_outputFd = open((folder / "stack.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (g_outputFd < 0) return 3;
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
        void* warm[4];
        backtrace(warm, 4);  // loads libgcc before the crash
        ::signal(SIGSEGV, kind == "eu-stack" ? EuStackHandler : BacktraceHandler);
    }
    const auto warmUpEnd = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    if (kind == "eu-stack") WarmEuStack();
    if (kind != "ours-cold") std::this_thread::sleep_until(warmUpEnd);
    BenchCrash(nullptr);
    return 4;
}

// One crash of a child of `kind`: the nanoseconds from the fault to its end;
// 0 when it did not die by SIGSEGV or left no report.
double CrashOnce(const std::string& kind, const fs::path& folder) {
    fs::remove_all(folder);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 0;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        const std::string fd = std::to_string(pipeFds[1]);
        execl(g_self, g_self, ("--child=" + kind).c_str(), folder.c_str(), fd.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::int64_t faulted = 0;
    const bool noted = read(pipeFds[0], &faulted, sizeof faulted) == sizeof faulted;
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    const std::int64_t ended = Now();
    if (!noted || !WIFSIGNALED(status) || WTERMSIG(status) != SIGSEGV) return 0;
    // The report names the crashing function.
    fs::path stack = folder / "stack.txt";
    if (kind.starts_with("ours") && fs::exists(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) stack = entry.path() / "stack.txt";
    }
    std::ifstream in(stack);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().find("BenchCrash") == std::string::npos) return 0;
    return static_cast<double>(ended - faulted);
}

void Crashes(benchmark::State& state, const std::string& kind) {
    static const vlibtest::TempDir temporary;
    const fs::path folder = temporary.Path() / kind;
    for (auto _ : state) {
        const double nanoseconds = CrashOnce(kind, folder);
        if (nanoseconds == 0) {
            state.SkipWithError(("the " + kind + " child left no report naming the crashing function").c_str());
            break;
        }
        state.SetIterationTime(nanoseconds / 1e9);
    }
    fs::remove_all(folder);
}

void BM_Ours_CrashToReport(benchmark::State& state) {
    Crashes(state, "ours");
}
void BM_OursCold_CrashToReport(benchmark::State& state) {
    Crashes(state, "ours-cold");
}
void BM_EuStack_CrashToReport(benchmark::State& state) {
    Crashes(state, "eu-stack");
}
void BM_BacktraceSymbolsFd_CrashToReport(benchmark::State& state) {
    Crashes(state, "backtrace");
}
BENCHMARK(BM_Ours_CrashToReport)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursCold_CrashToReport)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EuStack_CrashToReport)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BacktraceSymbolsFd_CrashToReport)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strncmp(argv[1], "--child=", 8) == 0) {
        g_timeFd = std::atoi(argv[3]);
        return RunChild(argv[1] + 8, argv[2]);
    }
    const ssize_t length = readlink("/proc/self/exe", g_self, sizeof g_self - 1);
    if (length <= 0) return 1;
    g_self[length] = '\0';
    vbench::Initialize(argc, argv, 20);
    // One crash per repetition: the median is of the single crashes.
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::RealTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\nFault to dead process with its report (ms), after the same second of warm-up (our reporter\n"
        "reads the modules meanwhile; the eu-stack child runs eu-stack on itself once, which caches its files\n"
        "but cannot read the modules ahead); \"cold\" crashes right after installing.  Median of the\n"
        "repetitions (their range), ratio ours / peer of the medians (range of the rounds):\n");
    const vbench::Spread euStack = reporter.Figures("BM_EuStack_CrashToReport");
    vbench::Report("crash", "fault to report, warm", "crash reporter", reporter.Figures("BM_Ours_CrashToReport"),
                   "eu-stack -s from handler", euStack, "ms", "<= 0.5");
    vbench::Report("crash", "fault to report, ours cold", "crash reporter, cold",
                   reporter.Figures("BM_OursCold_CrashToReport"), "eu-stack -s from handler", euStack, "ms");
    vbench::Report("crash", "fault to report, warm", "crash reporter", reporter.Figures("BM_Ours_CrashToReport"),
                   "backtrace_symbols_fd", reporter.Figures("BM_BacktraceSymbolsFd_CrashToReport"), "ms");
    benchmark::Shutdown();
    return 0;
}

// The crash-report layer's installation: the process installation with its
// signal and terminate handlers, the "Crash" thread and the reporter process,
// per-thread alternate signal stacks, and the API.  What runs when the
// process crashes is in crash_handling.cpp.
#include "platform/crashreport/CrashReport.h"

#include <dlfcn.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <unwind.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "platform/WinError.h"
#include "platform/crashreport/internal/CrashState.h"
#include "platform/crashreport/internal/ReportText.h"
#include "platform/crashreport/internal/ReporterProtocol.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/internal/Clock.h"
#include "platform/kernel/internal/Processes.h"

extern char** environ;

namespace vplatform::crash::handling {

ReportState g_state;
std::atomic<PFNCRASHCALLBACKW> g_callback{nullptr};
std::atomic<LPVOID> g_userParam{nullptr};
std::atomic<DWORD> g_limitMilliseconds{10000};
std::atomic<bool> g_reportWritten{false};
std::atomic<std::int64_t> g_reportDeadline{0};

}  // namespace vplatform::crash::handling

using namespace vplatform::crash::handling;

namespace {

using vplatform::Sys;

// Large enough for the handler's unwinding and report formatting, also in
// instrumented builds.
constexpr std::size_t kCrashStackSize = 256 * 1024;
using vplatform::crash::kMaxFrames;
using vplatform::crash::kPathBytes;
// How long crInstallW waits for the reporter to say it is ready.
constexpr int kReporterStartMilliseconds = 5000;

// The signals a flag stands for.
struct FlagSignals {
    DWORD flag;
    int signals[4];
};
constexpr FlagSignals kFlagSignals[] = {
    {CR_INST_FAULT_HANDLERS, {SIGSEGV, SIGBUS, SIGTRAP, SIGSYS}},
    {CR_INST_SIGSEGV_HANDLER, {SIGSEGV, SIGBUS, 0, 0}},
    {CR_INST_SIGABRT_HANDLER, {SIGABRT, 0, 0, 0}},
    {CR_INST_SIGFPE_HANDLER, {SIGFPE, 0, 0, 0}},
    {CR_INST_SIGILL_HANDLER, {SIGILL, 0, 0, 0}},
};

std::atomic<bool> g_processInstalled{false};
// Never destroyed while it runs: a process may end with crash reporting
// installed.
std::thread* g_crashThread = nullptr;

struct ThreadInstallation {
    void* stack = nullptr;
    stack_t previous{};
};

thread_local ThreadInstallation t_installation;
thread_local std::wstring t_lastError;

int Fail(DWORD error, const std::wstring& message) {
    t_lastError = message;
    SetLastError(error);
    return 1;
}

int Succeed() {
    t_lastError = L"Success.";
    return 0;
}

_Unwind_Reason_Code CountFrame(_Unwind_Context*, void*) {
    return _URC_NO_REASON;
}

// --- Installation ---

void ClosePipes() {
    for (int* pipe : {g_state.goPipe, g_state.donePipe}) {
        for (int i = 0; i < 2; ++i) {
            if (pipe[i] >= 0) Sys().close(pipe[i]);
            pipe[i] = -1;
        }
    }
}

// The reporter's executable: installed under LIBEXECDIR/vlibincludes (the path
// relative to LIBDIR is compiled in) or, in the build tree, beside this
// library.
std::string ReporterPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&crInstallW), &info) == 0 || info.dli_fname == nullptr) return {};
    const std::string library = info.dli_fname;
    const auto slash = library.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : library.substr(0, slash);
    const std::string installed = VLIB_REPORTER_FROM_LIBDIR;
    for (const std::string& candidate :
         {installed.starts_with("/") ? installed : folder + "/" + installed, folder + "/vlib-crash-reporter"}) {
        struct statx status {};
        if (Sys().statx(AT_FDCWD, candidate.c_str(), 0, STATX_TYPE | STATX_MODE, &status) == 0 &&
            S_ISREG(status.stx_mode) && (status.stx_mode & 0111) != 0)
            return candidate;
    }
    return {};
}

void StopReporter() {
    // The reporter ends when its socket closes.
    if (g_state.reporterSocket >= 0) Sys().close(g_state.reporterSocket);
    g_state.reporterSocket = -1;
    g_state.reporterPid = 0;
}

// Reaps the reporter's first process, which ends as soon as it has started
// the one that stays.
void ReapStarter(pid_t starter) {
    const int pidfd = Sys().pidfd_open(starter, 0);
    if (pidfd < 0) return;
    struct pollfd ended {
        pidfd, POLLIN, 0
    };
    siginfo_t status{};
    if (Sys().poll(&ended, 1, kReporterStartMilliseconds) <= 0) Sys().pidfd_send_signal(pidfd, SIGKILL, nullptr, 0);
    Sys().waitid(P_PIDFD, static_cast<id_t>(pidfd), &status, WEXITED);
    Sys().close(pidfd);
}

// Starts the reporter process, detached from this one, and names it this
// process's ptracer.  Without it (not found, not started, not ready in time)
// crash reporting goes on: the crash thread writes the report itself.
void StartReporter() {
    g_state.reporterSocket = -1;
    g_state.reporterPid = 0;
    const std::string path = ReporterPath();
    if (path.empty()) return;
    int fds[2] = {-1, -1};
    if (Sys().socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], vplatform::crash::kReporterSocket);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, vplatform::crash::kReporterSocket + 1);
    const vplatform::HelperSpawnAttributes attributes;
    std::string program = path;
    std::string application = std::to_string(g_state.pid);
    char* argv[] = {program.data(), application.data(), nullptr};
    pid_t starter = 0;
    const int error = Sys().posix_spawn(&starter, path.c_str(), &actions, attributes.Get(), argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    Sys().close(fds[1]);
    if (error != 0) {
        Sys().close(fds[0]);
        return;
    }
    vplatform::crash::ReporterHello hello{};
    struct pollfd ready {
        fds[0], POLLIN, 0
    };
    const bool said = Sys().poll(&ready, 1, kReporterStartMilliseconds) == 1 &&
                      Sys().recv(fds[0], &hello, sizeof hello, 0) == static_cast<ssize_t>(sizeof hello) &&
                      hello.magic == vplatform::crash::kHelloMagic && hello.pid > 0;
    ReapStarter(starter);
    if (!said) {
        Sys().close(fds[0]);
        return;
    }
    // Where a security module limits ptrace to ancestors, the reporter (no
    // ancestor) needs this process's leave; elsewhere the call fails harmlessly.
    Sys().set_ptracer(hello.pid);
    g_state.reporterSocket = fds[0];
    g_state.reporterPid = hello.pid;
}

void RestoreHandlers() {
    for (int signal = 1; signal < NSIG; ++signal) {
        if (!g_state.handled[signal]) continue;
        SetDisposition(signal, g_state.previous[signal]);
        g_state.handled[signal] = false;
    }
    if (g_state.terminateHandled) std::set_terminate(g_state.previousTerminate);
    g_state.terminateHandled = false;
}

void CloseSaveFolder() {
    if (g_state.saveFd >= 0) Sys().close(g_state.saveFd);
    g_state.saveFd = -1;
}

void StopCrashThread() {
    if (g_crashThread != nullptr) {
        WriteAll(g_state.goPipe[1], "q", 1);
        g_crashThread->join();
        delete g_crashThread;
        g_crashThread = nullptr;
    }
    ClosePipes();
    StopReporter();
    CloseSaveFolder();
}

// The absolute form of `path` against the current folder; "" when it has
// none.
std::wstring FullPath(const wchar_t* path) {
    const DWORD size = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path, size, full.data(), nullptr);
    if (length == 0 || length >= size) return {};
    full.resize(length);
    return full;
}

// Takes the save folder: absolute (a relative one is taken from the current
// folder now, once), made when missing, writable, the user's own and closed
// to other users' entries, and kept open.
int SetSaveFolder(const wchar_t* given) {
    g_state.saveFolder[0] = '\0';
    if (given == nullptr || given[0] == L'\0') return Succeed();
    std::string folder;
    // Room for the report folder's name after it.
    if (!vplatform::ToFileSystemPath(FullPath(given), folder) || folder.empty() || folder.size() > kPathBytes - 64)
        return Fail(ERROR_INVALID_PARAMETER, L"The report folder has no usable path.");
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::wstring wide(given);
    if (!MakeDirectories(folder.c_str())) {
        const int error = errno;
        return Fail(vplatform::ErrorFromErrno(error), L"The report folder cannot be created: " + wide);
    }
    if (Sys().access(folder.c_str(), W_OK | X_OK) != 0) {
        const int error = errno;
        return Fail(vplatform::ErrorFromErrno(error), L"The report folder cannot be written: " + wide);
    }
    SaveFolderFault fault;
    g_state.saveFd = OpenSaveFolder(folder.c_str(), fault);
    if (fault == SaveFolderFault::AnotherUsers)
        return Fail(ERROR_ACCESS_DENIED, L"The report folder belongs to another user: " + wide);
    if (fault == SaveFolderFault::WritableByOthers)
        return Fail(ERROR_ACCESS_DENIED, L"The report folder can be written by other users: " + wide);
    if (g_state.saveFd < 0) {
        const int error = errno;
        return Fail(vplatform::ErrorFromErrno(error), L"The report folder cannot be opened: " + wide);
    }
    CopyText(g_state.saveFolder, sizeof g_state.saveFolder, folder.c_str());
    return Succeed();
}

int InstallProcess(const CR_INSTALL_INFOW& info) {
    g_state.goPipe[0] = g_state.goPipe[1] = g_state.donePipe[0] = g_state.donePipe[1] = -1;
    g_state.reporterSocket = -1;
    g_state.saveFd = -1;
    g_state.reportFd = -1;
    g_state.owner = Sys().geteuid();
    CopyText(g_state.appName, sizeof g_state.appName, vplatform::crash::Utf16ToUtf8(info.pszAppName).c_str());
    CopyText(g_state.appVersion, sizeof g_state.appVersion, vplatform::crash::Utf16ToUtf8(info.pszAppVersion).c_str());
    if (SetSaveFolder(info.pszErrorReportSaveDir) != 0) {
        const std::wstring text = t_lastError;
        const DWORD error = GetLastError();
        CloseSaveFolder();
        return Fail(error, text);
    }
    g_state.utcOffsetSeconds = static_cast<long>(vplatform::clock::CurrentUtcOffset());
    g_state.pid = Sys().getpid();
    g_state.facts = {};
    g_reportWritten = false;
    g_reportDeadline = 0;

    if (Sys().pipe2(g_state.goPipe, O_CLOEXEC) != 0 || Sys().pipe2(g_state.donePipe, O_CLOEXEC) != 0) {
        const int error = errno;
        ClosePipes();
        CloseSaveFolder();
        return Fail(vplatform::ErrorFromErrno(error), L"The crash thread's pipes could not be made.");
    }
    try {
        g_crashThread = new std::thread(CrashThreadMain);
    } catch (const std::system_error&) {
        ClosePipes();
        CloseSaveFolder();
        return Fail(ERROR_NOT_ENOUGH_MEMORY, L"The crash thread could not be started.");
    }
    StartReporter();
    // Loads and resolves the unwinder now, not inside a crash.
    _Unwind_Backtrace(CountFrame, nullptr);
    if (t_installation.stack == nullptr && InstallThreadStack() != 0) {
        const std::wstring text = t_lastError;
        StopCrashThread();
        return Fail(GetLastError(), text);
    }

    struct sigaction action {};
    action.sa_sigaction = CrashSignalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const FlagSignals& entry : kFlagSignals) {
        if ((info.dwFlags & entry.flag) == 0) continue;
        for (const int signal : entry.signals) {
            if (signal == 0 || g_state.handled[signal]) continue;
            if (Sys().sigaction(signal, &action, &g_state.previous[signal]) != 0) {
                const int error = errno;
                RestoreHandlers();
                StopCrashThread();
                return Fail(vplatform::ErrorFromErrno(error), L"A signal handler could not be installed.");
            }
            g_state.handled[signal] = true;
        }
    }
    if ((info.dwFlags & CR_INST_TERMINATE_HANDLER) != 0) {
        g_state.previousTerminate = std::set_terminate(TerminateHandler);
        g_state.terminateHandled = true;
    }
    return Succeed();
}

}  // namespace

namespace vplatform::crash::handling {

int InstallThreadStack() {
    void* stack = std::malloc(kCrashStackSize);
    if (stack == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, L"Not enough memory for the crash stack.");
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = kCrashStackSize;
    alternate.ss_flags = 0;
    if (Sys().sigaltstack(&alternate, &t_installation.previous) != 0) {
        const int error = errno;
        std::free(stack);
        return Fail(vplatform::ErrorFromErrno(error), L"The crash stack could not be installed.");
    }
    t_installation.stack = stack;
    return Succeed();
}

}  // namespace vplatform::crash::handling

extern "C" {

int crInstallW(const CR_INSTALL_INFOW* info) {
    if (info == nullptr || info->cb != sizeof(CR_INSTALL_INFOW))
        return Fail(ERROR_INVALID_PARAMETER, L"Invalid installation info.");
    bool expected = false;
    if (!g_processInstalled.compare_exchange_strong(expected, true))
        return Fail(ERROR_ALREADY_INITIALIZED, L"Crash reporting is already installed.");
    try {
        if (InstallProcess(*info) != 0) {
            g_processInstalled = false;
            return 1;
        }
    } catch (const std::bad_alloc&) {
        StopCrashThread();
        g_processInstalled = false;
        return Fail(ERROR_NOT_ENOUGH_MEMORY, L"Not enough memory.");
    }
    return 0;
}

int crUninstall() {
    bool expected = true;
    if (!g_processInstalled.compare_exchange_strong(expected, false))
        return Fail(ERROR_INVALID_FUNCTION, L"Crash reporting is not installed.");
    RestoreHandlers();
    StopCrashThread();
    g_callback = nullptr;
    g_userParam = nullptr;
    return Succeed();
}

int crSetCrashCallbackW(PFNCRASHCALLBACKW callback, LPVOID userParam) {
    if (!g_processInstalled.load()) return Fail(ERROR_INVALID_FUNCTION, L"Crash reporting is not installed.");
    g_userParam = userParam;
    g_callback = callback;
    return Succeed();
}

int crInstallToCurrentThread2(DWORD) {
    if (!g_processInstalled.load())
        return Fail(ERROR_INVALID_FUNCTION, L"Crash reporting is not installed for the process.");
    if (t_installation.stack != nullptr)
        return Fail(ERROR_ALREADY_INITIALIZED, L"Crash reporting is already installed for this thread.");
    return InstallThreadStack();
}

int crUninstallFromCurrentThread() {
    if (t_installation.stack == nullptr)
        return Fail(ERROR_INVALID_FUNCTION, L"Crash reporting is not installed for this thread.");
    // Put back what the thread had before (usually no alternate stack).
    stack_t previous = t_installation.previous;
    if (previous.ss_sp == nullptr) {
        previous = {};
        previous.ss_flags = SS_DISABLE;
    }
    if (Sys().sigaltstack(&previous, nullptr) != 0) {
        const int error = errno;
        return Fail(vplatform::ErrorFromErrno(error), L"The crash stack could not be removed.");
    }
    std::free(t_installation.stack);
    t_installation.stack = nullptr;
    return Succeed();
}

int crGetLastErrorMsgW(LPWSTR buffer, UINT size) {
    if (buffer == nullptr || size == 0) return -1;
    const std::size_t length = std::min<std::size_t>(t_lastError.size(), size - 1);
    std::copy_n(t_lastError.begin(), length, buffer);
    buffer[length] = L'\0';
    return static_cast<int>(length);
}
}

bool vplatformThreadHasCrashStack() {
    stack_t current{};
    return Sys().sigaltstack(nullptr, &current) == 0 && t_installation.stack != nullptr &&
           current.ss_sp == t_installation.stack && (current.ss_flags & SS_DISABLE) == 0;
}

DWORD vplatformCrashReporterProcessId() {
    return g_processInstalled.load() && g_state.reporterSocket >= 0 ? static_cast<DWORD>(g_state.reporterPid) : 0;
}

void vplatformSetCrashCallbackLimit(DWORD milliseconds) {
    g_limitMilliseconds = milliseconds;
}

// Processes: posix_spawn to start them, process descriptors (pidfd) to wait
// for them, signal them and read their ends without racing a reused id.
#include "platform/kernel/Process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/internal/CommandLine.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/HandleTable.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/FileDescriptors.h"
#include "platform/kernel/internal/Processes.h"
#include "platform/kernel/internal/Waitable.h"
#include "platform/nls/CodePage.h"
#include "platform/nls/internal/Utf8.h"

namespace vplatform {
namespace {

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// Children whose last handle was closed while they ran: a thread of its own
// waits for their descriptors and reaps each as it ends, then ends itself
// when none is left.
class Reaper {
public:
    // Takes `pidfd`; false when no thread could be started for it.
    bool Adopt(int pidfd) {
        const std::lock_guard lock(m_mutex);
        if (m_wake < 0 && (m_wake = Sys().eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0) return false;
        m_pidfds.push_back(pidfd);
        if (m_running) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = Sys().write(m_wake, &one, sizeof one);
            return true;
        }
        try {
            std::thread([this] { Run(); }).detach();
        } catch (const std::system_error&) {
            m_pidfds.pop_back();
            return false;
        }
        m_running = true;
        return true;
    }

private:
    void Run() {
        std::vector<pollfd> fds;
        for (;;) {
            {
                const std::lock_guard lock(m_mutex);
                if (m_pidfds.empty()) {
                    m_running = false;
                    return;
                }
                fds.assign(1, pollfd{m_wake, POLLIN, 0});
                for (const int fd : m_pidfds) fds.push_back({fd, POLLIN, 0});
            }
            if (Sys().poll(fds.data(), fds.size(), -1) < 0) continue;  // EINTR
            if ((fds[0].revents & POLLIN) != 0) {
                std::uint64_t value = 0;
                [[maybe_unused]] const ssize_t drained = Sys().read(m_wake, &value, sizeof value);
            }
            const std::lock_guard lock(m_mutex);
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                siginfo_t info{};
                Sys().waitid(P_PIDFD, static_cast<id_t>(fds[i].fd), &info, WEXITED | WNOHANG);
                Sys().close(fds[i].fd);
                std::erase(m_pidfds, fds[i].fd);
            }
        }
    }

    std::mutex m_mutex;
    std::vector<int> m_pidfds;
    int m_wake = -1;  // never closed: the thread may outlive static destruction
    bool m_running = false;
};

Reaper& Reapers() {
    static auto* reaper = new Reaper;  // never destroyed: children may end after static destruction
    return *reaper;
}

// A started process, seen through its descriptor.  Its state changes only
// under the wait lock.
class ProcessObject final : public Waitable {
public:
    static constexpr ObjectType kType = ObjectType::Process;

    ProcessObject(pid_t pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {}
    ~ProcessObject() override {
        // Reaps an ended child now; one still running is left to the reaper.
        siginfo_t info{};
        if (!m_collected && Sys().waitid(P_PIDFD, static_cast<id_t>(m_pidfd), &info, WEXITED | WNOHANG) == 0 &&
            info.si_pid == 0 && Reapers().Adopt(m_pidfd)) {
            return;
        }
        Sys().close(m_pidfd);
    }

    pid_t Pid() const { return m_pid; }
    int WatchFd() const override { return m_pidfd; }
    bool IsSignalled(const ThreadRecord&) const override { return m_ended; }
    void FdReady() override { Update(); }

    // Lock held: reads the state of the process; signals its waits when it
    // has just ended.
    void Update() {
        if (m_ended) return;
        int pid = 0;
        int code = 0;
        int status = 0;
        if (!Peek(pid, code, status)) {
            if (errno != ECHILD) return;
            // Reaped by the kernel (SIGCHLD ignored): the code is lost.
            m_collected = true;
            m_exitCode = 0;
        } else if (pid == 0) {
            return;
        } else if (code == CLD_EXITED) {
            m_exitCode = static_cast<DWORD>(status);
        } else if (status == SIGKILL && m_terminateCode) {
            m_exitCode = *m_terminateCode;
        } else {
            m_exitCode = 128 + static_cast<DWORD>(status);
        }
        m_ended = true;
        Signalled();
    }
    bool Ended() const { return m_ended; }
    DWORD ExitCode() const { return m_ended ? m_exitCode : STILL_ACTIVE; }

    // Lock held: ends the process with `code`; false with the last error set
    // when it has ended already or cannot be signalled.
    bool Terminate(UINT code) {
        Update();
        if (m_ended) return Fail(ERROR_ACCESS_DENIED);
        const auto previous = m_terminateCode;
        m_terminateCode = code;
        if (Sys().pidfd_send_signal(m_pidfd, SIGKILL, nullptr, 0) != 0) {
            m_terminateCode = previous;
            return Fail(errno == ESRCH ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
        }
        return true;
    }

private:
    // The end of the process without reaping it: pid 0 while it runs.
    bool Peek(int& pid, int& code, int& status) const {
        siginfo_t info{};
        if (Sys().waitid(P_PIDFD, static_cast<id_t>(m_pidfd), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
        pid = info.si_pid;
        code = info.si_code;
        status = info.si_status;
        return true;
    }

    const pid_t m_pid;
    const int m_pidfd;
    bool m_ended = false;
    bool m_collected = false;  // reaped by someone else
    DWORD m_exitCode = STILL_ACTIVE;
    std::optional<DWORD> m_terminateCode;
};

// The thread handle of a started process: signalled with the process.
class ProcessThreadObject final : public Waitable {
public:
    static constexpr ObjectType kType = ObjectType::ProcessThread;

    explicit ProcessThreadObject(std::shared_ptr<ProcessObject> process) : m_process(std::move(process)) {}

    const std::shared_ptr<ProcessObject>& Process() const { return m_process; }
    int WatchFd() const override { return m_process->WatchFd(); }
    bool IsSignalled(const ThreadRecord&) const override { return m_process->Ended(); }
    void FdReady() override {
        m_process->Update();
        if (m_process->Ended()) Signalled();
    }

private:
    const std::shared_ptr<ProcessObject> m_process;
};

// --- Starting a process ---------------------------------------------------------------

bool IsExecutableFile(const std::string& path) {
    struct statx info {};
    return Sys().statx(AT_FDCWD, path.c_str(), 0, STATX_TYPE | STATX_MODE, &info) == 0 && S_ISREG(info.stx_mode) &&
           (info.stx_mode & 0111) != 0;
}

// The file to execute for the program name `name` (file-system form).
bool ResolveProgram(const std::string& name, std::string& path) {
    if (name.find('/') != std::string::npos) {
        path = name;
        if (path.front() != '/') {
            // Relative to the caller's folder, also when the child starts in another.
            std::string cwd(4096, '\0');
            if (Sys().getcwd(cwd.data(), cwd.size()) == nullptr) return Fail(ErrorFromErrno(errno));
            path = std::string(cwd.c_str()) + "/" + path;
        }
        return true;
    }
    const char* variable = Sys().getenv("PATH");
    const std::string folders = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = end == start ? std::string(".") : folders.substr(start, end - start);
        const std::string candidate = folder + "/" + name;
        if (IsExecutableFile(candidate)) {
            path = candidate;
            return true;
        }
        if (end == folders.size()) break;
        start = end + 1;
    }
    return Fail(ERROR_FILE_NOT_FOUND);
}

// "NAME=value" texts of an environment block.
bool ParseEnvironment(LPVOID block, bool unicode, std::vector<std::string>& out) {
    constexpr std::size_t kLimit = 32767 * 64;  // a block larger than this has lost its end
    if (unicode) {
        const auto* text = static_cast<const wchar_t*>(block);
        for (std::size_t total = 0; *text != 0;) {
            const std::wstring_view entry(text);
            total += entry.size() + 1;
            if (total > kLimit) return Fail(ERROR_BAD_ENVIRONMENT);
            out.push_back(Utf8Of(entry));
            text += entry.size() + 1;
        }
    } else {
        const auto* text = static_cast<const char*>(block);
        for (std::size_t total = 0; *text != 0;) {
            const std::string_view entry(text);
            total += entry.size() + 1;
            if (total > kLimit) return Fail(ERROR_BAD_ENVIRONMENT);
            // ANSI code page to UTF-8 through UTF-16.
            const int size = MultiByteToWideChar(CP_ACP, 0, entry.data(), static_cast<int>(entry.size()), nullptr, 0);
            std::wstring wide(static_cast<std::size_t>(std::max(size, 0)), L'\0');
            if (size > 0) {
                MultiByteToWideChar(CP_ACP, 0, entry.data(), static_cast<int>(entry.size()), wide.data(), size);
            }
            out.push_back(Utf8Of(wide));
            text += entry.size() + 1;
        }
    }
    for (const auto& entry : out) {
        if (entry.find('=') == std::string::npos) return Fail(ERROR_BAD_ENVIRONMENT);
    }
    return true;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnSetup {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    SpawnSetup() {
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

DWORD SpawnError(int error, const std::string& path) {
    if (error == ENOEXEC) return ERROR_BAD_EXE_FORMAT;
    if (error == E2BIG) return ERROR_BAD_ENVIRONMENT;
    return PathErrorFromErrno(error, path);
}

}  // namespace

HelperSpawnAttributes::HelperSpawnAttributes() {
    posix_spawnattr_init(&m_attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&m_attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&m_attributes, &signals);
    posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

HelperSpawnAttributes::~HelperSpawnAttributes() {
    posix_spawnattr_destroy(&m_attributes);
}

void ReapWhenEnded(pid_t pid) {
    const int pidfd = Sys().pidfd_open(pid, 0);
    if (pidfd >= 0 && !Reapers().Adopt(pidfd)) Sys().close(pidfd);
}

bool ProcessThreadInfo(HANDLE handle, DWORD& threadId, DWORD& exitCode) {
    const auto thread = KernelHandles().Find<ProcessThreadObject>(handle);
    if (!thread) return false;
    const auto lock = LockWaits();
    thread->Process()->Update();
    threadId = static_cast<DWORD>(thread->Process()->Pid());
    exitCode = thread->Process()->ExitCode();
    return true;
}

}  // namespace vplatform

using namespace vplatform;

extern "C" {

// CreateProcessW but for clearing the caller's record on failure.
static BOOL StartProcess(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, BOOL bInheritHandles, DWORD dwCreationFlags,
                         LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                         LPPROCESS_INFORMATION lpProcessInformation) {
    if (lpProcessInformation == nullptr || lpStartupInfo == nullptr ||
        (dwCreationFlags & (DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if ((dwCreationFlags & CREATE_SUSPENDED) != 0) return Fail(ERROR_NOT_SUPPORTED);

    // The arguments, and the program.
    std::vector<std::wstring> wideArgs;
    if (lpCommandLine != nullptr && *lpCommandLine != 0) {
        wideArgs = SplitCommandLine(lpCommandLine);
    } else if (lpApplicationName != nullptr) {
        wideArgs.emplace_back(lpApplicationName);
    } else {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::wstring program = lpApplicationName != nullptr ? std::wstring(lpApplicationName) : wideArgs.front();
    std::string name;
    std::string path;
    if (!FileSystemPathOf(program.c_str(), name) || !ResolveProgram(name, path)) return FALSE;
    std::vector<std::string> args;
    for (const auto& arg : wideArgs) args.push_back(Utf8Of(arg));
    auto argv = Pointers(args);

    std::vector<std::string> environment;
    if (lpEnvironment != nullptr &&
        !ParseEnvironment(lpEnvironment, (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT) != 0, environment)) {
        return FALSE;
    }
    auto envp = Pointers(environment);

    SpawnSetup setup;
    std::string folder;
    if (lpCurrentDirectory != nullptr) {
        struct statx info {};
        if (!FileSystemPathOf(lpCurrentDirectory, folder) ||
            Sys().statx(AT_FDCWD, folder.c_str(), 0, STATX_TYPE, &info) != 0 || !S_ISDIR(info.stx_mode)) {
            return Fail(ERROR_DIRECTORY);
        }
        posix_spawn_file_actions_addchdir_np(&setup.actions, folder.c_str());
    }

    // Descriptors 0-2: the given handles (the objects are held until the
    // spawn is done) or /dev/null for a missing one.
    std::vector<std::shared_ptr<const HandleObject>> held;
    if ((lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) != 0) {
        const HANDLE handles[3] = {lpStartupInfo->hStdInput, lpStartupInfo->hStdOutput, lpStartupInfo->hStdError};
        for (int target = 0; target < 3; ++target) {
            const HANDLE handle = handles[target];
            if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
                posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY,
                                                 0);
                continue;
            }
            int fd = -1;
            auto object = FileDescriptorOf(handle, fd);
            if (!object) return Fail(ERROR_INVALID_HANDLE);
            held.push_back(std::move(object));
            posix_spawn_file_actions_adddup2(&setup.actions, fd, target);
        }
    }

    // A clean signal state.
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&setup.attributes, &signals);
    // Every signal at its default action, glibc's own two (32 and 33, which
    // sigfillset leaves out and posix_spawn would leave ignored) included.
    std::memset(&signals, 0xFF, sizeof signals);
    posix_spawnattr_setsigdefault(&setup.attributes, &signals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if ((dwCreationFlags & CREATE_NEW_PROCESS_GROUP) != 0) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&setup.attributes, 0);
    }
    posix_spawnattr_setflags(&setup.attributes, flags);

    pid_t pid = 0;
    int error = 0;
    {
        // Only 0-2 and the inheritable descriptors reach the program.
        const auto lock = LockInheritableDescriptors();
        std::vector<int> keep;
        if (bInheritHandles) keep = InheritableDescriptors();
        keep.erase(std::remove_if(keep.begin(), keep.end(), [](int fd) { return fd < 3; }), keep.end());
        const int highest = keep.empty() ? 2 : keep.back();
        for (int fd = 3; fd < highest; ++fd) {
            if (!std::binary_search(keep.begin(), keep.end(), fd))
                posix_spawn_file_actions_addclose(&setup.actions, fd);
        }
        posix_spawn_file_actions_addclosefrom_np(&setup.actions, highest + 1);
        error = Sys().posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv.data(),
                                  lpEnvironment != nullptr ? envp.data() : environ);
    }
    if (error != 0) return Fail(SpawnError(error, path));

    const int pidfd = Sys().pidfd_open(pid, 0);
    if (pidfd < 0) {
        // Without a descriptor the child could not be followed: end it.
        const DWORD failure = ErrorFromErrno(errno);
        Sys().kill(pid, SIGKILL);
        siginfo_t info{};
        Sys().waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED);
        return Fail(failure);
    }
    auto process = std::make_shared<ProcessObject>(pid, pidfd);
    const HANDLE processHandle = KernelHandles().Insert(process);
    HANDLE threadHandle = nullptr;
    if (processHandle != nullptr) threadHandle = KernelHandles().Insert(std::make_shared<ProcessThreadObject>(process));
    if (threadHandle == nullptr) {
        const DWORD failure = GetLastError();
        {
            const auto lock = LockWaits();
            process->Terminate(0);
        }
        if (processHandle != nullptr) KernelHandles().Close(processHandle);
        return Fail(failure);
    }
    *lpProcessInformation = {processHandle, threadHandle, static_cast<DWORD>(pid), static_cast<DWORD>(pid)};
    return TRUE;
}

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL bInheritHandles, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                    LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
    const BOOL started = StartProcess(lpApplicationName, lpCommandLine, bInheritHandles, dwCreationFlags, lpEnvironment,
                                      lpCurrentDirectory, lpStartupInfo, lpProcessInformation);
    // As on Windows, a failure leaves no handles or ids for cleanup code to
    // close.
    if (!started && lpProcessInformation != nullptr) *lpProcessInformation = {};
    return started;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    if (lpExitCode == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (IsCurrentProcessPseudoHandle(hProcess)) {
        *lpExitCode = STILL_ACTIVE;
        return TRUE;
    }
    const auto process = KernelHandles().Lookup<ProcessObject>(hProcess);
    if (!process) return FALSE;
    const auto lock = LockWaits();
    process->Update();
    *lpExitCode = process->ExitCode();
    return TRUE;
}

BOOL TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    if (IsCurrentProcessPseudoHandle(hProcess)) std::_Exit(static_cast<int>(uExitCode & 0xFF));
    const auto process = KernelHandles().Lookup<ProcessObject>(hProcess);
    if (!process) return FALSE;
    const auto lock = LockWaits();
    return process->Terminate(uExitCode) ? TRUE : FALSE;
}

DWORD GetProcessId(HANDLE hProcess) {
    if (IsCurrentProcessPseudoHandle(hProcess)) return static_cast<DWORD>(Sys().getpid());
    const auto process = KernelHandles().Lookup<ProcessObject>(hProcess);
    return process ? static_cast<DWORD>(process->Pid()) : 0;
}
}

// The crash-report layer's crash path: the signal and terminate handlers,
// the "Crash" thread that runs the callback and asks the reporter process
// for the report, and the report the handler writes itself when the reporter
// does not answer: what runs when the process crashes.
#include "platform/crashreport/internal/CrashState.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/prctl.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "platform/WinError.h"
#include "platform/crashreport/internal/ReportText.h"
#include "platform/crashreport/internal/ReporterProtocol.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/internal/Clock.h"
#include "platform/kernel/internal/Processes.h"

namespace vplatform::crash::handling {

// How long the report's writer waits for the reporter's answer.
constexpr int kReporterAnswerMilliseconds = 10000;
// How much longer the handler waits for a report the crash thread is writing
// once the reporter's time is up (writing the bare-address report).
constexpr int kRawReportMilliseconds = 1000;
// Names a crash tries for its report folder ("", "-2" … "-16" after the pid).
constexpr int kReportNames = 16;
// The thread handling the crash (0: none yet) and its signal.
std::atomic<pid_t> g_crashingThread{0};
std::atomic<int> g_firstSignal{0};

// --- Async-signal-safe helpers ---

// False when a write fails (ENOSPC among others) before all is written; a
// short write is continued.
bool WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = Sys().write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// mkdir -p on a copy of `path`, new folders private to the user; true when
// the folder exists afterwards.
bool MakeDirectories(const char* path) {
    char copy[kPathBytes];
    const std::size_t length = strnlen(path, kPathBytes - 1);
    std::memcpy(copy, path, length);
    copy[length] = '\0';
    for (std::size_t i = 1; i <= length; ++i) {
        if (copy[i] != '/' && copy[i] != '\0') continue;
        const char saved = copy[i];
        copy[i] = '\0';
        if (Sys().mkdir(copy, 0700) != 0 && errno != EEXIST) return false;
        copy[i] = saved;
    }
    struct statx status {};
    return Sys().statx(AT_FDCWD, path, 0, STATX_TYPE, &status) == 0 && S_ISDIR(status.stx_mode);
}

// A save folder must be the user's, and nobody else may put entries into it
// (and so swap a report folder for their own) unless the sticky bit keeps
// them off the user's names.
SaveFolderFault CheckSaveFolder(int fd) {
    struct statx status {};
    if (Sys().statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_UID, &status) != 0 ||
        !S_ISDIR(status.stx_mode))
        return SaveFolderFault::NoFolder;
    if (status.stx_uid != g_state.owner) return SaveFolderFault::AnotherUsers;
    if ((status.stx_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.stx_mode & S_ISVTX) == 0)
        return SaveFolderFault::WritableByOthers;
    return SaveFolderFault::None;
}

// Opens the folder at `path` as the save folder; -1 when it cannot be opened
// or is refused (`fault` says why).
int OpenSaveFolder(const char* path, SaveFolderFault& fault) {
    fault = SaveFolderFault::NoFolder;
    const int fd = Sys().open(path, O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return -1;
    fault = CheckSaveFolder(fd);
    if (fault == SaveFolderFault::None) return fd;
    Sys().close(fd);
    return -1;
}

void SetDisposition(int signal, const struct sigaction& action) {
    Sys().sigaction(signal, &action, nullptr);
}

void Unblock(int signal) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    Sys().sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// Ends the process with `signal`'s default action.
[[noreturn]] void DieBy(int signal) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    SetDisposition(signal, defaults);
    Unblock(signal);
    Sys().tgkill(Sys().getpid(), Sys().gettid(), signal);
    _exit(128 + signal);
}

// --- Unwinding ---

struct UnwindCursor {
    std::uint64_t* frames;
    std::size_t count;
    std::size_t capacity;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* data) {
    auto* cursor = static_cast<UnwindCursor*>(data);
    if (cursor->count == cursor->capacity) return _URC_END_OF_STACK;
    int beforeInstruction = 0;
    const _Unwind_Ptr ip = _Unwind_GetIPInfo(context, &beforeInstruction);
    if (ip == 0) return _URC_END_OF_STACK;
    cursor->frames[cursor->count++] = ip;
    return _URC_NO_REASON;
}

std::uint64_t InterruptedPc(void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uint64_t>(uc->uc_mcontext.pc);
#else
    (void)uc;
    return 0;
#endif
}

// Unwinds the crashed thread from inside its handler and keeps the frames
// from the interrupted instruction outwards.
void RecordFrames(void* context) {
    UnwindCursor cursor{g_state.frames, 0, kMaxFrames};
    _Unwind_Backtrace(CollectFrame, &cursor);
    const std::uint64_t pc = InterruptedPc(context);
    std::size_t first = cursor.count;
    for (std::size_t i = 0; i < cursor.count; ++i) {
        if (g_state.frames[i] == pc) {
            first = i;
            break;
        }
    }
    if (first == cursor.count) {
        // The unwinder did not pass the signal frame: the interrupted
        // instruction alone is known.
        g_state.frames[0] = pc;
        cursor.count = pc != 0 ? 1 : 0;
        first = 0;
    }
    std::memmove(g_state.frames, g_state.frames + first, (cursor.count - first) * sizeof(std::uint64_t));
    g_state.facts.nFrames = static_cast<UINT>(cursor.count - first);
    g_state.facts.pFrames = g_state.frames;
}

// --- The report ---

// Makes the save folder again at its path when it was removed (once per
// crash), checked as at installation.
bool ReopenSaveFolder() {
    if (g_state.saveFd >= 0) Sys().close(g_state.saveFd);
    g_state.saveFd = -1;
    SaveFolderFault fault;
    if (MakeDirectories(g_state.saveFolder)) g_state.saveFd = OpenSaveFolder(g_state.saveFolder, fault);
    return g_state.saveFd >= 0;
}

// Makes the report folder <save folder>/crash-YYYYMMDD-HHMMSS-<pid> (local
// time) relative to the save folder's descriptor, private to the user: a name
// that exists already is never used (then "-2", "-3"… follow), and what is
// opened is the folder just made, never a link.  Leaves no report folder when
// none can be made.
void MakeReportFolder() {
    g_state.reportFolder[0] = '\0';
    g_state.reportFolderWide[0] = L'\0';
    g_state.reportName[0] = '\0';
    g_state.reportFd = -1;
    if (g_state.saveFolder[0] == '\0') return;
    bool reopened = false;
    for (int attempt = 1; attempt <= kReportNames;) {
        TextBuffer name(g_state.reportName, sizeof g_state.reportName);
        name.Append("crash-");
        vplatform::crash::AppendCompactTime(name, g_state.facts.nTimeSeconds + g_state.utcOffsetSeconds);
        name.Append("-");
        name.AppendDecimal(g_state.pid);
        if (attempt > 1) {
            name.Append("-");
            name.AppendDecimal(attempt);
        }
        if (g_state.saveFd < 0 || Sys().mkdirat(g_state.saveFd, g_state.reportName, 0700) != 0) {
            if (g_state.saveFd >= 0 && errno == EEXIST) {
                ++attempt;
                continue;
            }
            if (reopened || !ReopenSaveFolder()) break;
            reopened = true;
            continue;
        }
        const int fd =
            Sys().openat(g_state.saveFd, g_state.reportName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
        struct statx status {};
        if (fd >= 0 && Sys().statx(fd, "", AT_EMPTY_PATH, STATX_UID, &status) == 0 && status.stx_uid == g_state.owner &&
            Sys().fchmod(fd, 0700) == 0) {
            g_state.reportFd = fd;
            TextBuffer path(g_state.reportFolder, sizeof g_state.reportFolder);
            path.Append(g_state.saveFolder);
            path.Append("/");
            path.Append(g_state.reportName);
            vplatform::crash::Utf8ToUtf16(g_state.reportFolder, g_state.reportFolderWide, kPathBytes);
            return;
        }
        // Replaced between the two calls: another name.
        if (fd >= 0) Sys().close(fd);
        ++attempt;
    }
    g_state.reportName[0] = '\0';
}

// Closes the report folder and removes it when it is empty (its files could
// not be written): then no report folder is named.
void DropReportFolder() {
    if (g_state.reportFd < 0) return;
    Sys().close(g_state.reportFd);
    g_state.reportFd = -1;
    Sys().unlinkat(g_state.saveFd, g_state.reportName, AT_REMOVEDIR);
    g_state.reportFolder[0] = '\0';
    g_state.reportFolderWide[0] = L'\0';
}

// Writes a new file `name` into the report folder, never through a link nor
// into a file that exists, private to the user.  `made` tells whether it was
// created.  False when it cannot be created or not all of it is written.
bool WriteReportFile(const char* name, const TextBuffer& text, bool& made) {
    const int fd = Sys().openat(g_state.reportFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    made = true;
    const bool written = WriteAll(fd, text.Data(), text.Size());
    return Sys().close(fd) == 0 && written;
}

// Writes crash.json and stack.txt into the report folder, the frames as
// bare addresses; when there is no report folder, or the files cannot be
// written whole (they are removed then, and the empty folder too), the facts
// and frames go to stderr.  Async-signal-safe: the handler writes this when
// the reporter does not answer.
void WriteRawReport() {
    const CR_CRASH_FACTS& facts = g_state.facts;
    TextBuffer json(g_state.text, sizeof g_state.text / 2);
    vplatform::crash::AppendFactsJson(json, facts, g_state.pid, g_state.utcOffsetSeconds, g_state.appName,
                                      g_state.appVersion);
    TextBuffer stack(g_state.text + sizeof g_state.text / 2, sizeof g_state.text / 2);
    for (UINT i = 0; i < facts.nFrames; ++i) {
        stack.Append("#");
        stack.AppendDecimal(i);
        stack.Append(i < 10 ? "   0x" : "  0x");
        stack.AppendHex(facts.pFrames[i], 16);
        stack.Append("\n");
    }
    if (g_state.reportFd >= 0) {
        bool madeFacts = false;
        bool madeStack = false;
        if (WriteReportFile("crash.json", json, madeFacts) && WriteReportFile("stack.txt", stack, madeStack)) return;
        if (madeFacts) Sys().unlinkat(g_state.reportFd, "crash.json", 0);
        if (madeStack) Sys().unlinkat(g_state.reportFd, "stack.txt", 0);
        DropReportFolder();
    }
    WriteAll(STDERR_FILENO, json.Data(), json.Size());
    WriteAll(STDERR_FILENO, stack.Data(), stack.Size());
}

// --- The crash thread ---

int CallCallback(PFNCRASHCALLBACKW callback, int stage) {
    CR_CRASH_CALLBACK_INFOW info{};
    info.cb = sizeof info;
    info.nStage = stage;
    info.pszErrorReportFolder = g_state.reportFolderWide;
    info.pFacts = &g_state.facts;
    info.pUserParam = g_userParam.load();
    try {
        return callback(&info);
    } catch (...) {
        return CR_CB_DODEFAULT;
    }
}

std::int64_t MonotonicMilliseconds() {
    struct timespec now {};
    Sys().clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Hands the crash, and the report folder's descriptor, to the reporter
// process and waits for its answer until the writer's deadline; false when
// there is no reporter, it is gone, too slow, or it wrote nothing.  The
// reporter needs nothing from the crashed process: this may run in the
// handler.
bool AskReporter() {
    const int socket = g_state.reporterSocket;
    if (socket < 0) return false;
    vplatform::crash::CrashMessage& message = g_state.message;
    message.magic = vplatform::crash::kCrashMagic;
    message.pid = g_state.pid;
    message.utcOffsetSeconds = g_state.utcOffsetSeconds;
    std::memcpy(message.appName, g_state.appName, sizeof message.appName);
    std::memcpy(message.appVersion, g_state.appVersion, sizeof message.appVersion);
    message.toFolder = g_state.reportFd >= 0 ? 1 : 0;
    message.facts = g_state.facts;
    message.facts.pFrames = nullptr;
    std::memcpy(message.frames, g_state.frames, sizeof message.frames);
    struct iovec part {
        &message, sizeof message
    };
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    struct msghdr packet {};
    packet.msg_iov = &part;
    packet.msg_iovlen = 1;
    if (message.toFolder != 0) {
        packet.msg_control = control;
        packet.msg_controllen = sizeof control;
        struct cmsghdr* rights = CMSG_FIRSTHDR(&packet);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(rights), &g_state.reportFd, sizeof(int));
    }
    if (Sys().sendmsg(socket, &packet, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof message)) return false;
    for (;;) {
        const std::int64_t left = g_reportDeadline.load() - MonotonicMilliseconds();
        if (left <= 0) return false;
        struct pollfd answerReady {
            socket, POLLIN, 0
        };
        const int ready = Sys().poll(&answerReady, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        vplatform::crash::ReporterAnswer answer{};
        const ssize_t got = Sys().recv(socket, &answer, sizeof answer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got != static_cast<ssize_t>(sizeof answer) || answer.magic != vplatform::crash::kAnswerMagic ||
            answer.source == vplatform::crash::ReportSource::Failed)
            return false;
        // Its files could not be written: it wrote the report to stderr.
        if (answer.place != vplatform::crash::ReportPlace::Folder) DropReportFolder();
        return true;
    }
}

// Takes the writing of the report for the calling thread (the crash thread
// or the handler); false when the other one has it.
bool ClaimReport() {
    std::int64_t unclaimed = 0;
    return g_reportDeadline.compare_exchange_strong(unclaimed, MonotonicMilliseconds() + kReporterAnswerMilliseconds);
}

// The reporter writes the report; without its answer, the bare addresses.
void WriteReport() {
    if (!AskReporter()) WriteRawReport();
    g_reportWritten = true;
}

void CrashThreadMain() {
    // Signals meant for the process go to other threads; a fault of the
    // callback still reaches the handler (which parks this thread).
    sigset_t requests;
    sigfillset(&requests);
    for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) sigdelset(&requests, fault);
    Sys().sigprocmask(SIG_BLOCK, &requests, nullptr);
    Sys().pthread_setname_np(pthread_self(), "Crash");
    InstallThreadStack();
    for (;;) {
        char command = 0;
        const ssize_t got = Sys().read(g_state.goPipe[0], &command, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got != 1 || command != 'c') break;
        const PFNCRASHCALLBACKW callback = g_callback.load();
        int result = CR_CB_NEXT_STAGE;
        if (callback != nullptr) result = CallCallback(callback, CR_CB_STAGE_PREPARE);
        // The handler took the report when the callback ran over its time.
        if (ClaimReport()) {
            WriteReport();
            WriteAll(g_state.donePipe[1], "w", 1);
            if (callback != nullptr && result == CR_CB_NEXT_STAGE) CallCallback(callback, CR_CB_STAGE_FINISH);
        }
        WriteAll(g_state.donePipe[1], "d", 1);
    }
    crUninstallFromCurrentThread();
}

// Reads the crash thread's replies on the done pipe until `until` says so
// or `deadline` (monotonic ms) passes; false then.  'w': the report is
// written; 'd': the crash thread is done.
template <class Until>
bool AwaitCrashThread(std::int64_t deadline, Until until) {
    for (;;) {
        const std::int64_t left = deadline - MonotonicMilliseconds();
        if (left <= 0) return false;
        struct pollfd reply {
            g_state.donePipe[0], POLLIN, 0
        };
        const int ready = Sys().poll(&reply, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char said = 0;
        const ssize_t got = Sys().read(g_state.donePipe[0], &said, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got != 1) return false;
        if (until(said)) return true;
    }
}

// Wakes the crash thread and waits until it is done, bounded by the callback
// limit.  When it is abandoned before the report is written, the handler
// asks the reporter itself, or, when the crash thread is writing the report,
// waits for that a bounded while more.
void RunCrashThread() {
    const std::int64_t deadline = MonotonicMilliseconds() + g_limitMilliseconds.load();
    WriteAll(g_state.goPipe[1], "c", 1);
    if (AwaitCrashThread(deadline, [](char said) { return said == 'd'; })) return;
    if (ClaimReport()) return WriteReport();
    if (!g_reportWritten.load())
        AwaitCrashThread(g_reportDeadline.load() + kRawReportMilliseconds, [](char said) { return said == 'w'; });
}

// --- The handlers ---

void RecordFacts(int signal, const siginfo_t* info, void* context) {
    CR_CRASH_FACTS& facts = g_state.facts;
    facts.nSignal = signal;
    facts.nCode = info != nullptr ? info->si_code : 0;
    // Only a fault the kernel raised has an address; a sent signal's si_addr
    // overlays the sender's ids.
    facts.uAddress = info != nullptr && info->si_code > 0 ? reinterpret_cast<std::uint64_t>(info->si_addr) : 0;
    facts.uThreadId = static_cast<std::uint64_t>(Sys().gettid());
    if (Sys().get_thread_name(facts.szThreadName) != 0) facts.szThreadName[0] = '\0';
    facts.szThreadName[sizeof facts.szThreadName - 1] = '\0';
    const timespec now = vplatform::clock::Now();
    facts.nTimeSeconds = now.tv_sec;
    facts.nTimeNanoseconds = static_cast<std::int32_t>(now.tv_nsec);
    if (context != nullptr) RecordFrames(context);
}

void CrashSignalHandler(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    // A child forked from the installed process takes the default action.
    if (Sys().getpid() != g_state.pid) DieBy(signal);
    const pid_t self = Sys().gettid();
    pid_t expected = 0;
    if (!g_crashingThread.compare_exchange_strong(expected, self)) {
        // A fault inside the handling ends the process with the first signal.
        if (expected == self) DieBy(g_firstSignal.load());
        // Another thread is handling its crash, which ends the process.
        for (;;) Sys().poll(nullptr, 0, -1);
    }
    g_firstSignal = signal;
    RecordFacts(signal, info, context);
    MakeReportFolder();
    RunCrashThread();

    // Put back the previous disposition and raise the signal again: a default
    // one ends the process as the signal would have without us.
    SetDisposition(signal, g_state.previous[signal]);
    Unblock(signal);
    Sys().tgkill(g_state.pid, self, signal);
    errno = savedErrno;
}

void CopyText(char* out, std::size_t size, const char* text) {
    const std::size_t length = strnlen(text, size - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
}

// std::terminate: records the exception in flight, then aborts into the
// SIGABRT handler.
[[noreturn]] void TerminateHandler() {
    CR_CRASH_FACTS& facts = g_state.facts;
    facts.bTerminate = TRUE;
    if (const std::type_info* type = abi::__cxa_current_exception_type(); type != nullptr) {
        int status = -1;
        char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
        CopyText(facts.szExceptionType, sizeof facts.szExceptionType,
                 status == 0 && demangled != nullptr ? demangled : type->name());
        std::free(demangled);
        try {
            throw;
        } catch (const std::exception& error) {
            CopyText(facts.szExceptionWhat, sizeof facts.szExceptionWhat, error.what());
        } catch (...) {
        }
    }
    std::abort();
}

}  // namespace vplatform::crash::handling

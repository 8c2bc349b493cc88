// The crash-report layer: the process installation with its signal and
// terminate handlers, the "Crash" thread, the report writer, and per-thread
// alternate signal stacks.
#include "platform/crashreport/CrashReport.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elfutils/libdwfl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <ucontext.h>
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
#include <typeinfo>

#include "platform/crashreport/internal/ReportText.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/WinError.h"

namespace {

using vplatform::Sys;
using vplatform::crash::TextBuffer;

// Large enough for the handler's unwinding and report formatting, also in
// instrumented builds.
constexpr std::size_t kCrashStackSize = 256 * 1024;
constexpr std::size_t kMaxFrames = 128;
constexpr std::size_t kPathBytes = 4096;

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

// Everything a crash uses, reserved at install (static storage, no
// constructor: the handler never allocates).
struct ReportState {
    pid_t pid;
    char saveFolder[kPathBytes];  // file-system form, "" for none
    char appName[256];
    char appVersion[128];
    long utcOffsetSeconds;  // local time's offset, taken at install
    int goPipe[2];          // handler -> crash thread
    int donePipe[2];        // crash thread -> handler
    bool handled[NSIG];
    struct sigaction previous[NSIG];
    std::terminate_handler previousTerminate;
    bool terminateHandled;
    // The crash.
    CR_CRASH_FACTS facts;
    std::uint64_t frames[kMaxFrames];
    char reportFolder[kPathBytes];
    wchar_t reportFolderWide[kPathBytes];
    char text[64 * 1024];  // formatting room for the report files
};
ReportState g_state;

std::atomic<bool> g_processInstalled{false};
std::atomic<PFNCRASHCALLBACKW> g_callback{nullptr};
std::atomic<LPVOID> g_userParam{nullptr};
std::atomic<DWORD> g_limitMilliseconds{10000};
// The thread handling the crash (0: none yet) and its signal.
std::atomic<pid_t> g_crashingThread{0};
std::atomic<int> g_firstSignal{0};
// Set by the crash thread once the report files are written.
std::atomic<bool> g_reportWritten{false};
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

// --- Async-signal-safe helpers ---

void WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = Sys().write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

// mkdir -p on a copy of `path`; true when the folder exists afterwards.
bool MakeDirectories(const char* path) {
    char copy[kPathBytes];
    const std::size_t length = strnlen(path, kPathBytes - 1);
    std::memcpy(copy, path, length);
    copy[length] = '\0';
    for (std::size_t i = 1; i <= length; ++i) {
        if (copy[i] != '/' && copy[i] != '\0') continue;
        const char saved = copy[i];
        copy[i] = '\0';
        if (Sys().mkdir(copy, 0777) != 0 && errno != EEXIST) return false;
        copy[i] = saved;
    }
    struct statx status {};
    return Sys().statx(AT_FDCWD, path, 0, STATX_TYPE, &status) == 0 && S_ISDIR(status.stx_mode);
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

_Unwind_Reason_Code CountFrame(_Unwind_Context*, void*) {
    return _URC_NO_REASON;
}

// --- The report ---

// <save folder>/crash-YYYYMMDD-HHMMSS-<pid> in both forms.
void NameReportFolder() {
    g_state.reportFolder[0] = '\0';
    g_state.reportFolderWide[0] = L'\0';
    if (g_state.saveFolder[0] == '\0') return;
    TextBuffer name(g_state.reportFolder, sizeof g_state.reportFolder);
    name.Append(g_state.saveFolder);
    name.Append("/crash-");
    vplatform::crash::AppendCompactTime(name, g_state.facts.nTimeSeconds + g_state.utcOffsetSeconds);
    name.Append("-");
    name.AppendDecimal(g_state.pid);
    vplatform::crash::Utf8ToUtf16(g_state.reportFolder, g_state.reportFolderWide, kPathBytes);
}

using Symbolizer = void (*)(TextBuffer& line, std::uint64_t address, bool caller);

// Module+offset and the nearest exported function, from the dynamic loader.
void SymbolizeWithLoader(TextBuffer& line, std::uint64_t address, bool caller) {
    Dl_info info{};
    // A return address may lie just past the call's function.
    const std::uint64_t lookup = caller ? address - 1 : address;
    if (dladdr(reinterpret_cast<void*>(lookup), &info) == 0 || info.dli_fname == nullptr) return;
    const char* slash = std::strrchr(info.dli_fname, '/');
    line.Append("  ");
    line.Append(slash != nullptr ? slash + 1 : info.dli_fname);
    line.Append("+0x");
    line.AppendHex(address - reinterpret_cast<std::uint64_t>(info.dli_fbase));
    if (info.dli_sname == nullptr) return;
    line.Append("  ");
    int status = -1;
    char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    line.Append(status == 0 && demangled != nullptr ? demangled : info.dli_sname);
    std::free(demangled);
    line.Append("+0x");
    line.AppendHex(address - reinterpret_cast<std::uint64_t>(info.dli_saddr));
}

// The crashed process as libdw sees it, opened by the crash thread for one
// report (null: symbolize with the loader alone).
Dwfl* g_dwfl = nullptr;

Dwfl* OpenSelfForSymbols() {
    // A crash never waits for a debuginfo server.
    unsetenv("DEBUGINFOD_URLS");
    static char* debugInfoPath = nullptr;
    static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                             &debugInfoPath};
    Dwfl* dwfl = dwfl_begin(&callbacks);
    if (dwfl == nullptr) return nullptr;
    if (dwfl_linux_proc_report(dwfl, g_state.pid) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
        dwfl_end(dwfl);
        return nullptr;
    }
    return dwfl;
}

void AppendDemangled(TextBuffer& line, const char* name) {
    int status = -1;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    line.Append(status == 0 && demangled != nullptr ? demangled : name);
    std::free(demangled);
}

// Module+offset, the function (static ones too) and its source line, from the
// modules' symbol tables and debug information.
void SymbolizeWithDw(TextBuffer& line, std::uint64_t address, bool caller) {
    const Dwarf_Addr lookup = caller ? address - 1 : address;
    Dwfl_Module* module = g_dwfl != nullptr ? dwfl_addrmodule(g_dwfl, lookup) : nullptr;
    if (module == nullptr) return SymbolizeWithLoader(line, address, caller);
    Dwarf_Addr start = 0;
    const char* moduleName = dwfl_module_info(module, nullptr, &start, nullptr, nullptr, nullptr, nullptr, nullptr);
    const char* slash = moduleName != nullptr ? std::strrchr(moduleName, '/') : nullptr;
    line.Append("  ");
    line.Append(slash != nullptr ? slash + 1 : (moduleName != nullptr ? moduleName : "?"));
    line.Append("+0x");
    line.AppendHex(address - start);
    GElf_Off offset = 0;
    GElf_Sym symbol{};
    if (const char* name = dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr)) {
        line.Append("  ");
        AppendDemangled(line, name);
        line.Append("+0x");
        line.AppendHex(offset + (address - lookup));
    }
    if (Dwfl_Line* source = dwfl_module_getsrc(module, lookup)) {
        int lineNumber = 0;
        if (const char* file = dwfl_lineinfo(source, nullptr, &lineNumber, nullptr, nullptr, nullptr)) {
            line.Append("  ");
            line.Append(file);
            line.Append(":");
            line.AppendDecimal(lineNumber);
        }
    }
}

int AppendModule(Dwfl_Module* module, void**, const char* name, Dwarf_Addr start, void* data) {
    auto& out = *static_cast<TextBuffer*>(data);
    out.Append("0x");
    out.AppendHex(start, 16);
    out.Append("  ");
    out.Append(name != nullptr ? name : "?");
    const unsigned char* bits = nullptr;
    GElf_Addr vaddr = 0;
    const int length = dwfl_module_build_id(module, &bits, &vaddr);
    if (length > 0) {
        out.Append("  build-id ");
        for (int i = 0; i < length; ++i) out.AppendHex(bits[i], 2);
    }
    out.Append("\n");
    return DWARF_CB_OK;
}

// The loaded modules with their load address and build id.
void AppendModules(TextBuffer& out) {
    if (g_dwfl == nullptr) return;
    out.Append("\nModules:\n");
    dwfl_getmodules(g_dwfl, AppendModule, &out, 0);
}

bool WriteFile(const char* folder, const char* name, const TextBuffer& text) {
    char path[kPathBytes + 32];
    TextBuffer file(path, sizeof path);
    file.Append(folder);
    file.Append("/");
    file.Append(name);
    const int fd = Sys().open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    WriteAll(fd, text.Data(), text.Size());
    Sys().close(fd);
    return true;
}

// Writes crash.json and stack.txt into the report folder (recreating the save
// folder when it was removed); without a report folder, the facts and frames
// go to stderr.  Async-signal-safe when `symbolize` is null.
void WriteReport(Symbolizer symbolize, void (*appendModules)(TextBuffer&) = nullptr) {
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
        if (symbolize != nullptr) symbolize(stack, facts.pFrames[i], i > 0);
        stack.Append("\n");
    }
    if (appendModules != nullptr) appendModules(stack);
    const bool toFolder = g_state.reportFolder[0] != '\0' && MakeDirectories(g_state.reportFolder) &&
                          WriteFile(g_state.reportFolder, "crash.json", json) &&
                          WriteFile(g_state.reportFolder, "stack.txt", stack);
    if (!toFolder) {
        WriteAll(STDERR_FILENO, json.Data(), json.Size());
        WriteAll(STDERR_FILENO, stack.Data(), stack.Size());
    }
}

// --- The crash thread ---

int InstallThreadStack();

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
        g_dwfl = OpenSelfForSymbols();
        WriteReport(SymbolizeWithDw, AppendModules);
        g_reportWritten = true;
        if (callback != nullptr && result == CR_CB_NEXT_STAGE) CallCallback(callback, CR_CB_STAGE_FINISH);
        WriteAll(g_state.donePipe[1], "d", 1);
    }
    crUninstallFromCurrentThread();
}

std::int64_t MonotonicMilliseconds() {
    struct timespec now {};
    Sys().clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

// Wakes the crash thread and waits, bounded, until it is done.
bool RunCrashThread() {
    WriteAll(g_state.goPipe[1], "c", 1);
    const std::int64_t deadline = MonotonicMilliseconds() + g_limitMilliseconds.load();
    for (;;) {
        const std::int64_t left = deadline - MonotonicMilliseconds();
        if (left <= 0) return false;
        struct pollfd done {
            g_state.donePipe[0], POLLIN, 0
        };
        const int ready = Sys().poll(&done, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char reply = 0;
        return Sys().read(g_state.donePipe[0], &reply, 1) == 1;
    }
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
    struct timespec now {};
    Sys().clock_gettime(CLOCK_REALTIME, &now);
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
    NameReportFolder();
    if (!RunCrashThread() && !g_reportWritten.load()) WriteReport(nullptr);

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

// --- Installation ---

void ClosePipes() {
    for (int* pipe : {g_state.goPipe, g_state.donePipe}) {
        for (int i = 0; i < 2; ++i) {
            if (pipe[i] >= 0) Sys().close(pipe[i]);
            pipe[i] = -1;
        }
    }
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

void StopCrashThread() {
    if (g_crashThread != nullptr) {
        WriteAll(g_state.goPipe[1], "q", 1);
        g_crashThread->join();
        delete g_crashThread;
        g_crashThread = nullptr;
    }
    ClosePipes();
}

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

int InstallProcess(const CR_INSTALL_INFOW& info) {
    g_state.goPipe[0] = g_state.goPipe[1] = g_state.donePipe[0] = g_state.donePipe[1] = -1;
    CopyText(g_state.appName, sizeof g_state.appName, vplatform::crash::Utf16ToUtf8(info.pszAppName).c_str());
    CopyText(g_state.appVersion, sizeof g_state.appVersion, vplatform::crash::Utf16ToUtf8(info.pszAppVersion).c_str());
    g_state.saveFolder[0] = '\0';
    if (info.pszErrorReportSaveDir != nullptr && info.pszErrorReportSaveDir[0] != L'\0') {
        std::string folder;
        // Room for the report folder's name after it.
        if (!vplatform::ToFileSystemPath(info.pszErrorReportSaveDir, folder) || folder.size() > kPathBytes - 64)
            return Fail(ERROR_INVALID_PARAMETER, L"The report folder has no usable path.");
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        const std::wstring wide(info.pszErrorReportSaveDir);
        if (!MakeDirectories(folder.c_str())) {
            const int error = errno;
            return Fail(vplatform::ErrorFromErrno(error), L"The report folder cannot be created: " + wide);
        }
        if (Sys().access(folder.c_str(), W_OK | X_OK) != 0) {
            const int error = errno;
            return Fail(vplatform::ErrorFromErrno(error), L"The report folder cannot be written: " + wide);
        }
        CopyText(g_state.saveFolder, sizeof g_state.saveFolder, folder.c_str());
    }
    const time_t now = time(nullptr);
    struct tm local {};
    g_state.utcOffsetSeconds = Sys().localtime_r(&now, &local) != nullptr ? local.tm_gmtoff : 0;
    g_state.pid = Sys().getpid();
    g_state.facts = {};
    g_reportWritten = false;

    if (Sys().pipe2(g_state.goPipe, O_CLOEXEC) != 0 || Sys().pipe2(g_state.donePipe, O_CLOEXEC) != 0) {
        const int error = errno;
        ClosePipes();
        return Fail(vplatform::ErrorFromErrno(error), L"The crash thread's pipes could not be made.");
    }
    try {
        g_crashThread = new std::thread(CrashThreadMain);
    } catch (const std::system_error&) {
        ClosePipes();
        return Fail(ERROR_NOT_ENOUGH_MEMORY, L"The crash thread could not be started.");
    }
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

void vplatformSetCrashCallbackLimit(DWORD milliseconds) {
    g_limitMilliseconds = milliseconds;
}

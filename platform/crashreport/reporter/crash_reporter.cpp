// vlib-crash-reporter: the process that writes a crashed process's report.
//
// crInstallW starts it with one end of a SOCK_SEQPACKET socket as descriptor
// 3 and the application's pid as its argument.  It leaves its starter at once
// (the first process ends, its child does the work, so it is nobody's child in
// the application), says hello with its pid, reads the application's modules
// (symbol tables, debug information, unwind tables) while the application is
// sound, and waits.  At a crash it gets the facts and the handler's own frames,
// attaches to the crashed thread with ptrace, unwinds it with libdw, names
// every frame (module+offset, function, file:line), lists the modules with
// their build ids and the process's threads, lets go of the process, writes
// crash.json and stack.txt into the report folder whose descriptor came with
// the crash (new files, never through a link, private to the user) and
// answers.  When the attach is refused it names the handler's frames instead.
// Without a report folder, or when its files cannot be written whole (they
// are removed then), the report goes to the standard error it inherited.  It
// ends when the socket closes.
#include <dirent.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cxxabi.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crashreport/internal/ReportText.h"
#include "platform/crashreport/internal/ReporterProtocol.h"

namespace {

using vplatform::crash::CrashMessage;
using vplatform::crash::ReportSource;
using vplatform::crash::TextBuffer;

// The handler's frames, the signal frame and a few of libc's lie above the
// crashed function on the crashed thread's stack.
constexpr std::size_t kScanFrames = vplatform::crash::kMaxFrames + 64;

struct Frame {
    Dwarf_Addr pc;
    bool exact;  // the interrupted instruction itself, not a return address
};

// False when a write fails (ENOSPC among others) before all is written; a
// short write is continued.
bool WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// A new file `name` in `folder`, never through a link nor into a file that
// exists; `made` tells whether it was created.  False unless all is written.
bool WriteFile(int folder, const char* name, const TextBuffer& text, bool& made) {
    const int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    made = true;
    const bool written = WriteAll(fd, text.Data(), text.Size());
    return close(fd) == 0 && written;
}

// Both files into `folder`, whole, or neither.
bool WriteReportFiles(int folder, const TextBuffer& json, const TextBuffer& stack) {
    bool madeFacts = false;
    bool madeStack = false;
    if (WriteFile(folder, "crash.json", json, madeFacts) && WriteFile(folder, "stack.txt", stack, madeStack))
        return true;
    if (madeFacts) unlinkat(folder, "crash.json", 0);
    if (madeStack) unlinkat(folder, "stack.txt", 0);
    return false;
}

void AppendDemangled(TextBuffer& line, const char* name) {
    int status = -1;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    line.Append(status == 0 && demangled != nullptr ? demangled : name);
    std::free(demangled);
}

// Module+offset, the function (static ones too) and its source line, from the
// modules' symbol tables and debug information.
void Symbolize(Dwfl* dwfl, TextBuffer& line, std::uint64_t address, bool exact) {
    // A return address may lie just past the call's function.
    const Dwarf_Addr lookup = exact ? address : address - 1;
    Dwfl_Module* module = dwfl != nullptr ? dwfl_addrmodule(dwfl, lookup) : nullptr;
    if (module == nullptr) return;
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

// Every thread of the process with its name; the crashed one marked.
void AppendThreads(TextBuffer& out, pid_t pid, std::uint64_t crashed) {
    const std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR* tasks = opendir(folder.c_str());
    if (tasks == nullptr) return;
    out.Append("\nThreads:\n");
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        char name[64] = {};
        const int fd = open((folder + "/" + entry->d_name + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            const ssize_t got = read(fd, name, sizeof name - 1);
            close(fd);
            if (got > 0 && name[got - 1] == '\n') name[got - 1] = '\0';
        }
        out.Append(entry->d_name);
        out.Append("  ");
        out.Append(name);
        if (std::strtoull(entry->d_name, nullptr, 10) == crashed) out.Append("  (crashed)");
        out.Append("\n");
    }
    closedir(tasks);
}

int CollectFrame(Dwfl_Frame* state, void* data) {
    auto& frames = *static_cast<std::vector<Frame>*>(data);
    Dwarf_Addr pc = 0;
    bool exact = false;
    if (!dwfl_frame_pc(state, &pc, &exact)) return DWARF_CB_ABORT;
    frames.push_back({pc, exact});
    return frames.size() < kScanFrames ? DWARF_CB_OK : DWARF_CB_ABORT;
}

// Attaches to the crashed thread (it waits in its signal handler), unwinds it
// and keeps the frames from the interrupted instruction outwards; empty when
// the attach is refused or the unwind does not reach the signal frame.
std::vector<Frame> UnwindAttached(Dwfl* dwfl, const CrashMessage& message) {
    std::vector<Frame> frames;
    if (message.facts.nFrames == 0 || std::getenv("VLIB_CRASH_REPORTER_NO_PTRACE") != nullptr) return frames;
    if (dwfl_linux_proc_attach(dwfl, message.pid, false) != 0) return frames;
    dwfl_getthread_frames(dwfl, static_cast<pid_t>(message.facts.uThreadId), CollectFrame, &frames);
    const std::uint64_t interrupted = message.frames[0];
    std::size_t first = 0;
    while (first < frames.size() && frames[first].pc != interrupted) ++first;
    if (first == frames.size()) return {};
    frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(first));
    frames[0].exact = true;
    if (frames.size() > vplatform::crash::kMaxFrames) frames.resize(vplatform::crash::kMaxFrames);
    return frames;
}

char g_text[512 * 1024];

// Loads what naming a frame of the module needs: its symbol table, its debug
// information's address ranges, its unwind tables and its build id.
int WarmModule(Dwfl_Module* module, void**, const char*, Dwarf_Addr, void*) {
    dwfl_module_getsymtab(module);
    Dwarf_Addr bias = 0;
    if (Dwarf* dwarf = dwfl_module_getdwarf(module, &bias)) {
        Dwarf_Aranges* ranges = nullptr;
        std::size_t count = 0;
        dwarf_getaranges(dwarf, &ranges, &count);
    }
    dwfl_module_eh_cfi(module, &bias);
    dwfl_module_dwarf_cfi(module, &bias);
    const unsigned char* bits = nullptr;
    GElf_Addr vaddr = 0;
    dwfl_module_build_id(module, &bits, &vaddr);
    return DWARF_CB_OK;
}

// (Re)reports the process's modules: those already known keep what was
// loaded for them, new ones are added, unloaded ones dropped.
bool ReportModules(Dwfl* dwfl, pid_t pid) {
    dwfl_report_begin(dwfl);
    return dwfl_linux_proc_report(dwfl, pid) == 0 && dwfl_report_end(dwfl, nullptr, nullptr) == 0;
}

// The process's modules, read and loaded while it is still sound, so that a
// crash costs only what is new since.
Dwfl* Prepare(pid_t pid) {
    static char* debugInfoPath = nullptr;
    static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr,
                                             &debugInfoPath};
    Dwfl* dwfl = dwfl_begin(&callbacks);
    if (dwfl == nullptr) return nullptr;
    if (!ReportModules(dwfl, pid)) {
        dwfl_end(dwfl);
        return nullptr;
    }
    dwfl_getmodules(dwfl, WarmModule, nullptr, 0);
    return dwfl;
}

using vplatform::crash::ReporterAnswer;
using vplatform::crash::ReportPlace;

// Writes the report of the crash into `folder` (-1: none) or to stderr.
ReporterAnswer Report(Dwfl* dwfl, CrashMessage& message, int folder) {
    if (dwfl == nullptr) {
        dwfl = Prepare(message.pid);
    } else if (!ReportModules(dwfl, message.pid)) {
        dwfl_end(dwfl);
        dwfl = nullptr;
    }
    std::vector<Frame> frames;
    if (dwfl != nullptr) frames = UnwindAttached(dwfl, message);
    const ReportSource source = frames.empty() ? ReportSource::Handler : ReportSource::Attached;
    if (frames.empty()) {
        const UINT count = std::min<UINT>(message.facts.nFrames, vplatform::crash::kMaxFrames);
        for (UINT i = 0; i < count; ++i) frames.push_back({message.frames[i], i == 0});
    }
    CR_CRASH_FACTS& facts = message.facts;
    facts.nFrames = static_cast<UINT>(frames.size());
    facts.pFrames = nullptr;
    facts.szThreadName[sizeof facts.szThreadName - 1] = '\0';
    facts.szExceptionType[sizeof facts.szExceptionType - 1] = '\0';
    facts.szExceptionWhat[sizeof facts.szExceptionWhat - 1] = '\0';
    message.appName[sizeof message.appName - 1] = '\0';
    message.appVersion[sizeof message.appVersion - 1] = '\0';

    TextBuffer json(g_text, sizeof g_text / 4);
    vplatform::crash::AppendFactsJson(json, facts, message.pid, message.utcOffsetSeconds, message.appName,
                                      message.appVersion, source == ReportSource::Attached ? "ptrace" : "handler");
    TextBuffer stack(g_text + sizeof g_text / 4, sizeof g_text - sizeof g_text / 4);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        stack.Append("#");
        stack.AppendDecimal(static_cast<std::int64_t>(i));
        stack.Append(i < 10 ? "   0x" : "  0x");
        stack.AppendHex(frames[i].pc, 16);
        Symbolize(dwfl, stack, frames[i].pc, frames[i].exact);
        stack.Append("\n");
    }
    if (dwfl != nullptr) {
        stack.Append("\nModules:\n");
        dwfl_getmodules(dwfl, AppendModule, &stack, 0);
    }
    AppendThreads(stack, message.pid, facts.uThreadId);
    // Lets go of the process before it is told to go on.
    if (dwfl != nullptr) dwfl_end(dwfl);

    const std::uint32_t magic = vplatform::crash::kAnswerMagic;
    if (folder >= 0 && WriteReportFiles(folder, json, stack)) return {magic, source, ReportPlace::Folder};
    if (WriteAll(STDERR_FILENO, json.Data(), json.Size()) && WriteAll(STDERR_FILENO, stack.Data(), stack.Size()))
        return {magic, source, ReportPlace::StandardError};
    return {magic, ReportSource::Failed, ReportPlace::StandardError};
}

// Receives a crash message and the report folder's descriptor that may come
// with it (-1: none); false when the socket is closed or broken.
bool ReceiveCrash(CrashMessage& message, int& folder) {
    folder = -1;
    for (;;) {
        struct iovec part {
            &message, sizeof message
        };
        alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        struct msghdr packet {};
        packet.msg_iov = &part;
        packet.msg_iovlen = 1;
        packet.msg_control = control;
        packet.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(vplatform::crash::kReporterSocket, &packet, MSG_CMSG_CLOEXEC);
        if (got < 0 && errno == EINTR) continue;
        for (cmsghdr* rights = CMSG_FIRSTHDR(&packet); rights != nullptr; rights = CMSG_NXTHDR(&packet, rights)) {
            if (rights->cmsg_level == SOL_SOCKET && rights->cmsg_type == SCM_RIGHTS &&
                rights->cmsg_len == CMSG_LEN(sizeof(int)))
                std::memcpy(&folder, CMSG_DATA(rights), sizeof(int));
        }
        if (got == static_cast<ssize_t>(sizeof message) && message.magic == vplatform::crash::kCrashMagic &&
            (packet.msg_flags & MSG_CTRUNC) == 0)
            return true;
        if (folder >= 0) close(folder);
        folder = -1;
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A crash never waits for a debuginfo server.
    unsetenv("DEBUGINFOD_URLS");
    signal(SIGPIPE, SIG_IGN);
    // The starter is the application's child: it ends now, and its child,
    // taken over by the system, serves the application.
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child > 0) _exit(0);

    const vplatform::crash::ReporterHello hello{vplatform::crash::kHelloMagic, getpid()};
    if (send(vplatform::crash::kReporterSocket, &hello, sizeof hello, MSG_NOSIGNAL) != sizeof hello) _exit(1);
    // The application's pid, when given: its modules are prepared now.
    const long application = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    Dwfl* prepared = application > 0 ? Prepare(static_cast<pid_t>(application)) : nullptr;
    static CrashMessage message;
    int folder = -1;
    while (ReceiveCrash(message, folder)) {
        Dwfl* dwfl = message.pid == application ? prepared : nullptr;
        prepared = nullptr;  // Report ends it
        const ReporterAnswer answer = Report(dwfl, message, folder);
        if (folder >= 0) close(folder);
        send(vplatform::crash::kReporterSocket, &answer, sizeof answer, MSG_NOSIGNAL);
    }
    // Nothing to clean up that the system does not.
    _exit(0);
}

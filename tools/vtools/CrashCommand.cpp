// vtools crash: crash on purpose with crash reporting installed, and show
// the report a crash left; and the crash section of vtools demo, which
// crashes a child vtools and shows its report.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <boost/json.hpp>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

namespace fs = std::filesystem;

// The undefined-behaviour sanitizer would stop the process before the fault.
__attribute__((noinline, no_sanitize_undefined)) void WriteThroughNull(volatile int* target) {
    *target = 1;
}

__attribute__((noinline)) void ThrowUncaught() {
    throw std::runtime_error("vtools crash throw");
}

// Each call keeps a frame of its own (no tail call, no loop); ends only by
// overflowing the stack, the limit is never reached.
__attribute__((noinline)) int Recurse(int depth, const volatile int* limit) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    if (depth == *limit) return 0;
    return Recurse(depth + 1, limit) + frame[0];
}

// Overflows the stack of a task executor's thread, which has a crash stack
// of its own to report from.
[[noreturn]] void OverflowExecutorThread() {
    Multithreading::TaskExecutor executor("Overflow");
    executor.AddTask([] {
        volatile int never = -1;
        Recurse(0, &never);
    });
    executor.StartExecute();
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

int Crash(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[1] != "--reports")
        throw UsageError("expected segv|abort|overflow|throw --reports DIR");
    const std::string& kind = args[0];
    if (kind != "segv" && kind != "abort" && kind != "overflow" && kind != "throw")
        throw UsageError("unknown crash '" + kind + "'");
    if (!CrashHandler::Install(FromTerminal(args[2]), L"vtools", L"1.0")) {
        // The layer's reason (a folder others could write, say) is still the
        // thread's last crash-report text.
        wchar_t reason[512] = {};
        crGetLastErrorMsgW(reason, 512);
        throw InputError("crash reporting could not be installed in " + args[2] + ": " + ToTerminal(reason));
    }
    std::cerr << "vtools crash: crashing by " << kind << ", report under " << args[2] << std::endl;
    if (kind == "segv") WriteThroughNull(nullptr);
    if (kind == "abort") std::abort();
    if (kind == "overflow") OverflowExecutorThread();
    // Through a function that promises not to throw: main's own catch never
    // sees it.
    [&]() noexcept { ThrowUncaught(); }();
    return 0;
}

std::string ReadFile(const fs::path& file) {
    return ReadInput(file.string());
}

// DIR itself when it is a report, else its newest report folder.
fs::path FindReport(const fs::path& dir) {
    if (fs::exists(dir / "crash.json")) return dir;
    fs::path newest;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("crash-", 0) == 0 && fs::exists(entry.path() / "crash.json") &&
            (newest.empty() || name > newest.filename().string()))
            newest = entry.path();
    }
    if (newest.empty()) throw InputError("no crash report in " + dir.string());
    return newest;
}

// The summary of a report folder: facts, exception, the top frames.
std::string Summary(const fs::path& report, int frames) {
    boost::json::object facts;
    try {
        facts = boost::json::parse(ReadFile(report / "crash.json")).as_object();
    } catch (const std::exception& error) {
        throw InputError("crash.json of " + report.string() + " is no report: " + error.what());
    }
    auto text = [&](const char* key) {
        const auto* value = facts.if_contains(key);
        if (value == nullptr) return std::string("?");
        if (value->is_string()) return std::string(value->as_string());
        return boost::json::serialize(*value);
    };
    std::ostringstream out;
    out << "report       " << report.string() << "\n"
        << "application  " << text("application") << " " << text("version") << "\n"
        << "time         " << text("time") << "\n"
        << "signal       " << text("signalName") << " (" << text("signal") << "), code " << text("code") << ", address "
        << text("address") << "\n"
        << "thread       " << text("threadId") << " \"" << text("threadName") << "\"\n";
    if (const auto* terminate = facts.if_contains("terminate"); terminate != nullptr && terminate->is_object()) {
        const auto& exception = terminate->as_object();
        out << "exception    " << boost::json::value_to<std::string>(exception.at("type")) << ": "
            << boost::json::value_to<std::string>(exception.at("what")) << "\n";
    }
    out << "stack        " << text("frames") << " frames, unwound by " << text("stack") << "\n";
    std::istringstream stack(fs::exists(report / "stack.txt") ? ReadFile(report / "stack.txt") : "");
    std::string line;
    for (int shown = 0; shown < frames && std::getline(stack, line) && !line.empty(); ++shown)
        out << "  " << line << "\n";
    return out.str();
}

int Show(const std::vector<std::string>& args) {
    if (args.size() != 1) throw UsageError("expected one folder");
    WriteOutput(Summary(FindReport(args[0]), 16));
    return 0;
}

// Runs `vtools crash segv` in a temporary folder (its current folder too, so
// a core dump, where the system makes one, lands there) and shows the report.
void Demo(std::ostream& out) {
    out << "== crash: a child vtools crashes, the reporter writes its report\n";
    wchar_t self[4096];
    const DWORD length = GetModuleFileNameW(nullptr, self, 4096);
    // A private folder with a name no other user can predict: the child's
    // reports are written there.
    std::optional<TemporaryFolder> temporary;
    try {
        temporary.emplace(L"vtools-demo-crash-");
    } catch (const InputError&) {
    }
    if (length == 0 || length >= 4096 || !temporary) {
        out << "  no temporary folder for the child\n";
        return;
    }
    const fs::path& folder = temporary->Path();
    const std::wstring reports = (folder / "reports").wstring();
    std::wstring commandLine = L"\"" + std::wstring(self, length) + L"\" crash segv --reports \"" + reports + L"\"";
    // The child's own messages are not part of the demo: its standard
    // handles are null (the null device).
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION child{};
    const std::wstring current = folder.wstring();
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        current.c_str(), &startup, &child);
    if (!started) {
        out << "  the child could not be started (error " << GetLastError() << ")\n";
    } else {
        DWORD exitCode = 0;
        if (WaitForSingleObject(child.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 1);
        GetExitCodeProcess(child.hProcess, &exitCode);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        out << "  child exit code     " << exitCode << "\n";
        try {
            std::istringstream summary(Summary(FindReport(folder / "reports"), 4));
            for (std::string line; std::getline(summary, line);) {
                if (line.rfind("report ", 0) != 0) out << "  " << line << "\n";
            }
        } catch (const std::exception& failure) {
            out << "  " << failure.what() << "\n";
        }
    }
}

const DemoRegistration demoSection(95, Demo);

int Run(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("expected segv, abort, overflow, throw or show");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "show") return Show(rest);
    std::vector<std::string> all = args;
    return Crash(all);
}

const Registration registration{{
    "crash",
    "crash on purpose with crash reporting, or show a crash report",
    "usage: vtools crash segv|abort|overflow|throw --reports DIR\n"
    "       vtools crash show DIR\n\n"
    "The first form installs crash reporting with DIR as the save folder and\n"
    "crashes: segv writes through a null pointer, abort calls abort, overflow\n"
    "overflows the stack of a task executor's thread, throw throws an exception\n"
    "nobody catches.  The process ends by the signal, after the crash reporter\n"
    "wrote DIR/crash-YYYYMMDD-HHMMSS-PID with crash.json and stack.txt.\n\n"
    "The second form prints the summary of the report folder DIR, or of the\n"
    "newest report folder in DIR.\n",
    Run,
}};

}  // namespace
}  // namespace vtools

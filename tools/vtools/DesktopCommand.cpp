// vtools monitors, clipboard, keys, run, instance and cmdline: the desktop
// and process helpers from the shell, and their section of the demo.
#include <iostream>
#include <optional>
#include <string>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// A whole number from `low` to `high`; `what` names the argument and what
// it should be, for the error.
LONG WholeNumber(const std::string& text, const std::string& what, long long low = INT32_MIN,
                 long long high = INT32_MAX) {
    try {
        std::size_t used = 0;
        const long long value = std::stoll(text, &used);
        if (used == text.size() && value >= low && value <= high) return static_cast<LONG>(value);
    } catch (const std::exception&) {
    }
    throw UsageError(what + ": '" + text + "' is not " +
                     (low == 0 ? "a whole number of seconds (0 or more)" : "a coordinate (a whole number of pixels)"));
}

// Fails with "no display" when the desktop cannot be reached.
void RequireDisplay() {
    SetLastError(ERROR_SUCCESS);
    if (GetSystemMetrics(SM_CMONITORS) == 0 && GetLastError() == ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION) {
        throw InputError("no display (DISPLAY is not set or its X server cannot be reached)");
    }
}

// `argument` quoted so that CommandLineToArgvW gives it back whole.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    // Backslashes before the closing quote are doubled.
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

int MonitorsCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        ::Monitors monitors;
        if (!monitors.Init() || monitors.GetCount() == 0) throw InputError("no display");
        for (std::uint64_t i = 0; i < monitors.GetCount(); ++i) {
            ::Monitor monitor = monitors.GetMonitor(i);
            RECT rect{};
            RECT work{};
            monitor.GetMonitorRect(&rect);
            monitor.GetWorkAreaRect(&work);
            std::cout << ToTerminal(monitor.GetName()) << " " << Text(rect) << " work " << Text(work)
                      << (monitor.IsPrimaryMonitor() ? " primary" : "") << "\n";
        }
        std::cout << "desktop " << Text(::Monitors::GetVirtualDesktopRect()) << "\n";
        return 0;
    }
    const bool work = args.size() == 7 && args[6] == "--work";
    if (args[0] != "place" || (args.size() != 6 && !work) || (args[5] != "--center" && args[5] != "--clip")) {
        throw UsageError("expected 'place L T R B --center|--clip [--work]'");
    }
    CRect rect(WholeNumber(args[1], "L"), WholeNumber(args[2], "T"), WholeNumber(args[3], "R"),
               WholeNumber(args[4], "B"));
    const auto monitor = ::Monitors::GetNearestMonitor(&rect);
    if (!monitor || !monitor->IsMonitor()) throw InputError("no display");
    const bool done = args[5] == "--center" ? monitor->CenterRectToMonitor(&rect, work)
                                            : monitor->MoveAndClipRectToMonitor(work, rect);
    if (!done) throw InputError("the rectangle cannot be placed");
    ::Monitor named = *monitor;
    std::cout << ToTerminal(named.GetName()) << " " << Text(rect) << "\n";
    return 0;
}

int ClipboardCommand(const std::vector<std::string>& args) {
    const bool known =
        (args.size() == 1 && (args[0] == "get" || args[0] == "clear")) || (args.size() == 2 && args[0] == "set");
    if (known) RequireDisplay();
    if (args.size() == 1 && args[0] == "get") {
        const auto text = VTools::Clipboard::GetClipboardString(nullptr);
        if (!text) throw InputError("no text on the clipboard");
        WriteOutput(ToTerminal(*text));
        return 0;
    }
    if (args.size() == 2 && args[0] == "set") {
        if (!VTools::Clipboard::CopyStringToClipboard(nullptr, FromTerminal(args[1])))
            throw InputError("the clipboard cannot be set");
        return 0;
    }
    if (args.size() == 1 && args[0] == "clear") {
        if (!VTools::Clipboard::EmptyClipboard(nullptr)) throw InputError("the clipboard cannot be emptied");
        return 0;
    }
    throw UsageError("expected 'get', 'set TEXT' or 'clear'");
}

int KeysCommand(const std::vector<std::string>& args) {
    if (!args.empty()) throw UsageError("keys takes no arguments");
    RequireDisplay();
    using namespace VTools::Keyboard;
    std::cout << "shift " << IsShiftPressed() << "\nleft-shift " << IsLeftShiftPressed() << "\nctrl " << IsCtrlPressed()
              << "\nalt " << IsAltPressed() << "\nleft-button " << IsLeftMousePressed() << "\n";
    return 0;
}

// Starts `path` with `arguments`; waits for its end, or for `closeAfter`
// seconds and then ends it.  Its exit code, printed.
int RunProgram(std::ostream& out, const std::wstring& path, const std::wstring& arguments,
               std::optional<DWORD> closeAfter) {
    VTools::Process::OpenProcessResult process = VTools::Process::OpenProcess(path, arguments);
    if (!process) throw InputError("the program cannot be started");
    out << "started " << process.GetProcessId() << "\n";
    const DWORD wait = closeAfter ? *closeAfter * 1000 : INFINITE;
    if (WaitForSingleObject(process.GetProcessHandle(), wait) == WAIT_TIMEOUT) {
        TerminateProcess(process.GetProcessHandle(), 0);
        WaitForSingleObject(process.GetProcessHandle(), INFINITE);
        out << "closed\n";
    }
    DWORD code = 0;
    GetExitCodeProcess(process.GetProcessHandle(), &code);
    out << "exit " << code << "\n";
    return 0;
}

int RunCommand(const std::vector<std::string>& args) {
    std::vector<std::string> rest = args;
    std::optional<DWORD> closeAfter;
    if (rest.size() >= 2 && rest[rest.size() - 2] == "--close-after") {
        const LONG seconds = WholeNumber(rest.back(), "--close-after", 0, INT32_MAX / 1000);
        closeAfter = static_cast<DWORD>(seconds);
        rest.resize(rest.size() - 2);
    }
    if (rest.empty()) throw UsageError("expected 'PATH [ARGS] [--close-after S]'");
    std::wstring arguments;
    // Each argument arrives whole, as given.
    for (std::size_t i = 1; i < rest.size(); ++i) arguments += (i > 1 ? L" " : L"") + Quoted(FromTerminal(rest[i]));
    return RunProgram(std::cout, FromTerminal(rest[0]), arguments, closeAfter);
}

int InstanceCommand(const std::vector<std::string>& args) {
    const bool perFolder = args.size() == 2 && args[1] == "--per-folder";
    if (args.empty() || (args.size() == 2 && !perFolder) || args.size() > 2) {
        throw UsageError("expected 'NAME [--per-folder]'");
    }
    AppRunningDetector detector(FromTerminal(args[0]), perFolder);
    if (detector.IsAppAlreadyRunning()) {
        std::cout << "running\n";
        return 0;
    }
    // False also when the mutex could not be made: the last error tells.
    if (const DWORD error = GetLastError(); error != ERROR_SUCCESS) {
        throw InputError("the single-instance mutex cannot be made: " +
                         VTools::WindowsError::TranlateErrorMessage(static_cast<std::int32_t>(error)));
    }
    std::cout << "alone\n";
    return 0;
}

void PrintArguments(std::ostream& out, const std::wstring& line) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    if (argv == nullptr) throw InputError("the line cannot be split");
    for (int i = 0; i < count; ++i) out << "[" << ToTerminal(argv[i]) << "]\n";
    LocalFree(argv);
}

int CmdlineCommand(const std::vector<std::string>& args) {
    if (args.size() != 1) throw UsageError("expected one command line");
    PrintArguments(std::cout, FromTerminal(args[0]));
    return 0;
}

void Demo(std::ostream& out) {
    out << "\n-- Desktop and processes --\n";
    // A name of this process's own: demos running side by side do not meet.
    const std::wstring name = L"vtools-demo-" + std::to_wstring(GetCurrentProcessId());
    AppRunningDetector first(name, false);
    AppRunningDetector second(name, false);
    const bool firstRunning = first.IsAppAlreadyRunning();
    out << "instance: first " << (firstRunning ? "running" : "alone") << ", second "
        << (second.IsAppAlreadyRunning() ? "running" : "alone") << "\n";
    out << "command line 'prog \"a b\" c\\\\\\\"d' splits into:\n";
    PrintArguments(out, L"prog \"a b\" c\\\\\\\"d");
    out << "run /bin/sleep 30, closed after 0 s:\n";
    RunProgram(out, L"/bin/sleep", L"30", 0);
    ::Monitors monitors;
    if (!monitors.Init() || monitors.GetCount() == 0) {
        out << "no display\n";
        return;
    }
    for (std::uint64_t i = 0; i < monitors.GetCount(); ++i) {
        ::Monitor monitor = monitors.GetMonitor(i);
        RECT rect{};
        monitor.GetMonitorRect(&rect);
        out << "monitor " << ToTerminal(monitor.GetName()) << " " << Text(rect)
            << (monitor.IsPrimaryMonitor() ? " primary" : "") << "\n";
    }
    const std::wstring text = L"Zażółć gęślą jaźń";
    const bool set = VTools::Clipboard::CopyStringToClipboard(nullptr, text);
    out << "clipboard round trip: " << (set && VTools::Clipboard::GetClipboardString(nullptr) == text ? "ok" : "failed")
        << "\n";
}

const DemoRegistration demoSection(80, Demo);

const Registration monitorsRegistration{{
    "monitors",
    "list the monitors, place a rectangle on one",
    "usage: vtools monitors\n"
    "       vtools monitors place L T R B --center|--clip [--work]\n\n"
    "Without arguments lists each monitor (name, rectangle, work area, primary)\n"
    "and the virtual desktop, in virtual-screen coordinates.  'place' centres the\n"
    "rectangle on its nearest monitor or pushes it onto it and clips it (within\n"
    "the work area with --work) and prints the monitor and the new rectangle.\n"
    "Fails (status 1) without a display.\n",
    MonitorsCommand,
}};

const Registration clipboardRegistration{{
    "clipboard",
    "read, set or empty the clipboard's text",
    "usage: vtools clipboard get|set TEXT|clear\n\n"
    "get writes the clipboard's text (status 1 when it holds none, or without a\n"
    "display); set puts TEXT\n"
    "on it (the text is offered to other programs until this one ends, then to\n"
    "the clipboard manager); clear empties it.\n",
    ClipboardCommand,
}};

const Registration keysRegistration{{
    "keys",
    "show which modifier keys are down",
    "usage: vtools keys\n\nPrints shift, left-shift, ctrl, alt and left-button, each 1 while down.\n"
    "Fails (status 1) without a display.\n",
    KeysCommand,
}};

const Registration runRegistration{{
    "run",
    "start a program and wait for it or end it",
    "usage: vtools run PATH [ARGS...] [--close-after S]\n\n"
    "Starts PATH with ARGS (each reaches the program whole, quoted by the\n"
    "Windows rules where needed), prints its process id, waits for its end (at\n"
    "most S seconds, then ends it and prints 'closed') and prints its exit code.\n",
    RunCommand,
}};

const Registration instanceRegistration{{
    "instance",
    "tell whether a named instance is running",
    "usage: vtools instance NAME [--per-folder]\n\n"
    "Prints 'running' when another process holds the single-instance mutex of\n"
    "NAME (prefixed by vtools' own folder with --per-folder), else 'alone'.\n"
    "Fails (status 1) when the mutex cannot be made.\n",
    InstanceCommand,
}};

const Registration cmdlineRegistration{{
    "cmdline",
    "split a command line as programs receive it",
    "usage: vtools cmdline TEXT\n\nPrints each argument of TEXT, split by the Windows rules, in brackets.\n",
    CmdlineCommand,
}};

}  // namespace
}  // namespace vtools

// vtools crash: crash on purpose with crash reporting installed, and show
// the report a crash left.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

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

int Crash(const std::vector<std::string>& args) {
    if (args.size() != 3 || args[1] != "--reports") throw UsageError("expected segv|abort|throw --reports DIR");
    const std::string& kind = args[0];
    if (kind != "segv" && kind != "abort" && kind != "throw") throw UsageError("unknown crash '" + kind + "'");
    if (!CrashHandler::Install(FromTerminal(args[2]), L"vtools", L"1.0")) {
        throw InputError("crash reporting could not be installed in " + args[2]);
    }
    std::cerr << "vtools crash: crashing by " << kind << ", report under " << args[2] << std::endl;
    if (kind == "segv") WriteThroughNull(nullptr);
    if (kind == "abort") std::abort();
    // Through a function that promises not to throw: main's own catch never
    // sees it.
    [&]() noexcept { ThrowUncaught(); }();
    return 0;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw InputError("cannot read " + file.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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

int Show(const std::vector<std::string>& args) {
    if (args.size() != 1) throw UsageError("expected one folder");
    const fs::path report = FindReport(args[0]);
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
    out << "stack:\n";
    std::istringstream stack(fs::exists(report / "stack.txt") ? ReadFile(report / "stack.txt") : "");
    std::string line;
    for (int shown = 0; shown < 16 && std::getline(stack, line) && !line.empty(); ++shown) out << "  " << line << "\n";
    WriteOutput(out.str());
    return 0;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("expected segv, abort, throw or show");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "show") return Show(rest);
    std::vector<std::string> all = args;
    return Crash(all);
}

const Registration registration{{
    "crash",
    "crash on purpose with crash reporting, or show a crash report",
    "usage: vtools crash segv|abort|throw --reports DIR\n"
    "       vtools crash show DIR\n\n"
    "The first form installs crash reporting with DIR as the save folder and\n"
    "crashes: segv writes through a null pointer, abort calls abort, throw\n"
    "throws an exception nobody catches.  The process ends by the signal, after\n"
    "writing DIR/crash-YYYYMMDD-HHMMSS-PID with crash.json and stack.txt.\n\n"
    "The second form prints the summary of the report folder DIR, or of the\n"
    "newest report folder in DIR.\n",
    Run,
}};

}  // namespace
}  // namespace vtools

// vtools log: writes entries to a log file in the log's exact format.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

int Run(const std::vector<std::string>& args) {
    if (args.size() < 2) throw UsageError("expected a FILE and at least one MESSAGE");
    auto& log = VTools::Log::Instance();
    if (!log.Open(FromTerminal(args[0]))) throw InputError("cannot open the log file " + args[0]);
    for (std::size_t i = 1; i < args.size(); ++i) {
        // Messages are narrow text in the ANSI code page, as the library logs.
        log.Write("vtools::log", static_cast<std::int32_t>(i), VTools::String::WideToAnsi(FromTerminal(args[i])));
    }
    const bool written = log.Flush();
    log.Close();
    if (!written) throw InputError("the entries could not be written to " + args[0]);
    return 0;
}

void Demo(std::ostream& out) {
    out << "== diagnostics: the log\n";
    const TemporaryFolder folder(L"vtools-demo-log-");
    const auto file = folder.Path() / "log.txt";
    auto& log = VTools::Log::Instance();
    if (!log.Open(FromTerminal(file.string()))) {
        out << "  (the log could not be opened in " << file.parent_path().string() << ")\n";
        return;
    }
    log.Write("Quotes::Receive", 42, "WIG20 2345,67");
    try {
        throw std::runtime_error(
            "brak po\xC5\x82\xC4\x85"
            "czenia");
    } catch (...) {
        LogAllExceptions("Quotes::Connect", 57);
    }
    log.Flush();
    log.Close();
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string shown;
    for (const char c : bytes) {
        if (c == '\r') continue;
        shown += c;
        if (c == '\n') shown += "  ";
    }
    out << "  " << shown.substr(0, shown.size() >= 2 ? shown.size() - 2 : 0);
}

const Registration registration{{
    "log",
    "write entries to a log file",
    "usage: vtools log FILE MESSAGE...\n\n"
    "Opens the log at FILE (appending), writes one entry per MESSAGE and closes\n"
    "it, so the entries show the log's exact format: time, function and line,\n"
    "message, and a '-' line, with CR LF line ends, ending with the closing entry.\n",
    Run,
}};
const DemoRegistration demo(15, Demo);

}  // namespace
}  // namespace vtools

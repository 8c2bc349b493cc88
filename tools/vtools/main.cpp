// vtools: the library's functions from the shell.
#include <clocale>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <VLibIncludes.h>

#include "Command.h"

namespace {

void PrintUsage(std::ostream& out) {
    out << "usage: vtools [--acp CODEPAGE] COMMAND [ARGS...]\n\n"
           "The VLibIncludes tool library from the shell.\n\n"
           "Options:\n"
           "  --acp CODEPAGE  the ANSI code page to use (default: the locale's codeset)\n"
           "  -h, --help      this help; 'vtools COMMAND --help' for a command's help\n\n"
           "Commands:\n";
    for (const auto& command : vtools::Commands()) {
        out << "  " << command.name << std::string(command.name.size() < 12 ? 12 - command.name.size() : 1, ' ')
            << command.summary << "\n";
    }
}

}  // namespace

int main(int argc, char** argv) {
    // The ANSI code page follows the user's locale, as the terminal does.
    std::setlocale(LC_CTYPE, "");
    vtools::SetTerminalCodePage(GetACP());
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string name;
    try {
        while (!args.empty() && args.front().starts_with("-")) {
            if (args.front() == "-h" || args.front() == "--help") {
                PrintUsage(std::cout);
                return 0;
            }
            if (args.front() == "--acp" && args.size() < 2)
                throw vtools::UsageError("--acp needs a CODEPAGE (a name such as windows-1250, or a number)");
            if (args.front() == "--acp") {
                const unsigned codePage = vtools::ParseCodePage(args[1]);
                if (codePage == vtools::kUtf16Le || !SetACP(codePage))
                    throw vtools::UsageError("'" + args[1] + "' cannot be the ANSI code page");
                args.erase(args.begin(), args.begin() + 2);
                continue;
            }
            throw vtools::UsageError("unknown option '" + args.front() + "'");
        }
        if (args.empty()) throw vtools::UsageError("missing command (see vtools --help)");
        name = args.front();
        args.erase(args.begin());
        for (const auto& command : vtools::Commands()) {
            if (command.name != name) continue;
            if (vtools::WantsHelp(args)) {
                std::cout << command.help;
                return 0;
            }
            return command.run(args);
        }
        throw vtools::UsageError("unknown command '" + name + "' (see vtools --help)");
    } catch (const vtools::UsageError& e) {
        std::cerr << "vtools" << (name.empty() ? "" : " " + name) << ": " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vtools" << (name.empty() ? "" : " " + name) << ": " << e.what() << "\n";
        return 1;
    }
}

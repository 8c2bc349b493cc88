// The subcommands of vtools: each registers a name, a one-line summary, its
// help text and its entry point.
#pragma once

#include <filesystem>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vtools {

// Thrown for bad arguments or unreadable input; main prints
// "vtools <command>: <message>" and exits with status 2 (usage) or 1.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Command {
    std::string name;
    std::string summary;
    std::string help;
    // Receives the arguments after the command name; returns the exit status.
    std::function<int(const std::vector<std::string>&)> run;
};

std::vector<Command>& Commands();

// Registers a command at static-initialisation time.
struct Registration {
    explicit Registration(Command command);
};

// A section of `vtools demo`: a few lines showing one subsystem at work on
// built-in data.  Sections run in the order of their `order` values.
struct DemoSection {
    int order;
    std::function<void(std::ostream&)> show;
};
std::vector<DemoSection>& DemoSections();
struct DemoRegistration {
    DemoRegistration(int order, std::function<void(std::ostream&)> show);
};

// Console text helper shared by the demo sections.
std::string Hex(std::string_view bytes);

// True when `args` asks for help (-h or --help anywhere).
bool WantsHelp(const std::vector<std::string>& args);

// Reads a whole file, or standard input for "-" or an empty name.
std::string ReadInput(const std::string& file);

// The code page of the terminal (the locale's codeset, read before --acp
// changes the ANSI code page): command-line texts arrive in it and texts for
// the user are shown in it.
void SetTerminalCodePage(unsigned codePage);
std::wstring FromTerminal(const std::string& text);
std::string ToTerminal(std::wstring_view text);

// True when standard error is a terminal: progress is shown there only.
bool StandardErrorIsTerminal();

// A private temporary folder (vplatform::CreateTemporaryFolder: mode 0700, a
// name no other user can predict), removed with its contents at the end of
// the scope.  Throws InputError when it cannot be made.
class TemporaryFolder {
public:
    explicit TemporaryFolder(std::wstring_view prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// Writes bytes to standard output unchanged.
void WriteOutput(const std::string& bytes);

// Parses a code-page name (utf-8, windows-1250, iso-8859-2, ansi, utf-16le…)
// or number.  kUtf16Le stands for UTF-16LE bytes, handled by the tool itself.
constexpr unsigned kUtf16Le = 1200;
unsigned ParseCodePage(const std::string& name);
// The names ParseCodePage knows, each with its code page, in listing order.
const std::vector<std::pair<std::string, unsigned>>& CodePageNames();

}  // namespace vtools

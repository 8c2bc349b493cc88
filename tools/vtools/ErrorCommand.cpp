// vtools error: the text of a Windows error code.
#include <charconv>
#include <cstdint>
#include <string>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

// A signed 32-bit decimal number, nothing else.
std::int32_t ParseCode(const std::string& text) {
    std::int32_t code = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, code);
    if (text.empty() || error != std::errc() || stop != end) {
        throw UsageError("'" + text + "' is not an error code (expected a 32-bit decimal integer)");
    }
    return code;
}

int Error(const std::vector<std::string>& args) {
    if (args.size() != 1) throw UsageError("expected one error code");
    WriteOutput(VTools::WindowsError::TranlateErrorMessage(ParseCode(args[0])) + "\n");
    return 0;
}

// A label padded to the demo's column of values.
std::string Label(const std::string& text) {
    return "  " + text + std::string(text.size() < 20 ? 20 - text.size() : 1, ' ');
}

void Demo(std::ostream& out) {
    out << "== diagnostics: Windows error texts and MFC exceptions\n";
    for (const std::int32_t code : {2, 112}) {
        out << Label("error " + std::to_string(code)) << VTools::WindowsError::TranlateErrorMessage(code) << "\n";
    }
    out << Label("error 4242") << VTools::WindowsError::ErrorToString(4242) << "\n";
    const CFileException notFound(CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, L"ustawienia.xml");
    out << Label("CFileException") << ToTerminal(VTools::WindowsError::ExceptionToWString(&notFound)) << "\n";
    const CUserException silent;
    out << Label("CUserException") << ToTerminal(VTools::WindowsError::ExceptionToWString(&silent)) << "\n";
}

const Registration registration{{
    "error",
    "show the text of a Windows error code",
    "usage: vtools error CODE\n\n"
    "Prints \"Error code: CODE, message: TEXT\" with the system's English text for\n"
    "the Windows error code CODE (a decimal number, as GetLastError returns it),\n"
    "or \"Unknow error\" when there is none.\n",
    Error,
}};

const DemoRegistration demo(20, Demo);

}  // namespace
}  // namespace vtools

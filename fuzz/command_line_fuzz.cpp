// The command-line splitter on arbitrary lines: no crash, every argument a
// NUL-terminated string of the block; and the arguments after the program,
// quoted by the usual rules (as Python's subprocess.list2cmdline quotes
// them), split back into themselves.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <VLibIncludes.h>

namespace {

std::vector<std::wstring> Split(const std::wstring& line) {
    int count = -1;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    if (argv == nullptr || count < 1) std::abort();
    std::vector<std::wstring> arguments(argv, argv + count);
    LocalFree(argv);
    return arguments;
}

// One argument quoted so that the splitter gives it back whole.
std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote double, and the quote gets one of its own.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');  // before the closing quote
    return quoted + L"\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Two bytes a UTF-16 unit, NULs left out (the line ends at one).
    std::wstring line;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        if (unit != 0) line += unit;
    }
    const std::vector<std::wstring> arguments = Split(line);
    std::wstring again = L"prog";
    for (std::size_t i = 1; i < arguments.size(); ++i) again += L" " + Quote(arguments[i]);
    std::vector<std::wstring> expected = arguments;
    expected[0] = L"prog";
    if (Split(again) != expected) std::abort();
    return 0;
}

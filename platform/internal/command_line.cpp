// Splitting a command line by the CommandLineToArgvW rules.
#include "platform/internal/CommandLine.h"

namespace vplatform {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> args;
    if (line.empty()) return args;
    std::size_t i = 0;
    // The program: no escapes, a leading quote runs to the next quote.
    std::wstring program;
    if (line[0] == L'"') {
        for (i = 1; i < line.size() && line[i] != L'"'; ++i) program += line[i];
        if (i < line.size()) ++i;  // the closing quote
    } else {
        for (; i < line.size() && !IsBlank(line[i]); ++i) program += line[i];
    }
    args.push_back(std::move(program));
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) return args;

    std::wstring arg;
    std::size_t backslashes = 0;  // directly before the current character
    int quotes = 0;               // 1 inside quotes, 0 outside
    while (i < line.size()) {
        const wchar_t c = line[i];
        if (IsBlank(c) && quotes == 0) {
            args.push_back(std::move(arg));
            arg.clear();
            backslashes = 0;
            while (i < line.size() && IsBlank(line[i])) ++i;
            if (i == line.size()) return args;
            continue;
        }
        if (c == L'\\') {
            arg += c;
            ++backslashes;
            ++i;
            continue;
        }
        if (c != L'"') {
            arg += c;
            backslashes = 0;
            ++i;
            continue;
        }
        // A quote: half the backslashes before it stay; an odd one escapes it.
        arg.resize(arg.size() - backslashes / 2);
        if (backslashes % 2 == 1) {
            arg.back() = L'"';
        } else {
            ++quotes;
        }
        backslashes = 0;
        ++i;
        // Further quotes right after it: a third quote in a row is literal.
        for (; i < line.size() && line[i] == L'"'; ++i) {
            if (++quotes == 3) {
                arg += L'"';
                quotes = 0;
            }
        }
        if (quotes == 2) quotes = 0;
    }
    args.push_back(std::move(arg));
    return args;
}

}  // namespace vplatform

// The splitting of a Windows command line into arguments, shared by
// CommandLineToArgvW and CreateProcessW.
//
// The rules are those of CommandLineToArgvW:
//   - the first argument (the program) ends at the first space or tab, or,
//     when the line starts with a quote, at the next quote; it has no escapes;
//   - the other arguments are separated by runs of spaces and tabs outside
//     quotes; a quote toggles quoting and is dropped; 2n backslashes before a
//     quote give n backslashes (and the quote toggles), 2n + 1 give n and a
//     literal quote; backslashes not before a quote are literal; inside quotes,
//     a doubled quote gives a literal quote and ends the quoted part;
//   - white space after the last argument adds no empty argument, and "" is
//     an empty argument.
// The text is UTF-16 units in wchar_t; nothing but space, tab, quote and
// backslash is interpreted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vplatform {

// The arguments of `line`; none for an empty line.  A line of white space
// only gives one empty argument (the program), as CommandLineToArgvW does.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

}  // namespace vplatform

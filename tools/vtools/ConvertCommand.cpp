// vtools convert: converts a file or standard input between code pages.
#include <VLibIncludes.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Command.h"

namespace vtools {
namespace {

std::wstring Decode(const std::string& bytes, unsigned codePage) {
    if (codePage == kUtf16Le) {
        if (bytes.size() % 2 != 0) throw InputError("UTF-16LE input has an odd number of bytes");
        std::wstring text(bytes.size() / 2, L'\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                           (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
        }
        return text;
    }
    VTools::ConverterMultiByteToWideChar converter(codePage);
    converter.Convert(bytes);
    return std::wstring(static_cast<std::wstring_view>(converter));
}

std::string Encode(const std::wstring& text, unsigned codePage) {
    if (codePage == kUtf16Le) {
        std::string bytes(text.size() * 2, '\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<char>((text[i] >> 8) & 0xFF);
        }
        return bytes;
    }
    VTools::ConverterWideCharToMultiByte converter(codePage);
    converter.Convert(text);
    return std::string(static_cast<std::string_view>(converter));
}

// One line a code page: its number and name as GetCPInfoExW gives them, then
// the names the command takes for it.
void ListCodePages() {
    std::string out;
    std::vector<unsigned> listed;
    for (const auto& [name, codePage] : CodePageNames()) {
        if (std::find(listed.begin(), listed.end(), codePage) != listed.end()) continue;
        listed.push_back(codePage);
        std::string title;
        CPINFOEXW info;
        if (codePage == kUtf16Le) {
            title = "1200  (UTF-16LE)";
        } else if (codePage == CP_ACP) {
            title = "ansi  (the ANSI code page, now " + std::to_string(GetACP()) + ")";
        } else if (GetCPInfoExW(codePage, 0, &info)) {
            title = VTools::String::WideToUtf8(info.CodePageName);
        } else {
            continue;  // not converted on this system
        }
        std::string aliases;
        for (const auto& [alias, page] : CodePageNames()) {
            if (page == codePage) aliases += (aliases.empty() ? "" : ", ") + alias;
        }
        title.resize(std::max<std::size_t>(title.size() + 2, 48), ' ');
        out += title + aliases + "\n";
    }
    WriteOutput(out);
}

int Run(const std::vector<std::string>& args) {
    if (args.size() == 1 && args[0] == "--list") {
        ListCodePages();
        return 0;
    }
    std::string from, to, file;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--from" || args[i] == "--to") && i + 1 < args.size()) {
            (args[i] == "--from" ? from : to) = args[i + 1];
            ++i;
        } else if (args[i].starts_with("--")) {
            throw UsageError("unknown option '" + args[i] + "'");
        } else if (file.empty()) {
            file = args[i];
        } else {
            throw UsageError("more than one input file");
        }
    }
    if (from.empty() || to.empty()) throw UsageError("--from and --to are required");
    const unsigned source = ParseCodePage(from);
    const unsigned target = ParseCodePage(to);
    WriteOutput(Encode(Decode(ReadInput(file), source), target));
    return 0;
}

const Registration registration{{
    "convert",
    "convert text between code pages",
    "usage: vtools convert --from CODEPAGE --to CODEPAGE [FILE]\n"
    "       vtools convert --list\n\n"
    "Converts FILE (or standard input) from one code page to another and writes\n"
    "the result to standard output.  Code pages: utf-8, utf-7, utf-16le, the\n"
    "Windows pages windows-1250 to windows-1258 and windows-874, the double-byte\n"
    "shift_jis (932), gbk (936), uhc (949) and big5 (950), the OEM pages cp437,\n"
    "cp850 and cp852, iso-8859-1, iso-8859-2, us-ascii, ansi (the ANSI code\n"
    "page), or a number (65001, 1251, 932…); --list shows them all with their\n"
    "names.  Invalid input becomes U+FFFD (a double-byte page's default\n"
    "character); a character the target lacks becomes '?'.\n",
    Run,
}};

}  // namespace
}  // namespace vtools

// vtools convert: converts a file or standard input between code pages.
#include <VLibIncludes.h>

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

int Run(const std::vector<std::string>& args) {
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
    "usage: vtools convert --from CODEPAGE --to CODEPAGE [FILE]\n\n"
    "Converts FILE (or standard input) from one code page to another and writes\n"
    "the result to standard output.  Code pages: utf-8, windows-1250, windows-1252,\n"
    "iso-8859-2, iso-8859-1, us-ascii, utf-16le, ansi (the ANSI code page), or a\n"
    "number (65001, 1250, 28592…).  Invalid UTF-8 becomes U+FFFD; a character the\n"
    "target lacks becomes '?'.\n",
    Run,
}};

}  // namespace
}  // namespace vtools

#include "Command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>

#include <VLibIncludes.h>

namespace vtools {

std::vector<Command>& Commands() {
    static std::vector<Command> commands;
    return commands;
}

Registration::Registration(Command command) {
    Commands().push_back(std::move(command));
}

std::vector<DemoSection>& DemoSections() {
    static std::vector<DemoSection> sections;
    return sections;
}

DemoRegistration::DemoRegistration(int order, std::function<void(std::ostream&)> show) {
    DemoSections().push_back({order, std::move(show)});
}

std::string Hex(std::string_view bytes) {
    std::string out;
    char byte[4];
    for (const char c : bytes) {
        std::snprintf(byte, sizeof byte, "%02X ", static_cast<unsigned char>(c));
        out += byte;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

TemporaryFolder::TemporaryFolder(std::wstring_view prefix) {
    std::wstring wide;
    std::string path;
    if (!vplatform::CreateTemporaryFolder(prefix, wide) || !vplatform::ToFileSystemPath(wide, path)) {
        throw InputError("cannot make a temporary folder (error " + std::to_string(GetLastError()) + ")");
    }
    m_path = path;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "-h" || a == "--help"; });
}

std::string ReadInput(const std::string& file) {
    if (file.empty() || file == "-") {
        std::string bytes{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
        if (std::cin.bad()) throw InputError("cannot read standard input");
        return bytes;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) throw InputError("cannot read " + file);
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) throw InputError("cannot read " + file);
    return bytes;
}

namespace {
unsigned g_terminalCodePage = CP_UTF8;
}

void SetTerminalCodePage(unsigned codePage) {
    g_terminalCodePage = codePage;
}

std::wstring FromTerminal(const std::string& text) {
    VTools::ConverterMultiByteToWideChar converter(g_terminalCodePage);
    converter.Convert(text);
    return std::wstring(static_cast<std::wstring_view>(converter));
}

std::string ToTerminal(std::wstring_view text) {
    VTools::ConverterWideCharToMultiByte converter(g_terminalCodePage);
    converter.Convert(text);
    return std::string(static_cast<std::string_view>(converter));
}

void WriteOutput(const std::string& bytes) {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
}

unsigned ParseCodePage(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    static const std::map<std::string, unsigned> names = {
        {"ansi", CP_ACP},  {"acp", CP_ACP},        {"utf-8", CP_UTF8},    {"utf8", CP_UTF8},     {"windows-1250", 1250},
        {"cp1250", 1250},  {"windows-1252", 1252}, {"cp1252", 1252},      {"iso-8859-2", 28592}, {"iso8859-2", 28592},
        {"latin2", 28592}, {"iso-8859-1", 28591},  {"iso8859-1", 28591},  {"latin1", 28591},     {"us-ascii", 20127},
        {"ascii", 20127},  {"utf-16le", kUtf16Le}, {"utf16le", kUtf16Le},
    };
    if (const auto it = names.find(key); it != names.end()) return it->second;
    if (!key.empty() && std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c); }) &&
        key.size() < 6) {
        const unsigned number = static_cast<unsigned>(std::stoul(key));
        if (number == CP_ACP || number == kUtf16Le || IsValidCodePage(number)) return number;
    }
    throw UsageError("unknown code page '" + name + "'");
}

}  // namespace vtools

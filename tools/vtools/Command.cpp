#include "Command.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <vector>

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
    std::error_code error;
    if (std::filesystem::is_directory(file, error)) throw InputError(file + " is a folder, not a file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw InputError("cannot read " + file);
    // Large files are read in pieces, with the share read shown on a
    // terminal (a few hundred megabytes take seconds).
    constexpr std::uintmax_t kShownFrom = 64u << 20;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    const bool show = !error && size >= kShownFrom && StandardErrorIsTerminal();
    try {
        std::string bytes;
        if (!error) bytes.reserve(size);
        std::vector<char> piece(4u << 20);
        int shown = -1;
        while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
            bytes.append(piece.data(), static_cast<std::size_t>(in.gcount()));
            const int percent = size == 0 ? 100 : static_cast<int>(bytes.size() * 100 / size);
            if (show && percent != shown)
                std::cerr << "\rreading " << file << ": " << (shown = percent) << "%" << std::flush;
        }
        if (show) std::cerr << "\r" << std::string(file.size() + 20, ' ') << "\r" << std::flush;
        if (!in.bad()) return bytes;
    } catch (const std::exception&) {
    }
    throw InputError("cannot read " + file);
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

bool StandardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != FALSE;
}

void WriteOutput(const std::string& bytes) {
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
}

const std::vector<std::pair<std::string, unsigned>>& CodePageNames() {
    static const std::vector<std::pair<std::string, unsigned>> names = {
        {"ansi", CP_ACP},       {"acp", CP_ACP},         {"utf-8", CP_UTF8},     {"utf8", CP_UTF8},
        {"utf-7", CP_UTF7},     {"utf7", CP_UTF7},       {"utf-16le", kUtf16Le}, {"utf16le", kUtf16Le},
        {"windows-1250", 1250}, {"cp1250", 1250},        {"windows-1251", 1251}, {"cp1251", 1251},
        {"windows-1252", 1252}, {"cp1252", 1252},        {"windows-1253", 1253}, {"cp1253", 1253},
        {"windows-1254", 1254}, {"cp1254", 1254},        {"windows-1255", 1255}, {"cp1255", 1255},
        {"windows-1256", 1256}, {"cp1256", 1256},        {"windows-1257", 1257}, {"cp1257", 1257},
        {"windows-1258", 1258}, {"cp1258", 1258},        {"windows-874", 874},   {"cp874", 874},
        {"shift_jis", 932},     {"sjis", 932},           {"cp932", 932},         {"gbk", 936},
        {"cp936", 936},         {"ks_c_5601-1987", 949}, {"uhc", 949},           {"cp949", 949},
        {"big5", 950},          {"cp950", 950},          {"ibm437", 437},        {"cp437", 437},
        {"ibm850", 850},        {"cp850", 850},          {"ibm852", 852},        {"cp852", 852},
        {"iso-8859-2", 28592},  {"iso8859-2", 28592},    {"latin2", 28592},      {"iso-8859-1", 28591},
        {"iso8859-1", 28591},   {"latin1", 28591},       {"us-ascii", 20127},    {"ascii", 20127},
    };
    return names;
}

unsigned ParseCodePage(const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto& names = CodePageNames();
    if (const auto it = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == key; });
        it != names.end()) {
        return it->second;
    }
    if (!key.empty() && std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c); }) &&
        key.size() < 6) {
        const unsigned number = static_cast<unsigned>(std::stoul(key));
        if (number == CP_ACP || number == kUtf16Le || IsValidCodePage(number)) return number;
    }
    throw UsageError("unknown code page '" + name + "'");
}

}  // namespace vtools

// vlib-rc: compiles a resource file into the assembler of one module's
// resource block (see ../internal/ResourceFormat.h).
//
//   vlib-rc [--depfile FILE] INPUT.rc OUTPUT
//
// OUTPUT ending in ".s" is plain GNU assembler; any other name (".cpp") gets
// the same assembler inside one top-level asm statement, so that a project
// without the ASM language enabled compiles it with its C++ compiler.  The
// resources' bytes are not copied: the assembler includes them from their
// files with .incbin.  The depfile (Makefile syntax) lists the resource file,
// the headers it includes and every resource, so that the build reruns the
// compiler when one of them changes.
//
// The resource file has one statement per line; "//" starts a comment:
//   NAME TYPE [flags] "file"     a resource; NAME and TYPE are integers
//                                (1..65535), names #defined as integers, or
//                                strings (identifiers or "quoted"), matched
//                                without case.  Type keywords: ICON (the .ico
//                                is split into RT_ICON images and an
//                                RT_GROUP_ICON directory under NAME), BITMAP
//                                (the .bmp without its file header), RCDATA,
//                                HTML, MANIFEST.  Flags such as DISCARDABLE
//                                are accepted and ignored.
//   LANGUAGE primary, sub        the language of the resources that follow
//   #define NAME value           an integer name
//   #include "header.h"          reads the header's #define lines only
//   #pragma ...                  ignored
// Relative paths count from the resource file's folder.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/kernel/internal/ResourceFormat.h"

namespace {

namespace fs = std::filesystem;
namespace rf = vplatform::resources;

struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A name or type: an id, or upper-cased UTF-16 units.
struct Key {
    std::uint16_t id = 0;
    std::u16string text;
};

int Compare(const Key& a, const Key& b) {
    rf::Key x{a.id, reinterpret_cast<const std::uint16_t*>(a.text.data()), a.text.size()};
    rf::Key y{b.id, reinterpret_cast<const std::uint16_t*>(b.text.data()), b.text.size()};
    return rf::CompareKeys(x, y);
}

std::string Describe(const Key& key) {
    if (key.id != 0) return std::to_string(key.id);
    std::string text;
    for (char16_t unit : key.text) text += unit < 0x80 ? static_cast<char>(unit) : '?';
    return '"' + text + '"';
}

// The bytes of one resource: a range of a file, or bytes made here.
struct Data {
    fs::path file;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::vector<std::uint8_t> bytes;  // used when `file` is empty
};

struct Resource {
    Key type;
    Key name;
    std::uint16_t language = 0;
    Data data;
    int line = 0;
};

struct Token {
    enum Kind { Word, Number, Quoted } kind;
    std::string text;
    std::uint32_t number = 0;
};

std::optional<std::uint32_t> ParseNumber(std::string text) {
    while (!text.empty() && (text.back() == 'L' || text.back() == 'l' || text.back() == 'U' || text.back() == 'u')) {
        text.pop_back();
    }
    if (text.empty()) return std::nullopt;
    int base = 10;
    std::size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    std::uint64_t value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// UTF-8 to UTF-16 units; throws on malformed text.
std::u16string Utf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t code;
        int extra;
        if (c < 0x80) {
            code = c, extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            code = c & 0x1F, extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F, extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            code = c & 0x07, extra = 3;
        } else {
            throw Error("malformed UTF-8");
        }
        if (extra > 0 && i + extra >= text.size()) throw Error("malformed UTF-8");
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) throw Error("malformed UTF-8");
            code = (code << 6) | (next & 0x3F);
        }
        i += extra + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

class Compiler {
public:
    explicit Compiler(fs::path input) : m_input(fs::absolute(std::move(input))) {}

    void Run() {
        m_dependencies.push_back(m_input);
        std::ifstream in(m_input);
        if (!in) throw Error(m_input.string() + ": cannot be read");
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            try {
                Statement(line, number);
            } catch (const Error& error) {
                throw Error(m_input.string() + ":" + std::to_string(number) + ": " + error.what());
            }
        }
        AssignIconIds();
        std::sort(m_resources.begin(), m_resources.end(), [](const Resource& a, const Resource& b) {
            int order = Compare(a.type, b.type);
            if (order == 0) order = Compare(a.name, b.name);
            if (order == 0) order = a.language < b.language ? -1 : (a.language == b.language ? 0 : 1);
            return order < 0;
        });
        for (std::size_t i = 1; i < m_resources.size(); ++i) {
            const Resource& a = m_resources[i - 1];
            const Resource& b = m_resources[i];
            if (Compare(a.type, b.type) == 0 && Compare(a.name, b.name) == 0 && a.language == b.language) {
                throw Error(m_input.string() + ":" + std::to_string(b.line) + ": resource " + Describe(b.name) +
                            " of type " + Describe(b.type) + " is defined twice (line " + std::to_string(a.line) + ")");
            }
        }
    }

    std::string Assembler() const;
    const std::vector<fs::path>& Dependencies() const { return m_dependencies; }

private:
    static std::vector<Token> Tokenize(const std::string& line) {
        std::vector<Token> tokens;
        std::size_t i = 0;
        while (i < line.size()) {
            const char c = line[i];
            if (std::isspace(static_cast<unsigned char>(c)) || c == ',') {
                ++i;
            } else if (c == '/' && i + 1 < line.size() && line[i + 1] == '/') {
                break;
            } else if (c == '"') {
                std::string text;
                ++i;
                for (;;) {
                    if (i >= line.size()) throw Error("unterminated string");
                    if (line[i] == '"') {
                        // "" inside a string is one quote, as in resource files.
                        if (i + 1 < line.size() && line[i + 1] == '"') {
                            text += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '\\' || line[i + 1] == '"')) ++i;
                    text += line[i++];
                }
                tokens.push_back({Token::Quoted, text});
            } else {
                const std::size_t start = i;
                while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != ',' &&
                       line[i] != '"') {
                    ++i;
                }
                std::string text = line.substr(start, i - start);
                const auto number = ParseNumber(text);
                if (number) {
                    tokens.push_back({Token::Number, text, *number});
                } else {
                    tokens.push_back({Token::Word, text});
                }
            }
        }
        return tokens;
    }

    void ReadDefines(const std::string& line) {
        std::istringstream words(line);
        std::string directive, name, value;
        words >> directive >> name;
        std::getline(words, value);
        value.erase(
            std::remove_if(value.begin(), value.end(),
                           [](char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ')'; }),
            value.end());
        if (const std::size_t comment = value.find("//"); comment != std::string::npos) value.erase(comment);
        if (const auto number = ParseNumber(value)) m_defines[name] = *number;
    }

    fs::path Relative(const std::string& file) const {
        std::string path = file;
        std::replace(path.begin(), path.end(), '\\', '/');
        return (m_input.parent_path() / path).lexically_normal();
    }

    void Include(const std::vector<Token>& tokens, const std::string& line) {
        std::string file;
        if (tokens.size() >= 2 && tokens[1].kind == Token::Quoted) {
            file = tokens[1].text;
        } else {
            const std::size_t open = line.find('<'), close = line.find('>');
            if (open == std::string::npos || close == std::string::npos || close < open) throw Error("bad #include");
            file = line.substr(open + 1, close - open - 1);
        }
        const fs::path header = Relative(file);
        std::ifstream in(header);
        if (!in) throw Error(header.string() + ": cannot be read");
        m_dependencies.push_back(header);
        std::string text;
        while (std::getline(in, text)) {
            const std::size_t first = text.find_first_not_of(" \t");
            if (first != std::string::npos && text.compare(first, 7, "#define") == 0) ReadDefines(text.substr(first));
        }
    }

    std::uint32_t Value(const Token& token) const {
        if (token.kind == Token::Number) return token.number;
        const auto found = m_defines.find(token.text);
        if (token.kind == Token::Word && found != m_defines.end()) return found->second;
        static const std::map<std::string, std::uint32_t> languages = {
            {"LANG_NEUTRAL", 0},    {"LANG_ENGLISH", 0x09},    {"LANG_GERMAN", 0x07},
            {"LANG_POLISH", 0x15},  {"LANG_FRENCH", 0x0C},     {"SUBLANG_NEUTRAL", 0},
            {"SUBLANG_DEFAULT", 1}, {"SUBLANG_ENGLISH_US", 1}, {"SUBLANG_SYS_DEFAULT", 2}};
        const auto language = languages.find(token.text);
        if (language != languages.end()) return language->second;
        throw Error("'" + token.text + "' is no number");
    }

    Key MakeKey(const Token& token) const {
        Key key;
        if (token.kind != Token::Quoted) {
            const auto define = m_defines.find(token.text);
            if (token.kind == Token::Number || define != m_defines.end()) {
                const std::uint32_t id = token.kind == Token::Number ? token.number : define->second;
                if (id < 1 || id > 0xFFFF) throw Error("id " + std::to_string(id) + " is outside 1..65535");
                key.id = static_cast<std::uint16_t>(id);
                return key;
            }
        }
        key.text = Utf16(token.text);
        if (key.text.empty() || key.text.size() > 0xFFFF) throw Error("a name must have 1 to 65535 characters");
        if (key.text.find(u'\0') != std::u16string::npos) throw Error("a name must not hold NUL");
        for (char16_t& unit : key.text) unit = static_cast<char16_t>(rf::UpperUnit(unit));
        // "#123" is the id 123, as the resource functions read it.
        if (const std::uint16_t id = rf::HashId(key.text.data(), key.text.size()); id != 0) return Key{id, {}};
        return key;
    }

    static std::vector<std::uint8_t> ReadFile(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw Error(file.string() + ": cannot be read");
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static std::uint32_t Read32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    }

    void AddIcon(Resource group, const fs::path& file) {
        const std::vector<std::uint8_t> bytes = ReadFile(file);
        if (bytes.size() < 6 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1 || bytes[3] != 0) {
            throw Error(file.string() + ": not an icon file");
        }
        const std::size_t count = bytes[4] | bytes[5] << 8;
        if (count == 0 || bytes.size() < 6 + 16 * count) throw Error(file.string() + ": truncated icon directory");
        // The group directory: the file's header, then each entry with the
        // image's id in place of its file offset (filled in later).
        group.data.bytes.assign(bytes.begin(), bytes.begin() + 6);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = 6 + 16 * i;
            const std::uint32_t size = Read32(bytes, at + 8);
            const std::uint32_t offset = Read32(bytes, at + 12);
            if (size == 0 || offset > bytes.size() || size > bytes.size() - offset) {
                throw Error(file.string() + ": image " + std::to_string(i + 1) + " lies outside the file");
            }
            group.data.bytes.insert(group.data.bytes.end(), bytes.begin() + at, bytes.begin() + at + 12);
            group.data.bytes.push_back(0);
            group.data.bytes.push_back(0);
            Resource image;
            image.type.id = rf::kTypeIcon;
            image.language = group.language;
            image.data.file = file;
            image.data.offset = offset;
            image.data.size = size;
            image.line = group.line;
            m_iconOf.push_back(m_resources.size());
            m_resources.push_back(image);  // the group follows its images
        }
        m_resources.push_back(group);
        m_groups.push_back(m_resources.size() - 1);
    }

    // Gives the images of the icon files ids that no RT_ICON resource named
    // in the file uses, from 1 up, and writes them into the groups.
    void AssignIconIds() {
        std::vector<bool> taken(0x10000, false);
        for (std::size_t i = 0; i < m_resources.size(); ++i) {
            const Resource& r = m_resources[i];
            if (r.type.id == rf::kTypeIcon && r.name.id != 0 && !IsIconImage(i)) taken[r.name.id] = true;
        }
        std::uint32_t next = 1;
        for (std::size_t i = 0; i < m_resources.size(); ++i) {
            if (!IsIconImage(i)) continue;
            while (next <= 0xFFFF && taken[next]) ++next;
            if (next > 0xFFFF) throw Error("too many icon images");
            m_resources[i].name.id = static_cast<std::uint16_t>(next++);
        }
        // Each group holds its images' entries in order; the images stand
        // right before it.
        for (std::size_t group : m_groups) {
            std::vector<std::uint8_t>& bytes = m_resources[group].data.bytes;
            const std::size_t count = bytes[4] | bytes[5] << 8;
            for (std::size_t k = 0; k < count; ++k) {
                const std::uint16_t id = m_resources[group - count + k].name.id;
                bytes[6 + 14 * k + 12] = static_cast<std::uint8_t>(id & 0xFF);
                bytes[6 + 14 * k + 13] = static_cast<std::uint8_t>(id >> 8);
            }
        }
    }

    bool IsIconImage(std::size_t index) const {
        return std::find(m_iconOf.begin(), m_iconOf.end(), index) != m_iconOf.end();
    }

    void Statement(const std::string& line, int number) {
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos) return;
        if (line[first] == '#') {
            const std::string directive = line.substr(first);
            const std::vector<Token> tokens = Tokenize(directive);
            if (tokens.empty()) return;
            if (tokens[0].text == "#define") {
                ReadDefines(directive);
            } else if (tokens[0].text == "#include") {
                Include(tokens, directive);
            } else if (tokens[0].text != "#pragma") {
                throw Error("unsupported directive " + tokens[0].text);
            }
            return;
        }
        const std::vector<Token> tokens = Tokenize(line);
        if (tokens.empty()) return;
        if (tokens[0].kind == Token::Word && tokens[0].text == "LANGUAGE") {
            if (tokens.size() != 3) throw Error("LANGUAGE takes a primary language and a sublanguage");
            const std::uint32_t primary = Value(tokens[1]), sub = Value(tokens[2]);
            if (primary > 0x3FF || sub > 0x3F) throw Error("language out of range");
            m_language = static_cast<std::uint16_t>(sub << 10 | primary);
            return;
        }
        if (tokens.size() < 3 || tokens.back().kind != Token::Quoted) {
            throw Error("expected NAME TYPE \"file\"");
        }
        static const char* const flags[] = {"DISCARDABLE", "MOVEABLE",   "FIXED",  "PURE",     "IMPURE",
                                            "PRELOAD",     "LOADONCALL", "SHARED", "NONSHARED"};
        for (std::size_t i = 2; i + 1 < tokens.size(); ++i) {
            if (std::find_if(std::begin(flags), std::end(flags), [&](const char* f) { return tokens[i].text == f; }) ==
                std::end(flags)) {
                throw Error("unexpected '" + tokens[i].text + "'");
            }
        }
        Resource resource;
        resource.line = number;
        resource.language = m_language;
        resource.name = MakeKey(tokens[0]);
        const fs::path file = Relative(tokens.back().text);
        if (!fs::is_regular_file(file)) throw Error(file.string() + ": no such file");
        m_dependencies.push_back(file);
        const Token& type = tokens[1];
        if (type.kind == Token::Word && type.text == "ICON") {
            resource.type.id = rf::kTypeGroupIcon;
            AddIcon(std::move(resource), file);
            return;
        }
        if (type.kind == Token::Word && (type.text == "CURSOR")) throw Error("cursor resources are not supported");
        resource.data.file = file;
        resource.data.size = fs::file_size(file);
        if (type.kind == Token::Word && type.text == "BITMAP") {
            resource.type.id = rf::kTypeBitmap;
            const std::vector<std::uint8_t> bytes = ReadFile(file);
            if (bytes.size() < 14 || bytes[0] != 'B' || bytes[1] != 'M') throw Error(file.string() + ": not a bitmap");
            resource.data.offset = 14;
            resource.data.size = bytes.size() - 14;
        } else if (type.kind == Token::Word && type.text == "RCDATA") {
            resource.type.id = rf::kTypeRcData;
        } else if (type.kind == Token::Word && type.text == "HTML") {
            resource.type.id = 23;
        } else if (type.kind == Token::Word && type.text == "MANIFEST") {
            resource.type.id = 24;
        } else {
            resource.type = MakeKey(type);
        }
        m_resources.push_back(std::move(resource));
    }

    fs::path m_input;
    std::vector<Resource> m_resources;
    std::vector<std::size_t> m_iconOf;  // indices of the images split from icon files
    std::vector<std::size_t> m_groups;  // indices of the icon groups
    std::map<std::string, std::uint32_t> m_defines;
    std::vector<fs::path> m_dependencies;
    std::uint16_t m_language = 0;
};

std::string Quote(const fs::path& path) {
    std::string out = "\"";
    for (char c : path.string()) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

std::string Compiler::Assembler() const {
    std::ostringstream s;
    s << "\t.pushsection .rodata.vlib_resources,\"a\",@progbits\n"
      << "\t.balign 16\n"
      << ".Lvres_block:\n"
      << "\t.long " << rf::kMagic << ", " << rf::kVersion << ", .Lvres_end - .Lvres_block, " << m_resources.size()
      << "\n";
    // Strings are shared between entries with the same text.
    std::map<std::u16string, std::size_t> strings;
    auto stringLabel = [&](const Key& key) -> std::string {
        if (key.id != 0) return "0";
        const auto [it, added] = strings.emplace(key.text, strings.size());
        return ".Lvres_s" + std::to_string(it->second) + " - .Lvres_block";
    };
    for (std::size_t i = 0; i < m_resources.size(); ++i) {
        const Resource& r = m_resources[i];
        s << "\t.long " << r.type.id << ", " << stringLabel(r.type) << ", " << r.name.id << ", " << stringLabel(r.name)
          << ", " << r.language << ", .Lvres_d" << i << " - .Lvres_block, .Lvres_e" << i << " - .Lvres_d" << i
          << ", 0\n";
    }
    std::vector<const std::u16string*> ordered(strings.size());
    for (const auto& [text, index] : strings) ordered[index] = &text;
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        s << "\t.balign 2\n.Lvres_s" << i << ":\n\t.short " << ordered[i]->size();
        for (char16_t unit : *ordered[i]) s << ", " << static_cast<unsigned>(unit);
        s << "\n";
    }
    for (std::size_t i = 0; i < m_resources.size(); ++i) {
        const Data& d = m_resources[i].data;
        s << "\t.balign 8\n.Lvres_d" << i << ":\n";
        if (d.file.empty()) {
            for (std::size_t k = 0; k < d.bytes.size(); ++k) {
                s << (k % 16 == 0 ? "\t.byte " : ", ") << static_cast<unsigned>(d.bytes[k]);
                if (k % 16 == 15 || k + 1 == d.bytes.size()) s << "\n";
            }
        } else if (d.size > 0) {
            s << "\t.incbin " << Quote(d.file) << ", " << d.offset << ", " << d.size << "\n";
        }
        s << ".Lvres_e" << i << ":\n";
    }
    s << ".Lvres_end:\n"
      << "\t.popsection\n"
      << "\t.pushsection .note.vlib.resources,\"a\",@note\n"
      << "\t.balign 4\n"
      << "\t.long " << sizeof rf::kNoteName << ", 8, " << rf::kNoteType << "\n"
      << "\t.asciz \"" << rf::kNoteName << "\"\n"
      << "\t.quad .Lvres_block - .\n"
      << "\t.popsection\n";
    return s.str();
}

std::string MakeEscape(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#' || c == '\\') out += '\\';
        if (c == '$') out += '$';
        out += c;
    }
    return out;
}

void WriteFile(const fs::path& file, const std::string& text) {
    const fs::path temporary = file.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) throw Error(temporary.string() + ": cannot be written");
    }
    fs::rename(temporary, file);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string depfile;
    if (args.size() >= 2 && args[0] == "--depfile") {
        depfile = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2) {
        std::cerr << "usage: vlib-rc [--depfile FILE] INPUT.rc OUTPUT(.s|.cpp)\n";
        return 2;
    }
    try {
        Compiler compiler(args[0]);
        compiler.Run();
        std::string text = compiler.Assembler();
        const fs::path output = fs::absolute(args[1]);
        if (output.extension() != ".s") {
            text = "// Generated by vlib-rc from " + fs::absolute(args[0]).string() +
                   ": the module's resources.\n__asm__(R\"vlibrc(\n" + text + ")vlibrc\");\n";
        }
        WriteFile(output, text);
        if (!depfile.empty()) {
            std::string deps = MakeEscape(output.string()) + ":";
            for (const fs::path& dependency : compiler.Dependencies())
                deps += " \\\n  " + MakeEscape(dependency.string());
            WriteFile(depfile, deps + "\n");
        }
    } catch (const std::exception& error) {
        std::cerr << "vlib-rc: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

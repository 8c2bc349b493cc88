// vtools resources: the embedded resources of a shared object or an
// executable, opened as a data file (nothing of it runs).
#include <charconv>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

// The resource types with a keyword, as resource files name them.
const std::map<std::string, WORD>& Keywords() {
    static const std::map<std::string, WORD> keywords = {
        {"CURSOR", 1},  {"BITMAP", 2},        {"ICON", 3},        {"MENU", 4},     {"DIALOG", 5}, {"STRING", 6},
        {"RCDATA", 10}, {"GROUP_CURSOR", 12}, {"GROUP_ICON", 14}, {"VERSION", 16}, {"HTML", 23},  {"MANIFEST", 24}};
    return keywords;
}

std::string Describe(LPCWSTR key, bool type) {
    if (!IS_INTRESOURCE(key)) return ToTerminal(key);
    const WORD id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(key));
    if (type) {
        for (const auto& [keyword, value] : Keywords()) {
            if (value == id) return keyword;
        }
    }
    return std::to_string(id);
}

// A name or type argument: a keyword (types), a decimal id, "#id", or a
// string name.
std::wstring Key(const std::string& text, bool type) {
    if (type) {
        const auto keyword = Keywords().find(text);
        if (keyword != Keywords().end()) return L"#" + std::to_wstring(keyword->second);
    }
    unsigned id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (!text.empty() && error == std::errc() && end == text.data() + text.size()) {
        if (id == 0 || id > 0xFFFF) throw UsageError("'" + text + "' is no resource id (1 to 65535)");
        return L"#" + std::to_wstring(id);
    }
    if (text.empty()) throw UsageError("an empty resource name");
    return FromTerminal(text);
}

std::string LastErrorText() {
    return VTools::WindowsError::ErrorToString(static_cast<std::int32_t>(GetLastError()));
}

// The module of FILE as a data file, freed at the end of the scope.
class DataFile {
public:
    explicit DataFile(const std::string& file)
        : m_module(LoadLibraryExW(FromTerminal(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
        if (m_module == nullptr) {
            throw InputError(file + ": " + LastErrorText());
        }
    }
    ~DataFile() { FreeLibrary(m_module); }
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;
    HMODULE Handle() const { return m_module; }

private:
    HMODULE m_module;
};

struct Listing {
    std::vector<std::wstring> types;  // "#n" or the string
    std::vector<std::string> lines;
};

// "TYPE NAME SIZE" for every resource of the module, in the directory's order.
std::vector<std::string> List(HMODULE module) {
    Listing listing;
    EnumResourceTypesW(
        module,
        [](HMODULE, LPWSTR type, LONG_PTR context) -> BOOL {
            reinterpret_cast<Listing*>(context)->types.push_back(
                IS_INTRESOURCE(type) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(type)) : std::wstring(type));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&listing));
    for (const std::wstring& type : listing.types) {
        EnumResourceNamesW(
            module, type.c_str(),
            [](HMODULE mod, LPCWSTR typeKey, LPWSTR name, LONG_PTR context) -> BOOL {
                const HRSRC resource = FindResourceW(mod, name, typeKey);
                reinterpret_cast<Listing*>(context)->lines.push_back(Describe(typeKey, true) + " " +
                                                                     Describe(name, false) + " " +
                                                                     std::to_string(SizeofResource(mod, resource)));
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&listing));
    }
    return listing.lines;
}

int Resources(const std::vector<std::string>& args) {
    if (args.size() == 2 && args[0] == "list") {
        const DataFile file(args[1]);
        for (const std::string& line : List(file.Handle())) WriteOutput(line + "\n");
        return 0;
    }
    if (args.size() == 4 && args[0] == "get") {
        const DataFile file(args[1]);
        const std::wstring type = Key(args[2], true), name = Key(args[3], false);
        const HRSRC resource = FindResourceW(file.Handle(), name.c_str(), type.c_str());
        if (resource == nullptr) {
            throw InputError(args[1] + ": no resource " + args[3] + " of type " + args[2] + " (" + LastErrorText() +
                             ")");
        }
        const auto* bytes = static_cast<const char*>(LockResource(LoadResource(file.Handle(), resource)));
        WriteOutput(std::string(bytes, SizeofResource(file.Handle(), resource)));
        return 0;
    }
    throw UsageError("expected 'list FILE' or 'get FILE TYPE NAME'");
}

void Demo(std::ostream& out) {
    out << "== module: vtools's own resources (vlib_add_resources)\n";
    const HMODULE exe = GetModuleHandleW(nullptr);
    for (const std::string& line : List(exe)) out << "  " << line << "\n";
    const auto logo = VTools::Resource::GetFileFromResource(exe, L"LOGO", L"PNG");
    out << "  LOGO is a PNG image of " << logo.size() << " bytes"
        << (logo.size() > 8 && std::memcmp(logo.data(), "\x89PNG", 4) == 0 ? "" : " (damaged)") << "\n";
}

const Registration registration{{
    "resources",
    "list or extract the embedded resources of a module file",
    "usage: vtools resources list FILE\n"
    "       vtools resources get FILE TYPE NAME\n\n"
    "Opens FILE (a shared object or an executable with resources embedded by\n"
    "vlib_add_resources) as a data file: none of its code runs.\n"
    "list  prints one line per resource: TYPE NAME SIZE (ids as numbers, the\n"
    "      well-known types by keyword: ICON, GROUP_ICON, RCDATA, BITMAP...).\n"
    "get   writes the bytes of one resource to standard output.  TYPE is a\n"
    "      keyword, a number or a string type; NAME a number or a string name\n"
    "      (strings match without regard to case).\n"
    "Status 1 when FILE is no module or the resource is missing.\n",
    Resources,
}};

const DemoRegistration demo(95, Demo);

}  // namespace
}  // namespace vtools

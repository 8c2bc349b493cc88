// vtools settings: shows, reads and changes settings files, and the settings
// section of vtools demo.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <VLibIncludes.h>
#include <tinyxml2.h>

#include "Command.h"

namespace vtools {
namespace {

struct Arguments {
    std::vector<std::string> positional;
    std::optional<std::string> root;
};

Arguments Parse(const std::vector<std::string>& args) {
    Arguments parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--root") {
            if (i + 1 >= args.size()) throw UsageError("--root needs a name");
            parsed.root = args[++i];
        } else if (args[i].starts_with("--")) {
            throw UsageError("unknown option '" + args[i] + "'");
        } else {
            parsed.positional.push_back(args[i]);
        }
    }
    return parsed;
}

// The name of the document's top element, read from the start of the file:
// after an optional byte-order mark, the declaration, comments, processing
// instructions and a document type.
std::optional<std::string> TopElementName(const std::string& bytes) {
    std::size_t i = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (;;) {
        while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i]))) ++i;
        if (i >= bytes.size() || bytes[i] != '<') return std::nullopt;
        std::string_view end;
        if (bytes.compare(i, 4, "<!--") == 0) {
            end = "-->";
        } else if (bytes.compare(i, 2, "<?") == 0) {
            end = "?>";
        } else if (bytes.compare(i, 2, "<!") == 0) {
            end = ">";
        } else {
            break;
        }
        const std::size_t stop = bytes.find(end, i + 2);
        if (stop == std::string::npos) return std::nullopt;
        i = stop + end.size();
    }
    const std::size_t start = ++i;
    while (i < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[i])) && bytes[i] != '/' &&
           bytes[i] != '>') {
        ++i;
    }
    if (i == start) return std::nullopt;
    return bytes.substr(start, i - start);
}

// Fails when `file` is missing or a folder.
void RequireFile(const std::string& file) {
    if (!std::filesystem::exists(file)) throw InputError("FILE: " + file + " does not exist");
    if (std::filesystem::is_directory(file)) throw InputError("FILE: " + file + " is a folder, not a settings file");
}

// Fails with the XML parser's line and reason when `file` is not well-formed
// XML; returns when it is.
void RequireXml(const std::string& file) {
    tinyxml2::XMLDocument document;
    const std::string bytes = ReadInput(file);
    if (document.Parse(bytes.data(), bytes.size()) == tinyxml2::XML_SUCCESS) return;
    // The parser tells the line, not the column.
    std::string reason = document.ErrorName();
    if (const char* detail = document.ErrorStr(); detail != nullptr) {
        const std::string text = detail;
        const std::size_t colon = text.find(": ");
        if (colon != std::string::npos) reason += " (" + text.substr(colon + 2) + ")";
    }
    throw InputError(file + ":" + std::to_string(document.ErrorLineNum()) + ": not XML: " + reason);
}

// The root name: --root, or the file's top element.
std::string RootName(const Arguments& args, const std::string& file) {
    if (args.root) return *args.root;
    RequireFile(file);
    const auto name = TopElementName(ReadInput(file));
    if (!name) {
        RequireXml(file);
        throw InputError("cannot find the top element of " + file + " (give --root NAME)");
    }
    return *name;
}

Settings Load(const std::string& file, const std::string& root) {
    RequireFile(file);
    Settings settings;
    if (!settings.LoadFromFile(FromTerminal(file), root)) {
        RequireXml(file);
        throw InputError("cannot load " + file + " (its top element is not '" + root + "')");
    }
    return settings;
}

// One step of a PATH: a key, or "#N" for the N-th unnamed child.
struct Step {
    std::string key;
    std::optional<std::size_t> index;
};

std::vector<Step> ParsePath(const std::string& path) {
    std::vector<Step> steps;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty()) throw UsageError("'" + path + "' is not a PATH (keys separated by '/')");
        Step step;
        if (part[0] == '#') {
            if (part.size() == 1 || part.size() > 12 ||
                !std::all_of(part.begin() + 1, part.end(), [](unsigned char c) { return std::isdigit(c); })) {
                throw UsageError("'" + part + "' in PATH is not #N (an unnamed child's number)");
            }
            step.index = std::stoull(part.substr(1));
        } else {
            step.key = VTools::String::WideToUtf8(FromTerminal(part));
        }
        steps.push_back(std::move(step));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return steps;
}

const Settings* Find(const Settings& root, const std::vector<Step>& steps) {
    const Settings* node = &root;
    for (const auto& step : steps) {
        if (step.index) {
            if (*step.index >= node->GetUnnamedVariablesCount()) return nullptr;
            node = &*(node->begin_unnamed() + static_cast<std::ptrdiff_t>(*step.index));
        } else {
            if (!node->Exists(step.key)) return nullptr;
            node = &(*node)[step.key];
        }
    }
    return node;
}

// Creates the named children on the way; "#N" must name an unnamed child that
// exists or the next one (which is added).
Settings& Reach(Settings& root, const std::vector<Step>& steps, const std::string& path) {
    Settings* node = &root;
    for (const auto& step : steps) {
        if (step.index) {
            const auto count = node->GetUnnamedVariablesCount();
            if (*step.index > count)
                throw InputError("'" + path + "': there is no unnamed child before #" + std::to_string(*step.index));
            node = *step.index == count ? &node->AddUnnamed()
                                        : &*(node->begin_unnamed() + static_cast<std::ptrdiff_t>(*step.index));
        } else {
            node = &(*node)[step.key];
        }
    }
    return *node;
}

std::string Shown(const Settings& node) {
    return ToTerminal(static_cast<std::wstring>(node));
}

void Print(std::ostream& out, const Settings& node, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    const auto line = [&](const std::string& name, const Settings& child) {
        out << indent << name;
        if (!Shown(child).empty()) out << " = " << Shown(child);
        if (child.Version() != 0) out << "  [version " << child.Version() << "]";
        out << "\n";
        Print(out, child, depth + 1);
    };
    for (const auto& [key, child] : node) line(ToTerminal(VTools::String::Utf8ToWide(key)), child);
    std::size_t index = 0;
    for (auto it = node.begin_unnamed(); it != node.end_unnamed(); ++it) line("#" + std::to_string(index++), *it);
}

int Show(const Arguments& args) {
    if (args.positional.size() != 1) throw UsageError("show takes one FILE");
    const std::string& file = args.positional[0];
    const std::string root = RootName(args, file);
    const Settings settings = Load(file, root);
    std::ostringstream out;
    out << root;
    if (settings.Version() != 0) out << "  [version " << settings.Version() << "]";
    out << "\n";
    Print(out, settings, 1);
    WriteOutput(out.str());
    return 0;
}

int Get(const Arguments& args) {
    if (args.positional.size() != 2) throw UsageError("get takes a FILE and a PATH");
    const std::string& file = args.positional[0];
    const auto steps = ParsePath(args.positional[1]);
    const Settings settings = Load(file, RootName(args, file));
    const Settings* node = Find(settings, steps);
    if (node == nullptr) throw InputError("no setting " + args.positional[1] + " in " + file);
    WriteOutput(Shown(*node) + "\n");
    return 0;
}

int Set(const Arguments& args) {
    if (args.positional.size() != 3) throw UsageError("set takes a FILE, a PATH and a VALUE");
    const std::string& file = args.positional[0];
    const auto steps = ParsePath(args.positional[1]);
    Settings settings;
    std::string root;
    if (std::filesystem::exists(file)) {
        root = RootName(args, file);
        settings = Load(file, root);
    } else if (args.root) {
        root = *args.root;
    } else {
        throw InputError(file + " does not exist (give --root NAME to create it)");
    }
    Reach(settings, steps, args.positional[1]) = FromTerminal(args.positional[2]);
    if (!settings.SaveToFile(FromTerminal(file), root)) {
        throw InputError("cannot save " + file +
                         " (a missing folder, no permission, or a key or root name that would "
                         "not read back as an element name)");
    }
    return 0;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty()) throw UsageError("missing subcommand: show, get or set (see vtools settings --help)");
    const std::string subcommand = args.front();
    const Arguments rest = Parse({args.begin() + 1, args.end()});
    if (subcommand == "show") return Show(rest);
    if (subcommand == "get") return Get(rest);
    if (subcommand == "set") return Set(rest);
    throw UsageError("unknown subcommand '" + subcommand + "' (show, get or set)");
}

void Demo(std::ostream& out) {
    out << "== settings: tree, XML text and files\n";
    Settings tree;
    tree.Version(3);
    tree["Window"]["Rect"] = CRect(10, 20, 300, 400);
    tree["Window"]["Visible"] = true;
    tree["Name"] = L"Notowania \u2013 \u0141\u00F3d\u017A";
    tree["Opened"] = COleDateTime(2024, 3, 15, 9, 0, 0);
    tree.AddUnnamed() = "WIG20";
    tree.AddUnnamed() = "mWIG40";
    const std::string text = tree.ConvertToString();
    out << "  string form         " << text.size() << " bytes, " << std::count(text.begin(), text.end(), '\n')
        << " lines\n";

    std::random_device device;
    const auto file = std::filesystem::temp_directory_path() / ("vtools-settings-" + std::to_string(device()) + ".xml");
    const bool saved = tree.SaveToFile(file.wstring(), "Workspace");
    Settings loaded;
    const bool reloaded = saved && loaded.LoadFromFile(file.wstring(), "Workspace");
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    out << "  file                " << (saved ? "saved" : "NOT SAVED") << ", "
        << (reloaded ? "reloaded" : "NOT RELOADED") << " (top element Workspace, version " << loaded.Version() << ")\n";
    const CRect rect = loaded["Window"]["Rect"];
    const COleDateTime opened = loaded["Opened"];
    out << "  Window/Rect         " << rect.Width() << " x " << rect.Height() << " at (" << rect.left << ", "
        << rect.top << ")\n";
    out << "  Name                " << Shown(loaded["Name"]) << "\n";
    out << "  Opened              " << ToTerminal(opened.Format(L"%A %#d %B %Y, %H:%M").GetString()) << "\n";
    out << "  unnamed children    " << loaded.GetUnnamedVariablesCount() << ", identifiers "
        << loaded.begin_unnamed()->GetID() << " and " << std::next(loaded.begin_unnamed())->GetID() << "\n";
}

const DemoRegistration demoSection(30, Demo);

const Registration registration{{
    "settings",
    "show, read or change a settings file",
    "usage: vtools settings show FILE [--root NAME]\n"
    "       vtools settings get FILE PATH [--root NAME]\n"
    "       vtools settings set FILE PATH VALUE [--root NAME]\n\n"
    "show  prints the tree as an indented outline: one line per child with its\n"
    "      value and version; unnamed children appear as #0, #1, ...\n"
    "get   prints the value at PATH (keys separated by '/', #N for the N-th\n"
    "      unnamed child, for example Window/Rect or List/#2/Name).\n"
    "set   stores VALUE at PATH, creating the keys on the way (#N may name the\n"
    "      next unnamed child to add one), and saves the file by replacing it\n"
    "      whole.  A missing FILE is created when --root is given.\n\n"
    "The root name is the file's top element unless --root NAME says otherwise.\n"
    "Values are shown and read in the terminal's code page.\n",
    Run,
}};

}  // namespace
}  // namespace vtools

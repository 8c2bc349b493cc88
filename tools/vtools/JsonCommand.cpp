// vtools json: reads a JSON file and writes it compact or indented; the demo
// section for the binary serializer and JSON files.
#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>

#include <boost/json.hpp>

#include "Command.h"
#include "encoding/BinaryStringSerializer.h"
#include "encoding/Json.h"
#include "text/StringConversion.h"

namespace vtools {
namespace {

// Writes `value` indented by four spaces per level, one member or element per
// line; scalars and strings exactly as the compact form writes them.
void WritePretty(std::ostream& out, const boost::json::value& value, int depth) {
    const std::string inner(4 * (depth + 1), ' ');
    const std::string outer(4 * depth, ' ');
    if (const auto* object = value.if_object()) {
        if (object->empty()) {
            out << "{}";
            return;
        }
        out << "{\n";
        bool first = true;
        for (const auto& member : *object) {
            if (!first) out << ",\n";
            first = false;
            out << inner << boost::json::serialize(boost::json::value(member.key())) << ": ";
            WritePretty(out, member.value(), depth + 1);
        }
        out << "\n" << outer << "}";
    } else if (const auto* array = value.if_array()) {
        if (array->empty()) {
            out << "[]";
            return;
        }
        out << "[\n";
        bool first = true;
        for (const auto& element : *array) {
            if (!first) out << ",\n";
            first = false;
            out << inner;
            WritePretty(out, element, depth + 1);
        }
        out << "\n" << outer << "]";
    } else {
        out << boost::json::serialize(value);
    }
}

// Fails with the line and column (from 1) where the JSON text of `file`
// stops being valid, and what is wrong there; returns when it is valid.
void ThrowWhereItBreaks(const std::string& file) {
    const std::string bytes = ReadInput(file);
    boost::json::parse_options options;
    options.max_depth = 32;
    boost::json::stream_parser parser({}, options);
    boost::system::error_code error;
    std::size_t used = parser.write_some(bytes.data(), bytes.size(), error);
    if (!error) {
        parser.finish(error);
        used = bytes.size();
    }
    if (!error) return;
    const std::size_t lineStart = used == 0 ? std::string::npos : bytes.rfind('\n', used - 1);
    const std::size_t line = 1 + static_cast<std::size_t>(std::count(bytes.begin(), bytes.begin() + used, '\n'));
    const std::size_t column = lineStart == std::string::npos ? used + 1 : used - lineStart;
    throw InputError(file + ":" + std::to_string(line) + ":" + std::to_string(column) +
                     ": not valid JSON: " + error.message());
}

int Json(const std::vector<std::string>& args) {
    if (args.size() != 2 || (args[0] != "pretty" && args[0] != "compact")) {
        throw UsageError("expected 'pretty FILE' or 'compact FILE'");
    }
    if (std::filesystem::is_directory(args[1])) throw InputError("FILE: " + args[1] + " is a folder, not a JSON file");
    VTools::Json::JsonParser parser;
    const boost::json::value value = parser.FromFile(FromTerminal(args[1]));
    if (value.is_null()) {
        ThrowWhereItBreaks(args[1]);
        throw InputError(args[1] + ": no JSON document (the file is missing or unreadable, or holds just null)");
    }
    std::ostringstream out;
    if (args[0] == "pretty") {
        WritePretty(out, value, 0);
    } else {
        out << boost::json::serialize(value);
    }
    out << "\n";
    WriteOutput(out.str());
    return 0;
}

void Demo(std::ostream& out) {
    out << "== encoding: archives as hex text, JSON files\n";
    std::string text;
    {
        BinaryStringSerializer store;
        store.GetArchive() << 1 << 2.5 << CString(L"WIG20");
        text = store.GetString();
    }
    out << "  archive 1, 2.5, WIG20  " << text << "\n";
    BinaryStringSerializer load(text);
    int number = 0;
    double price = 0;
    CString name;
    load.GetArchive() >> number >> price >> name;
    out << "  read back           " << number << ", " << price << ", " << ToTerminal(name.GetString()) << "\n";

    boost::json::object quote{{"symbol", "WIG20"}, {"price", 2345.5}, {"archive", text}};
    std::random_device device;
    const auto file = std::filesystem::temp_directory_path() / ("vtools-json-" + std::to_string(device()) + ".json");
    const std::wstring path = VTools::String::Utf8ToWide(file.string());
    VTools::Json::JsonSerializer serializer;
    const bool saved = serializer.Save(path, quote);
    const boost::json::value loaded = VTools::Json::JsonParser().FromFile(path);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    out << "  JSON                " << serializer.SerializeToString(quote) << "\n";
    out << "  file                " << (saved ? "saved" : "NOT SAVED") << ", "
        << (loaded == boost::json::value(quote) ? "reads back equal" : "DIFFERS") << "\n";
}

const DemoRegistration demoSection(60, Demo);

const Registration registration{{
    "json",
    "show a JSON file compact or indented",
    "usage: vtools json pretty FILE\n"
    "       vtools json compact FILE\n\n"
    "Reads the JSON document in FILE (UTF-8, nesting up to 32 levels) and writes\n"
    "it to standard output: compact as the library saves files, or indented by\n"
    "four spaces.  A file that holds no valid document is an error (status 1).\n",
    Json,
}};

}  // namespace
}  // namespace vtools

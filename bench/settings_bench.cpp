// Saving and loading a large settings tree beside tinyxml2 alone and
// Boost.PropertyTree's XML reader and writer, on the same document.
//
// The tree has about 204,000 nodes four levels deep: groups of instruments,
// each with named fields and a history list of unnamed children, as the
// application keeps them (about 12 MB of XML).  Cases:
//   string/print  Settings::ConvertToString | tinyxml2 printing the parsed
//                 document into memory | PropertyTree write_xml to a string
//   string/parse  Settings::ConvertFromString | tinyxml2 parsing the text |
//                 PropertyTree read_xml from a string; besides, tinyxml2
//                 parsing and then reading every attribute, which it decodes
//                 only on demand
//   file/save     Settings::SaveToFile (temporary file, flush to the disk,
//                 rename) | XMLDocument::SaveFile (no flush) | PropertyTree
//                 write_xml to the file (no flush)
//   file/load     Settings::LoadFromFile | XMLDocument::LoadFile |
//                 PropertyTree read_xml from the file
// Bytes processed are the document's size for every implementation, so the
// rates of one case compare directly.  A table of time ratios follows the
// usual output (CPU time of ours over theirs: below 1 is faster), then the
// peak memory of one file load by Settings and by tinyxml2, each measured in
// a fresh process of its own (this program run with --peak-load=WHO:FILE).
#include <benchmark/benchmark.h>

#include <tinyxml2.h>

#include <algorithm>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "settings/Settings.h"
#include "tests/support/TempDir.h"

#include "MedianReporter.h"

namespace {

namespace pt = boost::property_tree;

Settings MakeTree() {
    Settings root;
    root.Version(7);
    char key[32];
    for (int g = 0; g < 100; ++g) {
        std::snprintf(key, sizeof key, "Group%03d", g);
        Settings& group = root[key];
        group.Version(g % 3);
        for (int i = 0; i < 40; ++i) {
            std::snprintf(key, sizeof key, "Instrument%03d", i);
            Settings& item = group[key];
            item["Name"] = L"Spółka \u0141\u00F3d\u017A nr " + std::to_wstring(g * 40 + i);
            item["Price"] = 1234.5 + i;
            item["Volume"] = 1000000LL * i + g;
            item["Rect"] = CRect(i, g, i + 300, g + 400);
            item["Visible"] = (i % 2) == 0;
            Settings& history = item["History"];
            for (int h = 0; h < 44; ++h) {
                std::snprintf(key, sizeof key, "%d.%02d %d 2024-03-%02d", 100 + h, (g + i) % 100, 1000 * h + i,
                              1 + h % 28);
                history.AddUnnamed() = key;
            }
        }
    }
    return root;
}

struct Data {
    Settings tree = MakeTree();
    std::string text = tree.ConvertToString();
    vlibtest::TempDir folder;
    std::filesystem::path file = folder.Path() / "tree.xml";

    Data() { tree.SaveToFile(file.wstring(), "data"); }
};

Data& TheData() {
    static Data data;
    return data;
}

void Finish(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TheData().text.size()));
}

// --- string/print -----------------------------------------------------------

void PrintSettings(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(TheData().tree.ConvertToString());
    Finish(state);
}

void PrintTinyxml2(benchmark::State& state) {
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    document.Parse(TheData().text.data(), TheData().text.size());
    for (auto _ : state) {
        tinyxml2::XMLPrinter printer;
        document.Print(&printer);
        benchmark::DoNotOptimize(std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1)));
    }
    Finish(state);
}

pt::ptree PropertyTree() {
    std::istringstream in(TheData().text);
    pt::ptree tree;
    pt::read_xml(in, tree);
    return tree;
}

const pt::xml_writer_settings<std::string> kIndent(' ', 4);

void PrintPropertyTree(benchmark::State& state) {
    const pt::ptree tree = PropertyTree();
    for (auto _ : state) {
        std::ostringstream out;
        pt::write_xml(out, tree, kIndent);
        benchmark::DoNotOptimize(out.str());
    }
    Finish(state);
}

// --- string/parse -----------------------------------------------------------

void ParseSettings(benchmark::State& state) {
    for (auto _ : state) {
        Settings tree;
        benchmark::DoNotOptimize(tree.ConvertFromString(TheData().text));
    }
    Finish(state);
}

void ParseTinyxml2(benchmark::State& state) {
    for (auto _ : state) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        benchmark::DoNotOptimize(document.Parse(TheData().text.data(), TheData().text.size()));
    }
    Finish(state);
}

// tinyxml2 decodes attribute text only when it is asked for; a reader that
// takes every value (as Settings does) pays for that too.
void ReadAttributes(const tinyxml2::XMLElement& element, std::size_t& bytes) {
    for (const tinyxml2::XMLAttribute* a = element.FirstAttribute(); a != nullptr; a = a->Next()) {
        bytes += std::strlen(a->Name()) + std::strlen(a->Value());
    }
    for (const tinyxml2::XMLElement* child = element.FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        ReadAttributes(*child, bytes);
    }
}

void ParseTinyxml2Values(benchmark::State& state) {
    for (auto _ : state) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        document.Parse(TheData().text.data(), TheData().text.size());
        std::size_t bytes = 0;
        ReadAttributes(*document.RootElement(), bytes);
        benchmark::DoNotOptimize(bytes);
    }
    Finish(state);
}

void ParsePropertyTree(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(PropertyTree());
    Finish(state);
}

// --- file/save --------------------------------------------------------------

void SaveSettings(benchmark::State& state) {
    const std::wstring path = (TheData().folder.Path() / "settings.xml").wstring();
    for (auto _ : state) benchmark::DoNotOptimize(TheData().tree.SaveToFile(path, "data"));
    Finish(state);
}

void SaveTinyxml2(benchmark::State& state) {
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    document.Parse(TheData().text.data(), TheData().text.size());
    const std::string path = (TheData().folder.Path() / "tinyxml2.xml").string();
    for (auto _ : state) benchmark::DoNotOptimize(document.SaveFile(path.c_str()));
    Finish(state);
}

void SavePropertyTree(benchmark::State& state) {
    const pt::ptree tree = PropertyTree();
    const std::string path = (TheData().folder.Path() / "ptree.xml").string();
    for (auto _ : state) pt::write_xml(path, tree, std::locale(), kIndent);
    Finish(state);
}

// --- file/load --------------------------------------------------------------

void LoadSettings(benchmark::State& state) {
    const std::wstring path = TheData().file.wstring();
    for (auto _ : state) {
        Settings tree;
        benchmark::DoNotOptimize(tree.LoadFromFile(path, "data"));
    }
    Finish(state);
}

void LoadTinyxml2(benchmark::State& state) {
    const std::string path = TheData().file.string();
    for (auto _ : state) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        benchmark::DoNotOptimize(document.LoadFile(path.c_str()));
    }
    Finish(state);
}

void LoadPropertyTree(benchmark::State& state) {
    const std::string path = TheData().file.string();
    for (auto _ : state) {
        pt::ptree tree;
        pt::read_xml(path, tree);
        benchmark::DoNotOptimize(tree);
    }
    Finish(state);
}

struct Case {
    const char* name;
    void (*ours)(benchmark::State&);
    void (*tinyxml2)(benchmark::State&);
    void (*propertyTree)(benchmark::State&);
};

const Case kCases[] = {
    {"string/print", PrintSettings, PrintTinyxml2, PrintPropertyTree},
    {"string/parse", ParseSettings, ParseTinyxml2, ParsePropertyTree},
    {"file/save", SaveSettings, SaveTinyxml2, SavePropertyTree},
    {"file/load", LoadSettings, LoadTinyxml2, LoadPropertyTree},
};

// --- peak memory -------------------------------------------------------------

// A "VmRSS" or "VmHWM" figure of this process, in KiB.
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::atol(line.c_str() + length + 1);
        }
    }
    return -1;
}

// Loads `file` once with Settings or tinyxml2 and prints how far the peak of
// the resident set rose above the resident set before the load, in KiB.
int PeakLoad(const char* argument) {
    const char* colon = std::strchr(argument, ':');
    if (colon == nullptr) return 1;
    const std::string who(argument, colon);
    const std::string file(colon + 1);
    const long before = StatusKiB("VmRSS");
    if (who == "Settings") {
        Settings tree;
        if (!tree.LoadFromFile(std::filesystem::path(file).wstring(), "data")) return 1;
        std::printf("%ld\n", StatusKiB("VmHWM") - before);
    } else {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        if (document.LoadFile(file.c_str()) != tinyxml2::XML_SUCCESS) return 1;
        std::printf("%ld\n", StatusKiB("VmHWM") - before);
    }
    return 0;
}

// The peak of one load by `who`, from a run of this program of its own; -1
// when it fails.
long MeasurePeak(const char* self, const char* who) {
    const std::string command = "'" + std::string(self) + "' --peak-load=" + who + ":'" + TheData().file.string() + "'";
    FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) return -1;
    long kib = -1;
    if (std::fscanf(child, "%ld", &kib) != 1) kib = -1;
    return pclose(child) == 0 ? kib : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], "--peak-load=", 12) == 0) return PeakLoad(argv[1] + 12);
    for (const Case& c : kCases) {
        benchmark::RegisterBenchmark((std::string(c.name) + "/Settings").c_str(), c.ours)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string(c.name) + "/tinyxml2").c_str(), c.tinyxml2)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string(c.name) + "/PropertyTree").c_str(), c.propertyTree)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("string/parse/tinyxml2+values", ParseTinyxml2Values)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("document: %zu bytes, tree of %llu groups\n", TheData().text.size(),
                static_cast<unsigned long long>(TheData().tree.GetVariablesCount()));
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto times = reporter.Medians();
    std::printf("\nTime ratios (lower is faster for Settings)\n%-14s %18s %22s\n", "case", "Settings/tinyxml2",
                "Settings/PropertyTree");
    for (const Case& c : kCases) {
        const auto find = [&](const char* impl) {
            const auto it = times.find(std::string(c.name) + "/" + impl);
            return it == times.end() ? 0.0 : it->second;
        };
        const double ours = find("Settings"), tiny = find("tinyxml2"), ptree = find("PropertyTree");
        std::printf("%-14s %18.2f %22.2f\n", c.name, tiny > 0 ? ours / tiny : 0.0, ptree > 0 ? ours / ptree : 0.0);
    }
    const auto values = times.find("string/parse/tinyxml2+values");
    const auto parse = times.find("string/parse/Settings");
    if (values != times.end() && parse != times.end() && values->second > 0) {
        std::printf("%-14s %18.2f   (tinyxml2 parsing and reading every attribute)\n", "string/parse",
                    parse->second / values->second);
    }
    const long ours = MeasurePeak(argv[0], "Settings"), tiny = MeasurePeak(argv[0], "tinyxml2");
    if (ours > 0 && tiny > 0) {
        std::printf(
            "\nPeak memory of one file load, rise of the resident set's high-water mark:\n"
            "  Settings %.1f MiB, tinyxml2 %.1f MiB, Settings/tinyxml2 = %.2f\n",
            ours / 1024.0, tiny / 1024.0, static_cast<double>(ours) / tiny);
    }
    benchmark::Shutdown();
    return 0;
}

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
//   file/save     Settings::SaveToFile | XMLDocument::SaveFile | PropertyTree
//                 write_xml, each the way Settings saves: into a temporary
//                 file beside the target, flushed to the disk (fsync), renamed
//                 over the target, the folder flushed
//   file/load     Settings::LoadFromFile | XMLDocument::LoadFile |
//                 PropertyTree read_xml from the file; besides, tinyxml2
//                 loading and then reading every element's name and every
//                 attribute's name and value (the work Settings's load does)
// Bytes processed are the document's size for every implementation, so the
// rates of one case compare directly.  A table of time ratios follows the
// usual output (CPU time of ours over theirs: below 1 is faster; the saves'
// waits for the disk are left out of it alike), then the peak memory of one file load by Settings, by
// tinyxml2 and by tinyxml2 reading every value, each measured in a fresh
// process of its own (this program run with --peak-load=WHO:FILE).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

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

// tinyxml2 decodes names and attribute text only when they are asked for; a
// reader that takes every value (as Settings does) pays for that too.
void ReadAttributes(const tinyxml2::XMLElement& element, std::size_t& bytes) {
    bytes += std::strlen(element.Name());
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
    for (auto _ : state) {
        if (!TheData().tree.SaveToFile(path, "data")) state.SkipWithError("not saved");
    }
    Finish(state);
}

// Replaces `path` the way Settings::SaveToFile does: `write` fills a
// temporary file beside it, which is flushed to the disk, renamed over the
// target, and the folder flushed so the new name lasts.  False on a failure.
template <class Write>
bool ReplaceDurably(const std::filesystem::path& path, Write write) {
    const std::string temporary = path.string() + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = write(file) && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    if (std::fclose(file) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    const int folder = open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = folder >= 0 && fsync(folder) == 0;
    if (folder >= 0) close(folder);
    return synced;
}

bool SaveWithTinyxml2(const tinyxml2::XMLDocument& document, const std::filesystem::path& path) {
    return ReplaceDurably(path, [&](FILE* file) {
        tinyxml2::XMLPrinter printer(file);
        document.Print(&printer);
        return std::ferror(file) == 0;
    });
}

bool SaveWithPropertyTree(const pt::ptree& tree, const std::filesystem::path& path) {
    return ReplaceDurably(path, [&](FILE* file) {
        std::ostringstream out;
        pt::write_xml(out, tree, kIndent);
        const std::string text = out.str();
        return std::fwrite(text.data(), 1, text.size(), file) == text.size();
    });
}

void SaveTinyxml2(benchmark::State& state) {
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    document.Parse(TheData().text.data(), TheData().text.size());
    const auto path = TheData().folder.Path() / "tinyxml2.xml";
    for (auto _ : state) {
        if (!SaveWithTinyxml2(document, path)) state.SkipWithError("not saved");
    }
    Finish(state);
}

void SavePropertyTree(benchmark::State& state) {
    const pt::ptree tree = PropertyTree();
    const auto path = TheData().folder.Path() / "ptree.xml";
    for (auto _ : state) {
        if (!SaveWithPropertyTree(tree, path)) state.SkipWithError("not saved");
    }
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

void LoadTinyxml2Values(benchmark::State& state) {
    const std::string path = TheData().file.string();
    for (auto _ : state) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) state.SkipWithError("not loaded");
        std::size_t bytes = 0;
        ReadAttributes(*document.RootElement(), bytes);
        benchmark::DoNotOptimize(bytes);
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

// Loads `file` once with Settings, tinyxml2, or tinyxml2 reading every value
// ("tinyxml2+values") and prints how far the peak of
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
        if (who == "tinyxml2+values") {
            std::size_t bytes = 0;
            ReadAttributes(*document.RootElement(), bytes);
            benchmark::DoNotOptimize(bytes);
        }
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

// Elements and the bytes of their "Value" attributes, as the peer reading
// every value takes them from the document.
void CountElements(const tinyxml2::XMLElement& element, std::size_t& elements, std::size_t& valueBytes) {
    ++elements;
    if (const char* value = element.Attribute("Value")) valueBytes += std::strlen(value);
    for (const tinyxml2::XMLElement* child = element.FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        CountElements(*child, elements, valueBytes);
    }
}

// The same of a Settings tree: its nodes and the bytes of their values.
void CountNodes(const Settings& node, std::size_t& nodes, std::size_t& valueBytes) {
    ++nodes;
    valueBytes += static_cast<const std::string&>(node).size();
    for (const auto& named : node) CountNodes(named.second, nodes, valueBytes);
    for (auto it = node.begin_unnamed(); it != node.end_unnamed(); ++it) CountNodes(*it, nodes, valueBytes);
}

// Before timing: the loads take the same elements and values as ours, and
// every save writes a file that Settings loads back as the same tree.  False,
// with the reason printed, when one does not.
bool PeersDoTheSameWork() {
    Settings ours;
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    if (!ours.LoadFromFile(TheData().file.wstring(), "data") ||
        document.LoadFile(TheData().file.string().c_str()) != tinyxml2::XML_SUCCESS) {
        std::fprintf(stderr, "the file does not load\n");
        return false;
    }
    std::size_t nodes = 0, ourBytes = 0, elements = 0, theirBytes = 0;
    CountNodes(ours, nodes, ourBytes);
    CountElements(*document.RootElement(), elements, theirBytes);
    std::printf("file load: Settings read %zu nodes with %zu bytes of values, tinyxml2 %zu elements with %zu\n", nodes,
                ourBytes, elements, theirBytes);
    if (nodes != elements || ourBytes != theirBytes) return false;
    const auto folder = TheData().folder.Path();
    const bool saved = TheData().tree.SaveToFile((folder / "check-settings.xml").wstring(), "data") &&
                       SaveWithTinyxml2(document, folder / "check-tinyxml2.xml") &&
                       SaveWithPropertyTree(PropertyTree(), folder / "check-ptree.xml");
    if (!saved) {
        std::fprintf(stderr, "a save failed\n");
        return false;
    }
    for (const char* name : {"check-settings.xml", "check-tinyxml2.xml", "check-ptree.xml"}) {
        Settings back;
        if (!back.LoadFromFile((folder / name).wstring(), "data") || back.ConvertToString() != TheData().text) {
            std::fprintf(stderr, "%s does not load back as the saved tree\n", name);
            return false;
        }
    }
    return true;
}

// The ratio rows (vbench::Report prints them and writes the JSON rows): CPU
// time of ours over each peer, from the rounds' figures, and the peak memory
// of one file load (one child process a side).
void PrintRatios(const vbench::MedianReporter& reporter, const char* self) {
    const char* const kArea = "Settings";
    const char* const kUnit = "ms CPU";
    for (const Case& c : kCases) {
        const std::string name = c.name;
        for (const char* peer : {"tinyxml2", "PropertyTree"}) {
            vbench::Report(kArea, name + " vs " + peer, name + "/Settings", reporter.Figures(name + "/Settings"),
                           name + "/" + peer, reporter.Figures(name + "/" + peer), kUnit);
        }
    }
    for (const char* name : {"string/parse", "file/load"}) {
        const std::string n = name;
        vbench::Report(kArea, n + " vs tinyxml2 reading every name and value", n + "/Settings",
                       reporter.Figures(n + "/Settings"), n + "/tinyxml2+values",
                       reporter.Figures(n + "/tinyxml2+values"), kUnit, n == "file/load" ? "<= 1.2" : "");
    }
    const long ours = MeasurePeak(self, "Settings"), tiny = MeasurePeak(self, "tinyxml2"),
               values = MeasurePeak(self, "tinyxml2+values");
    if (ours > 0 && tiny > 0 && values > 0) {
        const auto mib = [](long kib) { return vbench::Spread({kib / 1024.0}); };
        vbench::Report(kArea, "peak memory of a file load vs tinyxml2", "Settings", mib(ours), "tinyxml2", mib(tiny),
                       "MiB");
        vbench::Report(kArea, "peak memory of a file load vs tinyxml2 reading every value", "Settings", mib(ours),
                       "tinyxml2+values", mib(values), "MiB", "<= 1.5");
    }
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
    benchmark::RegisterBenchmark("file/load/tinyxml2+values", LoadTinyxml2Values)->Unit(benchmark::kMillisecond);
    vbench::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("document: %zu bytes, tree of %llu groups\n", TheData().text.size(),
                static_cast<unsigned long long>(TheData().tree.GetVariablesCount()));
    if (!PeersDoTheSameWork()) {
        std::fprintf(stderr, "a peer does different work from ours: nothing timed\n");
        return 1;
    }
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter, argv[0]);
    benchmark::Shutdown();
    return 0;
}

// JSON files and hex text.
//
// JsonParser::FromFile on a generated document of about 50 MB of quote-like
// records, beside Boost.JSON's own parse of the whole file read into memory
// (the read included) and nlohmann-json's parse of the same.  Each case
// reports the high-water mark of its heap use during one parse (peak_MB,
// counted by the replacement operator new below, which every allocation of
// the three parsers and the file read goes through) and the heap the parsed
// value keeps (value_MB); the rows at the end give time and peak ratios.  Hex encoding and decoding report the rate
// in bytes of binary data per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <boost/json.hpp>
#include <nlohmann/json.hpp>

#include "encoding/BinaryStringSerializer.h"
#include "encoding/Json.h"
#include "text/StringConversion.h"

#include "MedianReporter.h"

// --- Heap accounting -------------------------------------------------------------------

namespace {

std::atomic<std::int64_t> g_live{0};
std::atomic<std::int64_t> g_peak{0};

// Every block carries its size in a header of `offset` bytes (16, or the
// alignment when larger).
void* Allocate(std::size_t size, std::size_t align) {
    const std::size_t offset = std::max<std::size_t>(16, align);
    const std::size_t total = (size + offset + align - 1) / align * align;
    char* raw = static_cast<char*>(align > 16 ? std::aligned_alloc(align, total) : std::malloc(size + offset));
    if (raw == nullptr) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(raw + offset - 16) = size;
    const auto live =
        g_live.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed) + static_cast<std::int64_t>(size);
    auto peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return raw + offset;
}

void Release(void* block, std::size_t align) noexcept {
    if (block == nullptr) return;
    const std::size_t offset = std::max<std::size_t>(16, align);
    char* raw = static_cast<char*>(block) - offset;
    g_live.fetch_sub(static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(raw + offset - 16)),
                     std::memory_order_relaxed);
    std::free(raw);
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size, 16);
}
void* operator new[](std::size_t size) {
    return Allocate(size, 16);
}
void* operator new(std::size_t size, std::align_val_t align) {
    return Allocate(size, static_cast<std::size_t>(align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return Allocate(size, static_cast<std::size_t>(align));
}
void operator delete(void* block) noexcept {
    Release(block, 16);
}
void operator delete[](void* block) noexcept {
    Release(block, 16);
}
void operator delete(void* block, std::size_t) noexcept {
    Release(block, 16);
}
void operator delete[](void* block, std::size_t) noexcept {
    Release(block, 16);
}
void operator delete(void* block, std::align_val_t align) noexcept {
    Release(block, static_cast<std::size_t>(align));
}
void operator delete[](void* block, std::align_val_t align) noexcept {
    Release(block, static_cast<std::size_t>(align));
}
void operator delete(void* block, std::size_t, std::align_val_t align) noexcept {
    Release(block, static_cast<std::size_t>(align));
}
void operator delete[](void* block, std::size_t, std::align_val_t align) noexcept {
    Release(block, static_cast<std::size_t>(align));
}

namespace {

// --- The document ------------------------------------------------------------------------

const std::string& DocumentPath() {
    static const std::string path = [] {
        const std::string file = "/tmp/vlib_json_bench_quotes.json";
        if (std::filesystem::exists(file) && std::filesystem::file_size(file) > 45'000'000) return file;
        std::mt19937 random(42);
        const char* symbols[] = {"PKN", "PKO", "PZU", "KGH", "CDR", "LPP", "DNP", "ALE", "PEO", "SPL"};
        std::ofstream out(file, std::ios::binary);
        out << "{\"exchange\":\"GPW\",\"quotes\":[";
        std::size_t written = 0;
        for (int i = 0; written < 50'000'000; ++i) {
            char record[512];
            const int n = std::snprintf(
                record, sizeof record,
                "%s\n  {\"symbol\": \"%s%d\", \"name\": \"Sp\\u00f3\\u0142ka %d \xC5\x81\xC3\xB3\x64\xC5\xBA\", "
                "\"time\": \"2024-03-15T09:%02d:%02d.%03d\", \"open\": %.2f, \"last\": %.2f, \"change\": %.4f, "
                "\"volume\": %u, \"trades\": %u, \"halted\": %s, \"bids\": [%.2f, %.2f, %.2f], \"note\": null}",
                i == 0 ? "" : ",", symbols[i % 10], i, i, (i / 60) % 60, i % 60, i % 1000, (random() % 100000) / 100.0,
                (random() % 100000) / 100.0, (static_cast<int>(random() % 2000) - 1000) / 10000.0,
                static_cast<unsigned>(random() % 10'000'000), static_cast<unsigned>(random() % 5000),
                random() % 50 == 0 ? "true" : "false", (random() % 100000) / 100.0, (random() % 100000) / 100.0,
                (random() % 100000) / 100.0);
            out.write(record, n);
            written += static_cast<std::size_t>(n);
        }
        out << "\n]}\n";
        return file;
    }();
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return text;
    text.resize(std::filesystem::file_size(path));
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}

// Runs `parse` per iteration and reports the heap high-water mark of one
// parse above what was live before it.
template <typename Parse>
void MeasureParse(benchmark::State& state, Parse parse) {
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(DocumentPath()));
    std::int64_t peak = 0, retained = 0;
    for (auto _ : state) {
        const auto before = g_live.load();
        g_peak.store(before);
        {
            auto result = parse();
            benchmark::DoNotOptimize(result);
            peak = std::max(peak, g_peak.load() - before);
            retained = std::max(retained, g_live.load() - before);
        }
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    // What the parsed value itself holds; peak_MB less this is what the
    // parse needed besides its result.
    state.counters["value_MB"] = static_cast<double>(retained) / 1e6;
}

void FromFile(benchmark::State& state) {
    const std::wstring path = VTools::String::Utf8ToWide(DocumentPath());
    VTools::Json::JsonParser parser;
    MeasureParse(state, [&] {
        auto value = parser.FromFile(path);
        if (!value.is_object()) std::abort();
        return value;
    });
}

void BoostParse(benchmark::State& state) {
    MeasureParse(state, [] { return boost::json::parse(ReadWholeFile(DocumentPath())); });
}

void NlohmannParse(benchmark::State& state) {
    MeasureParse(state, [] { return nlohmann::json::parse(ReadWholeFile(DocumentPath())); });
}

// --- Hex text ------------------------------------------------------------------------------

const std::vector<std::uint8_t>& HexBytes() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> b(1 << 20);
        std::mt19937 random(1);
        for (auto& x : b) x = static_cast<std::uint8_t>(random());
        return b;
    }();
    return bytes;
}

void HexEncode(benchmark::State& state) {
    const auto& bytes = HexBytes();
    for (auto _ : state) {
        auto text = BinaryStringSerializer::ConvertBinToText(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void HexDecode(benchmark::State& state) {
    const auto& bytes = HexBytes();
    const std::string text = BinaryStringSerializer::ConvertBinToText(bytes.data(), bytes.size());
    std::vector<std::uint8_t> out(bytes.size());
    for (auto _ : state) {
        if (!BinaryStringSerializer::ConvertTextToBin(text, out.data(), out.size())) std::abort();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("json/FromFile", FromFile)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("json/boost::json::parse", BoostParse)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("json/nlohmann::json::parse", NlohmannParse)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("hex/encode", HexEncode);
    benchmark::RegisterBenchmark("hex/decode", HexDecode);
    vbench::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    std::printf("document: %s, %ju bytes\n", DocumentPath().c_str(),
                static_cast<std::uintmax_t>(std::filesystem::file_size(DocumentPath())));
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);

    for (const char* peer : {"json/boost::json::parse", "json/nlohmann::json::parse"}) {
        const std::string name = std::string(peer).substr(5);
        vbench::Report("JSON", "FromFile vs " + name, "json/FromFile", reporter.Figures("json/FromFile"), peer,
                       reporter.Figures(peer), "ms CPU");
        vbench::Report("JSON", "FromFile peak heap vs " + name, "json/FromFile",
                       reporter.Counter("json/FromFile", "peak_MB"), peer, reporter.Counter(peer, "peak_MB"), "MB");
    }
    benchmark::Shutdown();
    return 0;
}

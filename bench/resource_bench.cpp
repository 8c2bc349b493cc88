// Module resources: FindResourceW + LoadResource + LockResource (+
// SizeofResource) over the benchmark's own 1,000 embedded resources, by id
// and by name, beside GResource (the same files compiled by
// glib-compile-resources, read with g_resources_lookup_data) and a prebuilt
// std::unordered_map from names to the same bytes.  Each iteration looks up
// all 1,000 in a fixed shuffled order; the ratios are per lookup.
#include <gio/gio.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "MedianReporter.h"
#include "platform/kernel/Module.h"
#include "platform/kernel/Resource.h"

namespace {

constexpr int kCount = 1000;

struct Keys {
    std::vector<int> ids;
    std::vector<std::wstring> names;  // "RES0001"
    std::vector<std::string> paths;   // "/bench/res0001.bin"
};

const Keys& SharedKeys() {
    static const Keys keys = [] {
        Keys k;
        for (int i = 1; i <= kCount; ++i) k.ids.push_back(i);
        std::shuffle(k.ids.begin(), k.ids.end(), std::mt19937(42));
        for (int id : k.ids) {
            char name[16];
            std::snprintf(name, sizeof name, "%04d", id);
            k.names.push_back(L"RES" + std::wstring(name, name + 4));
            k.paths.push_back(std::string("/bench/res") + name + ".bin");
        }
        return k;
    }();
    return keys;
}

std::span<const std::byte> Resource(HMODULE module, LPCWSTR name, LPCWSTR type) {
    const HRSRC resource = FindResourceW(module, name, type);
    const auto* bytes = static_cast<const std::byte*>(LockResource(LoadResource(module, resource)));
    return {bytes, SizeofResource(module, resource)};
}

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "resource_bench: %s\n", what);
        std::exit(1);
    }
}

void Ids(benchmark::State& state) {
    const Keys& keys = SharedKeys();
    const HMODULE exe = GetModuleHandleW(nullptr);
    for (auto _ : state) {
        for (int id : keys.ids) benchmark::DoNotOptimize(Resource(exe, MAKEINTRESOURCEW(id), RT_RCDATA).data());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void Names(benchmark::State& state) {
    const Keys& keys = SharedKeys();
    const HMODULE exe = GetModuleHandleW(nullptr);
    for (auto _ : state) {
        for (const std::wstring& name : keys.names) {
            benchmark::DoNotOptimize(Resource(exe, name.c_str(), L"DATA").data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void GResourceLookup(benchmark::State& state) {
    const Keys& keys = SharedKeys();
    for (auto _ : state) {
        for (const std::string& path : keys.paths) {
            GBytes* bytes = g_resources_lookup_data(path.c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
            gsize size = 0;
            benchmark::DoNotOptimize(g_bytes_get_data(bytes, &size));
            g_bytes_unref(bytes);
        }
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void UnorderedMap(benchmark::State& state) {
    const Keys& keys = SharedKeys();
    const HMODULE exe = GetModuleHandleW(nullptr);
    std::unordered_map<std::wstring, std::span<const std::byte>> map;
    for (const std::wstring& name : keys.names) map.emplace(name, Resource(exe, name.c_str(), L"DATA"));
    for (auto _ : state) {
        for (const std::wstring& name : keys.names) benchmark::DoNotOptimize(map.find(name)->second.data());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

}  // namespace

int main(int argc, char** argv) {
    GError* error = nullptr;
    GResource* bundle = g_resource_load(VLIB_BENCH_GRESOURCE, &error);
    Check(bundle != nullptr, "the GResource bundle cannot be loaded");
    g_resources_register(bundle);
    // Both sides hold the same bytes.
    const Keys& keys = SharedKeys();
    for (int i = 0; i < kCount; ++i) {
        const auto ours = Resource(nullptr, keys.names[i].c_str(), L"DATA");
        const auto byId = Resource(nullptr, MAKEINTRESOURCEW(keys.ids[i]), RT_RCDATA);
        GBytes* theirs = g_resources_lookup_data(keys.paths[i].c_str(), G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
        gsize size = 0;
        const void* data = g_bytes_get_data(theirs, &size);
        Check(ours.size() == size && byId.size() == size &&
                  std::equal(ours.begin(), ours.end(), static_cast<const std::byte*>(data)),
              "the resources differ from GResource's");
        g_bytes_unref(theirs);
    }
    benchmark::RegisterBenchmark("FindResourceW/ids", Ids);
    benchmark::RegisterBenchmark("FindResourceW/names", Names);
    benchmark::RegisterBenchmark("GResource", GResourceLookup);
    benchmark::RegisterBenchmark("unordered_map", UnorderedMap);
    vbench::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // CPU nanoseconds per lookup.
    const auto perLookup = [&](const char* name) {
        auto figure = reporter.Figures(name);
        for (double& value : figure.values) value /= kCount;
        return vbench::Spread(figure.values);
    };
    for (const char* ours : {"FindResourceW/ids", "FindResourceW/names"}) {
        vbench::Report("Resources (1,000)", std::string(ours).substr(14) + " vs GResource", ours, perLookup(ours),
                       "GResource", perLookup("GResource"), "ns CPU", "<= 0.5");
        vbench::Report("Resources (1,000)", std::string(ours).substr(14) + " vs unordered_map", ours, perLookup(ours),
                       "unordered_map", perLookup("unordered_map"), "ns CPU");
    }
    g_resources_unregister(bundle);
    g_resource_unref(bundle);
    benchmark::Shutdown();
    return 0;
}

// The log's cost to its callers and its writer's sustained rate, beside
// spdlog's asynchronous file logger doing the same work in the same binary.
//
// Caller cost: nanoseconds per Write of a 100-byte message (median and p99 of
// individually timed calls), with 1 and 2 writing threads.  Writer rate:
// entries per second written and flushed one by one, measured from the first
// Write until the last entry is in the file.
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/Log.h"
#include "text/StringConversion.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kMessage(100, 'm');
constexpr int kCallsPerThread = 100000;

std::filesystem::path TempFile(const char* name) {
    const auto path = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove(path);
    return path;
}

// Per-call latencies of all threads of one run.
struct Latencies {
    std::mutex mutex;
    std::vector<double> samples;
    void Add(const std::vector<double>& more) {
        std::lock_guard lock(mutex);
        samples.insert(samples.end(), more.begin(), more.end());
    }
    void Report(benchmark::State& state) {
        std::lock_guard lock(mutex);
        if (samples.empty()) return;
        std::sort(samples.begin(), samples.end());
        state.counters["median_ns"] = samples[samples.size() / 2];
        state.counters["p99_ns"] = samples[samples.size() * 99 / 100];
        samples.clear();
    }
};

std::map<std::string, double> g_medians;  // for the closing ratio table

template <class Call>
void TimeCalls(benchmark::State& state, Latencies& latencies, Call call) {
    std::vector<double> mine;
    mine.reserve(kCallsPerThread);
    for (auto _ : state) {
        for (int i = 0; i < kCallsPerThread; ++i) {
            const auto start = Clock::now();
            call();
            mine.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
        }
    }
    latencies.Add(mine);
}

// --- Caller cost ---------------------------------------------------------------

Latencies g_ourLatencies;

void BM_LogWrite_CallerCost(benchmark::State& state) {
    static const auto file = TempFile("vlib_bench_log.txt");
    if (state.thread_index() == 0) {
        VTools::Log::Instance().Open(VTools::String::Utf8ToWide(file.string()));
        // Steady state: a first burst leaves the log's entry buffers ready for
        // reuse, as spdlog's queue is allocated up front.
        for (int i = 0; i < state.threads() * kCallsPerThread; ++i) {
            VTools::Log::Instance().Write("Bench::Caller", 42, kMessage);
        }
        VTools::Log::Instance().Flush(std::chrono::minutes(5));
    }
    TimeCalls(state, g_ourLatencies, [] { VTools::Log::Instance().Write("Bench::Caller", 42, kMessage); });
    if (state.thread_index() == 0) {
        // Let the writer drain so that the next run starts from an idle log.
        VTools::Log::Instance().Close();
        g_ourLatencies.Report(state);
        g_medians["ours/" + std::to_string(state.threads())] = state.counters["median_ns"];
        std::filesystem::remove(file);
    }
}
BENCHMARK(BM_LogWrite_CallerCost)->Threads(1)->Threads(2)->Iterations(1)->UseRealTime();

Latencies g_spdLatencies;
std::shared_ptr<spdlog::logger> MakeSpdlog(const std::filesystem::path& file, std::size_t queue) {
    spdlog::init_thread_pool(queue, 1);
    auto logger = spdlog::basic_logger_mt<spdlog::async_factory>("bench", file.string());
    logger->set_pattern("%H:%M:%S.%e\t\t%v");
    logger->flush_on(spdlog::level::info);  // one flush per entry, as the log does
    return logger;
}

void BM_Spdlog_CallerCost(benchmark::State& state) {
    static const auto file = TempFile("vlib_bench_spdlog.txt");
    static std::shared_ptr<spdlog::logger> logger;
    // A queue large enough that callers never block on a full queue, as the
    // log's queue has no bound.
    if (state.thread_index() == 0) {
        logger = MakeSpdlog(file, 1 << 19);
        for (int i = 0; i < state.threads() * kCallsPerThread; ++i) {
            logger->info("{} ( {} )\r\n{}\r\n-", "Bench::Caller", 42, kMessage);
        }
        logger->flush();
        std::this_thread::sleep_for(std::chrono::seconds(2));
    }
    TimeCalls(state, g_spdLatencies, [] { logger->info("{} ( {} )\r\n{}\r\n-", "Bench::Caller", 42, kMessage); });
    if (state.thread_index() == 0) {
        logger.reset();
        spdlog::drop_all();
        spdlog::shutdown();
        g_spdLatencies.Report(state);
        g_medians["spdlog/" + std::to_string(state.threads())] = state.counters["median_ns"];
        std::filesystem::remove(file);
    }
}
BENCHMARK(BM_Spdlog_CallerCost)->Threads(1)->Threads(2)->Iterations(1)->UseRealTime();

// --- Writer rate ---------------------------------------------------------------

constexpr int kRateEntries = 100000;
std::map<std::string, double> g_rateSeconds, g_rateEntries;

void WaitForSize(const std::filesystem::path& file, std::uintmax_t bytes) {
    std::error_code error;
    while (std::filesystem::file_size(file, error) < bytes || error)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void BM_LogWrite_WriterRate(benchmark::State& state) {
    const auto file = TempFile("vlib_bench_rate.txt");
    for (auto _ : state) {
        VTools::Log::Instance().Open(VTools::String::Utf8ToWide(file.string()));
        const auto start = Clock::now();
        for (int i = 0; i < kRateEntries; ++i) VTools::Log::Instance().Write("Bench::Rate", 42, kMessage);
        // Each entry: time, two tabs, "Bench::Rate ( 42 )\r\n", message, "\r\n-\r\n".
        WaitForSize(file, std::uintmax_t{kRateEntries} * (12 + 2 + 11 + 9 + 100 + 5));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        g_rateSeconds["log"] += seconds;
        VTools::Log::Instance().Close();
        std::filesystem::remove(file);
    }
    state.SetItemsProcessed(state.iterations() * kRateEntries);
    g_rateEntries["log"] += static_cast<double>(state.iterations()) * kRateEntries;
}
BENCHMARK(BM_LogWrite_WriterRate)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_Spdlog_WriterRate(benchmark::State& state) {
    const auto file = TempFile("vlib_bench_spdrate.txt");
    for (auto _ : state) {
        auto logger = MakeSpdlog(file, 1 << 17);
        const auto start = Clock::now();
        for (int i = 0; i < kRateEntries; ++i) logger->info("{} ( {} )\r\n{}\r\n-", "Bench::Rate", 42, kMessage);
        // spdlog writes "\n" after each entry: 12 + 2 + 11 + 7 + 2 + 100 + 3 + 1 bytes.
        WaitForSize(file, std::uintmax_t{kRateEntries} * (12 + 2 + 11 + 7 + 2 + 100 + 3 + 1));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        g_rateSeconds["spdlog"] += seconds;
        logger.reset();
        spdlog::drop_all();
        spdlog::shutdown();
        std::filesystem::remove(file);
    }
    state.SetItemsProcessed(state.iterations() * kRateEntries);
    g_rateEntries["spdlog"] += static_cast<double>(state.iterations()) * kRateEntries;
}
BENCHMARK(BM_Spdlog_WriterRate)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\nCaller cost, median ns per Write (lower is better):\n");
    for (const char* threads : {"1", "2"}) {
        const double ours = g_medians["ours/" + std::string(threads)];
        const double peer = g_medians["spdlog/" + std::string(threads)];
        if (ours > 0 && peer > 0) {
            std::printf("  %s thread(s): log %.0f ns, spdlog %.0f ns, log/spdlog = %.2f\n", threads, ours, peer,
                        ours / peer);
        }
    }
    if (g_rateSeconds["log"] > 0 && g_rateSeconds["spdlog"] > 0) {
        const double ours = g_rateEntries["log"] / g_rateSeconds["log"];
        const double peer = g_rateEntries["spdlog"] / g_rateSeconds["spdlog"];
        std::printf(
            "Writer rate, entries per second flushed one by one (higher is better):\n"
            "  log %.0f, spdlog %.0f, log/spdlog = %.2f\n",
            ours, peer, ours / peer);
    }
    benchmark::Shutdown();
}

// The log's cost to its callers and its writer's sustained rate, beside
// spdlog's asynchronous file logger doing the same work in the same binary.
//
// Caller cost: nanoseconds per Write of a 100-byte message (median, p99 and
// p99.9 of individually timed calls), with 1, 2 and 4 writing threads.
// Beside it, the whole process's CPU time per entry (every thread, the
// writer's included) from the first timed call until the last timed entry is
// in the file.  Writer rate: entries per second written and flushed one by
// one, measured from the first Write until the last entry is in the file,
// with the CPU time per entry.
//
// The log and spdlog run in turns, round after round (--rounds=N, 5 unless
// given), so that both see the same load on the machine; the closing rows
// give, per case, each side's median and range over the rounds, and the
// ratio of the medians with the range of the ratios within each round.
#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MedianReporter.h"
#include "diagnostics/Log.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kMessage(100, 'm');
constexpr int kCallsPerThread = 100000;
constexpr int kWarmUpCallsPerThread = 2 * kCallsPerThread;
const int kThreadCounts[] = {1, 2, 4};

std::filesystem::path TempFile(const char* name) {
    static const vlibtest::TempDir folder;
    const auto path = folder.Path() / name;
    std::filesystem::remove(path);
    return path;
}

struct Percentiles {
    double median = 0, p99 = 0, p999 = 0;
};

// Per-call latencies of all threads of one run.
struct Latencies {
    std::mutex mutex;
    std::vector<double> samples;
    void Add(const std::vector<double>& more) {
        std::lock_guard lock(mutex);
        samples.insert(samples.end(), more.begin(), more.end());
    }
    Percentiles Take() {
        std::lock_guard lock(mutex);
        Percentiles result;
        if (samples.empty()) return result;
        std::sort(samples.begin(), samples.end());
        result.median = samples[samples.size() / 2];
        result.p99 = samples[samples.size() * 99 / 100];
        result.p999 = samples[samples.size() * 999 / 1000];
        samples.clear();
        return result;
    }
};

void WaitForSize(const std::filesystem::path& file, std::uintmax_t bytes) {
    std::error_code error;
    while (std::filesystem::file_size(file, error) < bytes || error)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Holds the threads of one run until all of them have arrived.
class Barrier {
public:
    void Arrive(int threads) {
        std::unique_lock lock(m_mutex);
        const unsigned generation = m_generation;
        if (++m_arrived == threads) {
            m_arrived = 0;
            ++m_generation;
            m_all.notify_all();
        } else {
            m_all.wait(lock, [&] { return m_generation != generation; });
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_all;
    int m_arrived = 0;
    unsigned m_generation = 0;
};
Barrier g_barrier;

// Results by implementation ("log", "spdlog") and thread count, one per round.
std::map<std::string, std::map<int, std::vector<Percentiles>>> g_callerCost;
std::map<std::string, std::map<int, std::vector<double>>> g_callerCpu;  // CPU ns per entry, one per round
std::map<std::string, std::vector<double>> g_rates;                     // entries per second, one per round
std::map<std::string, std::vector<double>> g_rateCpu;                   // CPU ns per entry, one per round
double g_cpuStart = 0;

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

void Record(benchmark::State& state, const char* implementation, Latencies& latencies) {
    const Percentiles result = latencies.Take();
    state.counters["median_ns"] = result.median;
    state.counters["p99_ns"] = result.p99;
    state.counters["p99.9_ns"] = result.p999;
    g_callerCost[implementation][state.threads()].push_back(result);
}

// --- Caller cost ---------------------------------------------------------------

Latencies g_ourLatencies;

void LogCallerCost(benchmark::State& state) {
    static const auto file = TempFile("vlib_bench_log.txt");
    if (state.thread_index() == 0) VTools::Log::Instance().Open(VTools::String::Utf8ToWide(file.string()));
    // Steady state: a first burst from every thread, larger than the timed
    // one, leaves the log's entry buffers and queue blocks ready for reuse,
    // as spdlog's queue is allocated (and its memory touched) up front.
    g_barrier.Arrive(state.threads());
    for (int i = 0; i < kWarmUpCallsPerThread; ++i) VTools::Log::Instance().Write("Bench::Caller", 42, kMessage);
    g_barrier.Arrive(state.threads());
    static std::uintmax_t warmBytes = 0;
    if (state.thread_index() == 0) {
        VTools::Log::Instance().Flush(std::chrono::minutes(5));
        warmBytes = std::filesystem::file_size(file);
        g_cpuStart = vbench::ProcessCpuNs();
    }
    g_barrier.Arrive(state.threads());
    TimeCalls(state, g_ourLatencies, [] { VTools::Log::Instance().Write("Bench::Caller", 42, kMessage); });
    g_barrier.Arrive(state.threads());
    if (state.thread_index() == 0) {
        // Every entry has the same length: the timed ones end where the file
        // is as long again per call as the warm-up made it.
        WaitForSize(file, warmBytes + warmBytes / kWarmUpCallsPerThread * kCallsPerThread);
        g_callerCpu["log"][state.threads()].push_back((vbench::ProcessCpuNs() - g_cpuStart) /
                                                      (double(state.threads()) * kCallsPerThread));
        VTools::Log::Instance().Close();
        Record(state, "log", g_ourLatencies);
        std::filesystem::remove(file);
    }
}

Latencies g_spdLatencies;
std::shared_ptr<spdlog::logger> MakeSpdlog(const std::filesystem::path& file, std::size_t queue) {
    spdlog::init_thread_pool(queue, 1);
    auto logger = spdlog::basic_logger_mt<spdlog::async_factory>("bench", file.string());
    logger->set_pattern("%H:%M:%S.%e\t\t%v");
    logger->flush_on(spdlog::level::info);  // one flush per entry, as the log does
    return logger;
}

void SpdlogCallerCost(benchmark::State& state) {
    static const auto file = TempFile("vlib_bench_spdlog.txt");
    static std::shared_ptr<spdlog::logger> logger;
    // A queue large enough that callers never block on a full queue, as the
    // log's queue has no bound.
    if (state.thread_index() == 0) logger = MakeSpdlog(file, 1 << 19);
    g_barrier.Arrive(state.threads());
    for (int i = 0; i < kWarmUpCallsPerThread; ++i) logger->info("{} ( {} )\r\n{}\r\n-", "Bench::Caller", 42, kMessage);
    g_barrier.Arrive(state.threads());
    if (state.thread_index() == 0) {
        // Until the queue has drained: 12 + 2 + 13 + 7 + 2 + 100 + 3 + 1 bytes an entry.
        WaitForSize(file, std::uintmax_t(state.threads()) * kWarmUpCallsPerThread * 140);
        g_cpuStart = vbench::ProcessCpuNs();
    }
    g_barrier.Arrive(state.threads());
    TimeCalls(state, g_spdLatencies, [] { logger->info("{} ( {} )\r\n{}\r\n-", "Bench::Caller", 42, kMessage); });
    g_barrier.Arrive(state.threads());
    if (state.thread_index() == 0) {
        WaitForSize(file, std::uintmax_t(state.threads()) * (kWarmUpCallsPerThread + kCallsPerThread) * 140);
        g_callerCpu["spdlog"][state.threads()].push_back((vbench::ProcessCpuNs() - g_cpuStart) /
                                                         (double(state.threads()) * kCallsPerThread));
        logger.reset();
        spdlog::drop_all();
        spdlog::shutdown();
        Record(state, "spdlog", g_spdLatencies);
        std::filesystem::remove(file);
    }
}

// --- Writer rate ---------------------------------------------------------------

constexpr int kRateEntries = 100000;

void LogWriterRate(benchmark::State& state) {
    const auto file = TempFile("vlib_bench_rate.txt");
    for (auto _ : state) {
        VTools::Log::Instance().Open(VTools::String::Utf8ToWide(file.string()));
        const double cpu = vbench::ProcessCpuNs();
        const auto start = Clock::now();
        for (int i = 0; i < kRateEntries; ++i) VTools::Log::Instance().Write("Bench::Rate", 42, kMessage);
        // Each entry: time, two tabs, "Bench::Rate ( 42 )\r\n", message, "\r\n-\r\n".
        WaitForSize(file, std::uintmax_t{kRateEntries} * (12 + 2 + 11 + 9 + 100 + 5));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        g_rates["log"].push_back(kRateEntries / seconds);
        g_rateCpu["log"].push_back((vbench::ProcessCpuNs() - cpu) / kRateEntries);
        VTools::Log::Instance().Close();
        std::filesystem::remove(file);
    }
    state.SetItemsProcessed(state.iterations() * kRateEntries);
}

void SpdlogWriterRate(benchmark::State& state) {
    const auto file = TempFile("vlib_bench_spdrate.txt");
    for (auto _ : state) {
        auto logger = MakeSpdlog(file, 1 << 17);
        const double cpu = vbench::ProcessCpuNs();
        const auto start = Clock::now();
        for (int i = 0; i < kRateEntries; ++i) logger->info("{} ( {} )\r\n{}\r\n-", "Bench::Rate", 42, kMessage);
        // spdlog writes "\n" after each entry: 12 + 2 + 11 + 7 + 2 + 100 + 3 + 1 bytes.
        WaitForSize(file, std::uintmax_t{kRateEntries} * (12 + 2 + 11 + 7 + 2 + 100 + 3 + 1));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        g_rates["spdlog"].push_back(kRateEntries / seconds);
        g_rateCpu["spdlog"].push_back((vbench::ProcessCpuNs() - cpu) / kRateEntries);
        logger.reset();
        spdlog::drop_all();
        spdlog::shutdown();
        std::filesystem::remove(file);
    }
    state.SetItemsProcessed(state.iterations() * kRateEntries);
}

// --- Summary -------------------------------------------------------------------

void PrintSummary() {
    std::printf(
        "\nMedian of the rounds (their range), ratio ours / peer of the medians (range of the ratios within "
        "each round); caller cost and CPU: lower is better.\n");
    const auto field = [](const std::vector<Percentiles>& runs, double Percentiles::*member) {
        std::vector<double> values;
        for (const Percentiles& run : runs) values.push_back(run.*member);
        return vbench::Spread(values);
    };
    for (const int threads : kThreadCounts) {
        const auto& ours = g_callerCost["log"][threads];
        const auto& peer = g_callerCost["spdlog"][threads];
        const std::string what = std::to_string(threads) + (threads == 1 ? " thread" : " threads");
        vbench::Report("log", "caller cost p50, " + what, "Log::Write", field(ours, &Percentiles::median),
                       "spdlog async", field(peer, &Percentiles::median), "ns", "<= 1.0");
        vbench::Report("log", "caller cost p99, " + what, "Log::Write", field(ours, &Percentiles::p99), "spdlog async",
                       field(peer, &Percentiles::p99), "ns", "<= 1.0");
        vbench::Report("log", "caller cost p99.9, " + what, "Log::Write", field(ours, &Percentiles::p999),
                       "spdlog async", field(peer, &Percentiles::p999), "ns");
        vbench::Report("log", "process CPU per entry, " + what, "Log::Write",
                       vbench::Spread(g_callerCpu["log"][threads]), "spdlog async",
                       vbench::Spread(g_callerCpu["spdlog"][threads]), "CPU ns/entry");
    }
    vbench::Report("log", "writer rate, flushed one by one", "Log", vbench::Spread(g_rates["log"]), "spdlog async",
                   vbench::Spread(g_rates["spdlog"]), "entries/s");
    vbench::Report("log", "writer rate, process CPU", "Log", vbench::Spread(g_rateCpu["log"]), "spdlog async",
                   vbench::Spread(g_rateCpu["spdlog"]), "CPU ns/entry");
}

// Takes "--rounds=N" out of the arguments.
int TakeRounds(int& argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rounds=", 9) == 0) {
            rounds = std::max(1, std::atoi(argv[i] + 9));
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            break;
        }
    }
    return rounds;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = TakeRounds(argc, argv);
    for (int round = 1; round <= rounds; ++round) {
        const std::string prefix = "round" + std::to_string(round) + "/";
        for (const int threads : kThreadCounts) {
            benchmark::RegisterBenchmark((prefix + "CallerCost/log").c_str(), LogCallerCost)
                ->Threads(threads)
                ->Iterations(1)
                ->UseRealTime();
            benchmark::RegisterBenchmark((prefix + "CallerCost/spdlog").c_str(), SpdlogCallerCost)
                ->Threads(threads)
                ->Iterations(1)
                ->UseRealTime();
        }
        benchmark::RegisterBenchmark((prefix + "WriterRate/log").c_str(), LogWriterRate)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "WriterRate/spdlog").c_str(), SpdlogWriterRate)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintSummary();
    benchmark::Shutdown();
    return 0;
}

// Console output as usual, plus the figures of every repetition
// (--benchmark_repetitions: 5, interleaved, unless given, when the benchmark
// starts through vbench::Initialize) for the ratio tables the benchmarks
// print.  A ratio row
// is ours / peer of one figure: the ratio of the two medians, with the range
// of the rounds (round i of ours against round i of the peer) and each side's
// own range.  With VLIB_BENCH_JSON=<file> in the environment every ratio row
// is also appended to that file as one JSON object per line:
//
//   {"area":"mail","case":"plain, 4 connections","ours":"ChilkatMailManager",
//    "peer":"libcurl, 4 threads","unit":"messages/s","ours_median":..,
//    "ours_min":..,"ours_max":..,"peer_median":..,"peer_min":..,"peer_max":..,
//    "ratio":..,"ratio_min":..,"ratio_max":..,"rounds":5,"goal":">= 1.2",
//    "met":true}
//
// "ratio" is always ours / peer in "unit"; "goal" (">= x" or "<= x", or null
// when the row is only reported) applies to it, and "met" is null without a
// goal.
#pragma once

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace vbench {

// Whole-process CPU time (every thread), in nanoseconds: taken before and
// after a timed region it gives the CPU a case costs, spinning included.
inline double ProcessCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// benchmark::Initialize with `repetitions` repetitions and the repetitions of
// all benchmarks run in a shuffled interleaving (so that ours and the peer's
// rounds see the same changes of load on the machine, and round i of each
// ran at about the same time), unless the command line says otherwise.
inline void Initialize(int& argc, char**& argv, int repetitions = 5) {
    static std::vector<char*> args;
    static std::string repeat, interleave = "--benchmark_enable_random_interleaving=true";
    args.assign(argv, argv + argc);
    const auto given = [&](const char* flag) {
        for (int i = 1; i < argc; ++i) {
            if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
        }
        return false;
    };
    if (!given("--benchmark_repetitions")) {
        repeat = "--benchmark_repetitions=" + std::to_string(repetitions);
        args.push_back(repeat.data());
    }
    if (!given("--benchmark_enable_random_interleaving")) args.push_back(interleave.data());
    argc = static_cast<int>(args.size());
    args.push_back(nullptr);
    argv = args.data();
    benchmark::Initialize(&argc, argv);
}

// A figure over the rounds: its values in the order they ran, median and range.
struct Spread {
    std::vector<double> values;
    double median = 0, min = 0, max = 0;

    Spread() = default;
    explicit Spread(std::vector<double> rounds) : values(std::move(rounds)) {
        if (values.empty()) return;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        median = n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        min = sorted.front();
        max = sorted.back();
    }
    bool Empty() const { return values.empty(); }
};

// One line of a ratio table.
struct RatioRow {
    std::string area, what, ours, peer, unit;
    std::string goal;  // ">= x", "<= x" or empty
    Spread oursFigure, peerFigure;
    double ratio = 0;    // oursFigure.median / peerFigure.median
    Spread roundRatios;  // ours / peer, round by round

    // Whether the goal is met; -1 without a goal.
    int Met() const {
        double bound = 0;
        if (goal.size() < 4 || std::sscanf(goal.c_str() + 3, "%lf", &bound) != 1) return -1;
        if (goal.starts_with(">=")) return ratio >= bound ? 1 : 0;
        if (goal.starts_with("<=")) return ratio <= bound ? 1 : 0;
        return -1;
    }
};

inline RatioRow MakeRow(std::string area, std::string what, std::string ours, const Spread& oursFigure,
                        std::string peer, const Spread& peerFigure, std::string unit, std::string goal = {}) {
    RatioRow row{std::move(area),
                 std::move(what),
                 std::move(ours),
                 std::move(peer),
                 std::move(unit),
                 std::move(goal),
                 oursFigure,
                 peerFigure,
                 0,
                 {}};
    if (oursFigure.Empty() || peerFigure.Empty() || peerFigure.median == 0) return row;
    row.ratio = oursFigure.median / peerFigure.median;
    std::vector<double> ratios;
    for (std::size_t i = 0; i < std::min(oursFigure.values.size(), peerFigure.values.size()); ++i) {
        if (peerFigure.values[i] != 0) ratios.push_back(oursFigure.values[i] / peerFigure.values[i]);
    }
    row.roundRatios = Spread(std::move(ratios));
    return row;
}

namespace detail {

inline std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

inline std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

}  // namespace detail

// Prints a row (ours, peer, each with its range over the rounds, then the
// ratio of the medians and the range of the per-round ratios) and appends it
// to $VLIB_BENCH_JSON when that is set.  Rows where a side did not run are
// left out.
inline void Report(const RatioRow& row) {
    if (row.oursFigure.Empty() || row.peerFigure.Empty()) return;
    std::printf("%-42s %-20s %10.4g (%.4g..%.4g) vs %-24s %10.4g (%.4g..%.4g) %-12s ratio %6.3f (rounds %.3f..%.3f)",
                (row.area + ": " + row.what).c_str(), row.ours.c_str(), row.oursFigure.median, row.oursFigure.min,
                row.oursFigure.max, row.peer.c_str(), row.peerFigure.median, row.peerFigure.min, row.peerFigure.max,
                row.unit.c_str(), row.ratio, row.roundRatios.min, row.roundRatios.max);
    const int met = row.Met();
    if (met >= 0) {
        std::printf("  goal %s %s\n", row.goal.c_str(), met ? "met" : "NOT met");
    } else {
        std::printf("  (reported)\n");
    }
    std::fflush(stdout);
    const char* path = std::getenv("VLIB_BENCH_JSON");
    if (path == nullptr || *path == '\0') return;
    using detail::JsonNumber;
    using detail::JsonString;
    std::string line =
        "{\"area\":" + JsonString(row.area) + ",\"case\":" + JsonString(row.what) +
        ",\"ours\":" + JsonString(row.ours) + ",\"peer\":" + JsonString(row.peer) +
        ",\"unit\":" + JsonString(row.unit) + ",\"ours_median\":" + JsonNumber(row.oursFigure.median) +
        ",\"ours_min\":" + JsonNumber(row.oursFigure.min) + ",\"ours_max\":" + JsonNumber(row.oursFigure.max) +
        ",\"peer_median\":" + JsonNumber(row.peerFigure.median) + ",\"peer_min\":" + JsonNumber(row.peerFigure.min) +
        ",\"peer_max\":" + JsonNumber(row.peerFigure.max) + ",\"ratio\":" + JsonNumber(row.ratio) +
        ",\"ratio_min\":" + JsonNumber(row.roundRatios.min) + ",\"ratio_max\":" + JsonNumber(row.roundRatios.max) +
        ",\"rounds\":" + std::to_string(std::min(row.oursFigure.values.size(), row.peerFigure.values.size())) +
        ",\"goal\":" + (row.goal.empty() ? std::string("null") : JsonString(row.goal)) + ",\"met\":" +
        (row.Met() < 0 ? "null"
         : row.Met()   ? "true"
                       : "false") +
        "}\n";
    if (FILE* file = std::fopen(path, "a")) {
        std::fputs(line.c_str(), file);
        std::fclose(file);
    } else {
        std::fprintf(stderr, "cannot append to VLIB_BENCH_JSON=%s\n", path);
    }
}

inline void Report(std::string area, std::string what, std::string ours, const Spread& oursFigure, std::string peer,
                   const Spread& peerFigure, std::string unit, std::string goal = {}) {
    Report(MakeRow(std::move(area), std::move(what), std::move(ours), oursFigure, std::move(peer), peerFigure,
                   std::move(unit), std::move(goal)));
}

class MedianReporter : public benchmark::ConsoleReporter {
public:
    // Throughput (the bytes_per_second counter; runs without it are left
    // out), items per second (the items_per_second counter), or CPU time per
    // iteration (not real time: ratios should not depend on what else the
    // machine runs); real (or manual) time per iteration, in the benchmark's
    // unit, only where the work happens in other threads or processes.
    enum class Figure { BytesPerSecond, ItemsPerSecond, CpuTime, RealTime };

    explicit MedianReporter(Figure figure) : m_figure(figure) {}

    // Keeps the figure and the counters of every repetition (runs of the
    // iteration kind); the aggregates are only printed.
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const std::string& name = run.run_name.function_name;
            double value = 0;
            if (Value(run, value)) m_samples[name].push_back(value);
            for (const auto& [counter, figure] : run.counters) m_counters[name][counter].push_back(figure.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The figure of a benchmark (by its function name) over its repetitions.
    Spread Figures(const std::string& name) const {
        const auto it = m_samples.find(name);
        return it == m_samples.end() ? Spread() : Spread(it->second);
    }

    // A counter of a benchmark over its repetitions.
    Spread Counter(const std::string& name, const std::string& counter) const {
        const auto runs = m_counters.find(name);
        if (runs == m_counters.end()) return {};
        const auto it = runs->second.find(counter);
        return it == runs->second.end() ? Spread() : Spread(it->second);
    }

    // Every benchmark's median figure by name.
    std::map<std::string, double> Medians() const {
        std::map<std::string, double> medians;
        for (const auto& [name, values] : m_samples) medians[name] = Spread(values).median;
        return medians;
    }

    // One benchmark's median figure; 0 when it did not run.
    double Median(const std::string& name) const { return Figures(name).median; }

    // The largest value a benchmark's runs gave a counter; 0 when none did.
    double CounterMax(const std::string& name, const std::string& counter) const { return Counter(name, counter).max; }

private:
    bool Value(const Run& run, double& value) const {
        if (m_figure == Figure::CpuTime) {
            value = run.GetAdjustedCPUTime();
            return true;
        }
        if (m_figure == Figure::RealTime) {
            value = run.GetAdjustedRealTime();
            return true;
        }
        const auto rate =
            run.counters.find(m_figure == Figure::BytesPerSecond ? "bytes_per_second" : "items_per_second");
        if (rate == run.counters.end()) return false;
        value = rate->second.value;
        return true;
    }

    Figure m_figure;
    std::map<std::string, std::vector<double>> m_samples;
    std::map<std::string, std::map<std::string, std::vector<double>>> m_counters;
};

}  // namespace vbench

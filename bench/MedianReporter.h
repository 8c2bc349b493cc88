// Console output as usual, plus one figure per benchmark name for the ratio
// tables the benchmarks print: the median of its repetitions
// (--benchmark_repetitions), or of its runs when there is no aggregate.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace vbench {

class MedianReporter : public benchmark::ConsoleReporter {
public:
    // Throughput (the bytes_per_second counter; runs without it are left
    // out) or CPU time per iteration (not real time: ratios should not depend
    // on what else the machine runs); real (or manual) time per iteration, in
    // the benchmark's unit, only where the work happens in other processes.
    enum class Figure { BytesPerSecond, CpuTime, RealTime };

    explicit MedianReporter(Figure figure) : m_figure(figure) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            double value = 0;
            if (run.error_occurred || !Value(run, value)) continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration && !m_medians.contains(name)) {
                m_samples[name].push_back(value);
                for (const auto& [counter, figure] : run.counters) {
                    double& most = m_counterMaxima[name][counter];
                    most = std::max(most, figure.value);
                }
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                m_medians[name] = value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Every benchmark's figure by name.
    std::map<std::string, double> Medians() const {
        std::map<std::string, double> medians = m_medians;
        for (auto [name, values] : m_samples) {
            if (medians.contains(name)) continue;
            std::sort(values.begin(), values.end());
            medians[name] = values[values.size() / 2];
        }
        return medians;
    }

    // One benchmark's figure; 0 when it did not run.
    double Median(const std::string& name) const {
        const auto medians = Medians();
        const auto it = medians.find(name);
        return it == medians.end() ? 0 : it->second;
    }

    // The largest value a benchmark's runs gave a counter; 0 when none did.
    double CounterMax(const std::string& name, const std::string& counter) const {
        const auto runs = m_counterMaxima.find(name);
        if (runs == m_counterMaxima.end()) return 0;
        const auto it = runs->second.find(counter);
        return it == runs->second.end() ? 0 : it->second;
    }

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
        const auto rate = run.counters.find("bytes_per_second");
        if (rate == run.counters.end()) return false;
        value = rate->second.value;
        return true;
    }

    Figure m_figure;
    std::map<std::string, double> m_medians;
    std::map<std::string, std::vector<double>> m_samples;
    std::map<std::string, std::map<std::string, double>> m_counterMaxima;
};

}  // namespace vbench

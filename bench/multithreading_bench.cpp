// Task hand-off through a TaskExecutor beside boost::asio::io_context run by
// one worker thread, in the same binary: one producer posts small tasks and
// the benchmark waits until the worker has run them all.
#include <benchmark/benchmark.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "multithreading/TaskExecutor.h"

namespace {

constexpr int kTasks = 200000;

void WaitUntil(const std::atomic<int>& done, int target) {
    while (done.load(std::memory_order_acquire) < target) std::this_thread::yield();
}

void BM_TaskExecutor_HandOff(benchmark::State& state) {
    Multithreading::TaskExecutor executor("Bench");
    executor.StartExecute();
    std::atomic<int> done{0};
    for (auto _ : state) {
        done = 0;
        for (int i = 0; i < kTasks; ++i) executor.AddTask([&done] { done.fetch_add(1, std::memory_order_release); });
        WaitUntil(done, kTasks);
    }
    executor.StopExecute();
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_TaskExecutor_HandOff)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AsioIoContext_HandOff(benchmark::State& state) {
    boost::asio::io_context context;
    auto guard = boost::asio::make_work_guard(context);
    std::thread worker([&context] { context.run(); });
    std::atomic<int> done{0};
    for (auto _ : state) {
        done = 0;
        for (int i = 0; i < kTasks; ++i) {
            boost::asio::post(context, [&done] { done.fetch_add(1, std::memory_order_release); });
        }
        WaitUntil(done, kTasks);
    }
    guard.reset();
    worker.join();
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_AsioIoContext_HandOff)->Unit(benchmark::kMillisecond)->UseRealTime();

// Collects tasks per second for the closing ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rates[run.benchmark_name()] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double ours = 0, peer = 0;
    for (const auto& [name, rate] : reporter.rates) {
        if (name.starts_with("BM_TaskExecutor_HandOff")) ours = rate;
        if (name.starts_with("BM_AsioIoContext_HandOff")) peer = rate;
    }
    if (ours > 0 && peer > 0) {
        std::printf("\nTask hand-off, tasks per second: TaskExecutor %.0f, asio io_context %.0f, ratio %.2f\n", ours,
                    peer, ours / peer);
    }
    benchmark::Shutdown();
}

// Task hand-off through a TaskExecutor beside boost::asio::io_context run by
// one worker thread, in the same binary: one producer posts small tasks and
// waits (on a futex, without spinning) until the worker has run them all.
// Figures per repetition: tasks per second (wall) and the whole process's CPU
// time per task (every thread, spinning included); the ratios are of the
// medians, with the range of the rounds.  The latency cases post one task at
// a time, the next once the last has run, and give the median and p99 of the
// time from the post until the task starts on the worker.
#include <benchmark/benchmark.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "MedianReporter.h"
#include "multithreading/TaskExecutor.h"

namespace {

constexpr int kTasks = 200000;

// Counts the tasks run; the producer sleeps until the last one.
struct Done {
    std::atomic<int> count{0};
    void Add() {
        if (count.fetch_add(1, std::memory_order_release) + 1 == kTasks) count.notify_one();
    }
    void Wait() {
        for (int seen = count.load(std::memory_order_acquire); seen < kTasks;
             seen = count.load(std::memory_order_acquire)) {
            count.wait(seen, std::memory_order_acquire);
        }
    }
};

void Finish(benchmark::State& state, double cpuNs) {
    state.SetItemsProcessed(state.iterations() * kTasks);
    state.counters["cpu_ns_per_task"] = cpuNs / static_cast<double>(state.iterations() * kTasks);
}

void BM_TaskExecutor_HandOff(benchmark::State& state) {
    Multithreading::TaskExecutor executor("Bench");
    executor.StartExecute();
    Done done;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        done.count = 0;
        for (int i = 0; i < kTasks; ++i) executor.AddTask([&done] { done.Add(); });
        done.Wait();
    }
    Finish(state, vbench::ProcessCpuNs() - cpu);
    executor.StopExecute();
}
BENCHMARK(BM_TaskExecutor_HandOff)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AsioIoContext_HandOff(benchmark::State& state) {
    boost::asio::io_context context;
    auto guard = boost::asio::make_work_guard(context);
    std::thread worker([&context] { context.run(); });
    Done done;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        done.count = 0;
        for (int i = 0; i < kTasks; ++i) boost::asio::post(context, [&done] { done.Add(); });
        done.Wait();
    }
    Finish(state, vbench::ProcessCpuNs() - cpu);
    guard.reset();
    worker.join();
}
BENCHMARK(BM_AsioIoContext_HandOff)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Latency: one task at a time ----------------------------------------------

constexpr int kLatencyTasks = 20000;
using Clock = std::chrono::steady_clock;

// `post(task)` posts one task; each is posted after the last has run (the
// producer sleeps on a futex meanwhile), so a worker that sleeps between
// tasks is measured waking up.
template <class Post>
void TimeLatency(benchmark::State& state, Post post) {
    std::vector<double> samples(kLatencyTasks);
    std::atomic<int> ran{0};
    for (auto _ : state) {
        ran = 0;
        for (int i = 0; i < kLatencyTasks; ++i) {
            const Clock::time_point posted = Clock::now();
            post([&samples, &ran, posted, i] {
                samples[static_cast<std::size_t>(i)] =
                    std::chrono::duration<double, std::nano>(Clock::now() - posted).count();
                ran.store(i + 1, std::memory_order_release);
                ran.notify_one();
            });
            for (int seen = ran.load(std::memory_order_acquire); seen <= i;
                 seen = ran.load(std::memory_order_acquire)) {
                ran.wait(seen, std::memory_order_acquire);
            }
        }
    }
    std::sort(samples.begin(), samples.end());
    state.counters["p50_ns"] = samples[samples.size() / 2];
    state.counters["p99_ns"] = samples[samples.size() * 99 / 100];
    state.SetItemsProcessed(state.iterations() * kLatencyTasks);
}

void BM_TaskExecutor_Latency(benchmark::State& state) {
    Multithreading::TaskExecutor executor("Bench");
    executor.StartExecute();
    TimeLatency(state, [&executor](auto task) { executor.AddTask(std::move(task)); });
    executor.StopExecute();
}
BENCHMARK(BM_TaskExecutor_Latency)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_AsioIoContext_Latency(benchmark::State& state) {
    boost::asio::io_context context;
    auto guard = boost::asio::make_work_guard(context);
    std::thread worker([&context] { context.run(); });
    TimeLatency(state, [&context](auto task) { boost::asio::post(context, std::move(task)); });
    guard.reset();
    worker.join();
}
BENCHMARK(BM_AsioIoContext_Latency)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    vbench::Initialize(argc, argv);
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::ItemsPerSecond);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\nTask hand-off: median of the repetitions (their range), ratio ours / peer of the medians "
        "(range of the rounds):\n");
    const char* ours = "BM_TaskExecutor_HandOff";
    const char* peer = "BM_AsioIoContext_HandOff";
    vbench::Report("multithreading", "hand-off, wall", "TaskExecutor", reporter.Figures(ours), "asio io_context",
                   reporter.Figures(peer), "tasks/s", ">= 2");
    vbench::Report("multithreading", "hand-off, process CPU", "TaskExecutor", reporter.Counter(ours, "cpu_ns_per_task"),
                   "asio io_context", reporter.Counter(peer, "cpu_ns_per_task"), "CPU ns/task");
    for (const char* counter : {"p50_ns", "p99_ns"}) {
        vbench::Report("multithreading",
                       std::string("hand-off latency ") + (counter == std::string("p99_ns") ? "p99" : "p50"),
                       "TaskExecutor", reporter.Counter("BM_TaskExecutor_Latency", counter), "asio io_context",
                       reporter.Counter("BM_AsioIoContext_Latency", counter), "ns",
                       counter == std::string("p99_ns") ? "<= 1.0" : "");
    }
    benchmark::Shutdown();
}

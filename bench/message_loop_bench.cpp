// Thread messages and the task loop executor beside boost::asio::io_context
// and GLib's GMainContext (g_main_context_invoke), in the same binary:
//
//   one-way   one producer posts small messages to a thread that takes them
//             (PostThreadMessageW → GetMessageW; asio post; GLib invoke);
//   round     a message to another thread and its answer back (two asio
//             contexts, two GLib contexts);
//   tasks     TaskLoopExecutor::AddTask from one producer, beside GLib's
//             invoke into a worker's context and asio's post.
//
// Every GLib context is acquired by the thread that runs it before the
// timing starts, so g_main_context_invoke from another thread queues an idle
// source instead of running the function inline.  Figures per repetition:
// items per second (wall) and the whole process's CPU time per item (every
// thread: GetMessageW and the peers may spin before they sleep); the ratio
// rows after the tables are of the medians, with the range of the rounds.
// The producer waits for the last item on a futex, without spinning.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <atomic>
#include <cstdio>
#include <thread>

#include "MedianReporter.h"
#include "multithreading/TaskLoopExecutor.h"
#include "platform/kernel/Threads.h"
#include "platform/user/Messages.h"

namespace {

constexpr int kOneWay = 100'000;
constexpr int kRounds = 20'000;
constexpr int kTasks = 100'000;

// Items taken; the producer sleeps until `target` (set before the first
// item) is reached.
struct Taken {
    std::atomic<int> count{0};
    int target = 0;
    void Reset(int items) {
        target = items;
        count.store(0);
    }
    void Add() {
        if (count.fetch_add(1, std::memory_order_release) + 1 == target) count.notify_one();
    }
    void Wait() {
        for (int seen = count.load(std::memory_order_acquire); seen < target;
             seen = count.load(std::memory_order_acquire)) {
            count.wait(seen, std::memory_order_acquire);
        }
    }
};

// Items per second and the whole process's CPU time per item since `cpuStart`.
void Finish(benchmark::State& state, int perIteration, double cpuStart) {
    const double cpu = vbench::ProcessCpuNs() - cpuStart;
    state.SetItemsProcessed(state.iterations() * perIteration);
    state.counters["cpu_ns_per_item"] = cpu / static_cast<double>(state.iterations() * perIteration);
}

// --- Thread messages -----------------------------------------------------

// A thread taking messages until WM_QUIT; answers WM_APP + 1 to the sender
// thread named in wParam.
class MessageThread {
public:
    MessageThread() : m_thread([this] { Loop(); }) {
        while (m_id.load() == 0) std::this_thread::yield();
    }
    ~MessageThread() {
        PostThreadMessageW(m_id, WM_QUIT, 0, 0);
        m_thread.join();
    }
    DWORD Id() const { return m_id; }
    Taken taken;

private:
    void Loop() {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        m_id = GetCurrentThreadId();
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_APP + 1) {
                PostThreadMessageW(static_cast<DWORD>(msg.wParam), WM_APP + 2, 0, 0);
            } else {
                taken.Add();
            }
        }
    }
    std::atomic<DWORD> m_id{0};
    std::thread m_thread;
};

// Posts, waiting while the queue holds its 10,000.
void Post(DWORD thread, UINT message, WPARAM wParam) {
    while (!PostThreadMessageW(thread, message, wParam, 0)) std::this_thread::yield();
}

void BM_ThreadMessages_OneWay(benchmark::State& state) {
    MessageThread consumer;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        consumer.taken.Reset(kOneWay);
        for (int i = 0; i < kOneWay; ++i) Post(consumer.Id(), WM_APP, 0);
        consumer.taken.Wait();
    }
    Finish(state, kOneWay, cpu);
}
BENCHMARK(BM_ThreadMessages_OneWay)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThreadMessages_RoundTrip(benchmark::State& state) {
    MessageThread echo;
    const DWORD self = GetCurrentThreadId();
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    int answers = 0;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        for (int i = 0; i < kRounds; ++i) {
            Post(echo.Id(), WM_APP + 1, self);
            if (GetMessageW(&msg, nullptr, 0, 0) > 0 && msg.message == WM_APP + 2) ++answers;
        }
    }
    Finish(state, kRounds, cpu);
    if (answers != state.iterations() * kRounds) state.SkipWithError("an answer was missing");
}
BENCHMARK(BM_ThreadMessages_RoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Boost.Asio ------------------------------------------------------------

struct AsioThread {
    boost::asio::io_context context{1};
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard{context.get_executor()};
    std::thread thread{[this] { context.run(); }};
    ~AsioThread() {
        guard.reset();
        thread.join();
    }
};

void BM_Asio_OneWay(benchmark::State& state) {
    AsioThread consumer;
    Taken taken;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        taken.Reset(kOneWay);
        for (int i = 0; i < kOneWay; ++i) boost::asio::post(consumer.context, [&taken] { taken.Add(); });
        taken.Wait();
    }
    Finish(state, kOneWay, cpu);
}
BENCHMARK(BM_Asio_OneWay)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Asio_RoundTrip(benchmark::State& state) {
    AsioThread echo;
    boost::asio::io_context home{1};
    // Keeps run_one waiting for the answer.
    const auto guard = boost::asio::make_work_guard(home);
    int answers = 0;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        for (int i = 0; i < kRounds; ++i) {
            boost::asio::post(echo.context, [&home, &answers] { boost::asio::post(home, [&answers] { ++answers; }); });
            home.run_one();
        }
    }
    Finish(state, kRounds, cpu);
    if (answers != state.iterations() * kRounds) state.SkipWithError("an answer was missing");
}
BENCHMARK(BM_Asio_RoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- GLib ---------------------------------------------------------------------

// A thread that owns a context (acquired before any timing) and runs it.
class GlibThread {
public:
    GlibThread() : m_context(g_main_context_new()), m_loop(g_main_loop_new(m_context, FALSE)) {
        m_thread = std::thread([this] {
            g_main_context_push_thread_default(m_context);
            g_main_context_acquire(m_context);
            m_ready = true;
            g_main_loop_run(m_loop);
            g_main_context_release(m_context);
            g_main_context_pop_thread_default(m_context);
        });
        while (!m_ready.load()) std::this_thread::yield();
    }
    ~GlibThread() {
        g_main_context_invoke(
            m_context,
            [](gpointer loop) -> gboolean {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return G_SOURCE_REMOVE;
            },
            m_loop);
        m_thread.join();
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }
    GMainContext* Context() const { return m_context; }

private:
    GMainContext* m_context;
    GMainLoop* m_loop;
    std::atomic<bool> m_ready{false};
    std::thread m_thread;
};

gboolean Count(gpointer counter) {
    static_cast<Taken*>(counter)->Add();
    return G_SOURCE_REMOVE;
}

void BM_Glib_OneWay(benchmark::State& state) {
    GlibThread consumer;
    Taken taken;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        taken.Reset(kOneWay);
        for (int i = 0; i < kOneWay; ++i) g_main_context_invoke(consumer.Context(), Count, &taken);
        taken.Wait();
    }
    Finish(state, kOneWay, cpu);
}
BENCHMARK(BM_Glib_OneWay)->Unit(benchmark::kMillisecond)->UseRealTime();

struct GlibRound {
    GMainContext* home;
    Taken answered{};
};

void BM_Glib_RoundTrip(benchmark::State& state) {
    GlibThread echo;
    GlibRound round{g_main_context_new()};
    g_main_context_push_thread_default(round.home);
    g_main_context_acquire(round.home);
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        round.answered.Reset(kRounds);
        for (int i = 0; i < kRounds; ++i) {
            g_main_context_invoke(
                echo.Context(),
                [](gpointer data) -> gboolean {
                    auto* r = static_cast<GlibRound*>(data);
                    g_main_context_invoke(r->home, Count, &r->answered);
                    return G_SOURCE_REMOVE;
                },
                &round);
            while (round.answered.count.load(std::memory_order_acquire) <= i) {
                g_main_context_iteration(round.home, TRUE);
            }
        }
    }
    Finish(state, kRounds, cpu);
    g_main_context_release(round.home);
    g_main_context_pop_thread_default(round.home);
    g_main_context_unref(round.home);
}
BENCHMARK(BM_Glib_RoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Task loop executor -------------------------------------------------------

void BM_TaskLoopExecutor_Tasks(benchmark::State& state) {
    Multithreading::TaskLoopExecutor executor("Bench");
    executor.StartLoopExecute();
    Taken done;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        done.Reset(kTasks);
        for (int i = 0; i < kTasks; ++i) executor.AddTask([&done] { done.Add(); });
        done.Wait();
    }
    Finish(state, kTasks, cpu);
    executor.StopLoopExecute();
}
BENCHMARK(BM_TaskLoopExecutor_Tasks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Glib_Tasks(benchmark::State& state) {
    GlibThread worker;
    Taken done;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        done.Reset(kTasks);
        for (int i = 0; i < kTasks; ++i) g_main_context_invoke(worker.Context(), Count, &done);
        done.Wait();
    }
    Finish(state, kTasks, cpu);
}
BENCHMARK(BM_Glib_Tasks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Asio_Tasks(benchmark::State& state) {
    AsioThread worker;
    Taken done;
    const double cpu = vbench::ProcessCpuNs();
    for (auto _ : state) {
        done.Reset(kTasks);
        for (int i = 0; i < kTasks; ++i) boost::asio::post(worker.context, [&done] { done.Add(); });
        done.Wait();
    }
    Finish(state, kTasks, cpu);
}
BENCHMARK(BM_Asio_Tasks)->Unit(benchmark::kMillisecond)->UseRealTime();

// Two rows per pair: wall (items per second, higher is better) and the
// whole process's CPU per item (lower is better), ours / peer.
void PrintRatios(const vbench::MedianReporter& reporter, const char* what, const char* ours, const char* peer,
                 const char* peerName, const char* wallGoal, const char* cpuGoal) {
    const std::string name = ours == std::string("BM_TaskLoopExecutor_Tasks") ? "TaskLoopExecutor" : "thread messages";
    vbench::Report("messages", std::string(what) + ", wall", name, reporter.Figures(ours), peerName,
                   reporter.Figures(peer), "items/s", wallGoal);
    vbench::Report("messages", std::string(what) + ", process CPU", name, reporter.Counter(ours, "cpu_ns_per_item"),
                   peerName, reporter.Counter(peer, "cpu_ns_per_item"), "CPU ns/item", cpuGoal);
}

}  // namespace

int main(int argc, char** argv) {
    vbench::Initialize(argc, argv);
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::ItemsPerSecond);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nMedian of the repetitions (their range), ratio ours / peer of the medians (range of the rounds):\n");
    PrintRatios(reporter, "one-way", "BM_ThreadMessages_OneWay", "BM_Asio_OneWay", "asio post", ">= 1.1", "<= 1.0");
    PrintRatios(reporter, "one-way", "BM_ThreadMessages_OneWay", "BM_Glib_OneWay", "GLib invoke", "", "");
    PrintRatios(reporter, "round trips", "BM_ThreadMessages_RoundTrip", "BM_Asio_RoundTrip", "asio post", ">= 1.2",
                "<= 1.0");
    PrintRatios(reporter, "round trips", "BM_ThreadMessages_RoundTrip", "BM_Glib_RoundTrip", "GLib invoke", ">= 2", "");
    PrintRatios(reporter, "tasks", "BM_TaskLoopExecutor_Tasks", "BM_Glib_Tasks", "GLib invoke", ">= 3", "");
    PrintRatios(reporter, "tasks", "BM_TaskLoopExecutor_Tasks", "BM_Asio_Tasks", "asio post", "", "");
    benchmark::Shutdown();
}

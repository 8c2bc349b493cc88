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
// source instead of running the function inline.  Figures are items per
// second, the median of the repetitions; the ratios follow the tables.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "multithreading/TaskLoopExecutor.h"
#include "platform/kernel/Threads.h"
#include "platform/user/Messages.h"

namespace {

constexpr int kOneWay = 100'000;
constexpr int kRounds = 20'000;
constexpr int kTasks = 100'000;

void WaitUntil(const std::atomic<int>& done, int target) {
    while (done.load(std::memory_order_acquire) < target) std::this_thread::yield();
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
    std::atomic<int> taken{0};

private:
    void Loop() {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        m_id = GetCurrentThreadId();
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_APP + 1) {
                PostThreadMessageW(static_cast<DWORD>(msg.wParam), WM_APP + 2, 0, 0);
            } else {
                taken.fetch_add(1, std::memory_order_release);
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
    for (auto _ : state) {
        consumer.taken = 0;
        for (int i = 0; i < kOneWay; ++i) Post(consumer.Id(), WM_APP, 0);
        WaitUntil(consumer.taken, kOneWay);
    }
    state.SetItemsProcessed(state.iterations() * kOneWay);
}
BENCHMARK(BM_ThreadMessages_OneWay)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ThreadMessages_RoundTrip(benchmark::State& state) {
    MessageThread echo;
    const DWORD self = GetCurrentThreadId();
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    for (auto _ : state) {
        for (int i = 0; i < kRounds; ++i) {
            Post(echo.Id(), WM_APP + 1, self);
            GetMessageW(&msg, nullptr, 0, 0);
        }
    }
    state.SetItemsProcessed(state.iterations() * kRounds);
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
    std::atomic<int> taken{0};
    for (auto _ : state) {
        taken = 0;
        for (int i = 0; i < kOneWay; ++i) {
            boost::asio::post(consumer.context, [&taken] { taken.fetch_add(1, std::memory_order_release); });
        }
        WaitUntil(taken, kOneWay);
    }
    state.SetItemsProcessed(state.iterations() * kOneWay);
}
BENCHMARK(BM_Asio_OneWay)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Asio_RoundTrip(benchmark::State& state) {
    AsioThread echo;
    boost::asio::io_context home{1};
    // Keeps run_one waiting for the answer.
    const auto guard = boost::asio::make_work_guard(home);
    for (auto _ : state) {
        for (int i = 0; i < kRounds; ++i) {
            boost::asio::post(echo.context, [&home] { boost::asio::post(home, [] {}); });
            home.run_one();
        }
    }
    state.SetItemsProcessed(state.iterations() * kRounds);
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
    static_cast<std::atomic<int>*>(counter)->fetch_add(1, std::memory_order_release);
    return G_SOURCE_REMOVE;
}

void BM_Glib_OneWay(benchmark::State& state) {
    GlibThread consumer;
    std::atomic<int> taken{0};
    for (auto _ : state) {
        taken = 0;
        for (int i = 0; i < kOneWay; ++i) g_main_context_invoke(consumer.Context(), Count, &taken);
        WaitUntil(taken, kOneWay);
    }
    state.SetItemsProcessed(state.iterations() * kOneWay);
}
BENCHMARK(BM_Glib_OneWay)->Unit(benchmark::kMillisecond)->UseRealTime();

struct GlibRound {
    GMainContext* home;
    std::atomic<int> answered{0};
};

void BM_Glib_RoundTrip(benchmark::State& state) {
    GlibThread echo;
    GlibRound round{g_main_context_new()};
    g_main_context_push_thread_default(round.home);
    g_main_context_acquire(round.home);
    for (auto _ : state) {
        round.answered = 0;
        for (int i = 0; i < kRounds; ++i) {
            g_main_context_invoke(
                echo.Context(),
                [](gpointer data) -> gboolean {
                    auto* r = static_cast<GlibRound*>(data);
                    g_main_context_invoke(r->home, Count, &r->answered);
                    return G_SOURCE_REMOVE;
                },
                &round);
            while (round.answered.load(std::memory_order_acquire) <= i) g_main_context_iteration(round.home, TRUE);
        }
    }
    g_main_context_release(round.home);
    g_main_context_pop_thread_default(round.home);
    g_main_context_unref(round.home);
    state.SetItemsProcessed(state.iterations() * kRounds);
}
BENCHMARK(BM_Glib_RoundTrip)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Task loop executor -------------------------------------------------------

void BM_TaskLoopExecutor_Tasks(benchmark::State& state) {
    Multithreading::TaskLoopExecutor executor("Bench");
    executor.StartLoopExecute();
    std::atomic<int> done{0};
    for (auto _ : state) {
        done = 0;
        for (int i = 0; i < kTasks; ++i) executor.AddTask([&done] { done.fetch_add(1, std::memory_order_release); });
        WaitUntil(done, kTasks);
    }
    executor.StopLoopExecute();
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_TaskLoopExecutor_Tasks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Glib_Tasks(benchmark::State& state) {
    GlibThread worker;
    std::atomic<int> done{0};
    for (auto _ : state) {
        done = 0;
        for (int i = 0; i < kTasks; ++i) g_main_context_invoke(worker.Context(), Count, &done);
        WaitUntil(done, kTasks);
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_Glib_Tasks)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Asio_Tasks(benchmark::State& state) {
    AsioThread worker;
    std::atomic<int> done{0};
    for (auto _ : state) {
        done = 0;
        for (int i = 0; i < kTasks; ++i) {
            boost::asio::post(worker.context, [&done] { done.fetch_add(1, std::memory_order_release); });
        }
        WaitUntil(done, kTasks);
    }
    state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_Asio_Tasks)->Unit(benchmark::kMillisecond)->UseRealTime();

// Collects items per second: the median of each benchmark's repetitions.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) m_rates[run.run_name.function_name].push_back(it->second.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double Rate(const std::string& name) const {
        const auto it = m_rates.find(name);
        if (it == m_rates.end() || it->second.empty()) return 0;
        std::vector<double> values = it->second;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }

private:
    std::map<std::string, std::vector<double>> m_rates;
};

void PrintRatio(const RateReporter& rates, const char* what, const char* ours, const char* peer, const char* goal) {
    const double mine = rates.Rate(ours);
    const double theirs = rates.Rate(peer);
    if (mine <= 0 || theirs <= 0) return;
    std::printf("%-28s %12.0f/s vs %-22s %12.0f/s  ratio %5.2f  (goal %s)\n", what, mine, peer, theirs, mine / theirs,
                goal);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    PrintRatio(reporter, "messages one-way", "BM_ThreadMessages_OneWay", "BM_Asio_OneWay", ">= 1.1");
    PrintRatio(reporter, "messages one-way", "BM_ThreadMessages_OneWay", "BM_Glib_OneWay", "-");
    PrintRatio(reporter, "messages round trips", "BM_ThreadMessages_RoundTrip", "BM_Asio_RoundTrip", ">= 1.1");
    PrintRatio(reporter, "messages round trips", "BM_ThreadMessages_RoundTrip", "BM_Glib_RoundTrip", ">= 2");
    PrintRatio(reporter, "TaskLoopExecutor tasks", "BM_TaskLoopExecutor_Tasks", "BM_Glib_Tasks", ">= 3");
    PrintRatio(reporter, "TaskLoopExecutor tasks", "BM_TaskLoopExecutor_Tasks", "BM_Asio_Tasks", "reported");
    benchmark::Shutdown();
}

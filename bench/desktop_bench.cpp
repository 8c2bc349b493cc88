// Monitor queries beside a peer that asks the X server per call.
//
// GetNearestMonitor, IsOnMonitor and MoveAndClipRectToMonitor on three
// monitors (LEFT, MAIN the primary, RIGHT), against the same questions
// answered from XRRGetMonitors at each call, as code without a cached layout
// would.  Runs on $DISPLAY, or on an Xvfb of its own when none is set.  The
// ratios of the rates (queries per second of CPU time, which a loaded machine
// disturbs less than wall-clock time; the peer's wait for the server is not
// counted, so the ratios understate its cost) follow the usual output.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "gdi/Monitor.h"

extern char** environ;

namespace {

// Rectangles spread over the desktop and beyond it, in virtual-screen
// coordinates (MAIN at 0,0; X coordinates are 1920 further right).
constexpr RECT kQueries[] = {
    {100, 100, 900, 700},    {-1500, 300, -600, 900},  {2500, 100, 3500, 800},
    {-5000, -900, -4000, 0}, {1800, 1100, 2100, 1300}, {6000, 50, 6500, 300},
};
constexpr long long kShift = 1920;  // X's x of the virtual origin

struct Box {
    long long left, top, right, bottom;
};

// The monitors from the server, in X coordinates.
std::vector<Box> FromServer(Display* display) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    std::vector<Box> boxes;
    for (int i = 0; i < count; ++i) {
        boxes.push_back(
            {monitors[i].x, monitors[i].y, monitors[i].x + monitors[i].width, monitors[i].y + monitors[i].height});
    }
    XRRFreeMonitors(monitors);
    return boxes;
}

// The monitor nearest to `r` (X coordinates): the largest overlap, else the
// smallest distance.
std::size_t Nearest(const std::vector<Box>& boxes, const Box& r) {
    std::size_t best = 0;
    long long bestArea = -1, bestDistance = LLONG_MAX;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const Box& b = boxes[i];
        const long long w = std::min(b.right, r.right) - std::max(b.left, r.left);
        const long long h = std::min(b.bottom, r.bottom) - std::max(b.top, r.top);
        if (w > 0 && h > 0 && w * h > bestArea) best = i, bestArea = w * h;
        const long long dx = std::max({b.left - r.right, r.left - b.right, 0LL});
        const long long dy = std::max({b.top - r.bottom, r.top - b.bottom, 0LL});
        if (bestArea < 0 && dx * dx + dy * dy < bestDistance) best = i, bestDistance = dx * dx + dy * dy;
    }
    return best;
}

Box InX(const RECT& r) {
    return {r.left + kShift, r.top, r.right + kShift, r.bottom};
}

Display* g_display = nullptr;

void BM_Ours_GetNearestMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Monitors::GetNearestMonitor(&kQueries[i++ % 6]));
    state.SetItemsProcessed(state.iterations());
}

void BM_Peer_GetNearestMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Nearest(FromServer(g_display), InX(kQueries[i++ % 6])));
    state.SetItemsProcessed(state.iterations());
}

void BM_Ours_IsOnMonitor(benchmark::State& state) {
    const Monitor main = *Monitors::GetPrimaryMonitor();
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(main.IsOnMonitor(&kQueries[i++ % 6]));
    state.SetItemsProcessed(state.iterations());
}

void BM_Peer_IsOnMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) {
        const auto boxes = FromServer(g_display);
        const Box r = InX(kQueries[i++ % 6]);
        const Box& m = boxes.front();
        benchmark::DoNotOptimize(r.left >= m.left && r.left < m.right && r.top >= m.top && r.top < m.bottom &&
                                 r.right >= m.left && r.right < m.right && r.bottom >= m.top && r.bottom < m.bottom);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Ours_MoveAndClipRectToMonitor(benchmark::State& state) {
    const Monitor main = *Monitors::GetPrimaryMonitor();
    std::size_t i = 0;
    for (auto _ : state) {
        CRect rect(kQueries[i++ % 6]);
        benchmark::DoNotOptimize(main.MoveAndClipRectToMonitor(false, rect));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Peer_MoveAndClipRectToMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) {
        const Box a = FromServer(g_display).front();
        Box r = InX(kQueries[i++ % 6]);
        if (r.left < a.left || r.left >= a.right) r = {a.left, r.top, a.left + (r.right - r.left), r.bottom};
        if (r.top < a.top || r.top >= a.bottom) r = {r.left, a.top, r.right, a.top + (r.bottom - r.top)};
        r.right = r.left + std::min(a.right - r.left, r.right - r.left);
        r.bottom = r.top + std::min(a.bottom - r.top, r.bottom - r.top);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Ours_GetNearestMonitor);
BENCHMARK(BM_Peer_GetNearestMonitor);
BENCHMARK(BM_Ours_IsOnMonitor);
BENCHMARK(BM_Peer_IsOnMonitor);
BENCHMARK(BM_Ours_MoveAndClipRectToMonitor);
BENCHMARK(BM_Peer_MoveAndClipRectToMonitor);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            // With repetitions, the median stands for the benchmark.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rates[run.run_name.function_name] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

// An Xvfb of the benchmark's own with the three monitors; its pid.
pid_t StartServer() {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-noreset",     "-nolisten",
                          "tcp",  "-screen",    "0",        "5760x2400x24", nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return -1;
    close(fds[1]);
    char number[16] = {};
    const ssize_t got = read(fds[0], number, sizeof number - 1);
    close(fds[0]);
    if (got <= 0) return -1;
    setenv("DISPLAY", (":" + std::string(number, std::strcspn(number, "\n"))).c_str(), 1);
    return pid;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const pid_t server = std::getenv("DISPLAY") == nullptr ? StartServer() : -1;
    if (server > 0) {
        std::system(
            "xrandr --setmonitor '*MAIN' 1920/500x1200/300+1920+0 screen >/dev/null 2>&1 &&"
            " xrandr --setmonitor LEFT 1920/500x1080/300+0+120 none >/dev/null 2>&1 &&"
            " xrandr --setmonitor RIGHT 1920/500x1200/300+3840+0 none >/dev/null 2>&1");
    }
    g_display = XOpenDisplay(nullptr);
    if (g_display == nullptr || !Monitors::GetPrimaryMonitor()) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nQueries per second, ours / the peer asking XRRGetMonitors per call:\n");
    for (const char* name : {"GetNearestMonitor", "IsOnMonitor", "MoveAndClipRectToMonitor"}) {
        const double ours = reporter.rates[std::string("BM_Ours_") + name];
        const double peer = reporter.rates[std::string("BM_Peer_") + name];
        if (ours > 0 && peer > 0) std::printf("  %-26s %12.0f %12.0f  ratio %.1f\n", name, ours, peer, ours / peer);
    }
    XCloseDisplay(g_display);
    benchmark::Shutdown();
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    return 0;
}

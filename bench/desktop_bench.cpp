// Monitor queries beside Xlib peers, and the clipboard beside xclip.
//
// MonitorFromPoint with GetMonitorInfoW, GetNearestMonitor, IsOnMonitor and
// MoveAndClipRectToMonitor on three monitors (LEFT, MAIN the primary, RIGHT),
// against the same questions answered by two peers: one that keeps the
// monitors from XRRGetMonitors and reads them again only after RandR
// announced a change (it selects RandR's events and takes in what the
// connection received, without blocking, before each query: what a careful
// Xlib program does, and the peer the ratios are judged against), and one that
// asks the server at each call.  Before timing, the peers' answers are
// compared with ours, and on the tests' Xvfb both ours and the caching peer
// must see a change of the monitors made just before the call.  Runs on
// $DISPLAY, or on the tests' Xvfb when none is set (the change is checked only
// there).  The ratios of the rates follow the usual output, twice: per second
// of CPU time, which a loaded machine disturbs less but which leaves out a
// peer's wait for the server, and per second of wall-clock time, which counts
// that round trip.
//
// The clipboard moves 10 MB of text (UTF-8 on the wire, INCR transfers) in
// both directions, in wall-clock time:
//   Serve  the process owns the text and `xclip -o` reads it, beside xclip
//          owning it (`xclip -i`) and `xclip -o` reading it: the reader and
//          its start are the same on both sides, the owner differs;
//   Read   xclip owns the text and the process reads it into a std::wstring
//          (GetClipboardString) or as the platform's block of UTF-16 units
//          (GetClipboardData), beside `xclip -o` whose output is kept in a
//          std::string (the text in the process's memory, as the block; its
//          rate includes starting the program), and beside that output
//          converted into a std::wstring with iconv (the same result as
//          GetClipboardString's).
// The ratios of the rates follow the monitors'.
//
// A top-level window's life on the display: created visible, moved and
// sized, destroyed (CreateWindowExW, MoveWindow, DestroyWindow), beside the
// same X requests made with Xlib on one connection, with the same
// properties, and synced after each call as the platform syncs (so another
// client sees each change when the call returns).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "MedianReporter.h"
#include "gdi/Monitor.h"
#include "platform/kernel/Memory.h"
#include "platform/user/Clipboard.h"
#include "platform/user/Monitor.h"
#include "platform/user/Window.h"
#include "system/Clipboard.h"
#include "tests/support/Peer.h"
#include "tests/support/XServer.h"

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

// The monitors as a careful Xlib program keeps them, on a connection of its
// own: read once, and again only after the server announced a change.  Each query
// first takes in what the connection has received, without blocking, so a
// change the server announced before the call is seen.
class CachedMonitors {
public:
    CachedMonitors() : m_display(XOpenDisplay(nullptr)) {
        if (m_display == nullptr) return;
        int error = 0;
        XRRQueryExtension(m_display, &m_eventBase, &error);
        // A change of RandR's monitors alone comes as the root window's
        // ConfigureNotify; outputs and CRTCs as RandR's events.
        XSelectInput(m_display, DefaultRootWindow(m_display), StructureNotifyMask);
        XRRSelectInput(m_display, DefaultRootWindow(m_display),
                       RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        m_boxes = FromServer(m_display);
    }
    ~CachedMonitors() {
        if (m_display != nullptr) XCloseDisplay(m_display);
    }
    CachedMonitors(const CachedMonitors&) = delete;
    CachedMonitors& operator=(const CachedMonitors&) = delete;

    const std::vector<Box>& Get() {
        if (m_display != nullptr && XEventsQueued(m_display, QueuedAfterReading) > 0) {
            bool changed = false;
            do {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == m_eventBase + RRScreenChangeNotify ||
                    (event.type == ConfigureNotify && event.xconfigure.window == DefaultRootWindow(m_display))) {
                    XRRUpdateConfiguration(&event);
                    changed = true;
                } else if (event.type == m_eventBase + RRNotify) {
                    changed = true;
                }
            } while (XEventsQueued(m_display, QueuedAlready) > 0);
            if (changed) m_boxes = FromServer(m_display);
        }
        return m_boxes;
    }

private:
    Display* m_display;
    int m_eventBase = 0;
    std::vector<Box> m_boxes;
};

CachedMonitors& Cached() {
    static CachedMonitors cached;
    return cached;
}

// The monitors from the cache, or from the server at each call.
const std::vector<Box>& FromCache() {
    return Cached().Get();
}

std::vector<Box> PerCall() {
    return FromServer(g_display);
}

// Points spread like the rectangles' corners.
constexpr POINT kPoints[] = {{500, 400}, {-1000, 600}, {3000, 400}, {-4500, -500}, {1900, 1200}, {6200, 100}};

void BM_Ours_MonitorInfo(benchmark::State& state) {
    std::size_t i = 0;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    for (auto _ : state) {
        const HMONITOR monitor = MonitorFromPoint(kPoints[i++ % 6], MONITOR_DEFAULTTONEAREST);
        benchmark::DoNotOptimize(GetMonitorInfoW(monitor, &info));
        benchmark::DoNotOptimize(info);
    }
    state.SetItemsProcessed(state.iterations());
}

// The nearest monitor's rectangle, in virtual-screen coordinates.
template <class Boxes>
RECT PeerMonitorOf(const Boxes& boxes, POINT p) {
    const Box& b = boxes[Nearest(boxes, {p.x + kShift, p.y, p.x + kShift + 1, p.y + 1})];
    return {static_cast<LONG>(b.left - kShift), static_cast<LONG>(b.top), static_cast<LONG>(b.right - kShift),
            static_cast<LONG>(b.bottom)};
}

template <auto Boxes>
void BM_Peer_MonitorInfo(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(PeerMonitorOf(Boxes(), kPoints[i++ % 6]));
    state.SetItemsProcessed(state.iterations());
}

void BM_Ours_GetNearestMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Monitors::GetNearestMonitor(&kQueries[i++ % 6]));
    state.SetItemsProcessed(state.iterations());
}

template <auto Boxes>
void BM_Peer_GetNearestMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(Nearest(Boxes(), InX(kQueries[i++ % 6])));
    state.SetItemsProcessed(state.iterations());
}

void BM_Ours_IsOnMonitor(benchmark::State& state) {
    const Monitor main = *Monitors::GetPrimaryMonitor();
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(main.IsOnMonitor(&kQueries[i++ % 6]));
    state.SetItemsProcessed(state.iterations());
}

template <auto Boxes>
void BM_Peer_IsOnMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& boxes = Boxes();
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

template <auto Boxes>
void BM_Peer_MoveAndClipRectToMonitor(benchmark::State& state) {
    std::size_t i = 0;
    for (auto _ : state) {
        const Box a = Boxes().front();
        Box r = InX(kQueries[i++ % 6]);
        if (r.left < a.left || r.left >= a.right) r = {a.left, r.top, a.left + (r.right - r.left), r.bottom};
        if (r.top < a.top || r.top >= a.bottom) r = {r.left, a.top, r.right, a.top + (r.bottom - r.top)};
        r.right = r.left + std::min(a.right - r.left, r.right - r.left);
        r.bottom = r.top + std::min(a.bottom - r.top, r.bottom - r.top);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Ours_MonitorInfo);
BENCHMARK(BM_Peer_MonitorInfo<FromCache>)->Name("BM_Peer_MonitorInfo");
BENCHMARK(BM_Peer_MonitorInfo<PerCall>)->Name("BM_PerCall_MonitorInfo");
BENCHMARK(BM_Ours_GetNearestMonitor);
BENCHMARK(BM_Peer_GetNearestMonitor<FromCache>)->Name("BM_Peer_GetNearestMonitor");
BENCHMARK(BM_Peer_GetNearestMonitor<PerCall>)->Name("BM_PerCall_GetNearestMonitor");
BENCHMARK(BM_Ours_IsOnMonitor);
BENCHMARK(BM_Peer_IsOnMonitor<FromCache>)->Name("BM_Peer_IsOnMonitor");
BENCHMARK(BM_Peer_IsOnMonitor<PerCall>)->Name("BM_PerCall_IsOnMonitor");
BENCHMARK(BM_Ours_MoveAndClipRectToMonitor);
BENCHMARK(BM_Peer_MoveAndClipRectToMonitor<FromCache>)->Name("BM_Peer_MoveAndClipRectToMonitor");
BENCHMARK(BM_Peer_MoveAndClipRectToMonitor<PerCall>)->Name("BM_PerCall_MoveAndClipRectToMonitor");

// Our monitor of each point beside the peers'; with `server`, the same after
// the monitors changed just before the calls (RIGHT smaller), and after they
// changed back.  False, with the reason printed, when one differs.
bool CheckMonitors(const vlibtest::XServer* server) {
    const auto ours = [](POINT p) {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        GetMonitorInfoW(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST), &info);
        return info.rcMonitor;
    };
    const auto same = [](const RECT& a, const RECT& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    const auto compare = [&](const char* when) {
        for (const POINT& p : kPoints) {
            const RECT mine = ours(p), cached = PeerMonitorOf(FromCache(), p), asked = PeerMonitorOf(PerCall(), p);
            if (!same(mine, cached) || !same(mine, asked)) {
                std::fprintf(stderr,
                             "%s: the monitor of (%ld, %ld) differs: ours %ld,%ld-%ld,%ld, caching peer's "
                             "%ld,%ld-%ld,%ld, asking peer's %ld,%ld-%ld,%ld\n",
                             when, static_cast<long>(p.x), static_cast<long>(p.y), static_cast<long>(mine.left),
                             static_cast<long>(mine.top), static_cast<long>(mine.right), static_cast<long>(mine.bottom),
                             static_cast<long>(cached.left), static_cast<long>(cached.top),
                             static_cast<long>(cached.right), static_cast<long>(cached.bottom),
                             static_cast<long>(asked.left), static_cast<long>(asked.top),
                             static_cast<long>(asked.right), static_cast<long>(asked.bottom));
                return false;
            }
        }
        return true;
    };
    if (!compare("before timing")) return false;
    if (server == nullptr) {
        std::printf("on $DISPLAY: a change of the monitors is not checked\n");
        return true;
    }
    auto smaller = vlibtest::ThreeMonitors();
    smaller[2].width = 1280;
    smaller[2].height = 1024;
    if (!server->SetMonitors(smaller) || !compare("after a change") || ours({3000, 400}).right != 3200) return false;
    if (!server->SetMonitors(vlibtest::ThreeMonitors()) || !compare("after the change back")) return false;
    std::printf("ours and the caching peer saw the monitors change before each call\n");
    return true;
}

// --- The clipboard -------------------------------------------------------------------

constexpr std::size_t kClipboardBytes = 10 << 20;

const std::string& ClipboardText() {
    static const std::string text = [] {
        std::string t;
        t.reserve(kClipboardBytes);
        while (t.size() < kClipboardBytes) t += "Zażółć gęślą jaźń, clipboard line of text. ";
        t.resize(kClipboardBytes);
        while ((static_cast<unsigned char>(t.back()) & 0xC0) == 0x80 || static_cast<unsigned char>(t.back()) >= 0xC0) {
            t.pop_back();  // whole characters only
        }
        return t;
    }();
    return text;
}

std::wstring Utf16Of(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(c);
            i += 1;
        } else {  // two-byte sequences only in this text
            out.push_back(static_cast<wchar_t>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F)));
            i += 2;
        }
    }
    return out;
}

// The clipboard's bytes as `xclip -o` writes them into a pipe; none when
// it fails.
std::optional<std::string> XclipRead() {
    return vlibtest::RunPeer({"xclip", "-o", "-selection", "clipboard", "-target", "UTF8_STRING"});
}

// UTF-8 into wchar_t with iconv, as a program without the platform would.
std::wstring IconvWide(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    iconv_t cd = iconv_open("WCHAR_T", "UTF-8");
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* to = reinterpret_cast<char*>(out.data());
    std::size_t toLeft = out.size() * sizeof(wchar_t);
    iconv(cd, &in, &inLeft, &to, &toLeft);
    iconv_close(cd);
    out.resize(out.size() - toLeft / sizeof(wchar_t));
    return out;
}

// xclip takes the clipboard with the text; it serves until another owner
// comes.  It owns it once it answers (its background part takes it).  False,
// with the benchmark skipped, when it does not.
bool XclipOwn(benchmark::State& state) {
    // Its background part keeps no pipe of ours open.
    if (vlibtest::RunPeer({"sh", "-c", "exec xclip -i -selection clipboard -silent >/dev/null"}, ClipboardText())) {
        for (int i = 0; i < 200; ++i) {
            if (XclipRead() == ClipboardText()) return true;
            usleep(10'000);
        }
    }
    state.SkipWithError("xclip did not take the clipboard");
    return false;
}

void CountBytes(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<long long>(ClipboardText().size()));
}

// `xclip -o` reads the clipboard at each iteration, its output kept.
void ReadByXclip(benchmark::State& state) {
    for (auto _ : state) {
        const auto bytes = XclipRead();
        if (!bytes || bytes->size() != ClipboardText().size()) state.SkipWithError("xclip read too little");
    }
    CountBytes(state);
}

void BM_Ours_ClipboardServe(benchmark::State& state) {
    if (!VTools::Clipboard::CopyStringToClipboard(nullptr, Utf16Of(ClipboardText()))) {
        state.SkipWithError("the clipboard was not taken");
        return;
    }
    ReadByXclip(state);
}

void BM_Ours_ClipboardRead(benchmark::State& state) {
    if (!XclipOwn(state)) return;
    const std::size_t expected = Utf16Of(ClipboardText()).size();
    for (auto _ : state) {
        const auto text = VTools::Clipboard::GetClipboardString(nullptr);
        if (!text || text->size() != expected) state.SkipWithError("read too little");
    }
    CountBytes(state);
}

// The platform's part alone: the text arrives as a block of UTF-16 units.
void BM_Ours_ClipboardReadBlock(benchmark::State& state) {
    if (!XclipOwn(state)) return;
    const std::size_t expected = (Utf16Of(ClipboardText()).size() + 1) * sizeof(wchar_t);
    for (auto _ : state) {
        if (!OpenClipboard(nullptr)) state.SkipWithError("not opened");
        const HANDLE block = GetClipboardData(CF_UNICODETEXT);
        if (block == nullptr || GlobalSize(block) != expected) state.SkipWithError("read too little");
        CloseClipboard();
    }
    CountBytes(state);
}

void BM_Peer_ClipboardReadWide(benchmark::State& state) {
    if (!XclipOwn(state)) return;
    const std::size_t expected = Utf16Of(ClipboardText()).size();
    for (auto _ : state) {
        const auto bytes = XclipRead();
        if (!bytes || IconvWide(*bytes).size() != expected) state.SkipWithError("read too little");
    }
    CountBytes(state);
}

// xclip owns the text and `xclip -o` reads it: the peer of serving and of
// reading alike.
void BM_Peer_ClipboardRead(benchmark::State& state) {
    if (XclipOwn(state)) ReadByXclip(state);
}

BENCHMARK(BM_Ours_ClipboardServe)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_ClipboardRead)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ours_ClipboardReadBlock)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Peer_ClipboardReadWide)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Peer_ClipboardRead)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Ours_WindowLife(benchmark::State& state) {
    for (auto _ : state) {
        const HWND hwnd = CreateWindowExW(0, L"Message", L"Kursy \u017Cywo", WS_VISIBLE, 10, 10, 200, 100, nullptr,
                                          nullptr, nullptr, nullptr);
        if (hwnd == nullptr) {
            state.SkipWithError("no window");
            return;
        }
        MoveWindow(hwnd, 20, 20, 300, 150, TRUE);
        DestroyWindow(hwnd);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Peer_WindowLife(benchmark::State& state) {
    Display* d = g_display;
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
    const Atom netPid = XInternAtom(d, "_NET_WM_PID", False);
    const std::string title = "Kursy \xC5\xBCywo";
    char className[] = "Message";
    const long pid = getpid();
    for (auto _ : state) {
        const Window w = XCreateWindow(d, DefaultRootWindow(d), 1930, 10, 200, 100, 0, CopyFromParent, InputOutput,
                                       CopyFromParent, 0, nullptr);
        XSelectInput(d, w, StructureNotifyMask);
        const auto* bytes = reinterpret_cast<const unsigned char*>(title.data());
        XChangeProperty(d, w, netName, utf8, 8, PropModeReplace, bytes, static_cast<int>(title.size()));
        XChangeProperty(d, w, XA_WM_NAME, utf8, 8, PropModeReplace, bytes, static_cast<int>(title.size()));
        XClassHint hint{className, className};
        XSetClassHint(d, w, &hint);
        XSetWMProtocols(d, w, &deleteWindow, 1);
        XChangeProperty(d, w, netPid, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&pid),
                        1);
        XSizeHints size{};
        size.flags = USPosition | USSize;
        XSetWMNormalHints(d, w, &size);
        XSync(d, False);
        XMapWindow(d, w);
        XSync(d, False);
        XMoveResizeWindow(d, w, 1940, 20, 300, 150);
        XSync(d, False);
        XDestroyWindow(d, w);
        XSync(d, True);  // drops the window's events
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Ours_WindowLife)->UseRealTime();
BENCHMARK(BM_Peer_WindowLife)->UseRealTime();

// Keeps, per benchmark, every round's CPU and wall-clock time per iteration
// (in seconds) and its items per second.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const std::string& name = run.run_name.function_name;
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            cpu[name].push_back(run.GetAdjustedCPUTime() / unit);
            real[name].push_back(run.GetAdjustedRealTime() / unit);
            const auto it = run.counters.find("items_per_second");
            if (it != run.counters.end()) rates[name].push_back(it->second);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Rounds' rates (1 / time per iteration) of one benchmark.
    static vbench::Spread PerSecond(const std::map<std::string, std::vector<double>>& times, const std::string& name) {
        std::vector<double> values;
        const auto it = times.find(name);
        if (it != times.end()) {
            for (const double t : it->second) {
                if (t > 0) values.push_back(1 / t);
            }
        }
        return vbench::Spread(std::move(values));
    }
    vbench::Spread Rates(const std::string& name) const {
        const auto it = rates.find(name);
        return it == rates.end() ? vbench::Spread() : vbench::Spread(it->second);
    }
    std::map<std::string, std::vector<double>> cpu, real, rates;
};

// Queries per second of CPU time and of wall-clock time, ours against the
// caching peer (the judged rows) and against the peer asking per call.
void PrintMonitorRatios(const RatioReporter& reporter) {
    for (const char* name : {"MonitorInfo", "GetNearestMonitor", "IsOnMonitor", "MoveAndClipRectToMonitor"}) {
        const std::string ours = std::string("BM_Ours_") + name;
        const bool judged = std::string(name) == "MonitorInfo";
        for (const char* peer : {"BM_Peer_", "BM_PerCall_"}) {
            const std::string other = peer + std::string(name);
            const bool cached = std::string(peer) == "BM_Peer_";
            const std::string against = cached ? " vs RandR cached, refreshed on events" : " vs RandR asked per call";
            vbench::Report("Monitors", name + against + ", CPU", ours, RatioReporter::PerSecond(reporter.cpu, ours),
                           other, RatioReporter::PerSecond(reporter.cpu, other), "queries/s",
                           judged && cached ? ">= 1.5" : "");
            vbench::Report("Monitors", name + against + ", wall", ours, RatioReporter::PerSecond(reporter.real, ours),
                           other, RatioReporter::PerSecond(reporter.real, other), "queries/s",
                           judged && cached ? ">= 1.5" : "");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    vbench::Initialize(argc, argv);
    // The tests' X server with the three monitors when there is none.
    const vlibtest::XServer* server = nullptr;
    if (std::getenv("DISPLAY") == nullptr) {
        server = vlibtest::XServer::Shared();
        if (server == nullptr || !server->SetMonitors(vlibtest::ThreeMonitors())) return 1;
    }
    g_display = XOpenDisplay(nullptr);
    if (g_display == nullptr || !Monitors::GetPrimaryMonitor()) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    if (!CheckMonitors(server)) {
        std::fprintf(stderr, "a peer's monitors differ from ours: nothing timed\n");
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintMonitorRatios(reporter);
    // 10 MB transfers per second (wall clock), ours against xclip.
    const struct {
        const char* what;
        const char* ours;
        const char* peer;
    } pairs[] = {
        {"serve 10 MB vs xclip -o reading it", "ClipboardServe", "ClipboardRead"},
        {"read 10 MB as a UTF-16 block vs xclip -o", "ClipboardReadBlock", "ClipboardRead"},
        {"read 10 MB as std::wstring vs xclip -o", "ClipboardRead", "ClipboardRead"},
        {"read 10 MB as std::wstring vs xclip -o + iconv", "ClipboardRead", "ClipboardReadWide"},
    };
    for (const auto& pair : pairs) {
        const std::string ours = std::string("BM_Ours_") + pair.ours, peer = std::string("BM_Peer_") + pair.peer;
        vbench::Report("Clipboard", pair.what, ours, reporter.Rates(ours), peer, reporter.Rates(peer), "transfers/s");
    }
    vbench::Report("Windows", "create visible, move, destroy vs Xlib alone", "BM_Ours_WindowLife",
                   reporter.Rates("BM_Ours_WindowLife"), "BM_Peer_WindowLife", reporter.Rates("BM_Peer_WindowLife"),
                   "windows/s");
    XCloseDisplay(g_display);
    benchmark::Shutdown();
    return 0;
}

// The monitor layout: RandR monitors and work areas, kept until the server
// announces a change.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/nls/CodePage.h"
#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/Desktop.h"

namespace vplatform::x11 {
namespace {

// A rectangle in root coordinates, edges right and bottom exclusive, 64-bit.
struct Box {
    long long left, top, right, bottom;
    bool Empty() const { return right <= left || bottom <= top; }
    Box Intersect(const Box& other) const {
        return {std::max(left, other.left), std::max(top, other.top), std::min(right, other.right),
                std::min(bottom, other.bottom)};
    }
    long long Area() const { return Empty() ? 0 : (right - left) * (bottom - top); }
    bool operator==(const Box&) const = default;
};

RECT ToRect(const Box& box, long long x, long long y) {
    return {static_cast<LONG>(box.left - x), static_cast<LONG>(box.top - y), static_cast<LONG>(box.right - x),
            static_cast<LONG>(box.bottom - y)};
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
    return out;
}

// A 32-bit property of `window` as longs (Xlib's form); none when it is
// missing, of another type or unreadable.
std::optional<std::vector<long>> Cardinals(Connection& connection, Window window, Atom property, Atom type) {
    ErrorTrap trap(connection);
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(connection.Dpy(), window, property, 0, 1 << 16, False, type, &actualType,
                                          &format, &count, &after, &data);
    std::optional<std::vector<long>> values;
    if (status == Success && trap.Check() == 0 && actualType == type && format == 32) {
        const auto* longs = reinterpret_cast<const long*>(data);
        values.emplace(longs, longs + count);
    }
    if (data != nullptr) XFree(data);
    return values;
}

struct RawMonitor {
    std::string name;
    Box box;
    bool primary;
};

class Layout final : public Watcher {
public:
    Layout() { SharedDisplay::AddWatcher(this); }

    void Connected(Connection& connection) override {
        Display* display = connection.Dpy();
        int error = 0;
        m_randr = XRRQueryExtension(display, &m_eventBase, &error);
        int major = 0;
        int minor = 0;
        m_monitors = m_randr && XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
        XSelectInput(display, connection.Root(), StructureNotifyMask | PropertyChangeMask);
        if (m_randr) {
            XRRSelectInput(display, connection.Root(),
                           RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
        }
        m_watched.clear();
        m_dirty = true;
    }

    void Event(Connection& connection, const XEvent& event) override {
        const Window root = connection.Root();
        if (event.type == ConfigureNotify && event.xconfigure.window == root) {
            XRRUpdateConfiguration(const_cast<XEvent*>(&event));
            m_dirty = true;
        } else if (m_randr && event.type == m_eventBase + RRScreenChangeNotify) {
            XRRUpdateConfiguration(const_cast<XEvent*>(&event));
            m_dirty = true;
        } else if (m_randr && event.type == m_eventBase + RRNotify) {
            m_dirty = true;
        } else if (event.type == PropertyNotify) {
            if (event.xproperty.window == root) {
                const std::string& name = connection.AtomName(event.xproperty.atom);
                if (name == "_NET_WORKAREA" || name == "_NET_CLIENT_LIST" || name == "_NET_CURRENT_DESKTOP" ||
                    name.starts_with("_GTK_WORKAREAS_D")) {
                    m_dirty = true;
                }
            } else if (m_watched.count(event.xproperty.window) != 0 &&
                       (event.xproperty.atom == connection.Intern("_NET_WM_STRUT_PARTIAL") ||
                        event.xproperty.atom == connection.Intern("_NET_WM_STRUT"))) {
                m_dirty = true;
            }
        } else if (event.type == DestroyNotify && m_watched.erase(event.xdestroywindow.window) != 0) {
            m_dirty = true;
        }
    }

    void Lost() override {
        m_layout.reset();
        m_watched.clear();
        m_dirty = true;
    }

    // With the shared connection locked.
    std::shared_ptr<const DesktopLayout> Get(Connection& connection) {
        if (m_dirty || !m_layout) {
            m_dirty = false;
            auto layout = Build(connection);
            if (!m_layout || !Same(*layout, *m_layout)) {
                layout->generation = ++m_generation;
                m_layout = std::move(layout);
            }
        }
        return m_layout;
    }

    // No announcement came since the last Get.  With the connection locked.
    bool Fresh() const { return !m_dirty && m_layout; }

private:
    static bool Same(const DesktopLayout& a, const DesktopLayout& b) {
        if (a.monitors.size() != b.monitors.size()) return false;
        if (a.origin.x != b.origin.x || a.origin.y != b.origin.y) return false;
        for (std::size_t i = 0; i < a.monitors.size(); ++i) {
            const auto& x = a.monitors[i];
            const auto& y = b.monitors[i];
            if (x.name != y.name || x.primary != y.primary || std::memcmp(&x.rect, &y.rect, sizeof(RECT)) != 0 ||
                std::memcmp(&x.work, &y.work, sizeof(RECT)) != 0) {
                return false;
            }
        }
        return true;
    }

    std::vector<RawMonitor> Monitors(Connection& connection, const Box& screen) {
        std::vector<RawMonitor> monitors;
        if (m_monitors) {
            ErrorTrap trap(connection);
            int count = 0;
            XRRMonitorInfo* infos = XRRGetMonitors(connection.Dpy(), connection.Root(), True, &count);
            if (infos != nullptr && trap.Check() == 0) {
                for (int i = 0; i < count; ++i) {
                    const XRRMonitorInfo& info = infos[i];
                    if (info.width <= 0 || info.height <= 0) continue;
                    monitors.push_back({connection.AtomName(info.name),
                                        {info.x, info.y, static_cast<long long>(info.x) + info.width,
                                         static_cast<long long>(info.y) + info.height},
                                        info.primary != 0});
                }
            }
            if (infos != nullptr) XRRFreeMonitors(infos);
        }
        if (monitors.empty()) monitors.push_back({"screen", screen, true});
        return monitors;
    }

    // The struts of the windows the window manager lists, as rectangles of
    // the root window; none when it lists no windows.
    std::optional<std::vector<std::pair<int, Box>>> Struts(Connection& connection, const Box& screen) {
        Display* display = connection.Dpy();
        const auto clients = Cardinals(connection, connection.Root(), connection.Intern("_NET_CLIENT_LIST"), XA_WINDOW);
        if (!clients) return std::nullopt;
        const Atom partial = connection.Intern("_NET_WM_STRUT_PARTIAL");
        const Atom full = connection.Intern("_NET_WM_STRUT");
        const long long width = screen.right;
        const long long height = screen.bottom;
        std::vector<std::pair<int, Box>> struts;  // side (0 left, 1 right, 2 top, 3 bottom) and area
        for (const long value : *clients) {
            const auto window = static_cast<Window>(value);
            if (m_watched.insert(window).second) {
                // Strut changes and the window's end are announced from now on.
                ErrorTrap trap(connection);
                XSelectInput(display, window, PropertyChangeMask | StructureNotifyMask);
            }
            if (const auto p = Cardinals(connection, window, partial, XA_CARDINAL); p && p->size() >= 12) {
                const auto& v = *p;
                if (v[0] > 0) struts.push_back({0, {0, v[4], v[0], v[5] + 1LL}});
                if (v[1] > 0) struts.push_back({1, {width - v[1], v[6], width, v[7] + 1LL}});
                if (v[2] > 0) struts.push_back({2, {v[8], 0, v[9] + 1LL, v[2]}});
                if (v[3] > 0) struts.push_back({3, {v[10], height - v[3], v[11] + 1LL, height}});
            } else if (const auto s = Cardinals(connection, window, full, XA_CARDINAL); s && s->size() >= 4) {
                const auto& v = *s;
                if (v[0] > 0) struts.push_back({0, {0, 0, v[0], height}});
                if (v[1] > 0) struts.push_back({1, {width - v[1], 0, width, height}});
                if (v[2] > 0) struts.push_back({2, {0, 0, width, v[2]}});
                if (v[3] > 0) struts.push_back({3, {0, height - v[3], width, height}});
            }
        }
        return struts;
    }

    std::vector<Box> WorkAreas(Connection& connection, const std::vector<RawMonitor>& monitors, const Box& screen) {
        std::vector<Box> work(monitors.size());
        for (std::size_t i = 0; i < monitors.size(); ++i) work[i] = monitors[i].box;
        const Window root = connection.Root();
        long desktop = 0;
        if (const auto current = Cardinals(connection, root, connection.Intern("_NET_CURRENT_DESKTOP"), XA_CARDINAL);
            current && !current->empty()) {
            desktop = std::max(0L, current->front());
        }
        // 1. The work areas a desktop publishes per monitor.
        const std::string gtk = "_GTK_WORKAREAS_D" + std::to_string(desktop);
        if (const auto areas = Cardinals(connection, root, connection.Intern(gtk.c_str()), XA_CARDINAL);
            areas && areas->size() >= 4) {
            bool all = true;
            for (std::size_t i = 0; i < monitors.size(); ++i) {
                std::optional<Box> best;
                for (std::size_t k = 0; k + 3 < areas->size(); k += 4) {
                    const Box area{(*areas)[k], (*areas)[k + 1], (*areas)[k] + (*areas)[k + 2],
                                   (*areas)[k + 1] + (*areas)[k + 3]};
                    if (area.Empty() || area.Intersect(monitors[i].box) != area) continue;
                    if (!best || area.Area() > best->Area()) best = area;
                }
                if (best) {
                    work[i] = *best;
                } else {
                    all = false;
                }
            }
            if (all) return work;
            for (std::size_t i = 0; i < monitors.size(); ++i) work[i] = monitors[i].box;
        }
        // 2. The monitor less the struts of the managed windows.
        if (const auto struts = Struts(connection, screen)) {
            for (std::size_t i = 0; i < monitors.size(); ++i) {
                Box area = monitors[i].box;
                for (const auto& [side, strut] : *struts) {
                    if (strut.Intersect(monitors[i].box).Empty()) continue;
                    switch (side) {
                        case 0:
                            area.left = std::max(area.left, strut.right);
                            break;
                        case 1:
                            area.right = std::min(area.right, strut.left);
                            break;
                        case 2:
                            area.top = std::max(area.top, strut.bottom);
                            break;
                        default:
                            area.bottom = std::min(area.bottom, strut.top);
                            break;
                    }
                }
                work[i] = area.Empty() ? monitors[i].box : area;
            }
            return work;
        }
        // 3. One work area for the whole screen.
        if (const auto areas = Cardinals(connection, root, connection.Intern("_NET_WORKAREA"), XA_CARDINAL)) {
            const auto k = static_cast<std::size_t>(desktop) * 4;
            if (areas->size() >= k + 4) {
                const Box area{(*areas)[k], (*areas)[k + 1], (*areas)[k] + (*areas)[k + 2],
                               (*areas)[k + 1] + (*areas)[k + 3]};
                for (std::size_t i = 0; i < monitors.size(); ++i) {
                    const Box inside = monitors[i].box.Intersect(area);
                    if (!inside.Empty()) work[i] = inside;
                }
            }
        }
        return work;
    }

    std::shared_ptr<DesktopLayout> Build(Connection& connection) {
        Display* display = connection.Dpy();
        Window root = 0;
        int x = 0;
        int y = 0;
        unsigned width = 0;
        unsigned height = 0;
        unsigned border = 0;
        unsigned depth = 0;
        Box screen{0, 0, DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display))};
        if (XGetGeometry(display, connection.Root(), &root, &x, &y, &width, &height, &border, &depth)) {
            screen = {0, 0, width, height};
        }
        auto monitors = Monitors(connection, screen);
        const auto primary =
            std::find_if(monitors.begin(), monitors.end(), [](const RawMonitor& m) { return m.primary; });
        std::rotate(monitors.begin(), primary == monitors.end() ? monitors.begin() : primary,
                    primary == monitors.end() ? monitors.begin() : primary + 1);
        for (std::size_t i = 0; i < monitors.size(); ++i) monitors[i].primary = i == 0;
        const auto work = WorkAreas(connection, monitors, screen);

        auto layout = std::make_shared<DesktopLayout>();
        const long long originX = monitors.front().box.left;
        const long long originY = monitors.front().box.top;
        Box bounds = monitors.front().box;
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            const Box& box = monitors[i].box;
            bounds = {std::min(bounds.left, box.left), std::min(bounds.top, box.top), std::max(bounds.right, box.right),
                      std::max(bounds.bottom, box.bottom)};
            layout->monitors.push_back(
                {Wide(monitors[i].name), ToRect(box, originX, originY), ToRect(work[i], originX, originY), i == 0});
        }
        layout->bounds = ToRect(bounds, originX, originY);
        layout->origin = {static_cast<LONG>(originX), static_cast<LONG>(originY)};
        return layout;
    }

    bool m_randr = false;
    bool m_monitors = false;
    int m_eventBase = 0;
    bool m_dirty = true;
    std::set<Window> m_watched;
    std::shared_ptr<const DesktopLayout> m_layout;
    std::uint64_t m_generation = 0;
};

Layout& TheLayout() {
    static auto* layout = new Layout;  // never destroyed, as the shared connection
    return *layout;
}

// The layout last given out, with the state of the shared connection then:
// while nobody has used the connection since and the server has sent
// nothing, it is still current and is given again without the lock.
struct Published {
    std::mutex mutex;
    std::shared_ptr<const DesktopLayout> layout;
    SharedDisplay::Mark mark;
};

Published& ThePublished() {
    static auto* published = new Published;
    return *published;
}

}  // namespace

void WatchLayout() {
    TheLayout();
}

std::shared_ptr<const DesktopLayout> LayoutLocked(Connection& connection) {
    return TheLayout().Get(connection);
}

std::shared_ptr<const DesktopLayout> CurrentLayout() {
    Published& published = ThePublished();
    std::shared_ptr<const DesktopLayout> last;
    SharedDisplay::Mark mark;
    {
        const std::lock_guard lock(published.mutex);
        last = published.layout;
        mark = published.mark;
    }
    if (last && SharedDisplay::Unchanged(mark)) return last;

    Layout& layout = TheLayout();
    auto display = SharedDisplay::Acquire();
    if (!display) return nullptr;
    auto result = layout.Get(*display);
    if (!display.Dispatch()) return nullptr;
    // An announcement read while the layout was made leaves it to the next
    // call, which then takes the lock.
    const std::lock_guard lock(published.mutex);
    published.layout = layout.Fresh() ? result : nullptr;
    published.mark = display.Settled();
    return result;
}

}  // namespace vplatform::x11

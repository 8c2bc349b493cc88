// Monitor of a point or rectangle, in 64-bit arithmetic.
#include "platform/user/internal/MonitorQuery.h"

#include <algorithm>
#include <cstdint>

#include "platform/user/Monitor.h"

namespace vplatform {
namespace {

using Wide = std::int64_t;

// A rectangle with 64-bit edges, right and bottom exclusive.
struct Box {
    Wide left, top, right, bottom;
};

// The distance along one axis between [a, b) and [c, d), 0 when they overlap.
Wide Gap(Wide a, Wide b, Wide c, Wide d) {
    if (b <= c) return c - (b - 1);
    if (d <= a) return a - (d - 1);
    return 0;
}

std::optional<std::size_t> Fallback(const user::DesktopLayout& layout, const Box& box, DWORD flags) {
    if (flags == MONITOR_DEFAULTTONULL) return std::nullopt;
    if (flags == MONITOR_DEFAULTTOPRIMARY) return 0;
    std::optional<std::size_t> best;
    unsigned __int128 bestDistance = 0;
    for (std::size_t i = 0; i < layout.monitors.size(); ++i) {
        const RECT& m = layout.monitors[i].rect;
        const auto dx = static_cast<unsigned __int128>(Gap(box.left, box.right, m.left, m.right));
        const auto dy = static_cast<unsigned __int128>(Gap(box.top, box.bottom, m.top, m.bottom));
        const unsigned __int128 distance = dx * dx + dy * dy;
        if (!best || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

}  // namespace

std::optional<std::size_t> MonitorOfPoint(const user::DesktopLayout& layout, POINT point, DWORD flags) {
    for (std::size_t i = 0; i < layout.monitors.size(); ++i) {
        const RECT& m = layout.monitors[i].rect;
        if (point.x >= m.left && point.x < m.right && point.y >= m.top && point.y < m.bottom) return i;
    }
    return Fallback(layout, {point.x, point.y, Wide{point.x} + 1, Wide{point.y} + 1}, flags);
}

std::optional<std::size_t> MonitorOfRect(const user::DesktopLayout& layout, const RECT& rect, DWORD flags) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return MonitorOfPoint(layout, {rect.left, rect.top}, flags);
    std::optional<std::size_t> best;
    Wide bestArea = 0;
    for (std::size_t i = 0; i < layout.monitors.size(); ++i) {
        const RECT& m = layout.monitors[i].rect;
        const Wide width = std::min<Wide>(rect.right, m.right) - std::max<Wide>(rect.left, m.left);
        const Wide height = std::min<Wide>(rect.bottom, m.bottom) - std::max<Wide>(rect.top, m.top);
        if (width <= 0 || height <= 0) continue;
        // Both below 2^32: the product fits.
        const Wide area = width * height;
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    if (best) return best;
    return Fallback(layout, {rect.left, rect.top, rect.right, rect.bottom}, flags);
}

}  // namespace vplatform

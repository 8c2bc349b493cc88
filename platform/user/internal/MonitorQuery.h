// Which monitor of a layout a point or rectangle belongs to: the geometry of
// MonitorFromPoint and MonitorFromRect, and what MonitorFromWindow asks with
// a window's rectangle.
#pragma once

#include <cstddef>
#include <optional>

#include "platform/WinTypes.h"
#include "platform/user/internal/DisplayDriver.h"

namespace vplatform {

// The index of the monitor holding the point, else by `flags`
// (MONITOR_DEFAULTTONULL: none, MONITOR_DEFAULTTOPRIMARY: 0, the primary
// monitor, MONITOR_DEFAULTTONEAREST: the nearest, the first of equals).
std::optional<std::size_t> MonitorOfPoint(const user::DesktopLayout& layout, POINT point, DWORD flags);

// The index of the monitor holding the largest part of the rectangle (the
// first of equals), else by `flags` (the nearest: the smallest distance
// between the rectangles).  An empty or inverted rectangle answers for its
// top-left point.  64-bit arithmetic throughout.
std::optional<std::size_t> MonitorOfRect(const user::DesktopLayout& layout, const RECT& rect, DWORD flags);

}  // namespace vplatform

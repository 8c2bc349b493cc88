// The X window properties and places both halves of the window model read:
// raw property values, a window's frame, the host's name, the virtual
// screen's origin.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>

#include "platform/internal/Syscalls.h"
#include "platform/x11/internal/Desktop.h"
#include "platform/x11/internal/Windows.h"

namespace vplatform::x11 {

std::optional<Property> ReadProperty(Connection& connection, XWindow window, Atom name, Atom type) {
    ErrorTrap trap(connection);
    Property property;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(connection.Dpy(), window, name, 0, 1 << 16, False, type, &property.type,
                                          &property.format, &count, &after, &data);
    std::optional<Property> result;
    if (status == Success && trap.Check() == 0 && property.type != None &&
        (type == AnyPropertyType || property.type == type)) {
        if (property.format == 32) {
            const auto* longs = reinterpret_cast<const long*>(data);
            property.longs.assign(longs, longs + count);
        } else if (property.format == 8) {
            property.bytes.assign(data, data + count);
        }
        result = std::move(property);
    }
    if (data != nullptr) XFree(data);
    return result;
}

std::string HostName() {
    char name[256] = {};
    if (Sys().gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// _NET_FRAME_EXTENTS: left, right, top, bottom; zeros without a frame.
std::array<long, 4> FrameExtents(Connection& connection, XWindow x) {
    std::array<long, 4> frame{};
    const auto extents = ReadProperty(connection, x, connection.Intern("_NET_FRAME_EXTENTS"), XA_CARDINAL);
    if (extents && extents->longs.size() >= 4) {
        for (std::size_t i = 0; i < 4; ++i) frame[i] = std::clamp(extents->longs[i], 0L, 1L << 16);
    }
    return frame;
}

std::optional<POINT> CurrentOrigin() {
    auto display = SharedDisplay::Acquire();
    if (!display) return std::nullopt;
    return Origin(*display);
}

POINT Origin(Connection& connection) {
    const auto layout = LayoutLocked(connection);
    return layout ? layout->origin : POINT{0, 0};
}

}  // namespace vplatform::x11

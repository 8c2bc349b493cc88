// The clipboard keeper: keeps the text that a process owned on the CLIPBOARD
// selection after that process has ended, when no clipboard manager took it.
//
// Reads UTF-8 text from standard input to its end, owns CLIPBOARD on
// $DISPLAY, writes "ok\n" to standard output and closes it, then serves the
// text until another client takes the selection (and every transfer under
// way has ended) or the server goes away.  Exits with 1 when it cannot own
// the selection.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "platform/x11/internal/SelectionServer.h"

namespace {

// This process serves one selection: a requestor that went away is no
// reason to stop.
int IgnoreError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

int main() {
    signal(SIGPIPE, SIG_IGN);
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(0, buffer, sizeof buffer);
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 1;
    XSetErrorHandler(IgnoreError);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);
    const Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    const Atom stamp = XInternAtom(display, "VLIB_KEEPER_TIME", False);
    // A server time for the ownership: the time of a change of our own property.
    XChangeProperty(display, window, stamp, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
    XEvent event;
    do {
        XWindowEvent(display, window, PropertyChangeMask, &event);
    } while (event.xproperty.atom != stamp);
    const Time time = event.xproperty.time;
    XSetSelectionOwner(display, clipboard, window, time);
    if (XGetSelectionOwner(display, clipboard) != window) return 1;
    vplatform::x11::SelectionServer server(display, window, clipboard);
    server.Serve(std::make_shared<const std::string>(std::move(text)), time);
    [[maybe_unused]] const ssize_t written = write(1, "ok\n", 3);
    close(1);

    bool lost = false;
    while (!lost || server.Transferring()) {
        while (XPending(display) > 0) {
            XNextEvent(display, &event);
            if (server.Handle(event) == vplatform::x11::SelectionServer::Result::Lost) lost = true;
        }
        const auto now = vplatform::x11::SelectionServer::Clock::now();
        server.Expire(now);
        if (lost && !server.Transferring()) break;
        int timeout = -1;
        if (const auto deadline = server.NextDeadline()) {
            timeout = static_cast<int>(
                std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count()));
        }
        // Flushing may read events into Xlib's queue, where poll would not see them.
        XFlush(display);
        if (XEventsQueued(display, QueuedAlready) > 0) continue;
        pollfd fd = {ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, timeout);
    }
    XCloseDisplay(display);
    return 0;
}

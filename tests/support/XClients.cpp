#include "tests/support/XClients.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace vlibtest {
namespace {

Display* Dpy(void* display) {
    return static_cast<Display*>(display);
}

int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

Dock::Dock(const std::string& display, int x, int y, int width, int height, long strut, long from, long to)
    : m_display(XOpenDisplay(display.c_str())) {
    Display* d = Dpy(m_display);
    if (d == nullptr) return;
    m_window = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height), 0, 0, 0);
    const Atom dock = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DOCK", False);
    XChangeProperty(d, m_window, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&dock), 1);
    const long values[12] = {0, 0, 0, strut, 0, 0, 0, 0, 0, 0, from, to};
    XChangeProperty(d, m_window, XInternAtom(d, "_NET_WM_STRUT_PARTIAL", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values), 12);
    XMapWindow(d, m_window);
    XSync(d, False);
}

Dock::~Dock() {
    if (m_display != nullptr) XCloseDisplay(Dpy(m_display));
}

void Dock::Remap() const {
    Display* d = Dpy(m_display);
    if (d == nullptr) return;
    XUnmapWindow(d, m_window);
    XMapWindow(d, m_window);
    XSync(d, False);
}

std::string Dock::Id() const {
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", m_window);
    return id;
}

SilentOwner::SilentOwner(const std::string& display) : m_display(XOpenDisplay(display.c_str())) {
    Display* d = Dpy(m_display);
    if (d == nullptr) return;
    m_window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(d, XInternAtom(d, "CLIPBOARD", False), m_window, CurrentTime);
    XSync(d, False);
}

SilentOwner::~SilentOwner() {
    if (m_display != nullptr) XCloseDisplay(Dpy(m_display));
}

bool SilentOwner::Owns() const {
    Display* d = Dpy(m_display);
    return d != nullptr && XGetSelectionOwner(d, XInternAtom(d, "CLIPBOARD", False)) == m_window;
}

struct ClipboardManager::State {
    Display* display = nullptr;
    Window window = 0;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable saved;
    std::optional<std::string> text;
    std::thread thread;

    // Waits for an event that `match` accepts, polling; false on stop.
    template <class Match>
    bool Next(XEvent& event, Match match) {
        for (;;) {
            while (XPending(display) > 0) {
                XNextEvent(display, &event);
                if (match(event)) return true;
            }
            if (stop) return false;
            pollfd fd = {ConnectionNumber(display), POLLIN, 0};
            poll(&fd, 1, 50);
        }
    }

    // Reads the clipboard's UTF8_STRING into the property "SAVED".
    std::optional<std::string> ReadClipboard() {
        const Atom property = XInternAtom(display, "SAVED", False);
        const Atom incr = XInternAtom(display, "INCR", False);
        XConvertSelection(display, XInternAtom(display, "CLIPBOARD", False), XInternAtom(display, "UTF8_STRING", False),
                          property, window, CurrentTime);
        XEvent event;
        if (!Next(event, [&](const XEvent& e) { return e.type == SelectionNotify; }) ||
            event.xselection.property == None) {
            return std::nullopt;
        }
        auto take = [&](std::string& out, Atom& type) {
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(display, window, property, 0, 1 << 26, True, AnyPropertyType, &type, &format, &count,
                               &after, &data);
            if (data != nullptr && format == 8) out.assign(reinterpret_cast<char*>(data), count);
            if (data != nullptr) XFree(data);
        };
        std::string result;
        Atom type = None;
        take(result, type);
        if (type != incr) return result;
        result.clear();
        for (;;) {
            if (!Next(event, [&](const XEvent& e) {
                    return e.type == PropertyNotify && e.xproperty.atom == property &&
                           e.xproperty.state == PropertyNewValue;
                })) {
                return std::nullopt;
            }
            std::string piece;
            take(piece, type);
            if (piece.empty()) return result;
            result += piece;
        }
    }

    void Run() {
        const Atom saveTargets = XInternAtom(display, "SAVE_TARGETS", False);
        XEvent event;
        while (Next(event, [](const XEvent& e) { return e.type == SelectionRequest; })) {
            const XSelectionRequestEvent request = event.xselectionrequest;
            XEvent reply{};
            reply.xselection.type = SelectionNotify;
            reply.xselection.requestor = request.requestor;
            reply.xselection.selection = request.selection;
            reply.xselection.target = request.target;
            reply.xselection.time = request.time;
            reply.xselection.property = None;
            if (request.target == saveTargets) {
                if (auto text = ReadClipboard()) {
                    const std::lock_guard lock(mutex);
                    this->text = std::move(text);
                    reply.xselection.property = request.property;
                    saved.notify_all();
                }
            }
            XSendEvent(display, request.requestor, False, NoEventMask, &reply);
            XFlush(display);
        }
    }
};

ClipboardManager::ClipboardManager(const std::string& display) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    XSetErrorHandler(IgnoreErrors);
    s.display = XOpenDisplay(display.c_str());
    if (s.display == nullptr) return;
    s.window = XCreateSimpleWindow(s.display, DefaultRootWindow(s.display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(s.display, s.window, PropertyChangeMask);
    XSetSelectionOwner(s.display, XInternAtom(s.display, "CLIPBOARD_MANAGER", False), s.window, CurrentTime);
    XSync(s.display, False);
    s.thread = std::thread([&s] { s.Run(); });
}

ClipboardManager::~ClipboardManager() {
    m_state->stop = true;
    if (m_state->thread.joinable()) m_state->thread.join();
    if (m_state->display != nullptr) XCloseDisplay(m_state->display);
}

std::optional<std::string> ClipboardManager::Saved(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_state->mutex);
    m_state->saved.wait_for(lock, timeout, [&] { return m_state->text.has_value(); });
    return m_state->text;
}

bool RequestClose(const std::string& display, unsigned long window) {
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &event);
    XSync(d, False);
    XCloseDisplay(d);
    return true;
}

}  // namespace vlibtest

// Small X clients of the desktop tests, written with Xlib so that the tests
// themselves need not include it (its macros clash with GoogleTest's).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace vlibtest {

// A dock window on `display` at x, y, width, height (X coordinates) that
// reserves the bottom `strut` pixels of the root window between the x
// coordinates `from` and `to`, as a panel does.
class Dock {
public:
    Dock(const std::string& display, int x, int y, int width, int height, long strut, long from, long to);
    ~Dock();
    Dock(const Dock&) = delete;
    Dock& operator=(const Dock&) = delete;
    // The window id as xprop prints it (0x…).
    std::string Id() const;
    // Unmaps and maps the window again: a window manager that was still
    // starting when it was first mapped sees it now.
    void Remap() const;

private:
    void* m_display;
    unsigned long m_window = 0;
};

// A client that takes the CLIPBOARD selection and never answers a request.
class SilentOwner {
public:
    explicit SilentOwner(const std::string& display);
    ~SilentOwner();
    SilentOwner(const SilentOwner&) = delete;
    SilentOwner& operator=(const SilentOwner&) = delete;
    bool Owns() const;

private:
    void* m_display;
    unsigned long m_window = 0;
};

// A clipboard manager: owns CLIPBOARD_MANAGER and, asked to SAVE_TARGETS,
// reads the clipboard's UTF8_STRING (INCR transfers included), keeps it and
// answers the request.  Serves on a thread of its own.
class ClipboardManager {
public:
    explicit ClipboardManager(const std::string& display);
    ~ClipboardManager();
    ClipboardManager(const ClipboardManager&) = delete;
    ClipboardManager& operator=(const ClipboardManager&) = delete;
    // The text saved by the last SAVE_TARGETS, once there is one.
    std::optional<std::string> Saved(std::chrono::milliseconds timeout);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Asks the window `window` (an X id) on `display` to close, as a window
// manager does when its close button is clicked: a WM_PROTOCOLS client
// message with WM_DELETE_WINDOW, sent to the client that made the window.
// False when the display cannot be opened.
bool RequestClose(const std::string& display, unsigned long window);

}  // namespace vlibtest

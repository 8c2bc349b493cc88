// X servers for the desktop tests: each test binary starts its own Xvfb
// (-displayfd, -noreset, a screen of 5760x2400 with room for monitors side
// by side and above each other) at first use and ends it at exit, and runs
// X clients (xrandr, xprop, xclip, xsel, xdotool, openbox) against it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vlibtest {

class XServer {
public:
    // The binary's own server, started at the first call, with DISPLAY set
    // to it for the process; null (and a message on stderr) when Xvfb cannot
    // be started.
    static XServer* Shared();
    // A server of its own, stopped when the object goes; null on failure.
    static std::unique_ptr<XServer> Start();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& Display() const { return m_display; }
    pid_t Pid() const { return m_pid; }
    // Ends the server at once (SIGKILL) and reaps it.
    void Kill();

    // Runs an X client against this server; its standard output, or nothing
    // when it cannot be started or fails.
    std::optional<std::string> Run(std::vector<std::string> argv, const std::string& input = {}) const;
    // Runs a shell command line against this server (for clients that stay
    // in the background, with their output sent elsewhere).
    bool Shell(const std::string& command) const;

    struct Monitor {
        std::string name;  // "*NAME" makes it the primary one
        int x, y, width, height;
    };
    // Replaces the monitors by these (the first on Xvfb's output "screen",
    // the others on none); false when xrandr refuses.
    bool SetMonitors(const std::vector<Monitor>& monitors) const;

private:
    XServer(pid_t pid, std::string display) : m_pid(pid), m_display(std::move(display)) {}
    pid_t m_pid;
    std::string m_display;
};

// The layout most monitor tests use: MAIN (primary) 1920x1200 at the
// origin, LEFT 1920x1080 to its left and 120 lower, RIGHT 1920x1200 to its
// right.  In X coordinates MAIN is at 1920,0.
std::vector<XServer::Monitor> ThreeMonitors();

}  // namespace vlibtest

#include "tests/support/XServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/x11/internal/Desktop.h"
#include "tests/support/Peer.h"

extern char** environ;

namespace vlibtest {

std::unique_ptr<XServer> XServer::Start() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    const std::string fd = std::to_string(fds[1]);
    std::vector<std::string> args = {"Xvfb", "-displayfd", fd,  "-noreset",    "-nolisten",
                                     "tcp",  "-screen",    "0", "5760x2400x24"};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], fds[1]);  // keeps it open in the server
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The server starts with every signal unblocked and at its default, so
    // that SIGTERM ends it whichever thread started it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "Xvfb", &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (error != 0) {
        close(fds[0]);
        std::fprintf(stderr, "cannot start Xvfb: %s\n", std::strerror(error));
        return nullptr;
    }
    // The server writes its display number once it accepts clients.
    std::string number;
    for (;;) {
        pollfd poller = {fds[0], POLLIN, 0};
        if (poll(&poller, 1, 20'000) <= 0) break;
        char c = 0;
        const ssize_t n = read(fds[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    std::unique_ptr<XServer> server(new XServer(pid, ":" + number));
    if (number.empty()) {
        std::fprintf(stderr, "Xvfb gave no display number\n");
        return nullptr;
    }
    return server;
}

XServer* XServer::Shared() {
    static XServer* shared = [] {
        auto server = Start();
        if (!server) return static_cast<XServer*>(nullptr);
        setenv("DISPLAY", server->Display().c_str(), 1);
        // A window made before the server existed tried the display and
        // failed: the platform would not try again for a few seconds.
        vplatform::x11::test::ResetDisplayForTesting();
        XServer* raw = server.release();
        // Ended at exit; no test runs after that.
        static struct Stopper {
            XServer* server;
            ~Stopper() { delete server; }
        } stopper{raw};
        return raw;
    }();
    return shared;
}

XServer::~XServer() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    // A server that has not ended within 5 s of SIGTERM is killed: the end of
    // a test binary never waits on it longer.
    const int ending = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    if (ending >= 0) {
        pollfd poller{ending, POLLIN, 0};
        while (poll(&poller, 1, 5'000) < 0 && errno == EINTR) {
        }
        close(ending);
    }
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) return;
    Kill();
}

void XServer::Kill() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = 0;
}

std::optional<std::string> XServer::Run(std::vector<std::string> argv, const std::string& input) const {
    argv.insert(argv.begin(), {"env", "DISPLAY=" + m_display});
    return RunPeer(argv, input);
}

bool XServer::Shell(const std::string& command) const {
    return RunPeer({"env", "DISPLAY=" + m_display, "sh", "-c", command}).has_value();
}

bool XServer::SetMonitors(const std::vector<Monitor>& monitors) const {
    // Every monitor but the output's own automatic one goes first.
    const auto listed = Run({"xrandr", "--listmonitors"});
    if (!listed) return false;
    std::istringstream lines(*listed);
    std::string line;
    std::getline(lines, line);  // "Monitors: N"
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string index, name;
        words >> index >> name;
        while (!name.empty() && (name[0] == '+' || name[0] == '*')) name.erase(0, 1);
        if (!name.empty() && name != "screen" && !Run({"xrandr", "--delmonitor", name})) return false;
    }
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const auto& m = monitors[i];
        const std::string geometry = std::to_string(m.width) + "/" + std::to_string(m.width / 4) + "x" +
                                     std::to_string(m.height) + "/" + std::to_string(m.height / 4) + "+" +
                                     std::to_string(m.x) + "+" + std::to_string(m.y);
        if (!Run({"xrandr", "--setmonitor", m.name, geometry, i == 0 ? "screen" : "none"})) return false;
    }
    return true;
}

std::vector<XServer::Monitor> ThreeMonitors() {
    return {{"*MAIN", 1920, 0, 1920, 1200}, {"LEFT", 0, 120, 1920, 1080}, {"RIGHT", 3840, 0, 1920, 1200}};
}

}  // namespace vlibtest

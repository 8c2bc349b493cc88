#include "tests/support/Child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace vlibtest {

std::unique_ptr<Child> Child::Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return nullptr;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return nullptr;
    }
    std::vector<std::string> args = argv;
    std::vector<char*> argPointers;
    for (auto& arg : args) argPointers.push_back(arg.data());
    argPointers.push_back(nullptr);
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
    for (const auto& extra : environment) {
        const auto name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.starts_with(name); });
        env.push_back(extra);
    }
    std::vector<char*> envPointers;
    for (auto& entry : env) envPointers.push_back(entry.data());
    envPointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (error != 0) {
        close(in[1]);
        close(out[0]);
        return nullptr;
    }
    return std::unique_ptr<Child>(new Child(pid, in[1], out[0]));
}

Child::~Child() {
    if (!m_status) {
        Signal(SIGKILL);
        Wait(std::chrono::seconds(10));
    }
    CloseInput();
    if (m_output >= 0) close(m_output);
}

std::optional<std::string> Child::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto newline = m_buffered.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffered.substr(0, newline);
            m_buffered.erase(0, newline + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd fd = {m_output, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t count = read(m_output, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return std::nullopt;
        m_buffered.append(buffer, static_cast<std::size_t>(count));
    }
}

bool Child::WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t put = write(m_input, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

void Child::CloseInput() {
    if (m_input >= 0) close(m_input);
    m_input = -1;
}

void Child::Signal(int signal) const {
    if (!m_status) kill(m_pid, signal);
}

std::optional<int> Child::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_status) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (done < 0 && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return m_status;
}

}  // namespace vlibtest

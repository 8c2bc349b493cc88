#include "tests/support/Peer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vlibtest {

std::optional<std::string> RunPeer(const std::vector<std::string>& argv, const std::string& input) {
    int in[2], out[2];
    if (pipe(in) != 0) return std::nullopt;
    if (pipe(out) != 0) {
        close(in[0]);
        close(in[1]);
        return std::nullopt;
    }
    // The arguments are made before fork: the child of a process with other
    // threads may not allocate (a lock of the allocator can be held by a
    // thread that does not exist in the child).
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    signal(SIGPIPE, SIG_IGN);
    // Feed the input from a second thread so that a peer that writes before it
    // has read everything cannot dead-lock with us.
    std::thread feeder([fd = in[1], &input] {
        size_t done = 0;
        while (done < input.size()) {
            const ssize_t n = write(fd, input.data() + done, input.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fd);
    });
    std::string result;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        result.append(buffer, static_cast<size_t>(n));
    }
    close(out[0]);
    feeder.join();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return result;
}

bool HavePeer(const std::string& program) {
    return RunPeer({"sh", "-c", "command -v " + program + " >/dev/null"}).has_value();
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char b : bytes) hex += {digits[b >> 4], digits[b & 15]};
    return hex;
}

}  // namespace vlibtest

#include "SmtpSink.h"

#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <list>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace vlibtest {

// One thread per session with blocking reads and writes: a command costs the
// sink one recv and one send, and sessions do not wait for each other.
struct SmtpSink::State {
    struct Session {
        int fd = -1;
        clockid_t clock{};
        bool running = true;
        std::thread thread;
    };

    int listener = -1;
    int port = 0;
    std::thread acceptor;
    mutable std::mutex lock;
    mutable std::condition_variable accepted;
    std::size_t count = 0;
    std::size_t connections = 0;
    std::string last;
    std::list<Session> sessions;
    double finishedCpu = 0;  // seconds, of the sessions that ended
    bool stopping = false;

    void Accept();
    void Serve(Session& session);
    void Deliver(std::string_view data);
};

namespace {

bool SendAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

double Seconds(clockid_t clock) {
    timespec used{};
    if (clock_gettime(clock, &used) != 0) return 0;
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

}  // namespace

void SmtpSink::State::Accept() {
    for (;;) {
        const int fd = accept(listener, nullptr, nullptr);
        std::lock_guard guard(lock);
        if (fd < 0 || stopping) {
            if (fd >= 0) close(fd);
            if (stopping || (errno != EINTR && errno != ECONNABORTED)) return;
            continue;
        }
        ++connections;
        Session& session = sessions.emplace_back();
        session.fd = fd;
        session.thread = std::thread([this, &session] { Serve(session); });
        // Read only under the lock, which the session takes to end.
        if (pthread_getcpuclockid(session.thread.native_handle(), &session.clock) != 0) {
            session.clock = CLOCK_THREAD_CPUTIME_ID;
        }
    }
}

// The message between DATA's answer and the terminating line, dots unstuffed.
void SmtpSink::State::Deliver(std::string_view data) {
    std::string message;
    message.reserve(data.size());
    for (std::size_t at = 0; at < data.size();) {
        std::size_t end = data.find("\r\n", at);
        end = end == std::string_view::npos ? data.size() : end + 2;
        if (data[at] == '.') ++at;
        message.append(data, at, end - at);
        at = end;
    }
    {
        std::lock_guard guard(lock);
        ++count;
        last = std::move(message);
    }
    accepted.notify_all();
}

void SmtpSink::State::Serve(Session& session) {
    std::string input;
    std::size_t at = 0;  // start of what is not handled yet
    bool inData = false;
    bool open = SendAll(session.fd, "220 sink ESMTP\r\n");
    char buffer[65536];
    while (open) {
        // The message ends at CR LF "." CR LF; the CR LF before the dot is the
        // message's own last line break.
        const std::size_t end = inData ? input.find("\r\n.\r\n", at == 0 ? 0 : at - 2) : input.find("\r\n", at);
        if (end == std::string::npos) {
            const ssize_t n = recv(session.fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            input.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (inData) {
            Deliver(std::string_view(input).substr(at, end + 2 - at));
            inData = false;
            at = end + 5;
            open = SendAll(session.fd, "250 OK\r\n");
        } else {
            std::string verb = input.substr(at, std::min<std::size_t>(4, end - at));
            for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            at = end + 2;
            if (verb == "EHLO") {
                open = SendAll(session.fd, "250-sink\r\n250 8BITMIME\r\n");
            } else if (verb == "DATA") {
                inData = true;
                open = SendAll(session.fd, "354 End data with <CR><LF>.<CR><LF>\r\n");
            } else if (verb == "QUIT") {
                SendAll(session.fd, "221 Bye\r\n");
                open = false;
            } else if (verb == "HELO" || verb == "MAIL" || verb == "RCPT" || verb == "RSET" || verb == "NOOP") {
                open = SendAll(session.fd, "250 OK\r\n");
            } else {
                open = SendAll(session.fd, "502 Command not implemented\r\n");
            }
        }
        if (at == input.size()) {
            input.clear();
            at = 0;
        }
    }
    std::lock_guard guard(lock);
    finishedCpu += Seconds(CLOCK_THREAD_CPUTIME_ID);
    session.running = false;
}

SmtpSink::SmtpSink() : m_state(std::make_unique<State>()) {
    State& state = *m_state;
    state.listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (state.listener < 0 || bind(state.listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(state.listener, 64) != 0 ||
        getsockname(state.listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (state.listener >= 0) close(state.listener);
        throw std::runtime_error("the SMTP sink cannot listen on 127.0.0.1");
    }
    state.port = ntohs(address.sin_port);
    state.acceptor = std::thread([&state] { state.Accept(); });
}

SmtpSink::~SmtpSink() {
    State& state = *m_state;
    {
        std::lock_guard guard(state.lock);
        state.stopping = true;
        for (auto& session : state.sessions) shutdown(session.fd, SHUT_RDWR);
    }
    shutdown(state.listener, SHUT_RDWR);
    state.acceptor.join();
    close(state.listener);
    for (auto& session : state.sessions) {
        shutdown(session.fd, SHUT_RDWR);
        session.thread.join();
        close(session.fd);
    }
}

int SmtpSink::Port() const {
    return m_state->port;
}

std::size_t SmtpSink::Count() const {
    std::lock_guard guard(m_state->lock);
    return m_state->count;
}

std::size_t SmtpSink::Connections() const {
    std::lock_guard guard(m_state->lock);
    return m_state->connections;
}

std::string SmtpSink::Last() const {
    std::lock_guard guard(m_state->lock);
    return m_state->last;
}

double SmtpSink::ServerCpuSeconds() const {
    std::lock_guard guard(m_state->lock);
    double seconds = m_state->finishedCpu;
    for (const auto& session : m_state->sessions) {
        if (session.running) seconds += Seconds(session.clock);
    }
    return seconds;
}

bool SmtpSink::WaitFor(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_state->lock);
    return m_state->accepted.wait_for(lock, timeout, [&] { return m_state->count >= count; });
}

}  // namespace vlibtest

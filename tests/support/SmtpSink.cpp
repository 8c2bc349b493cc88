#include "SmtpSink.h"

#include <pthread.h>
#include <time.h>

#include <boost/asio.hpp>

#include <cctype>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vlibtest {

namespace asio = boost::asio;
using asio::ip::tcp;

struct SmtpSink::State {
    asio::io_context context;
    tcp::acceptor acceptor{context, tcp::endpoint(asio::ip::address_v4::loopback(), 0)};
    std::thread thread;
    mutable std::mutex lock;
    mutable std::condition_variable accepted;
    std::size_t count = 0;
    std::size_t connections = 0;
    std::string last;

    void Accept();
};

namespace {

// One SMTP session: commands answered in order, the message read up to its
// terminating line.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, std::function<void(std::string)> deliver)
        : m_socket(std::move(socket)), m_deliver(std::move(deliver)) {}

    void Start() { Reply("220 sink ESMTP\r\n"); }

private:
    void Reply(std::string text) {
        m_reply = std::move(text);
        asio::async_write(m_socket, asio::buffer(m_reply),
                          [self = shared_from_this()](boost::system::error_code e, std::size_t) {
                              if (!e && !self->m_quit) self->Read();
                          });
    }

    void Read() {
        asio::async_read_until(m_socket, m_input, m_inData ? "\r\n.\r\n" : "\r\n",
                               [self = shared_from_this()](boost::system::error_code e, std::size_t n) {
                                   if (!e) self->Handle(n);
                               });
    }

    void Handle(std::size_t n) {
        std::string text(asio::buffers_begin(m_input.data()),
                         asio::buffers_begin(m_input.data()) + static_cast<std::ptrdiff_t>(n));
        m_input.consume(n);
        if (m_inData) {
            m_inData = false;
            text.resize(text.size() - 3);  // ".\r\n"
            std::string message;
            message.reserve(text.size());
            for (std::size_t at = 0; at < text.size();) {
                std::size_t end = text.find("\r\n", at);
                end = end == std::string::npos ? text.size() : end + 2;
                if (text[at] == '.') ++at;
                message.append(text, at, end - at);
                at = end;
            }
            m_deliver(std::move(message));
            Reply("250 OK\r\n");
            return;
        }
        std::string verb = text.substr(0, 4);
        for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (verb == "EHLO") {
            Reply("250-sink\r\n250 8BITMIME\r\n");
        } else if (verb == "DATA") {
            m_inData = true;
            Reply("354 End data with <CR><LF>.<CR><LF>\r\n");
        } else if (verb == "QUIT") {
            m_quit = true;
            Reply("221 Bye\r\n");
        } else if (verb == "HELO" || verb == "MAIL" || verb == "RCPT" || verb == "RSET" || verb == "NOOP") {
            Reply("250 OK\r\n");
        } else {
            Reply("502 Command not implemented\r\n");
        }
    }

    tcp::socket m_socket;
    std::function<void(std::string)> m_deliver;
    asio::streambuf m_input;
    std::string m_reply;
    bool m_inData = false;
    bool m_quit = false;
};

}  // namespace

void SmtpSink::State::Accept() {
    acceptor.async_accept([this](boost::system::error_code e, tcp::socket socket) {
        if (e) return;
        {
            std::lock_guard guard(lock);
            ++connections;
        }
        std::make_shared<Session>(std::move(socket), [this](std::string message) {
            {
                std::lock_guard guard(lock);
                ++count;
                last = std::move(message);
            }
            accepted.notify_all();
        })->Start();
        Accept();
    });
}

SmtpSink::SmtpSink() : m_state(std::make_unique<State>()) {
    m_state->Accept();
    m_state->thread = std::thread([state = m_state.get()] { state->context.run(); });
}

SmtpSink::~SmtpSink() {
    m_state->context.stop();
    m_state->thread.join();
}

int SmtpSink::Port() const {
    return m_state->acceptor.local_endpoint().port();
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
    clockid_t clock{};
    timespec used{};
    if (pthread_getcpuclockid(m_state->thread.native_handle(), &clock) != 0 || clock_gettime(clock, &used) != 0) {
        return 0;
    }
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

bool SmtpSink::WaitFor(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_state->lock);
    return m_state->accepted.wait_for(lock, timeout, [&] { return m_state->count >= count; });
}

}  // namespace vlibtest

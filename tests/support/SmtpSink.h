// A fast SMTP sink inside the process, on 127.0.0.1 and a free port, one
// thread per session with blocking reads and writes: it accepts every
// message (plain SMTP only, no TLS or AUTH) and counts it, so that
// throughput benchmarks measure the senders rather than the server.  SmtpServer (aiosmtpd) is the one to use
// where the session's details matter.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace vlibtest {

class SmtpSink {
public:
    // Starts listening and serving on a thread of its own.
    SmtpSink();
    // Stops serving; open sessions are closed.
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    int Port() const;
    // Messages accepted so far (each counted before its 250 is sent), the
    // sessions opened so far, and the bytes of the last message (dots
    // unstuffed, without the terminating line).
    std::size_t Count() const;
    std::size_t Connections() const;
    std::string Last() const;
    // CPU time the serving threads have used so far, in seconds: beside the
    // wall time it shows whether the sink could have held a sender back.
    double ServerCpuSeconds() const;
    // Waits until `count` messages were accepted; false when `timeout` passes.
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace vlibtest

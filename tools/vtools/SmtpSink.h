// A minimal SMTP server inside the process, on 127.0.0.1 and a free port:
// it accepts every message and keeps its bytes.  For the demo and the
// benchmarks, where no real server or network is wanted.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

namespace vtools {

class SmtpSink {
public:
    // Starts listening and serving on a thread of its own.
    SmtpSink();
    // Stops serving; open sessions are closed.
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    int Port() const;
    // Messages accepted so far, and the bytes of the last one (dots
    // unstuffed, without the terminating line).
    std::size_t Count() const;
    std::string Last() const;
    // Waits until `count` messages were accepted; false when `timeout` passes.
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace vtools

// A child process the test talks to: lines from its standard output, the
// end of its standard input, signals, its exit status, every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vlibtest {

class Child {
public:
    // Starts `argv` (looked up on PATH) with `environment` entries
    // ("NAME=value") added to the test's; null when it cannot be started.
    static std::unique_ptr<Child> Start(const std::vector<std::string>& argv,
                                        const std::vector<std::string>& environment = {});
    // Kills a child still running and reaps it.
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return m_pid; }
    // The next line of its output (without the newline); none at its end or
    // after `timeout`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Writes `line` and a newline to its standard input; false when it
    // cannot (the child has ended).
    bool WriteLine(const std::string& line);
    // Ends its standard input.
    void CloseInput();
    void Signal(int signal) const;
    // Its exit status (128 + the signal for a killed one) once it has ended,
    // none after `timeout`.
    std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    Child(pid_t pid, int input, int output) : m_pid(pid), m_input(input), m_output(output) {}
    pid_t m_pid;
    int m_input;
    int m_output;
    std::string m_buffered;
    std::optional<int> m_status;
};

}  // namespace vlibtest

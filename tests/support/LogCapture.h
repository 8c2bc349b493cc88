// Opens the process log on a file in a temporary folder for one test and
// reads back the entries written to it.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace vlibtest {

// One parsed log entry.
struct LogEntry {
    std::string time;      // hh:mm:ss.mmm
    std::string function;  // as given to Write
    std::string line;      // the line number's text
    std::string message;   // CR LF inside kept as they are in the file
};

// Parses the bytes of a log file; fails the current test on a torn or
// malformed entry (`complete` false then).
std::vector<LogEntry> ParseLog(const std::string& bytes, bool* complete = nullptr);

// The entries that `call` writes to the log (opened for it on a temporary
// file), the closing entry left off.
std::vector<LogEntry> EntriesOf(const std::function<void()>& call);

class LogCapture {
public:
    // Opens the log on <temporary folder>/log.txt.
    LogCapture();
    // Closes the log if still open.
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::filesystem::path& File() const { return m_file; }
    // Waits until at least `count` entries are in the file (or the timeout
    // passes) and returns the entries.
    std::vector<LogEntry> WaitForEntries(std::size_t count,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // Waits until `written` entries are in the file, then closes the log
    // (discarding what is still queued) and returns every entry, the closing
    // one included.
    std::vector<LogEntry> CloseAndRead(std::size_t written = 0);

private:
    TempDir m_dir;
    std::filesystem::path m_file;
    bool m_open = false;
};

}  // namespace vlibtest

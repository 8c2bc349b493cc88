// Runs one task of a worker thread and reports an exception that escapes it
// as one log entry, so that the worker goes on with its next task.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Multithreading::internal {

// The kind of worker, the first word of the report: "Executor" or "Timer".
struct Reporter {
    const char* kind;
    const char* function;  // the worker loop's qualified name
    std::int32_t line;
};

// Writes the report of the exception being handled (call only inside a catch
// block): "<kind>: <name>, MESSAGE: <text>: " for a standard or MFC
// exception, "<kind>: <name>; MESSAGE: Nieznany Wyjątek; " for anything else.
// A caught MFC exception is released with its Delete.  Never throws.
void ReportCurrentException(const Reporter& reporter, const std::string& name) noexcept;

template <class Task>
void RunReporting(Task& task, const Reporter& reporter, const std::string& name) noexcept {
    try {
        task();
    } catch (...) {
        ReportCurrentException(reporter, name);
    }
}

}  // namespace Multithreading::internal

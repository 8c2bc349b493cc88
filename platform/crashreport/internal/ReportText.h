// Text of a crash report, formatted without allocating and without any call
// that is unsafe in a signal handler: a bounded buffer, numbers, JSON
// strings, calendar times and the crash.json document.  Exported for the
// tests only; not installed.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/PlatformExport.h"
#include "platform/crashreport/CrashReport.h"

namespace vplatform::crash {

// Appends into caller-given storage, always NUL-terminated; what does not fit
// is cut off.
class VPLATFORM_API TextBuffer {
public:
    TextBuffer(char* storage, std::size_t capacity);
    void Append(const char* text);
    void Append(const char* text, std::size_t length);
    void AppendDecimal(std::int64_t value);
    // Lowercase hex without prefix, zero-padded to `width` digits.
    void AppendHex(std::uint64_t value, int width = 0);
    // `text` (UTF-8) as a quoted JSON string; control characters, quotes and
    // backslashes escaped, bytes that are no UTF-8 replaced by U+FFFD.
    void AppendJsonString(const char* text);
    const char* Data() const { return m_storage; }
    std::size_t Size() const { return m_size; }

private:
    char* m_storage;
    std::size_t m_capacity;
    std::size_t m_size = 0;
};

// "YYYYMMDD-HHMMSS" of a time given as seconds since 1970 (already shifted
// to local time).
VPLATFORM_API void AppendCompactTime(TextBuffer& out, std::int64_t seconds);
// "YYYY-MM-DDTHH:MM:SS.mmm+hh:mm": the local time of `utcSeconds` at
// `utcOffset` seconds east of UTC.
VPLATFORM_API void AppendIsoTime(TextBuffer& out, std::int64_t utcSeconds, std::int32_t nanoseconds, long utcOffset);
// "SIGSEGV" and the like; "SIG?" for another number.
VPLATFORM_API const char* SignalName(int signal);
// The crash.json document.  `stack` says where the frames of stack.txt came
// from: "ptrace" (the reporter unwound the crashed thread), "handler" (the
// handler's own unwind, named by the reporter) or "raw" (bare addresses).
VPLATFORM_API void AppendFactsJson(TextBuffer& out, const CR_CRASH_FACTS& facts, pid_t pid, long utcOffset,
                                   const char* appName, const char* appVersion, const char* stack = "raw");
// UTF-8 to UTF-16 units (in wchar_t), NUL-terminated within `capacity`;
// invalid bytes become U+FFFD.
VPLATFORM_API void Utf8ToUtf16(const char* in, wchar_t* out, std::size_t capacity);
// UTF-16 units to UTF-8 (allocates; not for a signal handler); a lone
// surrogate becomes U+FFFD.  Null gives "".
VPLATFORM_API std::string Utf16ToUtf8(const wchar_t* in);

}  // namespace vplatform::crash

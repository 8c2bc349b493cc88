// Debugger output through standard error while a tracer is attached.
#include "platform/kernel/Debug.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/WinError.h"
#include "platform/internal/Syscalls.h"
#include "platform/nls/CodePage.h"

namespace {

// Reads TracerPid from /proc/self/status.  The file is read afresh on every
// call: a cached answer, or a descriptor kept open (which after fork would
// describe the parent), could hide a tracer that attached since.
bool TracerAttached() {
    using vplatform::Sys;
    int fd;
    while ((fd = Sys().open("/proc/self/status", O_RDONLY | O_CLOEXEC, 0)) < 0 && errno == EINTR) {
    }
    if (fd < 0) return false;
    char buffer[4096];
    std::size_t used = 0;
    for (;;) {
        const ssize_t n = Sys().read(fd, buffer + used, sizeof(buffer) - 1 - used);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        used += static_cast<std::size_t>(n);
        if (used == sizeof(buffer) - 1) break;  // TracerPid is among the first lines
    }
    Sys().close(fd);
    buffer[used] = '\0';
    const char* line = std::strstr(buffer, "\nTracerPid:");
    if (line == nullptr) return false;
    line += std::strlen("\nTracerPid:");
    while (*line == ' ' || *line == '\t') ++line;
    return *line >= '1' && *line <= '9';
}

void WriteToStandardError(const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t n = vplatform::Sys().write(STDERR_FILENO, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Keeps the caller's last error (and errno) across the call.
class PreservedErrors {
public:
    PreservedErrors() : m_lastError(GetLastError()), m_errno(errno) {}
    ~PreservedErrors() {
        SetLastError(m_lastError);
        errno = m_errno;
    }
    PreservedErrors(const PreservedErrors&) = delete;
    PreservedErrors& operator=(const PreservedErrors&) = delete;

private:
    DWORD m_lastError;
    int m_errno;
};

}  // namespace

extern "C" {

BOOL IsDebuggerPresent() {
    const PreservedErrors preserved;
    return TracerAttached() ? TRUE : FALSE;
}

void OutputDebugStringA(LPCSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    const PreservedErrors preserved;
    if (!TracerAttached()) return;
    WriteToStandardError(lpOutputString, std::strlen(lpOutputString));
}

void OutputDebugStringW(LPCWSTR lpOutputString) {
    if (lpOutputString == nullptr) return;
    const PreservedErrors preserved;
    if (!TracerAttached() || *lpOutputString == 0) return;
    const int size = WideCharToMultiByte(CP_ACP, 0, lpOutputString, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return;
    try {
        std::string text(static_cast<std::size_t>(size), '\0');
        if (WideCharToMultiByte(CP_ACP, 0, lpOutputString, -1, text.data(), size, nullptr, nullptr) != size) return;
        WriteToStandardError(text.data(), static_cast<std::size_t>(size - 1));
    } catch (...) {
        // Debug output is dropped when memory runs out.
    }
}
}

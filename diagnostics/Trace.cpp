#include "diagnostics/Trace.h"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "platform/kernel/Debug.h"

namespace VTools::Trace {

void Write(const char* format, ...) {
    std::array<char, 2048> buffer{};
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer.data(), buffer.size(), format, args);
        va_end(args);
    }
    OutputDebugStringA(buffer.data());
}

}  // namespace VTools::Trace

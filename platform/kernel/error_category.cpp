// The std::error_category of Windows error codes.
#include "platform/kernel/ErrorCategory.h"

#include <cstdio>
#include <string>

#include "platform/WinError.h"
#include "platform/internal/ErrorTable.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Message.h"

namespace vplatform {
namespace {

// The portable condition of a Windows error code, where there is one.
bool ConditionOf(DWORD error, std::errc& out) {
    for (const ErrorRow& row : kErrorTable) {
        if (row.code == error) {
            out = row.condition;
            return true;
        }
    }
    return false;
}

class Win32ErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "win32"; }

    std::string message(int code) const override {
        char* text = nullptr;
        const DWORD saved = GetLastError();
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        SetLastError(saved);
        if (length == 0 || text == nullptr) {
            char unknown[32];
            std::snprintf(unknown, sizeof unknown, "Unknown error 0x%08X", static_cast<unsigned>(code));
            return unknown;
        }
        std::string result(text, length);
        LocalFree(text);
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
        return result;
    }

    std::error_condition default_error_condition(int code) const noexcept override {
        std::errc condition{};
        if (ConditionOf(static_cast<DWORD>(code), condition)) return std::make_error_condition(condition);
        return {code, *this};
    }

    bool equivalent(int code, const std::error_condition& condition) const noexcept override {
        return default_error_condition(code) == condition;
    }
};

}  // namespace

const std::error_category& Win32Category() noexcept {
    static const Win32ErrorCategory category;
    return category;
}

}  // namespace vplatform

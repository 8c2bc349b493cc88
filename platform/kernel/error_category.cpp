// The std::error_category of Windows error codes.
#include "platform/kernel/ErrorCategory.h"

#include <cstdio>
#include <string>

#include "platform/WinError.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/Message.h"

namespace vplatform {
namespace {

// The portable condition of a Windows error code, where there is one.
bool ConditionOf(DWORD error, std::errc& out) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_MOD_NOT_FOUND:
            out = std::errc::no_such_file_or_directory;
            return true;
        case ERROR_ACCESS_DENIED:
            out = std::errc::permission_denied;
            return true;
        case ERROR_SHARING_VIOLATION:
            out = std::errc::device_or_resource_busy;
            return true;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            out = std::errc::file_exists;
            return true;
        case ERROR_DISK_FULL:
            out = std::errc::no_space_on_device;
            return true;
        case ERROR_WRITE_PROTECT:
            out = std::errc::read_only_file_system;
            return true;
        case ERROR_NOT_SAME_DEVICE:
            out = std::errc::cross_device_link;
            return true;
        case ERROR_DIR_NOT_EMPTY:
            out = std::errc::directory_not_empty;
            return true;
        case ERROR_FILENAME_EXCED_RANGE:
            out = std::errc::filename_too_long;
            return true;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_FLAGS:
        case ERROR_NEGATIVE_SEEK:
            out = std::errc::invalid_argument;
            return true;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            out = std::errc::not_enough_memory;
            return true;
        case ERROR_TOO_MANY_OPEN_FILES:
            out = std::errc::too_many_files_open;
            return true;
        case ERROR_INVALID_HANDLE:
            out = std::errc::bad_file_descriptor;
            return true;
        case ERROR_CANT_RESOLVE_FILENAME:
            out = std::errc::too_many_symbolic_link_levels;
            return true;
        case ERROR_FILE_TOO_LARGE:
            out = std::errc::file_too_large;
            return true;
        case ERROR_NOT_SUPPORTED:
        case ERROR_CALL_NOT_IMPLEMENTED:
            out = std::errc::not_supported;
            return true;
        case ERROR_DIRECTORY:
            out = std::errc::not_a_directory;
            return true;
        case ERROR_IO_DEVICE:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
            out = std::errc::io_error;
            return true;
        case ERROR_SEEK_ON_DEVICE:
            out = std::errc::invalid_seek;
            return true;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            out = std::errc::broken_pipe;
            return true;
        case ERROR_WAIT_TIMEOUT:
        case ERROR_TIMEOUT:
            out = std::errc::timed_out;
            return true;
        case ERROR_INSUFFICIENT_BUFFER:
            out = std::errc::no_buffer_space;
            return true;
        default:
            return false;
    }
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

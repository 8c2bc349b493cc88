// Windows error codes as std::error_code values: the category of the codes
// that GetLastError returns, for C++ interfaces that report failures with
// std::system_error or std::filesystem::filesystem_error.
//
// message() is the system's text for the code (FormatMessage's English text
// without its line break; "Unknown error 0x…" for a code without one).
// Codes compare equal to the std::errc conditions of the same meaning
// (ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND to no_such_file_or_directory,
// ERROR_ACCESS_DENIED to permission_denied, ERROR_DISK_FULL to
// no_space_on_device…), so that callers can test a code without knowing where
// it came from:  error == std::errc::no_such_file_or_directory.
//
// The category is one object for the process; it may be used from any thread.
#pragma once

#include <system_error>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

namespace vplatform {

VPLATFORM_API const std::error_category& Win32Category() noexcept;

// `error` (a Windows error code) in Win32Category().
inline std::error_code MakeWin32Error(DWORD error) noexcept {
    return {static_cast<int>(error), Win32Category()};
}

}  // namespace vplatform

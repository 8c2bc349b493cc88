// The one table of error translations, read both ways: errno values become
// Windows error codes (ErrorFromErrno, errno_map.cpp), and Windows error
// codes compare equal to std::errc conditions (Win32Category,
// kernel/error_category.cpp).
//
// A row names the errno value that becomes `code` (0 for a code no errno
// value gives) and the condition of `code`.  Several errno values may become
// one code (a row each, with the same condition: checked below); an errno
// value in no row becomes ERROR_GEN_FAILURE, 0 becomes ERROR_SUCCESS, and a
// code in no row has no portable condition.
#pragma once

#include <cerrno>
#include <cstddef>
#include <system_error>

#include "platform/WinError.h"
#include "platform/WinTypes.h"

namespace vplatform {

struct ErrorRow {
    int errnoValue;
    DWORD code;
    std::errc condition;
};

inline constexpr ErrorRow kErrorTable[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND, std::errc::no_such_file_or_directory},
    {ENOTDIR, ERROR_PATH_NOT_FOUND, std::errc::no_such_file_or_directory},
    {0, ERROR_MOD_NOT_FOUND, std::errc::no_such_file_or_directory},
    {EACCES, ERROR_ACCESS_DENIED, std::errc::permission_denied},
    {EPERM, ERROR_ACCESS_DENIED, std::errc::permission_denied},
    {EISDIR, ERROR_ACCESS_DENIED, std::errc::permission_denied},
    {EBUSY, ERROR_SHARING_VIOLATION, std::errc::device_or_resource_busy},
    {ETXTBSY, ERROR_SHARING_VIOLATION, std::errc::device_or_resource_busy},
    {EEXIST, ERROR_ALREADY_EXISTS, std::errc::file_exists},
    {0, ERROR_FILE_EXISTS, std::errc::file_exists},
    {ENOSPC, ERROR_DISK_FULL, std::errc::no_space_on_device},
    {EDQUOT, ERROR_DISK_FULL, std::errc::no_space_on_device},
    {EROFS, ERROR_WRITE_PROTECT, std::errc::read_only_file_system},
    {EXDEV, ERROR_NOT_SAME_DEVICE, std::errc::cross_device_link},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY, std::errc::directory_not_empty},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE, std::errc::filename_too_long},
    {EINVAL, ERROR_INVALID_PARAMETER, std::errc::invalid_argument},
    {0, ERROR_INVALID_NAME, std::errc::invalid_argument},
    {0, ERROR_BAD_PATHNAME, std::errc::invalid_argument},
    {0, ERROR_INVALID_FLAGS, std::errc::invalid_argument},
    {0, ERROR_NEGATIVE_SEEK, std::errc::invalid_argument},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY, std::errc::not_enough_memory},
    {0, ERROR_OUTOFMEMORY, std::errc::not_enough_memory},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES, std::errc::too_many_files_open},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES, std::errc::too_many_files_open},
    {EBADF, ERROR_INVALID_HANDLE, std::errc::bad_file_descriptor},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME, std::errc::too_many_symbolic_link_levels},
    {EFBIG, ERROR_FILE_TOO_LARGE, std::errc::file_too_large},
    {ENOSYS, ERROR_NOT_SUPPORTED, std::errc::not_supported},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED, std::errc::not_supported},
    {0, ERROR_CALL_NOT_IMPLEMENTED, std::errc::not_supported},
    {0, ERROR_DIRECTORY, std::errc::not_a_directory},
    {EIO, ERROR_IO_DEVICE, std::errc::io_error},
    {0, ERROR_READ_FAULT, std::errc::io_error},
    {0, ERROR_WRITE_FAULT, std::errc::io_error},
    {0, ERROR_GEN_FAILURE, std::errc::io_error},
    {ESPIPE, ERROR_SEEK_ON_DEVICE, std::errc::invalid_seek},
    {EPIPE, ERROR_BROKEN_PIPE, std::errc::broken_pipe},
    {0, ERROR_NO_DATA, std::errc::broken_pipe},
    {ETIMEDOUT, ERROR_TIMEOUT, std::errc::timed_out},
    {0, ERROR_WAIT_TIMEOUT, std::errc::timed_out},
    {0, ERROR_INSUFFICIENT_BUFFER, std::errc::no_buffer_space},
};

// Every errno value is in one row at most, and rows of one code agree on its
// condition.
consteval bool ErrorTableIsConsistent() {
    constexpr std::size_t rows = std::size(kErrorTable);
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = i + 1; j < rows; ++j) {
            const ErrorRow& a = kErrorTable[i];
            const ErrorRow& b = kErrorTable[j];
            if (a.errnoValue != 0 && a.errnoValue == b.errnoValue) return false;
            if (a.code == b.code && a.condition != b.condition) return false;
        }
    }
    return true;
}
static_assert(ErrorTableIsConsistent());

}  // namespace vplatform

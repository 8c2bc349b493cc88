// Translation of errno values into the Windows error codes that the platform
// reports through GetLastError.
//
// ErrorFromErrno gives the code a Windows function reports for the same
// condition when the context adds nothing (EEXIST, for example, becomes
// ERROR_ALREADY_EXISTS; a caller that creates a file with CREATE_NEW reports
// ERROR_FILE_EXISTS instead).  PathErrorFromErrno adds what a path tells: a
// missing name whose parent folder is missing too is ERROR_PATH_NOT_FOUND, as
// a component that is not a folder is.
#pragma once

#include <string>

#include "platform/WinTypes.h"

namespace vplatform {

// ENOENT -> ERROR_FILE_NOT_FOUND, ENOTDIR -> ERROR_PATH_NOT_FOUND,
// EACCES/EPERM/EISDIR -> ERROR_ACCESS_DENIED, EROFS -> ERROR_WRITE_PROTECT,
// EEXIST -> ERROR_ALREADY_EXISTS, ENOSPC/EDQUOT -> ERROR_DISK_FULL,
// EMFILE/ENFILE -> ERROR_TOO_MANY_OPEN_FILES, EBADF -> ERROR_INVALID_HANDLE,
// ENOTEMPTY -> ERROR_DIR_NOT_EMPTY, ENAMETOOLONG -> ERROR_FILENAME_EXCED_RANGE,
// ENOMEM -> ERROR_NOT_ENOUGH_MEMORY, EINVAL -> ERROR_INVALID_PARAMETER,
// EBUSY/ETXTBSY -> ERROR_SHARING_VIOLATION, EXDEV -> ERROR_NOT_SAME_DEVICE,
// EIO -> ERROR_IO_DEVICE, EFBIG -> ERROR_FILE_TOO_LARGE, ELOOP ->
// ERROR_CANT_RESOLVE_FILENAME, ESPIPE -> ERROR_SEEK_ON_DEVICE, EPIPE -> ERROR_BROKEN_PIPE, ETIMEDOUT ->
// ERROR_TIMEOUT, ENOSYS/EOPNOTSUPP -> ERROR_NOT_SUPPORTED, 0 -> ERROR_SUCCESS;
// anything else -> ERROR_GEN_FAILURE.
DWORD ErrorFromErrno(int error);

// As ErrorFromErrno, except that ENOENT for `path` (narrow file-system form)
// becomes ERROR_PATH_NOT_FOUND when the folder that should hold it does not
// exist or is not a folder.
DWORD PathErrorFromErrno(int error, const std::string& path);

// SetLastError(ErrorFromErrno(error)).
void SetLastErrorFromErrno(int error);

}  // namespace vplatform

// errno -> Windows error codes.
#include <sys/stat.h>

#include <cerrno>

#include "platform/WinError.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"

namespace vplatform {

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EROFS:
            return ERROR_WRITE_PROTECT;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EBUSY:
        case ETXTBSY:
            return ERROR_SHARING_VIOLATION;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case EIO:
            return ERROR_IO_DEVICE;
        case EFBIG:
            return ERROR_FILE_TOO_LARGE;
        case ELOOP:
            return ERROR_CANT_RESOLVE_FILENAME;
        case ESPIPE:
            return ERROR_SEEK_ON_DEVICE;
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case ETIMEDOUT:
            return ERROR_TIMEOUT;
        case ENOSYS:
        case EOPNOTSUPP:
            return ERROR_NOT_SUPPORTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD PathErrorFromErrno(int error, const std::string& path) {
    if (error != ENOENT) return ErrorFromErrno(error);
    // The parent folder: everything before the last name, trailing
    // separators ignored.
    std::string::size_type end = path.find_last_not_of('/');
    if (end == std::string::npos) return ERROR_FILE_NOT_FOUND;
    const std::string::size_type slash = path.rfind('/', end);
    if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;  // in the current folder
    const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct statx info {};
    if (Sys().statx(AT_FDCWD, parent.c_str(), 0, STATX_TYPE, &info) != 0 || !S_ISDIR(info.stx_mode)) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ERROR_FILE_NOT_FOUND;
}

void SetLastErrorFromErrno(int error) {
    SetLastError(ErrorFromErrno(error));
}

}  // namespace vplatform

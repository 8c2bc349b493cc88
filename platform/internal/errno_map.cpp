// errno -> Windows error codes.
#include <sys/stat.h>

#include <cerrno>

#include "platform/WinError.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/ErrorTable.h"
#include "platform/internal/Syscalls.h"

namespace vplatform {

DWORD ErrorFromErrno(int error) {
    if (error == 0) return ERROR_SUCCESS;
    for (const ErrorRow& row : kErrorTable) {
        if (row.errnoValue == error) return row.code;
    }
    return ERROR_GEN_FAILURE;
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

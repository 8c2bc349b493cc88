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

// The code of `error` by the table of internal/ErrorTable.h (ENOENT ->
// ERROR_FILE_NOT_FOUND, EACCES -> ERROR_ACCESS_DENIED, ENOSPC ->
// ERROR_DISK_FULL…); 0 -> ERROR_SUCCESS; anything not in the table ->
// ERROR_GEN_FAILURE.
DWORD ErrorFromErrno(int error);

// As ErrorFromErrno, except that ENOENT for `path` (narrow file-system form)
// becomes ERROR_PATH_NOT_FOUND when the folder that should hold it does not
// exist or is not a folder.
DWORD PathErrorFromErrno(int error, const std::string& path);

// SetLastError(ErrorFromErrno(error)).
void SetLastErrorFromErrno(int error);

}  // namespace vplatform

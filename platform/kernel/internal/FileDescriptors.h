// What the file API shares with process creation: the file-system form of a
// path, the descriptor behind a file handle, and the descriptors that
// CreateFileW opened inheritable.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/internal/HandleTable.h"

namespace vplatform {

// The file-system form of a wide Windows-form path (UTF-8, every '\' a '/');
// false with the last error set when it has none (ERROR_PATH_NOT_FOUND for an
// empty path, ERROR_INVALID_NAME for a lone surrogate).
bool FileSystemPathOf(LPCWSTR path, std::string& out);

// The object of a file handle, which keeps its descriptor open while held, and
// that descriptor; null with ERROR_INVALID_HANDLE for anything but a file
// handle.
std::shared_ptr<const HandleObject> FileDescriptorOf(HANDLE file, int& fd);

// The descriptors of the open file handles created inheritable (security
// attributes with bInheritHandle), which a started process receives under
// the same numbers.  The lock keeps them open (a closing handle waits for
// it), so that a descriptor number cannot be given to another file while a
// process is being started.
std::unique_lock<std::mutex> LockInheritableDescriptors();
// With the lock held.
std::vector<int> InheritableDescriptors();

}  // namespace vplatform

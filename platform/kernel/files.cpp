// File handles: opening, reading and writing, the standard handles, file
// sizes, pointers and times, and the descriptors a started process inherits.
// Every file-system call goes through the table of internal/Syscalls.h.
#include "platform/kernel/Files.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/internal/Calendar.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/HandleTable.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/internal/FileCalls.h"
#include "platform/kernel/internal/FileDescriptors.h"
#include "platform/nls/CodePage.h"

namespace vplatform {
namespace {

using namespace files;
using calendar::kMaxTicks;
using calendar::TimespecFromTicks;

// The descriptors of inheritable file handles (see FileDescriptors.h).
struct Inheritable {
    std::mutex mutex;
    std::set<int> fds;
};

Inheritable& InheritableFds() {
    static auto* fds = new Inheritable;  // never destroyed: handles may outlive static destruction
    return *fds;
}

// The object of a file handle.  It closes its descriptor when the last
// reference goes: a ReadFile that runs while another thread closes the
// handle finishes on the open descriptor.
class FileObject final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::File;

    FileObject(int fd, DWORD access, bool regular, bool inheritable)
        : m_fd(fd), m_access(access), m_regular(regular), m_folder(false), m_inheritable(inheritable) {
        if (m_inheritable) {
            const std::lock_guard lock(InheritableFds().mutex);
            InheritableFds().fds.insert(m_fd);
        }
    }
    ~FileObject() override {
        if (m_shared) Shares().Remove(m_entry);
        // The descriptor is gone even when close reports an error, so it is
        // not retried.  An inheritable one is closed under the registry's
        // lock, so that no process being started meanwhile gets its number.
        if (m_inheritable) {
            const std::lock_guard lock(InheritableFds().mutex);
            InheritableFds().fds.erase(m_fd);
            Sys().close(m_fd);
        } else {
            Sys().close(m_fd);
        }
    }

    int Fd() const { return m_fd; }
    // The mapped rights of the open (no generic bits).
    bool Has(DWORD rights) const { return (m_access & rights) != 0; }
    bool CanRead() const { return Has(FILE_READ_DATA); }
    bool CanWrite() const { return Has(FILE_WRITE_DATA | FILE_APPEND_DATA); }
    bool Regular() const { return m_regular; }
    bool Folder() const { return m_folder; }
    void SetFolder() { m_folder = true; }
    void SetShareEntry(ShareTable::Entry entry) {
        m_entry = entry;
        m_shared = true;
    }

private:
    int m_fd;
    DWORD m_access;
    bool m_regular;
    bool m_folder;
    bool m_inheritable;
    bool m_shared = false;
    ShareTable::Entry m_entry;
};

// Positions the descriptor at the offset an OVERLAPPED structure gives.
bool SeekToOverlapped(int fd, const OVERLAPPED& overlapped) {
    const std::uint64_t offset = (static_cast<std::uint64_t>(overlapped.OffsetHigh) << 32) | overlapped.Offset;
    if (offset > kMaxTicks) return Fail(ERROR_INVALID_PARAMETER);
    if (Sys().lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return Fail(ErrorFromErrno(errno));
    return true;
}

// The specific rights an access request stands for: the generic rights
// mapped as Windows maps them for files.
DWORD MapFileAccess(DWORD access) {
    if ((access & GENERIC_READ) != 0) access |= FILE_GENERIC_READ;
    if ((access & GENERIC_WRITE) != 0) access |= FILE_GENERIC_WRITE;
    if ((access & GENERIC_EXECUTE) != 0) access |= FILE_GENERIC_EXECUTE;
    if ((access & GENERIC_ALL) != 0) access |= FILE_ALL_ACCESS;
    return access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

// The error of an open asking for rights (mapped) that no file here grants,
// or ERROR_SUCCESS.
DWORD RefusedRights(DWORD access) {
    if ((access & ACCESS_SYSTEM_SECURITY) != 0) return ERROR_PRIVILEGE_NOT_HELD;
    if ((access & MAXIMUM_ALLOWED) != 0) return ERROR_NOT_SUPPORTED;
    if ((access & ~FILE_ALL_ACCESS) != 0) return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// True when the process may remove the name `path` of the file `info`
// describes: write and search permission on its folder and, in a sticky
// folder, owning the file or the folder (root may always), as unlink(2)
// decides.
bool MayRemoveName(const std::string& path, const struct statx& info) {
    const std::string folder = ParentOf(path);
    if (Sys().access(folder.c_str(), W_OK | X_OK) != 0) return false;
    const uid_t self = Sys().geteuid();
    if (self == 0) return true;
    struct statx folderInfo {};
    if (!StatPath(folder, true, folderInfo)) return false;
    return (folderInfo.stx_mode & S_ISVTX) == 0 || info.stx_uid == self || folderInfo.stx_uid == self;
}

}  // namespace

bool FileSystemPathOf(LPCWSTR path, std::string& out) {
    return NarrowPath(path, out);
}

std::shared_ptr<const HandleObject> FileDescriptorOf(HANDLE file, int& fd) {
    auto object = KernelHandles().Lookup<FileObject>(file);
    if (object) fd = object->Fd();
    return object;
}

std::unique_lock<std::mutex> LockInheritableDescriptors() {
    return std::unique_lock(InheritableFds().mutex);
}

std::vector<int> InheritableDescriptors() {
    return {InheritableFds().fds.begin(), InheritableFds().fds.end()};
}

}  // namespace vplatform

using namespace vplatform;
using namespace vplatform::files;

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                   HANDLE /*hTemplateFile*/) {
    const DWORD access = MapFileAccess(dwDesiredAccess);
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && (access & FILE_WRITE_DATA) == 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (const DWORD refused = RefusedRights(access)) {
        SetLastError(refused);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    if (!NarrowPath(lpFileName, path)) return INVALID_HANDLE_VALUE;

    // FILE_APPEND_DATA without FILE_WRITE_DATA: a writing handle whose every
    // write goes to the end of the file in one piece (O_APPEND).
    const bool append = (access & FILE_APPEND_DATA) != 0 && (access & FILE_WRITE_DATA) == 0;
    const bool read = (access & FILE_READ_DATA) != 0;
    const bool write = (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
    const bool backup = (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
    int flags = (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    if (append) flags |= O_APPEND;
    flags |= O_NOCTTY;
    if (lpSecurityAttributes == nullptr || !lpSecurityAttributes->bInheritHandle) flags |= O_CLOEXEC;
    if ((dwFlagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0) flags |= O_DSYNC;
    const mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;

    // Truncation waits until the share modes have allowed the open, so the
    // file is opened without O_TRUNC.  CREATE_ALWAYS and OPEN_ALWAYS try to
    // create first, to learn whether the file existed.
    int fd = -1;
    bool created = false;
    switch (dwCreationDisposition) {
        case CREATE_NEW:
            fd = OpenRetrying(path, flags | O_CREAT | O_EXCL, mode);
            created = fd >= 0;
            break;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
                fd = OpenRetrying(path, flags | O_CREAT | O_EXCL, mode);
                if (fd >= 0) {
                    created = true;
                    break;
                }
                if (errno != EEXIST) break;
                fd = OpenRetrying(path, flags, mode);
                if (fd < 0 && errno != ENOENT) break;  // ENOENT: removed meanwhile, try again
            }
            break;
        default:
            fd = OpenRetrying(path, flags, mode);
            break;
    }
    if (fd < 0 && errno == EISDIR && backup &&
        (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == OPEN_ALWAYS)) {
        // A folder opened with write rights: its descriptor reads; the rights
        // are checked against its permissions below.
        fd = OpenRetrying(path, O_RDONLY | O_DIRECTORY | (flags & (O_CLOEXEC | O_NOCTTY)), 0);
    }
    if (fd < 0) {
        const int error = errno;
        SetLastError(error == EEXIST && dwCreationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS
                                                                            : PathErrorFromErrno(error, path));
        return INVALID_HANDLE_VALUE;
    }

    // From here on a failure closes the descriptor (through the object) and
    // removes a file this call created.
    struct statx info {};
    const bool known = StatFd(fd, info);
    const int statError = errno;
    auto object = std::make_shared<FileObject>(fd, access, known && S_ISREG(info.stx_mode), (flags & O_CLOEXEC) == 0);
    auto fail = [&](DWORD error) {
        object.reset();
        if (created) Sys().unlink(path.c_str());
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (!known) return fail(ErrorFromErrno(statError));
    if (S_ISDIR(info.stx_mode)) {
        if (!backup) return fail(ERROR_ACCESS_DENIED);
        object->SetFolder();
        if ((access & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD)) != 0 &&
            Sys().access(path.c_str(), W_OK) != 0) {
            return fail(ERROR_ACCESS_DENIED);
        }
    }
    const uid_t self = Sys().geteuid();
    if ((access & (WRITE_DAC | WRITE_OWNER)) != 0 && self != 0 && info.stx_uid != self)
        return fail(ERROR_ACCESS_DENIED);
    if ((access & DELETE) != 0 && !MayRemoveName(path, info)) return fail(ERROR_ACCESS_DENIED);
    if ((access & kSharedRights) != 0) {
        ShareTable::Entry entry;
        if (!Shares().TryAdd(IdOf(info), access, dwShareMode, entry)) return fail(ERROR_SHARING_VIOLATION);
        object->SetShareEntry(entry);
    }
    const bool existed = !created;
    if ((dwCreationDisposition == CREATE_ALWAYS && existed) || dwCreationDisposition == TRUNCATE_EXISTING) {
        int result = 0;
        if (write) {
            result = Sys().ftruncate(fd, 0);
        } else {
            // A read-only handle cannot truncate; a second, writing descriptor can.
            const int writer = OpenRetrying(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0);
            if (writer < 0) {
                result = -1;
            } else {
                Sys().close(writer);
            }
        }
        if (result != 0) return fail(ErrorFromErrno(errno));
    }
    const HANDLE handle = KernelHandles().Insert(object);
    if (handle == nullptr) return fail(GetLastError());
    const bool always = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(always && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    if (file->Folder()) return Fail(ERROR_INVALID_FUNCTION);
    if (!file->CanRead()) return Fail(ERROR_ACCESS_DENIED);
    if (lpBuffer == nullptr && nNumberOfBytesToRead != 0) return Fail(ERROR_INVALID_PARAMETER);
    if (lpOverlapped != nullptr && !SeekToOverlapped(file->Fd(), *lpOverlapped)) return FALSE;

    auto* out = static_cast<char*>(lpBuffer);
    DWORD total = 0;
    DWORD error = ERROR_SUCCESS;
    while (total < nNumberOfBytesToRead) {
        const ssize_t n = Sys().read(file->Fd(), out + total, nNumberOfBytesToRead - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno == EIO ? ERROR_READ_FAULT : ErrorFromErrno(errno);
            break;
        }
        if (n == 0) break;  // end of file
        total += static_cast<DWORD>(n);
        if (!file->Regular()) break;  // a pipe or device delivers what it has
    }
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = total;
    if (lpOverlapped != nullptr) lpOverlapped->InternalHigh = total;
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    if (file->Folder()) return Fail(ERROR_INVALID_FUNCTION);
    if (!file->CanWrite()) return Fail(ERROR_ACCESS_DENIED);
    if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) return Fail(ERROR_INVALID_PARAMETER);
    if (lpOverlapped != nullptr && !SeekToOverlapped(file->Fd(), *lpOverlapped)) return FALSE;

    std::size_t written = 0;
    const int error = WriteAll(file->Fd(), static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite, written);
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(written);
    if (lpOverlapped != nullptr) lpOverlapped->InternalHigh = written;
    return error == 0 ? TRUE : Fail(WriteError(error));
}

HANDLE GetStdHandle(DWORD nStdHandle) {
    if (nStdHandle < STD_ERROR_HANDLE || nStdHandle > STD_INPUT_HANDLE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = static_cast<int>(STD_INPUT_HANDLE - nStdHandle);  // 0, 1 or 2
    static std::once_flag once[3];
    static HANDLE handles[3] = {};
    std::call_once(once[fd], [fd] {
        const int own = Sys().dupfd_cloexec(fd);
        if (own < 0) return;  // no such descriptor: no handle, as on Windows
        struct statx info {};
        const bool known = StatFd(own, info);
        const DWORD access = fd == 0 ? (FILE_GENERIC_READ & ~SYNCHRONIZE) : (FILE_GENERIC_WRITE & ~SYNCHRONIZE);
        auto object = std::make_shared<FileObject>(own, access, known && S_ISREG(info.stx_mode), false);
        handles[fd] = KernelHandles().Insert(std::move(object));
    });
    return handles[fd];
}

DWORD GetFileType(HANDLE hFile) {
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FILE_TYPE_UNKNOWN;
    struct statx info {};
    if (!StatFd(file->Fd(), info)) {
        SetLastError(ErrorFromErrno(errno));
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(ERROR_SUCCESS);
    if (S_ISCHR(info.stx_mode)) return FILE_TYPE_CHAR;
    if (S_ISFIFO(info.stx_mode) || S_ISSOCK(info.stx_mode)) return FILE_TYPE_PIPE;
    return FILE_TYPE_DISK;
}

BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
    const auto file = KernelHandles().Lookup<FileObject>(hConsoleHandle);
    if (!file) return FALSE;
    if (lpMode == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (Sys().isatty(file->Fd()) != 1) return Fail(ERROR_INVALID_HANDLE);
    *lpMode = file->CanWrite() ? ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT
                               : ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    if (!file->CanWrite()) return Fail(ERROR_ACCESS_DENIED);
    const int error = FsyncRetrying(file->Fd());
    if (error == 0 || (error == EINVAL && !file->Regular())) return TRUE;  // pipes keep nothing to flush
    return Fail(WriteError(error));
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod) {
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    int whence = SEEK_SET;
    switch (dwMoveMethod) {
        case FILE_BEGIN:
            if (liDistanceToMove.QuadPart < 0) return Fail(ERROR_NEGATIVE_SEEK);
            break;
        case FILE_CURRENT:
            whence = SEEK_CUR;
            break;
        case FILE_END:
            whence = SEEK_END;
            break;
        default:
            return Fail(ERROR_INVALID_PARAMETER);
    }
    const off_t position = Sys().lseek(file->Fd(), static_cast<off_t>(liDistanceToMove.QuadPart), whence);
    if (position < 0) {
        // lseek refuses a negative result with EINVAL, an overflow with EOVERFLOW.
        return Fail(errno == EINVAL      ? ERROR_NEGATIVE_SEEK
                    : errno == EOVERFLOW ? ERROR_INVALID_PARAMETER
                                         : ErrorFromErrno(errno));
    }
    if (lpNewFilePointer != nullptr) lpNewFilePointer->QuadPart = position;
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    if (lpFileSize == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    struct statx info {};
    if (!StatFd(file->Fd(), info)) return Fail(ErrorFromErrno(errno));
    lpFileSize->QuadPart = static_cast<LONGLONG>(info.stx_size);
    return TRUE;
}

BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime, LPFILETIME lpLastWriteTime) {
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    struct statx info {};
    if (!StatFd(file->Fd(), info)) return Fail(ErrorFromErrno(errno));
    const std::uint64_t written = TicksFromStatx(info.stx_mtime);
    if (lpCreationTime != nullptr) {
        *lpCreationTime =
            FileTimeFromTicks((info.stx_mask & STATX_BTIME) != 0 ? TicksFromStatx(info.stx_btime) : written);
    }
    if (lpLastAccessTime != nullptr) *lpLastAccessTime = FileTimeFromTicks(TicksFromStatx(info.stx_atime));
    if (lpLastWriteTime != nullptr) *lpLastWriteTime = FileTimeFromTicks(written);
    return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* /*lpCreationTime*/, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    if (!file->Has(FILE_WRITE_ATTRIBUTES)) return Fail(ERROR_ACCESS_DENIED);
    // Null, 0 and 0xFFFFFFFF'FFFFFFFF leave a time unchanged, as they do on
    // Windows (where the last also stops later updates through the handle).
    timespec times[2];
    const FILETIME* inputs[2] = {lpLastAccessTime, lpLastWriteTime};
    for (int i = 0; i < 2; ++i) {
        const std::uint64_t ticks = inputs[i] == nullptr ? 0 : FileTimeTicks(*inputs[i]);
        if (ticks == 0 || ticks == std::numeric_limits<std::uint64_t>::max()) {
            times[i] = {0, UTIME_OMIT};
        } else if (ticks > kMaxTicks) {
            return Fail(ERROR_INVALID_PARAMETER);
        } else {
            times[i] = TimespecFromTicks(ticks);
        }
    }
    if (Sys().futimens(file->Fd(), times) != 0) return Fail(ErrorFromErrno(errno));
    return TRUE;
}
}

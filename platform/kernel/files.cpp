// Files, folders and file times.  Every file-system call goes through the
// table of internal/Syscalls.h.
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
#include "platform/kernel/internal/FileDescriptors.h"
#include "platform/nls/CodePage.h"

namespace vplatform {
namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// --- Paths ----------------------------------------------------------------------

// The file-system form of a wide Windows-form path; false with the last error
// set when there is none.
bool NarrowPath(LPCWSTR path, std::string& out) {
    if (path == nullptr) return Fail(ERROR_PATH_NOT_FOUND);
    return ToFileSystemPath(path, out) != FALSE;
}

// The wide form of a path the system gave; false with the last error set when
// its bytes are not UTF-8.
bool WidePath(const std::string& path, std::wstring& out) {
    return FromFileSystemPath(path, out) != FALSE;
}

// The folder holding `path` ("." for a name in the current folder).
std::string ParentOf(const std::string& path) {
    const auto end = path.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    const auto slash = path.rfind('/', end);
    if (slash == std::string::npos) return ".";
    const auto parentEnd = path.find_last_not_of('/', slash);
    return parentEnd == std::string::npos ? std::string("/") : path.substr(0, parentEnd + 1);
}

// The last name of `path`, trailing separators ignored.
std::string BaseNameOf(const std::string& path) {
    const auto end = path.find_last_not_of('/');
    if (end == std::string::npos) return {};
    const auto slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

// --- Times ----------------------------------------------------------------------

using calendar::kMaxTicks;
using calendar::TimespecFromTicks;

std::uint64_t TicksFromStatx(const statx_timestamp& time) {
    return calendar::TicksFromUnix(time.tv_sec, time.tv_nsec);
}

// --- Handles and share modes ------------------------------------------------------

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator<(const FileId& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

FileId IdOf(const struct statx& info) {
    return {makedev(info.stx_dev_major, info.stx_dev_minor), static_cast<ino_t>(info.stx_ino)};
}

struct ShareEntry {
    DWORD access;
    DWORD share;
};

// The rights that take part in share modes, each with the share flag that
// allows it beside another handle.
constexpr DWORD kReadRights = FILE_READ_DATA | FILE_EXECUTE;
constexpr DWORD kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kSharedRights = kReadRights | kWriteRights | DELETE;

// True when a handle with `access` may be open beside one that shares `share`.
bool Shared(DWORD access, DWORD share) {
    return ((access & kReadRights) == 0 || (share & FILE_SHARE_READ) != 0) &&
           ((access & kWriteRights) == 0 || (share & FILE_SHARE_WRITE) != 0) &&
           ((access & DELETE) == 0 || (share & FILE_SHARE_DELETE) != 0);
}

// The access and share modes of this process's open file handles that have
// rights taking part in share modes, by file.
class ShareTable {
public:
    using Entry = std::multimap<FileId, ShareEntry>::iterator;

    // Records an open unless it conflicts with one already recorded.
    bool TryAdd(FileId id, DWORD access, DWORD share, Entry& entry) {
        const std::lock_guard lock(m_mutex);
        const auto [first, last] = m_entries.equal_range(id);
        for (auto it = first; it != last; ++it) {
            const ShareEntry& other = it->second;
            if (!Shared(access, other.share) || !Shared(other.access, share)) return false;
        }
        entry = m_entries.emplace(id, ShareEntry{access, share});
        return true;
    }

    void Remove(Entry entry) {
        const std::lock_guard lock(m_mutex);
        m_entries.erase(entry);
    }

    // True when every open handle of the file allows deleting it.
    bool DeleteAllowed(FileId id) {
        const std::lock_guard lock(m_mutex);
        const auto [first, last] = m_entries.equal_range(id);
        for (auto it = first; it != last; ++it) {
            if ((it->second.share & FILE_SHARE_DELETE) == 0) return false;
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::multimap<FileId, ShareEntry> m_entries;
};

ShareTable& Shares() {
    static ShareTable* table = new ShareTable;  // never destroyed: handles may outlive static destruction
    return *table;
}

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

// --- System-call helpers -----------------------------------------------------------

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
    for (;;) {
        const int fd = Sys().open(path.c_str(), flags, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

bool StatPath(const std::string& path, bool followLinks, struct statx& info) {
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    return Sys().statx(AT_FDCWD, path.c_str(), followLinks ? 0 : AT_SYMLINK_NOFOLLOW, mask, &info) == 0;
}

bool StatFd(int fd, struct statx& info) {
    return Sys().statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &info) == 0;
}

// Writes all of `size` bytes; returns 0 or the errno value that stopped it
// (EIO for a write that made no progress).
int WriteAll(int fd, const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        const ssize_t n = Sys().write(fd, data + written, size - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

int FsyncRetrying(int fd) {
    for (;;) {
        if (Sys().fsync(fd) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

// Flushes a folder's entries to the disk; returns 0 or an errno value.
int SyncFolder(const std::string& folder) {
    const int fd = OpenRetrying(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return errno;
    int error = FsyncRetrying(fd);
    if (error == EINVAL) error = 0;  // a file system that has nothing to flush for folders
    Sys().close(fd);
    return error;
}

DWORD WriteError(int error) {
    return error == EIO ? ERROR_WRITE_FAULT : ErrorFromErrno(error);
}

// Positions the descriptor at the offset an OVERLAPPED structure gives.
bool SeekToOverlapped(int fd, const OVERLAPPED& overlapped) {
    const std::uint64_t offset = (static_cast<std::uint64_t>(overlapped.OffsetHigh) << 32) | overlapped.Offset;
    if (offset > kMaxTicks) return Fail(ERROR_INVALID_PARAMETER);
    if (Sys().lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return Fail(ErrorFromErrno(errno));
    return true;
}

// Copies the contents of `from` to the new file `to` (O_EXCL when
// `failIfExists`).  Returns 0 or a Windows error; a partly written target is
// removed.
DWORD CopyContents(const std::string& from, const std::string& to, bool failIfExists, bool writeThrough) {
    const int source = OpenRetrying(from, O_RDONLY | O_CLOEXEC, 0);
    if (source < 0) return PathErrorFromErrno(errno, from);
    struct statx sourceInfo {};
    if (!StatFd(source, sourceInfo)) {
        const DWORD error = ErrorFromErrno(errno);
        Sys().close(source);
        return error;
    }
    if (S_ISDIR(sourceInfo.stx_mode)) {
        Sys().close(source);
        return ERROR_ACCESS_DENIED;
    }
    struct statx targetInfo {};
    if (StatPath(to, true, targetInfo)) {
        DWORD error = ERROR_SUCCESS;
        if (IdOf(targetInfo).device == IdOf(sourceInfo).device && targetInfo.stx_ino == sourceInfo.stx_ino) {
            error = ERROR_SHARING_VIOLATION;
        } else if (S_ISDIR(targetInfo.stx_mode)) {
            error = ERROR_ACCESS_DENIED;
        } else if (failIfExists) {
            error = ERROR_FILE_EXISTS;
        }
        if (error != ERROR_SUCCESS) {
            Sys().close(source);
            return error;
        }
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    const int target = OpenRetrying(to, flags, sourceInfo.stx_mode & 07777);
    if (target < 0) {
        const DWORD error = errno == EEXIST ? ERROR_FILE_EXISTS : PathErrorFromErrno(errno, to);
        Sys().close(source);
        return error;
    }

    DWORD error = ERROR_SUCCESS;
    std::vector<char> buffer(128 * 1024);
    for (;;) {
        const ssize_t n = Sys().read(source, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno == EIO ? ERROR_READ_FAULT : ErrorFromErrno(errno);
            break;
        }
        if (n == 0) break;
        std::size_t written = 0;
        if (const int failure = WriteAll(target, buffer.data(), static_cast<std::size_t>(n), written)) {
            error = WriteError(failure);
            break;
        }
    }
    if (error == ERROR_SUCCESS) {
        const timespec times[2] = {{sourceInfo.stx_atime.tv_sec, sourceInfo.stx_atime.tv_nsec},
                                   {sourceInfo.stx_mtime.tv_sec, sourceInfo.stx_mtime.tv_nsec}};
        if (Sys().futimens(target, times) != 0) error = ErrorFromErrno(errno);
    }
    if (error == ERROR_SUCCESS && writeThrough) {
        if (const int failure = FsyncRetrying(target)) error = WriteError(failure);
    }
    // A delayed write error (on network file systems) shows at close.
    if (Sys().close(target) != 0 && error == ERROR_SUCCESS && errno != EINTR) error = WriteError(errno);
    Sys().close(source);
    if (error != ERROR_SUCCESS) Sys().unlink(to.c_str());
    return error;
}

// Copies the result of GetTempPathW / GetFullPathNameW to the caller's buffer
// with Windows' size rules.
DWORD ReturnPath(const std::wstring& path, DWORD size, LPWSTR buffer) {
    if (buffer == nullptr && size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (path.size() + 1 > size) return static_cast<DWORD>(path.size() + 1);
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}

DWORD AttributesOf(const struct statx& info, const std::string& path) {
    DWORD attributes = 0;
    if (S_ISDIR(info.stx_mode)) {
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if ((info.stx_mode & S_IWUSR) == 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    const std::string name = BaseNameOf(path);
    if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
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

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if ((dwFlags & ~(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::string from, to;
    if (!NarrowPath(lpExistingFileName, from) || !NarrowPath(lpNewFileName, to)) return FALSE;
    const bool replace = (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0;

    struct statx source {};
    if (!StatPath(from, false, source)) return Fail(PathErrorFromErrno(errno, from));
    if (!Shares().DeleteAllowed(IdOf(source))) return Fail(ERROR_SHARING_VIOLATION);
    struct statx target {};
    const bool targetExists = StatPath(to, false, target);
    if (targetExists && replace) {
        const bool same = IdOf(target).device == IdOf(source).device && target.stx_ino == source.stx_ino;
        if (!same && S_ISDIR(target.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
        if (!same && !Shares().DeleteAllowed(IdOf(target))) return Fail(ERROR_SHARING_VIOLATION);
    }

    int result = Sys().rename(from.c_str(), to.c_str(), replace ? 0 : RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL && !replace) {
        // A file system without RENAME_NOREPLACE: check, then rename.
        if (StatPath(to, false, target)) return Fail(ERROR_ALREADY_EXISTS);
        result = Sys().rename(from.c_str(), to.c_str(), 0);
    }
    bool copied = false;
    if (result != 0) {
        const int error = errno;
        if (error == EXDEV && (dwFlags & MOVEFILE_COPY_ALLOWED) != 0 && S_ISREG(source.stx_mode)) {
            const DWORD copyError = CopyContents(from, to, !replace, (dwFlags & MOVEFILE_WRITE_THROUGH) != 0);
            if (copyError != ERROR_SUCCESS)
                return Fail(copyError == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : copyError);
            if (Sys().unlink(from.c_str()) != 0) return Fail(ErrorFromErrno(errno));
            copied = true;
        } else if (error == EEXIST) {
            return Fail(ERROR_ALREADY_EXISTS);
        } else if (error == ENOENT) {
            return Fail(ERROR_PATH_NOT_FOUND);  // the source exists, so the target's folder does not
        } else {
            return Fail(ErrorFromErrno(error));
        }
    }
    if ((dwFlags & MOVEFILE_WRITE_THROUGH) != 0) {
        const std::string targetFolder = ParentOf(to), sourceFolder = ParentOf(from);
        int error = SyncFolder(targetFolder);
        if (error == 0 && (sourceFolder != targetFolder || copied)) error = SyncFolder(sourceFolder);
        if (error != 0) return Fail(WriteError(error));
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR lpFileName) {
    std::string path;
    if (!NarrowPath(lpFileName, path)) return FALSE;
    struct statx info {};
    if (!StatPath(path, false, info)) return Fail(PathErrorFromErrno(errno, path));
    if (S_ISDIR(info.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (!Shares().DeleteAllowed(IdOf(info))) return Fail(ERROR_SHARING_VIOLATION);
    if (Sys().unlink(path.c_str()) != 0) return Fail(PathErrorFromErrno(errno, path));
    return TRUE;
}

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists) {
    std::string from, to;
    if (!NarrowPath(lpExistingFileName, from) || !NarrowPath(lpNewFileName, to)) return FALSE;
    const DWORD error = CopyContents(from, to, bFailIfExists != FALSE, false);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/) {
    std::string path;
    if (!NarrowPath(lpPathName, path)) return FALSE;
    if (Sys().mkdir(path.c_str(), 0777) != 0) return Fail(PathErrorFromErrno(errno, path));
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName) {
    std::string path;
    if (!NarrowPath(lpPathName, path)) return FALSE;
    if (Sys().rmdir(path.c_str()) == 0) return TRUE;
    const int error = errno;
    if (error == ENOTDIR) {
        // Either the name itself or a folder on its path is not a folder.
        struct statx info {};
        return Fail(StatPath(path, false, info) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
    }
    if (error == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
    return Fail(PathErrorFromErrno(error, path));
}

DWORD GetFileAttributesW(LPCWSTR lpFileName) {
    std::string path;
    if (!NarrowPath(lpFileName, path)) return INVALID_FILE_ATTRIBUTES;
    struct statx info {};
    if (!StatPath(path, true, info)) {
        SetLastError(PathErrorFromErrno(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(info, path);
}

BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId, LPVOID lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard || lpFileInformation == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::string path;
    if (!NarrowPath(lpFileName, path)) return FALSE;
    struct statx info {};
    if (!StatPath(path, true, info)) return Fail(PathErrorFromErrno(errno, path));
    auto& data = *static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation);
    data.dwFileAttributes = AttributesOf(info, path);
    const std::uint64_t written = TicksFromStatx(info.stx_mtime);
    data.ftCreationTime =
        FileTimeFromTicks((info.stx_mask & STATX_BTIME) != 0 ? TicksFromStatx(info.stx_btime) : written);
    data.ftLastAccessTime = FileTimeFromTicks(TicksFromStatx(info.stx_atime));
    data.ftLastWriteTime = FileTimeFromTicks(written);
    const std::uint64_t size = S_ISDIR(info.stx_mode) ? 0 : info.stx_size;
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    return TRUE;
}

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    // $TMPDIR when it is an absolute path with a wide form, else /tmp.
    const char* variable = Sys().getenv("TMPDIR");
    std::wstring folder;
    const DWORD lastError = GetLastError();
    if (variable == nullptr || variable[0] != '/' || !WidePath(variable, folder)) {
        folder = L"/tmp";
        SetLastError(lastError);  // not a failure of this call
    }
    if (folder.back() != L'/') folder += L'/';
    return ReturnPath(folder, nBufferLength, lpBuffer);
}

DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    if (lpFilePart != nullptr) *lpFilePart = nullptr;
    if (lpFileName == nullptr || *lpFileName == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    std::string narrow;
    if (!NarrowPath(lpFileName, narrow)) return 0;
    std::wstring input(lpFileName);
    for (wchar_t& c : input) {
        if (c == L'\\') c = L'/';
    }
    if (input.front() != L'/') {
        std::vector<char> cwd(256);
        while (Sys().getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE) {
                SetLastError(ErrorFromErrno(errno));
                return 0;
            }
            cwd.resize(cwd.size() * 2);
        }
        std::wstring folder;
        if (!WidePath(cwd.data(), folder)) return 0;
        input = folder + L"/" + input;
    }
    // Resolve the names textually.
    std::vector<std::wstring> names;
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find(L'/', start);
        if (end == std::wstring::npos) end = input.size();
        const std::wstring name = input.substr(start, end - start);
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    std::wstring result;
    for (const auto& name : names) result += L"/" + name;
    if (result.empty() || input.back() == L'/') result += L'/';

    const DWORD length = ReturnPath(result, nBufferLength, lpBuffer);
    if (length == result.size() && lpFilePart != nullptr && result.back() != L'/') {
        *lpFilePart = lpBuffer + result.rfind(L'/') + 1;
    }
    return length;
}
}

namespace vplatform {

BOOL CreateTemporaryFolder(std::wstring_view prefix, std::wstring& path) {
    std::wstring folder(260, L'\0');
    for (;;) {
        const DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
        if (length == 0) return FALSE;
        if (length < folder.size()) {
            folder.resize(length);
            break;
        }
        folder.resize(length);
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::uint64_t random = 0;
        if (Sys().getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            return Fail(ErrorFromErrno(errno));
        }
        wchar_t digits[17];
        for (int i = 0; i < 16; ++i) digits[i] = L"0123456789abcdef"[(random >> (4 * (15 - i))) & 0xF];
        digits[16] = L'\0';
        std::wstring candidate = folder;
        candidate.append(prefix).append(digits);
        std::string narrow;
        if (!NarrowPath(candidate.c_str(), narrow)) return FALSE;
        if (Sys().mkdir(narrow.c_str(), 0700) == 0) {
            path = std::move(candidate);
            return TRUE;
        }
        if (errno != EEXIST) return Fail(PathErrorFromErrno(errno, narrow));
    }
    return Fail(ERROR_FILE_EXISTS);
}

}  // namespace vplatform

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

#include "platform/internal/ErrnoMap.h"
#include "platform/internal/HandleTable.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/FileDescriptors.h"
#include "platform/nls/CodePage.h"

namespace vplatform {
namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochOffsetSeconds = 11'644'473'600;
constexpr std::uint64_t kMaxSigned64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// --- Paths ----------------------------------------------------------------------

// True when `path` has a UTF-8 form: no lone surrogate, no unit beyond U+10FFFF.
bool HasUtf8Form(LPCWSTR path) {
    for (; *path != 0; ++path) {
        const auto unit = static_cast<std::uint32_t>(*path);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const auto next = static_cast<std::uint32_t>(path[1]);
            if (next < 0xDC00 || next > 0xDFFF) return false;
            ++path;
        } else if ((unit >= 0xDC00 && unit <= 0xDFFF) || unit > 0x10FFFF) {
            return false;
        }
    }
    return true;
}

// The file-system form of a wide Windows-form path; false with the last error
// set when there is none.
bool NarrowPath(LPCWSTR path, std::string& out) {
    if (path == nullptr || *path == 0) return Fail(ERROR_PATH_NOT_FOUND);
    if (!HasUtf8Form(path)) return Fail(ERROR_INVALID_NAME);
    const int size = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return Fail(ERROR_INVALID_NAME);
    out.assign(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, path, -1, out.data(), size, nullptr, nullptr) != size) {
        return Fail(ERROR_INVALID_NAME);
    }
    out.pop_back();  // the terminating zero
    // UTF-8 continuation bytes are never '\\', so bytes can be replaced alone.
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return true;
}

std::wstring WidePath(const std::string& path) {
    if (path.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), out.data(), size);
    return out;
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

std::uint64_t TicksOf(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME FileTimeOf(std::uint64_t ticks) {
    return {static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// Times before 1601 become 0.
std::uint64_t TicksFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    const std::int64_t since1601 = seconds + kEpochOffsetSeconds;
    if (since1601 < 0) return 0;
    return static_cast<std::uint64_t>(since1601) * kTicksPerSecond + static_cast<std::uint64_t>(nanoseconds / 100);
}

timespec TimespecFromTicks(std::uint64_t ticks) {
    timespec out{};
    out.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochOffsetSeconds);
    out.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100);
    return out;
}

std::uint64_t TicksFromStatx(const statx_timestamp& time) {
    return TicksFromUnix(time.tv_sec, time.tv_nsec);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

constexpr std::int64_t kDays1601 = DaysFromCivil(1601, 1, 1);

void SystemTimeFromTicks(std::uint64_t ticks, SYSTEMTIME& out) {
    constexpr std::uint64_t kTicksPerDay = 86'400ull * kTicksPerSecond;
    const auto days = static_cast<std::int64_t>(ticks / kTicksPerDay);
    std::uint64_t rest = ticks % kTicksPerDay;
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days + kDays1601, year, month, day);
    out.wYear = static_cast<WORD>(year);
    out.wMonth = static_cast<WORD>(month);
    out.wDay = static_cast<WORD>(day);
    out.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    out.wHour = static_cast<WORD>(rest / (3600ull * kTicksPerSecond));
    rest %= 3600ull * kTicksPerSecond;
    out.wMinute = static_cast<WORD>(rest / (60ull * kTicksPerSecond));
    rest %= 60ull * kTicksPerSecond;
    out.wSecond = static_cast<WORD>(rest / kTicksPerSecond);
    out.wMilliseconds = static_cast<WORD>((rest % kTicksPerSecond) / 10'000);
}

timespec Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// The offset of local time from UTC in force now, in seconds.
std::int64_t CurrentUtcOffset() {
    const time_t now = time(nullptr);
    struct tm local {};
    if (localtime_r(&now, &local) == nullptr) return 0;
    return local.tm_gmtoff;
}

// Moves `ticks` by `seconds`; false when either end lies outside 0..2^63-1.
bool ShiftTicks(std::uint64_t ticks, std::int64_t seconds, std::uint64_t& out) {
    if (ticks > kMaxSigned64) return false;
    std::int64_t shifted = 0;
    if (__builtin_add_overflow(static_cast<std::int64_t>(ticks), seconds * kTicksPerSecond, &shifted) || shifted < 0) {
        return false;
    }
    out = static_cast<std::uint64_t>(shifted);
    return true;
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

// The access and share modes of this process's open file handles that read or
// write, by file.
class ShareTable {
public:
    using Entry = std::multimap<FileId, ShareEntry>::iterator;

    // Records an open unless it conflicts with one already recorded.
    bool TryAdd(FileId id, DWORD access, DWORD share, Entry& entry) {
        const std::lock_guard lock(m_mutex);
        const auto [first, last] = m_entries.equal_range(id);
        for (auto it = first; it != last; ++it) {
            const ShareEntry& other = it->second;
            if ((access & GENERIC_READ) != 0 && (other.share & FILE_SHARE_READ) == 0) return false;
            if ((access & GENERIC_WRITE) != 0 && (other.share & FILE_SHARE_WRITE) == 0) return false;
            if ((other.access & GENERIC_READ) != 0 && (share & FILE_SHARE_READ) == 0) return false;
            if ((other.access & GENERIC_WRITE) != 0 && (share & FILE_SHARE_WRITE) == 0) return false;
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
        : m_fd(fd), m_access(access), m_regular(regular), m_inheritable(inheritable) {
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
    bool CanRead() const { return (m_access & GENERIC_READ) != 0; }
    bool CanWrite() const { return (m_access & GENERIC_WRITE) != 0; }
    bool Regular() const { return m_regular; }
    void SetShareEntry(ShareTable::Entry entry) {
        m_entry = entry;
        m_shared = true;
    }

private:
    int m_fd;
    DWORD m_access;
    bool m_regular;
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
    if (offset > kMaxSigned64) return Fail(ERROR_INVALID_PARAMETER);
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
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && (dwDesiredAccess & GENERIC_WRITE) == 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string path;
    if (!NarrowPath(lpFileName, path)) return INVALID_HANDLE_VALUE;

    const bool read = (dwDesiredAccess & GENERIC_READ) != 0;
    const bool write = (dwDesiredAccess & GENERIC_WRITE) != 0;
    int flags = (read && write) ? O_RDWR : write ? O_WRONLY : O_RDONLY;
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
    auto object =
        std::make_shared<FileObject>(fd, dwDesiredAccess, known && S_ISREG(info.stx_mode), (flags & O_CLOEXEC) == 0);
    auto fail = [&](DWORD error) {
        object.reset();
        if (created) Sys().unlink(path.c_str());
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    };
    if (!known) return fail(ErrorFromErrno(statError));
    if (S_ISDIR(info.stx_mode) && (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (read || write) {
        ShareTable::Entry entry;
        if (!Shares().TryAdd(IdOf(info), dwDesiredAccess, dwShareMode, entry)) return fail(ERROR_SHARING_VIOLATION);
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
    if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS) {
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    }
    return handle;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
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
    if (!file->CanWrite()) return Fail(ERROR_ACCESS_DENIED);
    if (lpBuffer == nullptr && nNumberOfBytesToWrite != 0) return Fail(ERROR_INVALID_PARAMETER);
    if (lpOverlapped != nullptr && !SeekToOverlapped(file->Fd(), *lpOverlapped)) return FALSE;

    std::size_t written = 0;
    const int error = WriteAll(file->Fd(), static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite, written);
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(written);
    if (lpOverlapped != nullptr) lpOverlapped->InternalHigh = written;
    return error == 0 ? TRUE : Fail(WriteError(error));
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
        *lpCreationTime = FileTimeOf((info.stx_mask & STATX_BTIME) != 0 ? TicksFromStatx(info.stx_btime) : written);
    }
    if (lpLastAccessTime != nullptr) *lpLastAccessTime = FileTimeOf(TicksFromStatx(info.stx_atime));
    if (lpLastWriteTime != nullptr) *lpLastWriteTime = FileTimeOf(written);
    return TRUE;
}

BOOL SetFileTime(HANDLE hFile, const FILETIME* /*lpCreationTime*/, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime) {
    const auto file = KernelHandles().Lookup<FileObject>(hFile);
    if (!file) return FALSE;
    if (!file->CanWrite()) return Fail(ERROR_ACCESS_DENIED);
    // Null, 0 and 0xFFFFFFFF'FFFFFFFF leave a time unchanged, as they do on
    // Windows (where the last also stops later updates through the handle).
    timespec times[2];
    const FILETIME* inputs[2] = {lpLastAccessTime, lpLastWriteTime};
    for (int i = 0; i < 2; ++i) {
        const std::uint64_t ticks = inputs[i] == nullptr ? 0 : TicksOf(*inputs[i]);
        if (ticks == 0 || ticks == std::numeric_limits<std::uint64_t>::max()) {
            times[i] = {0, UTIME_OMIT};
        } else if (ticks > kMaxSigned64) {
            return Fail(ERROR_INVALID_PARAMETER);
        } else {
            times[i] = TimespecFromTicks(ticks);
        }
    }
    if (Sys().futimens(file->Fd(), times) != 0) return Fail(ErrorFromErrno(errno));
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    if (lpSystemTimeAsFileTime == nullptr) return;
    const timespec now = Now();
    *lpSystemTimeAsFileTime = FileTimeOf(TicksFromUnix(now.tv_sec, now.tv_nsec));
}

void GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr) return;
    const timespec now = Now();
    SystemTimeFromTicks(TicksFromUnix(now.tv_sec, now.tv_nsec), *lpSystemTime);
}

void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    if (lpSystemTime == nullptr) return;
    const timespec now = Now();
    struct tm local {};
    if (localtime_r(&now.tv_sec, &local) == nullptr) {
        GetSystemTime(lpSystemTime);
        return;
    }
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    // A leap second shows as the 59th, as SYSTEMTIME has no 60th.
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1'000'000);
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const std::uint64_t ticks = TicksOf(*lpFileTime);
    if (ticks > kMaxSigned64) return Fail(ERROR_INVALID_PARAMETER);
    SystemTimeFromTicks(ticks, *lpSystemTime);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const SYSTEMTIME& t = *lpSystemTime;
    static constexpr unsigned kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wHour > 23 || t.wMinute > 59 ||
        t.wSecond > 59 || t.wMilliseconds > 999 || t.wDay < 1) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
    if (t.wDay > kDaysInMonth[t.wMonth - 1] + (t.wMonth == 2 && leap ? 1 : 0)) return Fail(ERROR_INVALID_PARAMETER);
    const auto days = static_cast<std::uint64_t>(DaysFromCivil(t.wYear, t.wMonth, t.wDay) - kDays1601);
    const std::uint64_t seconds = days * 86'400 + t.wHour * 3600ull + t.wMinute * 60ull + t.wSecond;
    *lpFileTime = FileTimeOf(seconds * kTicksPerSecond + t.wMilliseconds * 10'000ull);
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime) {
    if (lpFileTime == nullptr || lpLocalFileTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::uint64_t shifted = 0;
    if (!ShiftTicks(TicksOf(*lpFileTime), CurrentUtcOffset(), shifted)) return Fail(ERROR_INVALID_PARAMETER);
    *lpLocalFileTime = FileTimeOf(shifted);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime) {
    if (lpLocalFileTime == nullptr || lpFileTime == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    std::uint64_t shifted = 0;
    if (!ShiftTicks(TicksOf(*lpLocalFileTime), -CurrentUtcOffset(), shifted)) return Fail(ERROR_INVALID_PARAMETER);
    *lpFileTime = FileTimeOf(shifted);
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
    data.ftCreationTime = FileTimeOf((info.stx_mask & STATX_BTIME) != 0 ? TicksFromStatx(info.stx_btime) : written);
    data.ftLastAccessTime = FileTimeOf(TicksFromStatx(info.stx_atime));
    data.ftLastWriteTime = FileTimeOf(written);
    const std::uint64_t size = S_ISDIR(info.stx_mode) ? 0 : info.stx_size;
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    return TRUE;
}

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer) {
    const char* variable = getenv("TMPDIR");
    std::string folder = variable != nullptr && variable[0] == '/' ? variable : "/tmp";
    if (folder.back() != '/') folder += '/';
    return ReturnPath(WidePath(folder), nBufferLength, lpBuffer);
}

DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart) {
    if (lpFilePart != nullptr) *lpFilePart = nullptr;
    if (lpFileName == nullptr || *lpFileName == 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (!HasUtf8Form(lpFileName)) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
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
        input = WidePath(cwd.data()) + L"/" + input;
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

// What the file functions by handle (files.cpp) and by name
// (file_names.cpp) share: the path forms, the share modes of the open file
// handles, and the system calls retried through EINTR.
#pragma once

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/WinTypes.h"
#include "platform/internal/PlatformLock.h"
#include "platform/kernel/Files.h"

namespace vplatform::files {

// SetLastError(error); FALSE.
BOOL Fail(DWORD error);

// The file-system form of a wide Windows-form path; false with the last error
// set when there is none.
bool NarrowPath(LPCWSTR path, std::string& out);

// The folder holding `path` ("." for a name in the current folder).
std::string ParentOf(const std::string& path);

// A statx time stamp as FILETIME ticks.
std::uint64_t TicksFromStatx(const statx_timestamp& time);

// --- Share modes ---

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator<(const FileId& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

FileId IdOf(const struct statx& info);

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
inline bool Shared(DWORD access, DWORD share) {
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
    PlatformMutex m_mutex;
    std::multimap<FileId, ShareEntry> m_entries;
};

// The table of the process (never destroyed: handles may outlive static
// destruction).
ShareTable& Shares();

// --- System calls ---

// open(2), retried while interrupted.
int OpenRetrying(const std::string& path, int flags, mode_t mode);
// statx(2) of a path (following links or not) and of a descriptor, with the
// basic fields and the birth time.
bool StatPath(const std::string& path, bool followLinks, struct statx& info);
bool StatFd(int fd, struct statx& info);
// Writes all of `size` bytes; returns 0 or the errno value that stopped it
// (EIO for a write that made no progress).
int WriteAll(int fd, const char* data, std::size_t size, std::size_t& written);
// fsync(2), retried while interrupted; 0 or an errno value.
int FsyncRetrying(int fd);
// The Windows error of a failed write (EIO is ERROR_WRITE_FAULT).
DWORD WriteError(int error);

}  // namespace vplatform::files

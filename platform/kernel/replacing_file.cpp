// Replacing a file's content through a locked temporary file beside it.
#include "platform/kernel/ReplacingFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/WinError.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/internal/FileCalls.h"

namespace vplatform {
namespace {

// Attempts at an unused temporary name; each name is random, so a second
// attempt is already rare.
constexpr int kAttempts = 16;
// Links followed before a path counts as a loop, as the kernel counts them.
constexpr int kMaxLinks = 40;

int OpenRetrying(const std::string& path, int flags, mode_t mode) {
    for (;;) {
        const int fd = Sys().open(path.c_str(), flags, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

bool Stat(const std::string& path, bool followLinks, struct statx& info) {
    return Sys().statx(AT_FDCWD, path.c_str(), followLinks ? 0 : AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &info) == 0;
}

bool SameFile(const struct statx& a, const struct statx& b) {
    return a.stx_ino == b.stx_ino && a.stx_dev_major == b.stx_dev_major && a.stx_dev_minor == b.stx_dev_minor;
}

// True while `path` still names the file open at `fd`.
bool StillNamed(const std::string& path, int fd) {
    struct statx byName {
    }, byFd{};
    return Stat(path, false, byName) && Sys().statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &byFd) == 0 &&
           SameFile(byName, byFd);
}

// The folder part of a file-system path, with its separator ("" for a name
// in the current folder).
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the link `path` (described by `link`) may be followed, by the
// kernel's rule for sticky folders that everyone may write (/tmp): there only
// a link of the process's own user or of the folder's owner is followed, so
// that another user's link cannot point a save at the user's files.  Links
// elsewhere are followed.
bool MayFollow(const std::string& path, const struct statx& link) {
    if (link.stx_uid == Sys().geteuid()) return true;
    const std::string folderPath = FolderOf(path);
    struct statx folder {};
    if (!Stat(folderPath.empty() ? std::string(".") : folderPath, true, folder)) return false;
    const bool shared = (folder.stx_mode & S_ISVTX) != 0 && (folder.stx_mode & S_IWOTH) != 0;
    return !shared || folder.stx_uid == link.stx_uid;
}

// Follows the symbolic links that `path` names, the last element only: the
// file that gets the content.  0 or an errno value (ELOOP; EACCES for a link
// MayFollow refuses).
int ResolveLinks(std::string& path) {
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        struct statx info {};
        if (!Stat(path, false, info) || !S_ISLNK(info.stx_mode)) return 0;  // a missing name is created
        if (!MayFollow(path, info)) return EACCES;
        std::string link(256, '\0');
        for (;;) {
            const ssize_t length = Sys().readlink(path.c_str(), link.data(), link.size());
            if (length < 0) return errno;
            if (static_cast<std::size_t>(length) < link.size()) {
                link.resize(static_cast<std::size_t>(length));
                break;
            }
            link.resize(link.size() * 2);
        }
        path = link.front() == '/' ? link : FolderOf(path) + link;
    }
    return ELOOP;
}

// The beginning of the temporary names of the file `name`: a hash of the
// name keeps temporary names short whatever the name's length, and tells a
// later save which leftovers belong to its file.
std::string TemporaryPrefix(const std::string& name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    char text[16];
    std::snprintf(text, sizeof text, ".%08x~", hash);
    return text;
}
constexpr std::string_view kTemporarySuffix = ".tmp";

// A new temporary name for the file `name`: the prefix, 64 random bits and
// the suffix, so that no other user can compute it beforehand (and occupy
// it); 0 or an errno value.
int TemporaryName(const std::string& name, std::string& out) {
    std::uint64_t random = 0;
    for (std::size_t got = 0; got < sizeof random;) {
        const ssize_t n = Sys().getrandom(reinterpret_cast<char*>(&random) + got, sizeof random - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        got += static_cast<std::size_t>(n);
    }
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random));
    out = TemporaryPrefix(name) + text + std::string(kTemporarySuffix);
    return 0;
}

// Removes the temporary file `path` when the save that wrote it is gone: its
// writer's lock is free.  The lock is kept until the name is removed, so a
// writer that has just created the name and not yet locked it finds it gone
// when it checks, and tries another name.
void RemoveIfAbandoned(const std::string& path) {
    // A read lock, which needs no write permission, conflicts with a
    // writer's lock all the same.
    const int fd = OpenRetrying(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
    if (fd < 0) return;
    if (Sys().ofd_setlk(fd, F_RDLCK) == 0 && StillNamed(path, fd)) Sys().unlink(path.c_str());
    Sys().close(fd);
}

// Removes the temporary files of earlier saves of the file `name` in
// `folder` whose saves were killed.  A folder that cannot be listed keeps
// them.
void RemoveLeftovers(const std::string& folder, const std::string& name) {
    DIR* listing = Sys().opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) return;
    const std::string prefix = TemporaryPrefix(name);
    std::vector<std::string> leftovers;
    while (const struct dirent* entry = Sys().readdir(listing)) {
        const std::string_view entryName = entry->d_name;
        if (entryName.size() > prefix.size() + kTemporarySuffix.size() && entryName.starts_with(prefix) &&
            entryName.ends_with(kTemporarySuffix)) {
            leftovers.emplace_back(entryName);
        }
    }
    Sys().closedir(listing);
    for (const std::string& leftover : leftovers) RemoveIfAbandoned(folder + leftover);
}

// Creates, locks and claims a temporary file; the descriptor, or -1 with
// errno set (EEXIST when the name is taken).
int CreateTemporary(const std::string& path, mode_t mode) {
    const int fd = OpenRetrying(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd < 0) return -1;
    if (Sys().ofd_setlk(fd, F_WRLCK) != 0 || !StillNamed(path, fd)) {
        // Another save's clean-up took the new name for a leftover (it removes
        // it): the slot counts as taken.
        Sys().close(fd);
        errno = EEXIST;
        return -1;
    }
    return fd;
}

// Failures of creating a temporary file after which the file is written in
// place: the folder refuses new names, or has no room for one.
bool WriteInPlaceAfter(int error) {
    return error == EACCES || error == EPERM || error == ENAMETOOLONG || error == ENOSPC || error == EDQUOT ||
           error == EMLINK;
}

}  // namespace

ReplacingFileWriter::~ReplacingFileWriter() {
    Abandon();
}

DWORD ReplacingFileWriter::Fail(DWORD error) {
    m_error = error;
    SetLastError(error);
    return error;
}

void ReplacingFileWriter::Abandon() noexcept {
    if (m_fd < 0) return;
    if (!m_temporary.empty() && StillNamed(m_temporary, m_fd)) Sys().unlink(m_temporary.c_str());
    Sys().close(m_fd);
    m_fd = -1;
}

DWORD ReplacingFileWriter::Open(std::wstring_view path) {
    if (m_error != ERROR_SUCCESS) return Fail(m_error);
    if (m_fd >= 0) return Fail(ERROR_INVALID_FUNCTION);
    std::string target;
    if (!ToFileSystemPath(path, target)) return Fail(GetLastError());
    const std::string given = target;
    if (const int error = ResolveLinks(target)) return Fail(PathErrorFromErrno(error, target));
    // The wide name of the file that gets the content, for the rename; a link
    // to a name without one is written through in place.
    bool inPlace = false;
    if (target == given) {
        m_targetWide.assign(path);
    } else if (!FromFileSystemPath(target, m_targetWide)) {
        inPlace = true;
    }

    struct statx info {};
    const bool exists = Stat(target, true, info);
    if (!exists && errno != ENOENT) return Fail(PathErrorFromErrno(errno, target));
    if (exists) {
        if (S_ISDIR(info.stx_mode)) return Fail(ERROR_ACCESS_DENIED);
        if (!S_ISREG(info.stx_mode)) inPlace = true;
        // A read-only file refuses writing whoever asks, as on Windows; other
        // refusals come from the permissions of the process.
        if (S_ISREG(info.stx_mode) && (info.stx_mode & S_IWUSR) == 0) return Fail(ERROR_ACCESS_DENIED);
        const int probe = OpenRetrying(target, O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0);
        if (probe < 0) return Fail(PathErrorFromErrno(errno, target));
        Sys().close(probe);
    }

    if (!inPlace) {
        const std::string folder = FolderOf(target), name = NameOf(target);
        RemoveLeftovers(folder, name);
        // The content stays private until it has the file's own permissions.
        const mode_t mode = exists ? 0600 : 0666;
        int error = EEXIST;
        for (int attempt = 0; attempt < kAttempts && error == EEXIST; ++attempt) {
            std::string temporaryName;
            if ((error = TemporaryName(name, temporaryName)) != 0) break;
            const std::string temporary = folder + temporaryName;
            m_fd = CreateTemporary(temporary, mode);
            if (m_fd >= 0) {
                m_temporary = temporary;
                error = 0;
            } else {
                error = errno;
            }
        }
        if (error == EEXIST) return Fail(ERROR_FILE_EXISTS);
        if (error != 0 && !WriteInPlaceAfter(error)) return Fail(PathErrorFromErrno(error, target));
        if (error == 0) {
            if (exists) {
                // The owner first: changing it clears the set-id bits that the
                // mode then gives back.  A process that may not give the file
                // away may still be able to keep its group.
                if (Sys().fchown(m_fd, info.stx_uid, info.stx_gid) != 0) {
                    Sys().fchown(m_fd, static_cast<uid_t>(-1), info.stx_gid);
                }
                Sys().fchmod(m_fd, info.stx_mode & 07777);
            }
            // The wide name of the temporary file: the target's folder part
            // and an ASCII name.
            const std::size_t slash = m_targetWide.find_last_of(L"/\\");
            const std::string temporaryName = NameOf(m_temporary);
            m_temporaryWide = slash == std::wstring::npos ? std::wstring() : m_targetWide.substr(0, slash + 1);
            m_temporaryWide.append(temporaryName.begin(), temporaryName.end());
            return ERROR_SUCCESS;
        }
    }

    m_temporary.clear();
    // The links are resolved: one that appears meanwhile is not followed.
    m_fd = OpenRetrying(target, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (m_fd < 0) return Fail(PathErrorFromErrno(errno, target));
    return ERROR_SUCCESS;
}

DWORD ReplacingFileWriter::Write(std::string_view bytes) {
    if (m_error != ERROR_SUCCESS) return Fail(m_error);
    if (m_fd < 0) return Fail(ERROR_INVALID_HANDLE);
    std::size_t written = 0;
    if (const int error = files::WriteAll(m_fd, bytes.data(), bytes.size(), written)) {
        Abandon();
        return Fail(files::WriteError(error));
    }
    return ERROR_SUCCESS;
}

DWORD ReplacingFileWriter::Commit() {
    if (m_error != ERROR_SUCCESS) return Fail(m_error);
    if (m_fd < 0) return Fail(ERROR_INVALID_HANDLE);
    DWORD error = ERROR_SUCCESS;
    const int failure = files::FsyncRetrying(m_fd);
    // A device written in place may have nothing to flush.
    if (failure != 0 && !(failure == EINVAL && m_temporary.empty())) error = files::WriteError(failure);
    if (m_temporary.empty()) {
        // Written in place: a delayed write error shows at close.
        if (Sys().close(m_fd) != 0 && error == ERROR_SUCCESS && errno != EINTR) error = files::WriteError(errno);
        m_fd = -1;
        return error == ERROR_SUCCESS ? ERROR_SUCCESS : Fail(error);
    }
    if (error == ERROR_SUCCESS && !MoveFileExW(m_temporaryWide.c_str(), m_targetWide.c_str(),
                                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error == ERROR_SUCCESS) {
        // The lock goes with the descriptor, once the name is in place.
        Sys().close(m_fd);
        m_fd = -1;
        return ERROR_SUCCESS;
    }
    // A rename whose flush failed has moved the name already: Abandon removes
    // the temporary name only while it is still this file's.
    Abandon();
    return Fail(error);
}

DWORD ReplaceFileContent(std::wstring_view path, std::string_view bytes) {
    ReplacingFileWriter writer;
    DWORD error = writer.Open(path);
    if (error == ERROR_SUCCESS) error = writer.Write(bytes);
    if (error == ERROR_SUCCESS) error = writer.Commit();
    if (error != ERROR_SUCCESS) SetLastError(error);
    return error;
}

}  // namespace vplatform

// The private fallback folder of the user's shared state.
#include "platform/internal/UserStateFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/internal/Syscalls.h"

namespace vplatform {
namespace {

constexpr const char* kRecordFolder = "vlibincludes";
constexpr const char* kRecordFile = "state-folder";

// The user's cache folder: $XDG_CACHE_HOME, else $HOME/.cache, else the
// user database's home with /.cache; empty when none is known.
std::string CacheFolder(uid_t uid) {
    const char* cache = Sys().getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return cache;
    const char* home = Sys().getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache";
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (Sys().getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        entry.pw_dir != nullptr && entry.pw_dir[0] == '/') {
        return std::string(entry.pw_dir) + "/.cache";
    }
    return {};
}

// The user's own folder that no one else may write (reading is allowed: a
// home's cache is often 0755).
bool OwnClosedToWrites(const struct statx& info, uid_t uid) {
    return S_ISDIR(info.stx_mode) && info.stx_uid == uid && (info.stx_mode & 022) == 0;
}

int OpenRecord(uid_t uid) {
    const std::string cache = CacheFolder(uid);
    if (cache.empty()) {
        errno = ENOENT;
        return -1;
    }
    if (Sys().mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    struct statx info {};
    // The cache folder itself may be the user's link to another disk.
    if (Sys().statx(AT_FDCWD, cache.c_str(), 0, STATX_TYPE | STATX_MODE | STATX_UID, &info) != 0) return -1;
    if (!OwnClosedToWrites(info, uid)) {
        errno = EACCES;
        return -1;
    }
    const std::string folder = cache + "/" + kRecordFolder;
    if (Sys().mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    int dir = -1;
    while ((dir = Sys().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0)) < 0 &&
           errno == EINTR) {
    }
    if (dir < 0) return -1;
    if (Sys().statx(dir, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_UID, &info) != 0 ||
        !OwnClosedToWrites(info, uid)) {
        Sys().close(dir);
        errno = EACCES;
        return -1;
    }
    int fd = -1;
    while ((fd = Sys().openat(dir, kRecordFile, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600)) < 0 &&
           errno == EINTR) {
    }
    Sys().close(dir);
    if (fd < 0) return -1;
    if (Sys().statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_UID, &info) != 0 ||
        !S_ISREG(info.stx_mode) || info.stx_uid != uid || (info.stx_mode & 022) != 0) {
        Sys().close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

// The recorded path (up to its line end), or empty.
std::string ReadRecord(int fd) {
    std::array<char, 4096> text{};
    ssize_t got = -1;
    while ((got = Sys().pread(fd, text.data(), text.size(), 0)) < 0 && errno == EINTR) {
    }
    if (got <= 0) return {};
    std::string path(text.data(), static_cast<std::size_t>(got));
    if (const auto end = path.find('\n'); end != std::string::npos) path.resize(end);
    return path;
}

bool WriteRecord(int fd, const std::string& path) {
    const std::string line = path + "\n";
    if (Sys().ftruncate(fd, 0) != 0) return false;
    ssize_t put = -1;
    while ((put = Sys().pwrite(fd, line.data(), line.size(), 0)) < 0 && errno == EINTR) {
    }
    if (put != static_cast<ssize_t>(line.size())) {
        if (put >= 0) errno = ENOSPC;
        return false;
    }
    return true;
}

}  // namespace

bool PrivateFolderOf(const std::string& path, uid_t uid) {
    struct statx info {};
    return !path.empty() && path.front() == '/' &&
           Sys().statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MODE | STATX_UID, &info) == 0 &&
           S_ISDIR(info.stx_mode) && info.stx_uid == uid && (info.stx_mode & 077) == 0;
}

bool UserStateFallbackFolder(uid_t uid, std::string& path) {
    const int fd = OpenRecord(uid);
    if (fd < 0) return false;
    int locked = -1;
    while ((locked = Sys().flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    bool found = false;
    int error = 0;
    if (locked != 0) {
        error = errno;
    } else if (path = ReadRecord(fd); PrivateFolderOf(path, uid)) {
        found = true;
    } else {
        const char* tmp = Sys().getenv("TMPDIR");
        std::string name = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/vlibincludes-" +
                           std::to_string(uid) + "-XXXXXX";
        if (Sys().mkdtemp(name.data()) == nullptr) {
            error = errno;
        } else if (!WriteRecord(fd, name)) {
            error = errno;
            Sys().rmdir(name.c_str());
        } else {
            path = name;
            found = true;
        }
    }
    Sys().close(fd);  // also gives the lock back
    if (!found) errno = error != 0 ? error : EACCES;
    return found;
}

}  // namespace vplatform

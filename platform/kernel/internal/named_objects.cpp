// Lock files of named kernel objects.
#include "platform/kernel/internal/NamedObjects.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/WinError.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/internal/UserStateFolder.h"

namespace vplatform {
namespace {

constexpr std::size_t kPieceLength = 200;

// A folder of ours: created 0700 when missing, then checked to be a real
// folder, ours and closed to others.
bool UsableFolder(const std::string& path) {
    if (Sys().mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct statx info {};
    if (Sys().statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MODE | STATX_UID, &info) != 0) {
        return false;
    }
    return S_ISDIR(info.stx_mode) && info.stx_uid == Sys().getuid() && (info.stx_mode & 077) == 0;
}

bool ObjectsFolder(std::string& folder) {
    const char* runtime = Sys().getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        folder = std::string(runtime) + "/vlibincludes-objects";
        if (UsableFolder(folder)) return true;
    }
    folder = "/tmp/vlibincludes-objects-" + std::to_string(Sys().getuid());
    if (UsableFolder(folder)) return true;
    // The fixed name is another user's: the user's private fallback folder.
    std::string fallback;
    if (UserStateFallbackFolder(Sys().getuid(), fallback)) {
        folder = fallback + "/vlibincludes-objects";
        if (UsableFolder(folder)) return true;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

int OpenFile(const std::string& path) {
    int fd = -1;
    while ((fd = Sys().open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600)) < 0 &&
           errno == EINTR) {
    }
    return fd;
}

int Lock(int fd, int operation) {
    int result = 0;
    while ((result = Sys().flock(fd, operation)) != 0 && errno == EINTR) {
    }
    return result;
}

// Holds the folder's guard file locked exclusively for its lifetime.
class Guard {
public:
    explicit Guard(const std::string& folder) : m_fd(OpenFile(folder + "/guard")) {
        if (m_fd >= 0 && Lock(m_fd, LOCK_EX) != 0) {
            Sys().close(m_fd);
            m_fd = -1;
        }
    }
    ~Guard() {
        if (m_fd >= 0) Sys().close(m_fd);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd;
};

}  // namespace

std::string LockFilePathOf(std::wstring_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    auto escape = [&escaped](std::uint32_t unit) {
        escaped += '%';
        for (int shift = 12; shift >= 0; shift -= 4) escaped += kHex[(unit >> shift) & 0xF];
    };
    for (const wchar_t c : name) {
        const auto unit = static_cast<std::uint32_t>(c);
        if (unit > 0xFFFF) {
            // A code point beyond the BMP, as its surrogate pair.
            escape(0xD800 + ((unit - 0x10000) >> 10));
            escape(0xDC00 + ((unit - 0x10000) & 0x3FF));
        } else if ((unit >= 'A' && unit <= 'Z') || (unit >= 'a' && unit <= 'z') || (unit >= '0' && unit <= '9') ||
                   unit == '_' || unit == '-') {
            escaped += static_cast<char>(unit);
        } else {
            escape(unit);
        }
    }
    std::string path;
    for (std::size_t start = 0;; start += kPieceLength) {
        if (escaped.size() - start <= kPieceLength) {
            path += escaped.substr(start) + ".lock";
            return path;
        }
        path += escaped.substr(start, kPieceLength) + ".d/";
    }
}

std::unique_ptr<NamedLock> NamedLock::Acquire(std::wstring_view name, std::string_view initial, bool openOnly,
                                              bool& existed) {
    std::string folder;
    if (!ObjectsFolder(folder)) return nullptr;
    const Guard guard(folder);
    if (!guard.Held()) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    const std::string relative = LockFilePathOf(name);
    // The folders of a long name.
    for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
        const std::string path = folder + "/" + relative.substr(0, slash);
        if (Sys().mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
    }
    const int fd = OpenFile(folder + "/" + relative);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    std::unique_ptr<NamedLock> lock(new NamedLock(fd));
    // Nobody holds it when an exclusive lock can be had; converting it to a
    // shared one is safe under the guard.
    if (Lock(fd, LOCK_EX | LOCK_NB) == 0) {
        existed = false;
    } else if (errno == EWOULDBLOCK) {
        existed = true;
    } else {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (!existed && openOnly) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!existed) {
        // The first holder: the kind and the initial state, for the openers.
        ssize_t put = -1;
        while ((put = Sys().pwrite(fd, initial.data(), initial.size(), 0)) < 0 && errno == EINTR) {
        }
        if (put != static_cast<ssize_t>(initial.size())) {
            SetLastErrorFromErrno(put < 0 ? errno : ENOSPC);
            return nullptr;
        }
    } else {
        char kind = 0;
        ssize_t got = -1;
        while ((got = Sys().pread(fd, &kind, 1, 0)) < 0 && errno == EINTR) {
        }
        if (got < 0) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        if (got == 0) kind = 'M';
        if (initial.empty() || kind != initial.front()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    if (Lock(fd, LOCK_SH | LOCK_NB) != 0) {
        SetLastError(errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
        return nullptr;
    }
    return lock;
}

NamedLock::~NamedLock() {
    Sys().close(m_fd);
}

}  // namespace vplatform

// RegisterWindowMessageW: one number per name for all the user's processes,
// from a table file of fixed-size records read and appended under flock.
//
// File layout: a 16-byte header ("VLIBWMSG", format 1, zeros), then records
// of 512 bytes: the name's length in UTF-16 units (2 bytes, little-endian,
// 1-255) and its units (little-endian), as first registered.  Record i is
// the number 0xC000 + i.  A record cut short by a process that died while
// appending is not counted and is overwritten by the next append.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/internal/Syscalls.h"
#include "platform/internal/UserStateFolder.h"
#include "platform/nls/CodePage.h"
#include "platform/user/Messages.h"
#include "platform/user/internal/MessageTable.h"
#include "platform/user/internal/WindowClasses.h"

namespace vplatform::user {
namespace {

constexpr UINT kFirstNumber = 0xC000;
constexpr std::size_t kNumbers = 0x4000;
constexpr std::size_t kLongestName = 255;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kRecordSize = 512;
constexpr std::array<char, kHeaderSize> kHeader{'V', 'L', 'I', 'B', 'W', 'M', 'S', 'G', 1};
constexpr const char* kFileName = "vlib-window-messages";

std::atomic<DWORD> g_lockTimeout{2000};

// Whole reads and writes at `offset` (never through the descriptor's
// offset, which a forked child shares); false on failure or end of file.
bool ReadAt(int fd, off_t offset, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = Sys().pread(fd, data, size, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        offset += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAt(int fd, off_t offset, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = Sys().pwrite(fd, data, size, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        offset += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// The descriptor's file: of `type`, the user's own, open to nobody else.
bool Private(int fd, unsigned type, struct statx& info) {
    if (Sys().statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_MODE | STATX_UID | STATX_SIZE, &info) != 0) return false;
    return (info.stx_mode & S_IFMT) == type && info.stx_uid == Sys().geteuid() && (info.stx_mode & 077) == 0;
}

// Opens the table's folder: $XDG_RUNTIME_DIR, else /tmp/vlib-<uid> (made
// with mode 0700), else, when another user has taken that name, the user's
// private fallback folder.  -1 when there is no safe one.
int OpenFolder(std::string& path) {
    const char* runtime = Sys().getenv("XDG_RUNTIME_DIR");
    const bool inRuntime = runtime != nullptr && *runtime != '\0';
    if (inRuntime) {
        path = runtime;
        if (path.front() != '/') return -1;
    } else {
        path = "/tmp/vlib-" + std::to_string(Sys().geteuid());
        if (Sys().mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return -1;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd;
        while ((fd = Sys().open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0)) < 0 &&
               errno == EINTR) {
        }
        struct statx info {};
        if (fd >= 0 && Private(fd, S_IFDIR, info)) return fd;
        if (fd >= 0) Sys().close(fd);
        if (inRuntime || attempt > 0 || !UserStateFallbackFolder(Sys().geteuid(), path)) break;
    }
    return -1;
}

// Tells once per process, on standard error, that this process numbers its
// messages alone: other processes give the same names other numbers.
void WarnLocal(const char* reason) {
    static std::atomic<bool> told{false};
    if (told.exchange(true)) return;
    const std::string line = std::string("vlibincludes: RegisterWindowMessageW: ") + reason +
                             "; this process numbers its registered messages alone, other processes of the user "
                             "give the same names other numbers\n";
    [[maybe_unused]] const ssize_t written = Sys().write(2, line.data(), line.size());
}

class MessageTable {
public:
    UINT Register(const std::wstring& name) {
        const std::wstring folded = FoldCase(name);
        const std::lock_guard lock(m_mutex);
        if (const auto it = m_given.find(folded); it != m_given.end()) return it->second;
        ReopenInChild();
        if (m_state == State::Unopened) Open();
        UINT number = 0;
        if (m_state == State::Shared) {
            if (const auto it = m_inFile.find(folded); it != m_inFile.end()) {
                number = it->second;
            } else if (!Shared(name, folded, number)) {
                SwitchToLocal("the table file cannot be used (its lock not had in time, damaged or full)");
            }
        }
        if (m_state == State::Local && number == 0) {
            const auto free = std::find(m_used.begin(), m_used.end(), false);
            if (free == m_used.end()) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return 0;
            }
            number = kFirstNumber + static_cast<UINT>(free - m_used.begin());
        }
        m_given.emplace(folded, number);
        m_used[number - kFirstNumber] = true;
        return number;
    }

    bool SharedPath(std::string& path) {
        const std::lock_guard lock(m_mutex);
        ReopenInChild();
        if (m_state == State::Unopened) Open();
        if (m_state != State::Shared) return false;
        path = m_path;
        return true;
    }

private:
    enum class State { Unopened, Shared, Local };

    // A forked child shares the open file (its lock among others) with its
    // parent: the lock would not keep the two apart, so the child opens the
    // file anew.  What the parent had read stays valid.
    void ReopenInChild() {
        if (m_state != State::Shared || m_pid == Sys().getpid()) return;
        Sys().close(m_fd);
        m_fd = -1;
        m_state = State::Unopened;
    }

    void Open() {
        std::string folder;
        const int dir = OpenFolder(folder);
        if (dir < 0) {
            SwitchToLocal("no private folder for the shared table");
            return;
        }
        int fd;
        while ((fd = Sys().openat(dir, kFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600)) < 0 &&
               errno == EINTR) {
        }
        Sys().close(dir);
        struct statx info {};
        if (fd < 0 || !Private(fd, S_IFREG, info)) {
            if (fd >= 0) Sys().close(fd);
            SwitchToLocal("the shared table file cannot be opened or is not the user's own");
            return;
        }
        m_fd = fd;
        m_pid = Sys().getpid();
        m_path = folder + "/" + kFileName;
        m_state = State::Shared;
    }

    void SwitchToLocal(const char* reason) {
        WarnLocal(reason);
        if (m_fd >= 0) Sys().close(m_fd);
        m_fd = -1;
        m_inFile.clear();
        m_state = State::Local;
    }

    // Takes the file's lock within the timeout.
    bool Lock() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(g_lockTimeout.load());
        auto pause = std::chrono::microseconds(200);
        for (;;) {
            if (Sys().flock(m_fd, LOCK_EX | LOCK_NB) == 0) return true;
            if (errno != EWOULDBLOCK && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(20'000));
        }
    }

    // Reads the records appended since the last read; false for a damaged
    // file.  `count` is the number of whole records.
    bool ReadNew(std::size_t& count) {
        struct statx info {};
        if (Sys().statx(m_fd, "", AT_EMPTY_PATH, STATX_SIZE, &info) != 0) return false;
        if (info.stx_size == 0) {
            if (!WriteAt(m_fd, 0, kHeader.data(), kHeader.size())) return false;
            info.stx_size = kHeader.size();
        }
        std::array<char, kHeaderSize> header{};
        if (info.stx_size < kHeaderSize || !ReadAt(m_fd, 0, header.data(), header.size()) || header != kHeader) {
            return false;
        }
        count = std::min<std::size_t>((info.stx_size - kHeaderSize) / kRecordSize, kNumbers);
        std::array<char, kRecordSize> record{};
        for (; m_read < count; ++m_read) {
            if (!ReadAt(m_fd, static_cast<off_t>(kHeaderSize + m_read * kRecordSize), record.data(), record.size()))
                return false;
            const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
            const std::size_t length = bytes[0] | (std::size_t{bytes[1]} << 8);
            if (length == 0 || length > kLongestName) return false;
            std::wstring name(length, L'\0');
            for (std::size_t i = 0; i < length; ++i) {
                name[i] = static_cast<wchar_t>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
            }
            m_inFile.emplace(FoldCase(name), kFirstNumber + static_cast<UINT>(m_read));
        }
        return true;
    }

    // Finds or appends `name` in the file; false when the file cannot be
    // used (lock not had in time, damaged, full, not writable).
    bool Shared(const std::wstring& name, const std::wstring& folded, UINT& number) {
        if (!Lock()) return false;
        std::size_t count = 0;
        bool usable = ReadNew(count);
        if (usable) {
            if (const auto it = m_inFile.find(folded); it != m_inFile.end()) {
                number = it->second;
            } else if (count < kNumbers) {
                std::array<char, kRecordSize> record{};
                record[0] = static_cast<char>(name.size() & 0xFF);
                record[1] = static_cast<char>(name.size() >> 8);
                for (std::size_t i = 0; i < name.size(); ++i) {
                    record[2 + 2 * i] = static_cast<char>(name[i] & 0xFF);
                    record[3 + 2 * i] = static_cast<char>((name[i] >> 8) & 0xFF);
                }
                usable =
                    WriteAt(m_fd, static_cast<off_t>(kHeaderSize + count * kRecordSize), record.data(), record.size());
                if (usable) {
                    number = kFirstNumber + static_cast<UINT>(count);
                    m_inFile.emplace(folded, number);
                    m_read = count + 1;
                }
            } else {
                usable = false;
            }
        }
        Sys().flock(m_fd, LOCK_UN);
        return usable;
    }

    std::mutex m_mutex;  // held across file access: not a platform lock
    State m_state = State::Unopened;
    int m_fd = -1;
    pid_t m_pid = 0;  // the process that opened m_fd
    std::string m_path;
    std::size_t m_read = 0;                                  // records of the file read
    std::unordered_map<std::wstring, UINT> m_inFile;         // folded name → number, from the file
    std::unordered_map<std::wstring, UINT> m_given;          // folded name → number given out
    std::vector<bool> m_used = std::vector<bool>(kNumbers);  // numbers given out
};

MessageTable& Table() {
    static auto* table = new MessageTable;  // never destroyed: registrations may come during static destruction
    return *table;
}

// The name with every unit above 0xFFFF as a surrogate pair.
std::wstring Utf16(const wchar_t* text) {
    std::wstring units;
    for (; *text != L'\0'; ++text) {
        const auto value = static_cast<std::uint32_t>(*text);
        if (value > 0xFFFF && value <= 0x10FFFF) {
            units += static_cast<wchar_t>(0xD800 + ((value - 0x10000) >> 10));
            units += static_cast<wchar_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            units += static_cast<wchar_t>(value);
        }
    }
    return units;
}

}  // namespace
}  // namespace vplatform::user

namespace vplatform::test {

void SetMessageTableLockTimeout(DWORD milliseconds) {
    user::g_lockTimeout.store(milliseconds);
}

}  // namespace vplatform::test

using namespace vplatform::user;

extern "C" {

UINT RegisterWindowMessageW(LPCWSTR lpString) {
    if (lpString == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::wstring name = Utf16(lpString);
    if (name.empty() || name.size() > kLongestName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Table().Register(name);
}

BOOL vplatformGetMessageTableFile(LPWSTR path, DWORD size) {
    std::string file;
    if (!Table().SharedPath(file)) return FALSE;
    if (path != nullptr && size > 0) {
        const int units = MultiByteToWideChar(CP_UTF8, 0, file.data(), static_cast<int>(file.size()), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(std::max(units, 0)), L'\0');
        if (units > 0) MultiByteToWideChar(CP_UTF8, 0, file.data(), static_cast<int>(file.size()), wide.data(), units);
        const std::size_t copied = std::min<std::size_t>(wide.size(), size - 1);
        std::copy_n(wide.begin(), copied, path);
        path[copied] = L'\0';
    }
    return TRUE;
}
}

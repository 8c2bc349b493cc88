// Files and folders by name: moving, copying and deleting them, folders,
// attributes, the temporary folder and full path names.  Every file-system
// call goes through the table of internal/Syscalls.h.
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
#include "platform/nls/CodePage.h"

namespace vplatform {
namespace {

using namespace files;

// The wide form of a path the system gave; false with the last error set when
// its bytes are not UTF-8.
bool WidePath(const std::string& path, std::wstring& out) {
    return FromFileSystemPath(path, out) != FALSE;
}

// The last name of `path`, trailing separators ignored.
std::string BaseNameOf(const std::string& path) {
    const auto end = path.find_last_not_of('/');
    if (end == std::string::npos) return {};
    const auto slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       end - (slash == std::string::npos ? 0 : slash + 1) + 1);
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
}  // namespace vplatform

using namespace vplatform;
using namespace vplatform::files;

extern "C" {

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

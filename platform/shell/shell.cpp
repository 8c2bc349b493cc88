// Known folders from the XDG base and user directories.
#include "platform/shell/Shell.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/nls/internal/utf.h"

namespace {

enum class Folder { Documents, Desktop, Downloads, LocalAppData, RoamingAppData };

bool SameId(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::optional<Folder> FolderOf(const GUID& id) {
    if (SameId(id, FOLDERID_Documents)) return Folder::Documents;
    if (SameId(id, FOLDERID_Desktop)) return Folder::Desktop;
    if (SameId(id, FOLDERID_Downloads)) return Folder::Downloads;
    if (SameId(id, FOLDERID_LocalAppData)) return Folder::LocalAppData;
    if (SameId(id, FOLDERID_RoamingAppData)) return Folder::RoamingAppData;
    return std::nullopt;
}

using vplatform::Sys;

// $HOME, or the user database's home directory when it is unset or empty.
std::optional<std::string> HomeDirectory() {
    const char* home = Sys().getenv("HOME");
    if (home != nullptr && *home != '\0') return std::string(home);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    while (Sys().getpwuid_r(Sys().getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 24)) {
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr || found->pw_dir == nullptr || *found->pw_dir == '\0') return std::nullopt;
    return std::string(found->pw_dir);
}

// An XDG base directory variable when it holds an absolute path.
std::optional<std::string> AbsoluteVariable(const char* name) {
    const char* value = Sys().getenv(name);
    if (value == nullptr || value[0] != '/') return std::nullopt;
    return std::string(value);
}

// The contents of a small text file; empty when it cannot be read.
std::string ReadText(const std::string& path) {
    int fd;
    while ((fd = Sys().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0)) < 0 && errno == EINTR) {
    }
    if (fd < 0) return {};
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = Sys().read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    Sys().close(fd);
    return text;
}

// The value of `key` in user-dirs.dirs ('KEY="$HOME/name"' or 'KEY="/path"'
// lines, shell-quoted; the last valid line wins), with $HOME expanded.
std::optional<std::string> UserDirectory(const std::string& configHome, const std::string& home, std::string_view key) {
    const std::string contents = ReadText(configHome + "/user-dirs.dirs");
    std::optional<std::string> result;
    for (std::size_t start = 0; start < contents.size();) {
        std::size_t end = contents.find('\n', start);
        if (end == std::string::npos) end = contents.size();
        std::string_view text(contents.data() + start, end - start);
        start = end + 1;
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
        if (text.size() <= key.size() || text.substr(0, key.size()) != key || text[key.size()] != '=') continue;
        text.remove_prefix(key.size() + 1);
        std::string value;
        bool quoted = false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '"') {
                quoted = !quoted;
            } else if (c == '\\' && i + 1 < text.size()) {
                value += text[++i];
            } else if (!quoted && (c == ' ' || c == '\t' || c == '#')) {
                break;
            } else {
                value += c;
            }
        }
        if (value == "$HOME" || value.rfind("$HOME/", 0) == 0) {
            result = home + value.substr(5);
        } else if (!value.empty() && value[0] == '/') {
            result = value;
        }
    }
    return result;
}

std::string FolderPath(Folder folder, const std::string& home, bool defaultPath) {
    const std::string configHome = AbsoluteVariable("XDG_CONFIG_HOME").value_or(home + "/.config");
    std::string_view key, name;
    switch (folder) {
        case Folder::LocalAppData:
            return AbsoluteVariable("XDG_DATA_HOME").value_or(home + "/.local/share");
        case Folder::RoamingAppData:
            return configHome;
        case Folder::Documents:
            key = "XDG_DOCUMENTS_DIR", name = "/Documents";
            break;
        case Folder::Desktop:
            key = "XDG_DESKTOP_DIR", name = "/Desktop";
            break;
        case Folder::Downloads:
            key = "XDG_DOWNLOAD_DIR", name = "/Downloads";
            break;
    }
    if (!defaultPath) {
        if (std::optional<std::string> chosen = UserDirectory(configHome, home, key)) return *chosen;
    }
    return home + std::string(name);
}

// Creates the folder and its missing parents with mode 0700.  Returns 0 or
// the errno value of the step that failed.
int CreateFolders(const std::string& path) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (!part.empty() && Sys().mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
        if (end == std::string::npos) break;
    }
    struct statx info {};
    if (Sys().statx(AT_FDCWD, path.c_str(), 0, STATX_TYPE, &info) != 0) return errno;
    return S_ISDIR(info.stx_mode) ? 0 : ENOTDIR;
}

HRESULT FromWin32(DWORD error) {
    return HRESULT_FROM_WIN32(error);
}

}  // namespace

extern "C" {

HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath) {
    if (ppszPath == nullptr) return E_INVALIDARG;
    *ppszPath = nullptr;
    const std::optional<Folder> folder = FolderOf(rfid);
    if (!folder || hToken != nullptr) return E_INVALIDARG;
    std::optional<std::string> home = HomeDirectory();
    if (!home) return FromWin32(ERROR_FILE_NOT_FOUND);
    while (!home->empty() && home->back() == '/') home->pop_back();  // "/" joins as ""

    std::string path = FolderPath(*folder, *home, (dwFlags & KF_FLAG_DEFAULT_PATH) != 0);
    while (path.size() > 1 && path.back() == '/') path.pop_back();

    if ((dwFlags & KF_FLAG_CREATE) != 0) {
        if (const int error = CreateFolders(path); error != 0) {
            return FromWin32(error == ENOTDIR ? ERROR_DIRECTORY : vplatform::ErrorFromErrno(error));
        }
    } else if ((dwFlags & KF_FLAG_DONT_VERIFY) == 0) {
        struct statx info {};
        if (Sys().statx(AT_FDCWD, path.c_str(), 0, STATX_TYPE, &info) != 0) {
            return FromWin32(errno == ENOENT ? ERROR_FILE_NOT_FOUND : vplatform::ErrorFromErrno(errno));
        }
        if (!S_ISDIR(info.stx_mode)) return FromWin32(ERROR_DIRECTORY);
    }

    const std::size_t length = vplatform::internal::Utf8ToUtf16Length(path.data(), path.size());
    auto* text = static_cast<PWSTR>(CoTaskMemAlloc((length + 1) * sizeof(wchar_t)));
    if (text == nullptr) return E_OUTOFMEMORY;
    vplatform::internal::Utf8ToUtf16(path.data(), path.size(), text, length);
    text[length] = L'\0';
    *ppszPath = text;
    return S_OK;
}
}

// Path and file utilities: decomposition on wide Windows-form text, and the
// file-system operations with their fixed failure policies (a result, a log
// entry or a thrown std::filesystem::filesystem_error).
#include "system/Path.h"

#include <cstdio>
#include <optional>
#include <system_error>

#include "diagnostics/Log.h"
#include "platform/WinError.h"
#include "platform/com/Com.h"
#include "platform/kernel/ErrorCategory.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Module.h"
#include "platform/shell/Shell.h"
#include "system/internal/PathText.h"
#include "text/StringConversion.h"
#include "text/StringUtils.h"

namespace VTools::Path {
namespace {

namespace fs = std::filesystem;
using VTools::PathInternal::ExtensionOf;
using VTools::PathInternal::ExtensionStart;
using VTools::PathInternal::FileNameOf;
using VTools::PathInternal::Join;
using VTools::PathInternal::ParentOf;

// Separator that these functions insert when they join elements.
constexpr wchar_t kSeparator = L'/';

// The file-system form of a wide path; empty for a path that names no file
// (empty, or holding a lone surrogate).
fs::path ToFileSystem(std::wstring_view path) {
    std::string narrow;
    const DWORD lastError = GetLastError();
    if (!vplatform::ToFileSystemPath(path, narrow)) {
        SetLastError(lastError);
        return fs::path();
    }
    return fs::path(std::move(narrow));
}

// A path value in the file system's form: '\\' separates elements as in wide
// paths, so it becomes '/'.
fs::path NativeForm(const fs::path& path) {
    std::string narrow = path.native();
    for (char& c : narrow) {
        if (c == '\\') c = '/';
    }
    return fs::path(std::move(narrow));
}

// A path that came from the file system, as a wide string.
std::wstring FromFileSystem(const fs::path& path) {
    return VTools::String::Utf8ToWide(path.native());
}

// The system's text for an error code, in the ANSI code page.
std::string ErrorText(const std::error_code& error) {
    return VTools::String::Utf8ToAnsi(error.message());
}

// The library's messages are UTF-8 in the source; the log takes ANSI text.
void WriteLog(const char* function, int line, std::string_view utf8Prefix, std::string_view ansiRest) {
    std::string message = VTools::String::Utf8ToAnsi(utf8Prefix);
    message += ansiRest;
    VTools::Log::Instance().Write(function, line, message);
}

// The error of a failed known-folder lookup: a wrapped Windows error in the
// Win32 category, E_INVALIDARG and E_OUTOFMEMORY as their portable conditions.
std::error_code ErrorFromHresult(HRESULT result) {
    if (result == E_INVALIDARG) return std::make_error_code(std::errc::invalid_argument);
    if (result == E_OUTOFMEMORY) return std::make_error_code(std::errc::not_enough_memory);
    if ((static_cast<DWORD>(result) & 0xFFFF0000u) == 0x80070000u) {
        return vplatform::MakeWin32Error(static_cast<DWORD>(result) & 0xFFFFu);
    }
    return std::make_error_code(std::errc::io_error);
}

// Shared by DirectoryExist and FileExist: the status of the path (links
// followed) has the wanted type.  A path that is not found is no error.
bool ExistsAs(const fs::path& path, fs::file_type type, const char* function, int line, std::string_view prefix) {
    const fs::path native = NativeForm(path);
    std::error_code error;
    if (fs::exists(native, error)) {
        const fs::file_status status = fs::status(native, error);
        if (!error && status.type() == type) return true;
    }
    if (error) WriteLog(function, line, prefix, ErrorText(error));
    return false;
}

}  // namespace

std::wstring GetFileName(std::wstring_view path, bool withExtension) {
    const std::wstring_view name = FileNameOf(path);
    if (withExtension) return std::wstring(name);
    const std::size_t nameStart = path.size() - name.size();
    return std::wstring(path.substr(nameStart, ExtensionStart(path, true) - nameStart));
}

std::wstring GetFileFolder(std::wstring_view path) {
    return std::wstring(ParentOf(path));
}

std::wstring GetExtension(std::wstring_view path) {
    return std::wstring(ExtensionOf(path, true));
}

std::wstring RemoveExtension(std::wstring_view path) {
    return std::wstring(path.substr(0, ExtensionStart(path, true)));
}

namespace {

// The module's full file name, empty when it cannot be read.  The buffer
// starts at MAX_PATH and grows while the name does not fit, so that a long
// path is never cut.
std::wstring ModuleFileName(HINSTANCE module) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() >= 0x100000) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::wstring GetModulePath(HINSTANCE module) {
    const std::wstring file = ModuleFileName(module);
    return file.empty() ? std::wstring() : GetFileFolder(file);
}

std::wstring GetModuleName(HINSTANCE module, bool withExtension) {
    const std::wstring file = ModuleFileName(module);
    return file.empty() ? std::wstring() : GetFileName(file, withExtension);
}

namespace {

constexpr const char* kDirectoryExist = "VTools::Path::DirectoryExist";
constexpr const char* kFileExist = "VTools::Path::FileExist";
constexpr const char* kDirectoryPrefix = "Bład podczas sprawdzania istnienia katalogu: ";
constexpr const char* kFilePrefix = "Bład podczas sprawdzania pliku: ";
constexpr const char* kCreateDirectory = "VTools::Path::CreateDirectoryIfNotExist";

// A wide path's file-system form for the existence tests, or nothing (with a
// log entry) when the path has none.
std::optional<fs::path> CheckedForm(std::wstring_view path, const char* function, int line, std::string_view prefix) {
    fs::path native = ToFileSystem(path);
    if (!native.empty()) return native;
    if (!path.empty()) WriteLog(function, line, prefix, ErrorText(vplatform::MakeWin32Error(ERROR_INVALID_NAME)));
    return std::nullopt;
}

bool CreateDirectories(const fs::path& native, std::string_view shownPath) {
    std::error_code error;
    if (fs::create_directories(native, error)) return true;
    if (error) {
        WriteLog(kCreateDirectory, __LINE__, "Nie utworzono katalogu: ", shownPath);
        WriteLog(kCreateDirectory, __LINE__, "Błąd: ", ErrorText(error));
        return false;
    }
    return ExistsAs(native, fs::file_type::directory, kDirectoryExist, __LINE__, kDirectoryPrefix);
}

}  // namespace

bool DirectoryExist(std::wstring_view path) {
    const auto native = CheckedForm(path, kDirectoryExist, __LINE__, kDirectoryPrefix);
    return native && ExistsAs(*native, fs::file_type::directory, kDirectoryExist, __LINE__, kDirectoryPrefix);
}

bool DirectoryExist(std::filesystem::path path) {
    return ExistsAs(path, fs::file_type::directory, kDirectoryExist, __LINE__, kDirectoryPrefix);
}

bool FileExist(std::wstring_view path) {
    const auto native = CheckedForm(path, kFileExist, __LINE__, kFilePrefix);
    return native && ExistsAs(*native, fs::file_type::regular, kFileExist, __LINE__, kFilePrefix);
}

bool FileExist(std::filesystem::path path) {
    return ExistsAs(path, fs::file_type::regular, kFileExist, __LINE__, kFilePrefix);
}

bool CreateDirectoryIfNotExist(std::wstring_view path) {
    const std::string shown = VTools::String::WideToAnsi(path);
    std::string narrow;
    if (!vplatform::ToFileSystemPath(path, narrow)) {
        WriteLog(kCreateDirectory, __LINE__, "Nie utworzono katalogu: ", shown);
        WriteLog(kCreateDirectory, __LINE__, "Błąd: ", ErrorText(vplatform::MakeWin32Error(GetLastError())));
        return false;
    }
    return CreateDirectories(fs::path(std::move(narrow)), shown);
}

bool CreateDirectoryIfNotExist(std::filesystem::path path) {
    return CreateDirectories(NativeForm(path), VTools::String::Utf8ToAnsi(path.native()));
}

bool RemovePath(std::wstring_view path) {
    const fs::path native = ToFileSystem(path);
    if (native.empty()) return false;
    std::error_code error;
    const std::uintmax_t removed = fs::remove_all(native, error);
    constexpr const char* function = "VTools::Path::RemovePath";
    if (error) {
        const std::string format = VTools::String::Utf8ToAnsi("Błąd podczas usuwania katalogu: %s, ErrorMsg: %s");
        const std::string ansiPath = VTools::String::WideToAnsi(path);
        const std::string text = ErrorText(error);
        std::string message(format.size() + ansiPath.size() + text.size(), '\0');
        const int length =
            std::snprintf(message.data(), message.size() + 1, format.c_str(), ansiPath.c_str(), text.c_str());
        message.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        VTools::Log::Instance().Write(function, __LINE__, message);
        return false;
    }
    if (removed == 0) return false;
    WriteLog(function, __LINE__, "Usuwanie: ", VTools::String::WideToAnsi(path));
    return true;
}

void Move(std::wstring_view from, std::wstring_view to) {
    const std::wstring source(from), target(to);
    if (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        const DWORD error = GetLastError();
        throw fs::filesystem_error("rename", ToFileSystem(from), ToFileSystem(to), vplatform::MakeWin32Error(error));
    }
}

bool CopyFiles(std::wstring_view from, std::wstring_view to) {
    const fs::path source = ToFileSystem(from);
    if (!FileExist(source)) return false;
    std::error_code error;
    fs::copy(source, ToFileSystem(to), fs::copy_options::overwrite_existing, error);
    return !error;
}

bool CopyDirectoryRecursive(std::wstring_view from, std::wstring_view to) {
    const fs::path source = ToFileSystem(from);
    if (!DirectoryExist(source)) return false;
    std::error_code error;
    fs::copy(source, ToFileSystem(to), fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
    return !error;
}

void ReplaceDestFileIfSourceFileIsNewer(std::wstring_view sourceFolder, std::wstring_view destFolder,
                                        std::wstring_view fileName) {
    const fs::path source = ToFileSystem(Join(sourceFolder, fileName, kSeparator));
    const fs::path target = ToFileSystem(Join(destFolder, fileName, kSeparator));
    if (!FileExist(source)) return;
    if (FileExist(target)) {
        std::error_code error;
        const fs::file_time_type sourceTime = fs::last_write_time(source, error);
        if (error) throw fs::filesystem_error("last_write_time", source, error);
        const fs::file_time_type targetTime = fs::last_write_time(target, error);
        if (error) throw fs::filesystem_error("last_write_time", target, error);
        if (sourceTime <= targetTime) return;
    }
    std::error_code error;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
    if (error) throw fs::filesystem_error("copy_file", source, target, error);
}

namespace {

// Appends the regular files that `iterator` visits (all of them with no
// extension wanted, else those whose extension equals it in any case).
template <class Iterator>
void CollectFiles(Iterator iterator, const std::wstring* extension, std::vector<std::wstring>& out) {
    for (const fs::directory_entry& entry : iterator) {
        if (!entry.is_regular_file()) continue;
        std::wstring path = FromFileSystem(entry.path());
        // On this file system ':' is an ordinary character of a name, so
        // the extension of a listed file is found without stream suffixes.
        if (extension != nullptr && VTools::String::ToLower(std::wstring(ExtensionOf(path, false))) != *extension) {
            continue;
        }
        out.push_back(std::move(path));
    }
}

}  // namespace

std::uint64_t FindAllFilesInFolder(std::wstring_view folder, std::wstring_view mask, bool recursive,
                                   std::vector<std::wstring>& out) {
    const fs::path root = ToFileSystem(folder);
    if (!DirectoryExist(root)) return 0;
    std::optional<std::wstring> extension;
    if (!mask.empty()) {
        const std::size_t dot = mask.find(L'.');
        extension = VTools::String::ToLower(std::wstring(dot == std::wstring_view::npos ? mask : mask.substr(dot)));
    }
    const std::wstring* wanted = extension ? &*extension : nullptr;
    if (recursive) {
        CollectFiles(fs::recursive_directory_iterator(root), wanted, out);
    } else {
        CollectFiles(fs::directory_iterator(root), wanted, out);
    }
    return out.size();
}

std::uint64_t FindAllSubFolders(std::wstring_view folder, std::vector<std::wstring>& out) {
    const fs::path root = ToFileSystem(folder);
    if (!DirectoryExist(root)) return out.size();
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
        if (entry.is_directory()) out.push_back(FromFileSystem(entry.path()));
    }
    return out.size();
}

std::wstring GetKnownFolderPath(const GUID& folderId, std::wstring_view firstSubFolder,
                                std::wstring_view secondSubFolder) {
    PWSTR known = nullptr;
    const HRESULT result = SHGetKnownFolderPath(folderId, KF_FLAG_CREATE | KF_FLAG_DEFAULT_PATH, nullptr, &known);
    if (FAILED(result)) {
        // Going on from an empty path would build a relative path and create
        // folders under whatever the current directory is.
        throw fs::filesystem_error("SHGetKnownFolderPath", ErrorFromHresult(result));
    }
    std::wstring path(known);
    CoTaskMemFree(known);
    path = Join(path, firstSubFolder, kSeparator);
    if (!secondSubFolder.empty()) path = Join(path, secondSubFolder, kSeparator);
    const fs::path native = ToFileSystem(path);
    if (native.empty()) {
        throw fs::filesystem_error("create_directories", native,
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    }
    std::error_code error;
    fs::create_directories(native, error);
    if (error) throw fs::filesystem_error("create_directories", native, error);
    return path;
}

std::wstring GetCurrentUserDocumentPath(std::wstring_view firstSubFolder, std::wstring_view secondSubFolder) {
    return GetKnownFolderPath(FOLDERID_Documents, firstSubFolder, secondSubFolder);
}

}  // namespace VTools::Path

// Settings files: paths and the write-then-rename replacement of a file.
#include "settings/internal/SettingsFiles.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <random>

#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/WinError.h"
#include "text/StringConversion.h"

namespace VTools::SettingsInternal {
namespace {

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

bool HasLoneSurrogate(std::wstring_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsHighSurrogate(text[i])) {
            if (i + 1 == text.size() || !IsLowSurrogate(text[i + 1])) return true;
            ++i;
        } else if (IsLowSurrogate(text[i])) {
            return true;
        }
    }
    return false;
}

// A name for the temporary file beside `path`: the name with a random
// suffix, unlikely to meet another writer's.
std::wstring TemporaryName(std::wstring_view path) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }();
    std::uint64_t x = seed + 0x9E3779B97F4A7C15ull * ++counter;
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    wchar_t suffix[32];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%016llx.tmp", static_cast<unsigned long long>(x));
    std::wstring name(path);
    name += suffix;
    return name;
}

DWORD WriteAll(HANDLE file, std::string_view bytes) {
    constexpr std::size_t kChunk = 1u << 30;
    while (!bytes.empty()) {
        const auto size = static_cast<DWORD>(std::min(bytes.size(), kChunk));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), size, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        bytes.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

}  // namespace

std::optional<std::string> FileSystemPath(std::wstring_view path) {
    if (path.empty() || HasLoneSurrogate(path)) return std::nullopt;
    std::string narrow = VTools::String::WideToUtf8(path);
    std::replace(narrow.begin(), narrow.end(), '\\', '/');
    return narrow;
}

DWORD ReplaceFileContent(std::wstring_view path, std::string_view bytes) {
    if (path.empty()) return ERROR_PATH_NOT_FOUND;
    const std::wstring target(path);
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = TemporaryName(path);
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return GetLastError();
    }
    if (file == INVALID_HANDLE_VALUE) return ERROR_FILE_EXISTS;

    DWORD error = WriteAll(file, bytes);
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != ERROR_SUCCESS) {
        // After a failed flush of the rename the temporary name is gone already.
        DeleteFileW(temporary.c_str());
        SetLastError(error);
    }
    return error;
}

}  // namespace VTools::SettingsInternal

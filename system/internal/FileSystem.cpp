// File-system paths and the write-then-rename replacement of a file.
#include "system/internal/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <random>

#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/WinError.h"
#include "text/StringConversion.h"

namespace VTools::FileSystemInternal {
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

ReplacingFileWriter::~ReplacingFileWriter() {
    Abandon();
}

void ReplacingFileWriter::Abandon() {
    if (!m_open) return;
    CloseHandle(m_file);
    DeleteFileW(m_temporary.c_str());
    m_open = false;
}

DWORD ReplacingFileWriter::Open(std::wstring_view path) {
    if (m_error != ERROR_SUCCESS) return m_error;
    if (m_open) return m_error = ERROR_INVALID_FUNCTION;
    if (path.empty()) return m_error = ERROR_PATH_NOT_FOUND;
    m_target.assign(path);
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temporary = TemporaryName(path);
        m_file =
            CreateFileW(m_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_file != INVALID_HANDLE_VALUE) {
            m_open = true;
            return ERROR_SUCCESS;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return m_error = GetLastError();
    }
    return m_error = ERROR_FILE_EXISTS;
}

DWORD ReplacingFileWriter::Write(std::string_view bytes) {
    if (m_error != ERROR_SUCCESS) return m_error;
    if (!m_open) return m_error = ERROR_INVALID_HANDLE;
    if ((m_error = WriteAll(m_file, bytes)) != ERROR_SUCCESS) Abandon();
    return m_error;
}

DWORD ReplacingFileWriter::Commit() {
    if (m_error != ERROR_SUCCESS) return m_error;
    if (!m_open) return m_error = ERROR_INVALID_HANDLE;
    DWORD error = FlushFileBuffers(m_file) ? ERROR_SUCCESS : GetLastError();
    if (!CloseHandle(m_file) && error == ERROR_SUCCESS) error = GetLastError();
    if (error == ERROR_SUCCESS &&
        !MoveFileExW(m_temporary.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    m_open = false;
    if (error != ERROR_SUCCESS) {
        // After a failed flush of the rename the temporary name is gone already.
        DeleteFileW(m_temporary.c_str());
        SetLastError(error);
    }
    return m_error = error;
}

DWORD ReplaceFileContent(std::wstring_view path, std::string_view bytes) {
    ReplacingFileWriter writer;
    DWORD error = writer.Open(path);
    if (error == ERROR_SUCCESS) error = writer.Write(bytes);
    if (error == ERROR_SUCCESS) error = writer.Commit();
    if (error != ERROR_SUCCESS) SetLastError(error);
    return error;
}

}  // namespace VTools::FileSystemInternal

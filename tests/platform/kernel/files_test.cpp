// Tests of the file API: dispositions and share modes, reading and writing
// (with injected ENOSPC, EINTR and short transfers), names, folders,
// attributes, paths and file times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/Files.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using vplatform::test::RealSyscalls;
using vplatform::test::ScopedSyscallsForTesting;

constexpr DWORD kSentinel = 0xdeadbeef;

// Closes the handle at the end of the scope.
struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    operator HANDLE() const { return h; }
};

class Files : public vlibtest::TempDirTest {
protected:
    // The wide Windows form of a name in the folder, with '\\' separators.
    std::wstring W(const std::string& name) const {
        std::wstring path = (m_dir.Path() / name).wstring();
        std::replace(path.begin(), path.end(), L'/', L'\\');
        return path;
    }
    HANDLE Open(const std::string& name, DWORD access, DWORD disposition, DWORD share = 0, DWORD flags = 0) const {
        return CreateFileW(W(name).c_str(), access, share, nullptr, disposition, flags, nullptr);
    }
};

constexpr auto Ticks = vplatform::FileTimeTicks;
constexpr auto FileTime = vplatform::FileTimeFromTicks;

TEST_F(Files, DispositionsCreateOpenAndTruncateAsOnWindows) {
    SetLastError(kSentinel);
    {
        Handle created{Open("a.txt", GENERIC_WRITE, CREATE_NEW)};
        ASSERT_NE(created.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), kSentinel);
    }
    EXPECT_EQ(Open("a.txt", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    m_dir.Write("a.txt", "old contents");
    SetLastError(kSentinel);
    { Handle h{Open("a.txt", GENERIC_READ, OPEN_ALWAYS)}; }
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "a.txt"), "old contents");
    { Handle h{Open("a.txt", GENERIC_WRITE, CREATE_ALWAYS)}; }
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(fs::file_size(m_dir.Path() / "a.txt"), 0u);
    SetLastError(kSentinel);
    { Handle h{Open("b.txt", GENERIC_WRITE, CREATE_ALWAYS)}; }
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    m_dir.Write("c.txt", "12345");
    { Handle h{Open("c.txt", GENERIC_WRITE, TRUNCATE_EXISTING)}; }
    EXPECT_EQ(fs::file_size(m_dir.Path() / "c.txt"), 0u);
    EXPECT_EQ(Open("c.txt", GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open("c.txt", GENERIC_READ, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    EXPECT_EQ(Open("missing.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("nofolder\\x.txt", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    fs::create_directory(m_dir.Path() / "dir");
    EXPECT_EQ(Open("dir", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    Handle folder{Open("dir", 0, OPEN_EXISTING, 0, FILE_FLAG_BACKUP_SEMANTICS)};
    EXPECT_NE(folder.h, INVALID_HANDLE_VALUE);
}

TEST_F(Files, NamesAreUtf8WithEitherSeparator) {
    fs::create_directory(m_dir.Path() / "sub");
    const std::wstring name = W("sub") + L"/za\u017C\u00F3\u0142\u0107.txt";
    Handle h{CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fs::exists(m_dir.Path() / "sub" / "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt"));

    const std::wstring lone = W("bad") + L"\xD800.txt";
    EXPECT_EQ(CreateFileW(lone.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(CreateFileW(L"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, ReadsWritesAndSeeks) {
    Handle h{Open("data.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    DWORD count = 99;
    SetLastError(kSentinel);
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &count, nullptr));
    EXPECT_EQ(count, 11u);
    EXPECT_TRUE(FlushFileBuffers(h));
    EXPECT_EQ(GetLastError(), kSentinel);

    LARGE_INTEGER size{}, position{};
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 11);
    LARGE_INTEGER distance{};
    distance.QuadPart = -5;
    ASSERT_TRUE(SetFilePointerEx(h, distance, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, 6);
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "world");
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));  // at the end: success, nothing read
    EXPECT_EQ(count, 0u);

    distance.QuadPart = -1;
    EXPECT_FALSE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    distance.QuadPart = -20;
    EXPECT_FALSE(SetFilePointerEx(h, distance, nullptr, FILE_CURRENT));
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_FALSE(SetFilePointerEx(h, distance, nullptr, 7));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // An OVERLAPPED offset reads there and leaves the pointer after it.
    OVERLAPPED at{};
    at.Offset = 2;
    ASSERT_TRUE(ReadFile(h, buffer, 3, &count, &at));
    EXPECT_EQ(std::string(buffer, count), "llo");
    EXPECT_EQ(at.InternalHigh, 3u);
    distance.QuadPart = 0;
    ASSERT_TRUE(SetFilePointerEx(h, distance, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, 5);

    Handle reader{Open("data.bin", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    EXPECT_EQ(reader.h, INVALID_HANDLE_VALUE);  // the first handle shares nothing
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        count = 7;
        EXPECT_FALSE(ReadFile(bad, buffer, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(WriteFile(bad, buffer, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST_F(Files, AppendingHandlesWriteAtTheEndWhateverThePosition) {
    m_dir.Write("log.txt", "start;");
    Handle append{Open("log.txt", FILE_APPEND_DATA, OPEN_ALWAYS, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    ASSERT_NE(append.h, INVALID_HANDLE_VALUE);
    Handle other{Open("log.txt", GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    ASSERT_NE(other.h, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(append, "one;", 4, &count, nullptr));
    ASSERT_TRUE(WriteFile(other, "START", 5, &count, nullptr));  // overwrites from the start
    LARGE_INTEGER start{};
    ASSERT_TRUE(SetFilePointerEx(append, start, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(append, "two;", 4, &count, nullptr));
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "log.txt"), "START;one;two;");
    EXPECT_EQ(Open("log.txt", FILE_APPEND_DATA, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Files, AccessRightsAndShareModesAreEnforcedInTheProcess) {
    m_dir.Write("log.txt", "x");
    Handle writer{Open("log.txt", GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ)};
    ASSERT_NE(writer.h, INVALID_HANDLE_VALUE);
    char byte = 0;
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(writer, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // A reader must share writing with the writer; a second writer is refused.
    EXPECT_EQ(Open("log.txt", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    Handle reader{Open("log.txt", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    EXPECT_NE(reader.h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(reader, "y", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open("log.txt", GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    EXPECT_FALSE(DeleteFileW(W("log.txt").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileExW(W("log.txt").c_str(), W("moved.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    CloseHandle(writer.h);
    writer.h = INVALID_HANDLE_VALUE;
    CloseHandle(reader.h);
    reader.h = INVALID_HANDLE_VALUE;
    Handle deletable{Open("log.txt", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_DELETE)};
    EXPECT_TRUE(DeleteFileW(W("log.txt").c_str()));
}

// --- Injected system-call failures -------------------------------------------------

int g_interruptions = 0;  // calls left to fail with EINTR
long g_budget = 0;        // bytes the disk still takes

ssize_t InterruptedShortWrite(int fd, const void* data, size_t size) {
    if (g_interruptions > 0) {
        --g_interruptions;
        errno = EINTR;
        return -1;
    }
    return RealSyscalls().write(fd, data, std::min<size_t>(size, 3));
}

ssize_t InterruptedShortRead(int fd, void* data, size_t size) {
    if (g_interruptions > 0) {
        --g_interruptions;
        errno = EINTR;
        return -1;
    }
    return RealSyscalls().read(fd, data, std::min<size_t>(size, 2));
}

ssize_t FillingWrite(int fd, const void* data, size_t size) {
    if (g_budget == 0) {
        errno = ENOSPC;
        return -1;
    }
    const auto n = RealSyscalls().write(fd, data, std::min<size_t>(size, static_cast<size_t>(g_budget)));
    if (n > 0) g_budget -= n;
    return n;
}

int FailingFsync(int) {
    errno = EIO;
    return -1;
}

TEST_F(Files, InterruptedAndShortTransfersAreCompleted) {
    Handle h{Open("f.txt", GENERIC_READ | GENERIC_WRITE, CREATE_NEW)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    vplatform::Syscalls table = RealSyscalls();
    table.write = InterruptedShortWrite;
    table.read = InterruptedShortRead;
    const ScopedSyscallsForTesting scope(table);

    DWORD count = 0;
    g_interruptions = 3;
    SetLastError(kSentinel);
    ASSERT_TRUE(WriteFile(h, "0123456789", 10, &count, nullptr));
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(g_interruptions, 0);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "f.txt"), "0123456789");

    LARGE_INTEGER start{};
    ASSERT_TRUE(SetFilePointerEx(h, start, nullptr, FILE_BEGIN));
    char buffer[10] = {};
    g_interruptions = 2;
    ASSERT_TRUE(ReadFile(h, buffer, 7, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "0123456");
    EXPECT_EQ(g_interruptions, 0);
}

TEST_F(Files, FullDiskAndIoErrorsAreReported) {
    Handle h{Open("full.txt", GENERIC_WRITE, CREATE_NEW)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    vplatform::Syscalls table = RealSyscalls();
    table.write = FillingWrite;
    table.fsync = FailingFsync;
    const ScopedSyscallsForTesting scope(table);

    g_budget = 4;
    DWORD count = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(WriteFile(h, "abcdefgh", 8, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(count, 4u);  // what reached the file before the disk filled
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "full.txt"), "abcd");

    SetLastError(kSentinel);
    EXPECT_FALSE(FlushFileBuffers(h));
    EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);

    // A copy that runs out of space leaves no partial target.
    m_dir.Write("source.txt", std::string(100, 's'));
    g_budget = 10;
    EXPECT_FALSE(CopyFileW(W("source.txt").c_str(), W("copy.txt").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "copy.txt"));
}

// --- Names and folders ---------------------------------------------------------------

TEST_F(Files, MoveReplacesOnlyWhenAskedTo) {
    m_dir.Write("a.txt", "A");
    m_dir.Write("b.txt", "B");
    SetLastError(kSentinel);
    EXPECT_FALSE(MoveFileExW(W("a.txt").c_str(), W("b.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "b.txt"), "B");

    SetLastError(kSentinel);
    ASSERT_TRUE(
        MoveFileExW(W("a.txt").c_str(), W("b.txt").c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "a.txt"));
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "b.txt"), "A");

    fs::create_directory(m_dir.Path() / "dir");
    EXPECT_FALSE(MoveFileExW(W("b.txt").c_str(), W("dir").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(MoveFileExW(W("b.txt").c_str(), W("none\\b.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(MoveFileExW(W("gone.txt").c_str(), W("c.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(MoveFileExW(W("b.txt").c_str(), W("dir\\b.txt").c_str(), MOVEFILE_WRITE_THROUGH));
    EXPECT_TRUE(fs::exists(m_dir.Path() / "dir" / "b.txt"));
}

TEST_F(Files, CopyKeepsContentsAndWriteTime) {
    m_dir.Write("src.txt", "payload");
    const auto old = fs::last_write_time(m_dir.Path() / "src.txt") - std::chrono::hours(48);
    fs::last_write_time(m_dir.Path() / "src.txt", old);
    ASSERT_TRUE(CopyFileW(W("src.txt").c_str(), W("dst.txt").c_str(), TRUE));
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "dst.txt"), "payload");
    EXPECT_EQ(fs::last_write_time(m_dir.Path() / "dst.txt"), old);

    m_dir.Write("dst.txt", "other, longer contents");
    EXPECT_FALSE(CopyFileW(W("src.txt").c_str(), W("dst.txt").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    ASSERT_TRUE(CopyFileW(W("src.txt").c_str(), W("dst.txt").c_str(), FALSE));
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "dst.txt"), "payload");

    EXPECT_FALSE(CopyFileW(W("src.txt").c_str(), W("src.txt").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "src.txt"), "payload");
    EXPECT_FALSE(CopyFileW(W("none.txt").c_str(), W("x.txt").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, FoldersAreCreatedAndRemoved) {
    SetLastError(kSentinel);
    ASSERT_TRUE(CreateDirectoryW(W("d").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_FALSE(CreateDirectoryW(W("d").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(W("x\\y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    m_dir.Write("d/f.txt", "f");
    EXPECT_FALSE(RemoveDirectoryW(W("d").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    EXPECT_FALSE(RemoveDirectoryW(W("d\\f.txt").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    EXPECT_FALSE(DeleteFileW(W("d").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(DeleteFileW(W("d\\f.txt").c_str()));
    EXPECT_FALSE(DeleteFileW(W("d\\f.txt").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(RemoveDirectoryW(W("d").c_str()));
    EXPECT_FALSE(RemoveDirectoryW(W("d").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, AttributesDescribeTheFile) {
    m_dir.Write("plain.txt", "12345");
    m_dir.Write(".hidden", "");
    m_dir.Write("locked.txt", "");
    fs::permissions(m_dir.Path() / "locked.txt", fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(GetFileAttributesW(W("plain.txt").c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(W(".hidden").c_str()), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(GetFileAttributesW(W("locked.txt").c_str()), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(GetFileAttributesW(m_dir.Path().wstring().c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(W("none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesW(W("none\\x").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(W("plain.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    EXPECT_LE(Ticks(data.ftLastWriteTime), Ticks(now));
    EXPECT_GT(Ticks(data.ftLastWriteTime) + 600ull * 10'000'000, Ticks(now));
    EXPECT_FALSE(GetFileAttributesExW(W("plain.txt").c_str(), GetFileExMaxInfoLevel, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(FilePaths, FullPathsAndTheTemporaryFolder) {
    const std::wstring cwd = fs::current_path().wstring();
    wchar_t buffer[4096];
    LPWSTR part = nullptr;
    DWORD length = GetFullPathNameW(L"a\\.\\b\\..\\\\c.txt", 4096, buffer, &part);
    EXPECT_EQ(std::wstring(buffer, length), (cwd == L"/" ? L"" : cwd) + L"/a/c.txt");
    ASSERT_NE(part, nullptr);
    EXPECT_STREQ(part, L"c.txt");
    length = GetFullPathNameW(L"/x/../../y/", 4096, buffer, &part);
    EXPECT_EQ(std::wstring(buffer, length), L"/y/");
    EXPECT_EQ(part, nullptr);
    EXPECT_EQ(GetFullPathNameW(L"/abc", 4, buffer, nullptr), 5u);  // the size needed, with the zero

    const char* saved = std::getenv("TMPDIR");
    const std::string restore = saved != nullptr ? saved : "";
    setenv("TMPDIR", "/var/tmp", 1);
    length = GetTempPathW(4096, buffer);
    EXPECT_EQ(std::wstring(buffer, length), L"/var/tmp/");
    EXPECT_EQ(GetTempPathW(3, buffer), 10u);
    if (saved != nullptr) {
        setenv("TMPDIR", restore.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

// --- File times ----------------------------------------------------------------------

TEST_F(Files, FileTimesAreSetAndRead) {
    Handle h{Open("t.txt", GENERIC_READ | GENERIC_WRITE, CREATE_NEW)};
    ASSERT_NE(h.h, INVALID_HANDLE_VALUE);
    const FILETIME written = FileTime(132'000'000'001'234'567ull);  // 2019, with sub-second ticks
    const FILETIME accessed = FileTime(131'000'000'000'000'000ull);
    ASSERT_TRUE(SetFileTime(h, nullptr, &accessed, &written));
    FILETIME created{}, readAccess{}, readWrite{};
    ASSERT_TRUE(GetFileTime(h, &created, &readAccess, &readWrite));
    EXPECT_EQ(Ticks(readWrite), Ticks(written));
    EXPECT_EQ(Ticks(readAccess), Ticks(accessed));
    EXPECT_NE(Ticks(created), 0u);

    // Null and zero leave a time alone.
    const FILETIME zero{0, 0};
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &zero));
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &readWrite));
    EXPECT_EQ(Ticks(readWrite), Ticks(written));

    Handle reader{Open("t.txt", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    EXPECT_EQ(reader.h, INVALID_HANDLE_VALUE);  // the writer shares nothing
    Handle query{Open("t.txt", 0, OPEN_EXISTING)};
    ASSERT_NE(query.h, INVALID_HANDLE_VALUE);  // opens for queries conflict with no one
    EXPECT_FALSE(SetFileTime(query, nullptr, nullptr, &written));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

}  // namespace

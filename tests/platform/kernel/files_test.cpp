// The file API: dispositions and share modes, reading and writing (with
// injected ENOSPC, EIO, EINTR and short transfers), names, folders,
// attributes, paths and file times.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/kernel/Files.h"
#include "tests/support/EnvScope.h"
#include "tests/support/LastError.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using vlibtest::FailsWith;
using vlibtest::SucceedsQuietly;
using vplatform::test::RealSyscalls;
using Failures = std::vector<std::pair<DWORD, std::function<bool()>>>;

// Closes the handle at the end of the scope.
struct Handle {
    HANDLE h;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    operator HANDLE() const { return h; }
    bool Valid() const { return h != INVALID_HANDLE_VALUE; }
};

constexpr auto Ticks = vplatform::FileTimeTicks;

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
    // An open that is closed at once; true when it succeeded.
    std::function<bool()> Opens(const std::string& name, DWORD access, DWORD disposition, DWORD share = 0) const {
        return [=, this] { return Handle{Open(name, access, disposition, share)}.Valid(); };
    }
    std::string Read(const std::string& name) const { return vlibtest::TempDir::Read(m_dir.Path() / name); }
    static void ExpectFailures(const Failures& failures) {
        for (std::size_t i = 0; i < failures.size(); ++i)
            EXPECT_TRUE(FailsWith(failures[i].first, failures[i].second)) << i;
    }
};

TEST_F(Files, DispositionsCreateOpenAndTruncateAsOnWindows) {
    // Every successful open sets the last error: ERROR_ALREADY_EXISTS for
    // an existing file with the *_ALWAYS dispositions, else 0.
    EXPECT_TRUE(FailsWith(ERROR_SUCCESS, [&] { return !Opens("a.txt", GENERIC_WRITE, CREATE_NEW)(); }));
    EXPECT_TRUE(FailsWith(ERROR_SUCCESS, [&] { return !Opens("a.txt", GENERIC_READ, OPEN_EXISTING)(); }));
    EXPECT_TRUE(FailsWith(ERROR_SUCCESS, [&] { return !Opens("a.txt", GENERIC_WRITE, TRUNCATE_EXISTING)(); }));
    m_dir.Write("a.txt", "old contents");
    m_dir.Write("c.txt", "12345");
    fs::create_directory(m_dir.Path() / "dir");
    EXPECT_TRUE(FailsWith(ERROR_ALREADY_EXISTS, [&] { return !Opens("a.txt", GENERIC_READ, OPEN_ALWAYS)(); }));
    EXPECT_EQ(Read("a.txt"), "old contents");
    EXPECT_TRUE(FailsWith(ERROR_ALREADY_EXISTS, [&] { return !Opens("a.txt", GENERIC_WRITE, CREATE_ALWAYS)(); }));
    EXPECT_EQ(Read("a.txt"), "");
    EXPECT_TRUE(FailsWith(ERROR_SUCCESS, [&] { return !Opens("b.txt", GENERIC_WRITE, CREATE_ALWAYS)(); }));
    EXPECT_TRUE(Opens("c.txt", GENERIC_WRITE, TRUNCATE_EXISTING)());
    EXPECT_EQ(Read("c.txt"), "");
    ExpectFailures({{ERROR_FILE_EXISTS, Opens("a.txt", GENERIC_WRITE, CREATE_NEW)},
                    {ERROR_INVALID_PARAMETER, Opens("c.txt", GENERIC_READ, TRUNCATE_EXISTING)},
                    {ERROR_INVALID_PARAMETER, Opens("c.txt", GENERIC_READ, 0)},
                    {ERROR_INVALID_PARAMETER, Opens("c.txt", FILE_APPEND_DATA, TRUNCATE_EXISTING)},
                    {ERROR_FILE_NOT_FOUND, Opens("missing.txt", GENERIC_READ, OPEN_EXISTING)},
                    {ERROR_PATH_NOT_FOUND, Opens("nofolder\\x.txt", GENERIC_WRITE, CREATE_ALWAYS)},
                    {ERROR_ACCESS_DENIED, Opens("dir", GENERIC_READ, OPEN_EXISTING)}});
    Handle folder{Open("dir", 0, OPEN_EXISTING, 0, FILE_FLAG_BACKUP_SEMANTICS)};
    EXPECT_TRUE(folder.Valid());
    // A folder opens for writing (adding names) with backup semantics, as on
    // Windows; reading or writing its handle is no function of a folder.
    Handle written{Open("dir", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        FILE_FLAG_BACKUP_SEMANTICS)};
    ASSERT_TRUE(written.Valid());
    DWORD count = 0;
    char byte = 0;
    EXPECT_TRUE(FailsWith(ERROR_INVALID_FUNCTION, [&] { return WriteFile(written, "x", 1, &count, nullptr); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_FUNCTION, [&] { return ReadFile(written, &byte, 1, &count, nullptr); }));
    // Names are UTF-8 whichever separator is used.
    EXPECT_TRUE(Handle{CreateFileW((W("dir") + L"/za\u017C\u00F3\u0142\u0107.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)}
                    .Valid());
    EXPECT_TRUE(fs::exists(m_dir.Path() / "dir" / "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt"));
}

TEST_F(Files, ReadsWritesAndSeeks) {
    Handle h{Open("data.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW)};
    ASSERT_TRUE(h.Valid());
    DWORD count = 99;
    EXPECT_TRUE(
        SucceedsQuietly([&] { return WriteFile(h, "hello world", 11, &count, nullptr) && FlushFileBuffers(h); }));
    EXPECT_EQ(count, 11u);
    LARGE_INTEGER size{}, position{}, distance{};
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 11);
    distance.QuadPart = -5;
    ASSERT_TRUE(SetFilePointerEx(h, distance, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, 6);
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "world");
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));  // at the end: success, nothing read
    EXPECT_EQ(count, 0u);
    // An OVERLAPPED offset reads there and leaves the pointer after it.
    OVERLAPPED at{};
    at.Offset = 2;
    ASSERT_TRUE(ReadFile(h, buffer, 3, &count, &at));
    EXPECT_EQ(std::string(buffer, count), "llo");
    EXPECT_EQ(at.InternalHigh, 3u);
    distance.QuadPart = 0;
    ASSERT_TRUE(SetFilePointerEx(h, distance, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, 5);
    const auto seek = [&](LONGLONG to, DWORD from) {
        return [=, &h] { return SetFilePointerEx(h, LARGE_INTEGER{.QuadPart = to}, nullptr, from) != FALSE; };
    };
    ExpectFailures({{ERROR_NEGATIVE_SEEK, seek(-1, FILE_BEGIN)},
                    {ERROR_NEGATIVE_SEEK, seek(-20, FILE_CURRENT)},
                    {ERROR_INVALID_PARAMETER, seek(0, 7)},
                    {ERROR_SHARING_VIOLATION,
                     Opens("data.bin", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE)}});
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        count = 7;
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return ReadFile(bad, buffer, 1, &count, nullptr); }));
        EXPECT_EQ(count, 0u);
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return WriteFile(bad, buffer, 1, &count, nullptr); }));
    }
}

TEST_F(Files, AppendingHandlesWriteAtTheEndWhateverThePosition) {
    m_dir.Write("log.txt", "start;");
    Handle append{Open("log.txt", FILE_APPEND_DATA, OPEN_ALWAYS, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    Handle other{Open("log.txt", GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE)};
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(append, "one;", 4, &count, nullptr));
    ASSERT_TRUE(WriteFile(other, "START", 5, &count, nullptr));  // overwrites from the start
    ASSERT_TRUE(SetFilePointerEx(append, LARGE_INTEGER{}, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(append, "two;", 4, &count, nullptr));
    EXPECT_EQ(Read("log.txt"), "START;one;two;");
}

// Every access right opens as Windows maps it: FILE_READ_DATA reads,
// FILE_WRITE_DATA writes where the file pointer is, FILE_APPEND_DATA alone
// appends; the generic rights stand for their FILE_GENERIC_* sets and
// GENERIC_ALL for FILE_ALL_ACCESS.  Rights no file here grants fail the open.
TEST_F(Files, AccessRightsReadAndWriteAsWindowsMapsThem) {
    constexpr const char* kDenied = nullptr;
    const struct {
        DWORD access;
        bool reads;
        const char* afterWritingX;  // the file after WriteFile("X") at offset 0
    } cases[] = {
        {GENERIC_READ, true, kDenied},
        {FILE_GENERIC_READ, true, kDenied},
        {FILE_READ_DATA, true, kDenied},
        {GENERIC_WRITE, false, "Xello"},
        {FILE_GENERIC_WRITE, false, "Xello"},
        {FILE_WRITE_DATA, false, "Xello"},
        {FILE_APPEND_DATA, false, "helloX"},
        {FILE_APPEND_DATA | FILE_GENERIC_READ, true, "helloX"},
        {FILE_ALL_ACCESS, true, "Xello"},
        {GENERIC_ALL, true, "Xello"},
        {GENERIC_READ | GENERIC_WRITE, true, "Xello"},
        {GENERIC_EXECUTE, false, kDenied},
        {DELETE | READ_CONTROL | SYNCHRONIZE | FILE_READ_ATTRIBUTES, false, kDenied},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.access);
        m_dir.Write("f.txt", "hello");
        Handle h{Open("f.txt", c.access, OPEN_EXISTING)};
        ASSERT_TRUE(h.Valid());
        char byte = 0;
        DWORD count = 0;
        if (c.reads) {
            EXPECT_TRUE(ReadFile(h, &byte, 1, &count, nullptr) && byte == 'h');
            ASSERT_TRUE(SetFilePointerEx(h, LARGE_INTEGER{}, nullptr, FILE_BEGIN));
        } else {
            EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return ReadFile(h, &byte, 1, &count, nullptr); }));
        }
        if (c.afterWritingX == kDenied) {
            EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return WriteFile(h, "X", 1, &count, nullptr); }));
            EXPECT_EQ(Read("f.txt"), "hello");
        } else {
            EXPECT_TRUE(WriteFile(h, "X", 1, &count, nullptr));
            EXPECT_EQ(Read("f.txt"), c.afterWritingX);
        }
    }
    ExpectFailures({{ERROR_PRIVILEGE_NOT_HELD, Opens("f.txt", GENERIC_READ | ACCESS_SYSTEM_SECURITY, OPEN_EXISTING)},
                    {ERROR_NOT_SUPPORTED, Opens("f.txt", MAXIMUM_ALLOWED, OPEN_EXISTING)},
                    {ERROR_ACCESS_DENIED, Opens("f.txt", GENERIC_READ | 0x200, OPEN_EXISTING)}});
}

// Share modes hold between every pair of rights as on Windows: reading and
// executing need FILE_SHARE_READ of the other handle, writing and appending
// FILE_SHARE_WRITE, DELETE FILE_SHARE_DELETE, both ways; an open without any
// of these rights conflicts with no one.
TEST_F(Files, ShareModesHoldForEveryAccessRight) {
    constexpr DWORD R = FILE_SHARE_READ, W = FILE_SHARE_WRITE, D = FILE_SHARE_DELETE;
    const struct {
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool opens;
    } cases[] = {
        {GENERIC_READ | DELETE, R | W, GENERIC_READ, R | W, false},
        {GENERIC_READ | DELETE, R | W, GENERIC_READ, R | W | D, true},
        {GENERIC_READ, R | W, DELETE, R | W | D, false},
        {DELETE, R | W, FILE_READ_DATA, R | W | D, true},
        {DELETE, R | W | D, DELETE, R | W | D, true},
        {FILE_EXECUTE, W | D, FILE_READ_DATA, R | W | D, false},
        {FILE_READ_DATA, W | D, FILE_EXECUTE, R | W | D, false},
        {FILE_APPEND_DATA, R, FILE_READ_DATA, R, false},
        {FILE_APPEND_DATA, R | W, FILE_WRITE_DATA, R | W, true},
        {FILE_READ_DATA, R, FILE_APPEND_DATA, R | W, false},
        {FILE_GENERIC_WRITE, R | W | D, FILE_GENERIC_READ, R | D, false},
        {FILE_GENERIC_READ, R, FILE_GENERIC_READ, R, true},
        {FILE_READ_DATA, 0, FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, true},
        {READ_CONTROL, 0, GENERIC_ALL, R | W | D, true},
        {GENERIC_ALL, R | W | D, GENERIC_READ, R | D, false},
    };
    m_dir.Write("s.txt", "x");
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        Handle first{Open("s.txt", c.firstAccess, OPEN_EXISTING, c.firstShare)};
        ASSERT_TRUE(first.Valid());
        if (c.opens) {
            EXPECT_TRUE(Opens("s.txt", c.secondAccess, OPEN_EXISTING, c.secondShare)());
        } else {
            EXPECT_TRUE(
                FailsWith(ERROR_SHARING_VIOLATION, Opens("s.txt", c.secondAccess, OPEN_EXISTING, c.secondShare)));
        }
    }
    // Deleting and renaming are opens for DELETE: refused unless every handle shares it.
    {
        Handle reader{Open("s.txt", GENERIC_READ, OPEN_EXISTING, R | W)};
        ExpectFailures({{ERROR_SHARING_VIOLATION, [&] { return DeleteFileW(this->W("s.txt").c_str()); }},
                        {ERROR_SHARING_VIOLATION,
                         [&] { return MoveFileExW(this->W("s.txt").c_str(), this->W("m").c_str(), 0); }}});
    }
    Handle deletable{Open("s.txt", GENERIC_READ, OPEN_EXISTING, R | D)};
    EXPECT_TRUE(DeleteFileW(this->W("s.txt").c_str()));
}

// --- Injected system-call failures -------------------------------------------------

int g_interruptions = 0;  // calls left to fail with EINTR
long g_budget = 0;        // bytes the disk still takes

// Writes go three bytes at a time and reads two, some calls interrupted: all
// are completed.  A disk that fills keeps what reached it, a failed sync is a
// write fault, and a copy that runs out of space leaves no partial target.
TEST_F(Files, ShortAndInterruptedTransfersCompleteAndFailuresAreReported) {
    Handle h{Open("f.txt", GENERIC_READ | GENERIC_WRITE, CREATE_NEW)};
    ASSERT_TRUE(h.Valid());
    m_dir.Write("source.txt", std::string(100, 's'));
    const vlibtest::SeamScope seam([](auto& s) {
        s.write = [](int fd, const void* data, size_t size) -> ssize_t {
            if (g_interruptions > 0) return --g_interruptions, errno = EINTR, -1;
            if (g_budget == 0) return errno = ENOSPC, -1;
            const auto n = RealSyscalls().write(fd, data, std::min({size, size_t{3}, static_cast<size_t>(g_budget)}));
            if (n > 0) g_budget -= n;
            return n;
        };
        s.read = [](int fd, void* data, size_t size) -> ssize_t {
            if (g_interruptions > 0) return --g_interruptions, errno = EINTR, -1;
            return RealSyscalls().read(fd, data, std::min<size_t>(size, 2));
        };
        s.fsync = [](int) { return errno = EIO, -1; };
    });
    DWORD count = 0;
    g_budget = 1000;
    g_interruptions = 3;
    EXPECT_TRUE(SucceedsQuietly([&] { return WriteFile(h, "0123456789", 10, &count, nullptr); }));
    EXPECT_EQ(count, 10u);
    EXPECT_EQ(Read("f.txt"), "0123456789");
    ASSERT_TRUE(SetFilePointerEx(h, LARGE_INTEGER{}, nullptr, FILE_BEGIN));
    char buffer[10] = {};
    g_interruptions = 2;
    ASSERT_TRUE(ReadFile(h, buffer, 7, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "0123456");
    EXPECT_EQ(g_interruptions, 0);

    g_budget = 4;
    EXPECT_TRUE(FailsWith(ERROR_DISK_FULL, [&] { return WriteFile(h, "abcdefgh", 8, &count, nullptr); }));
    EXPECT_EQ(count, 4u);  // what reached the file before the disk filled
    EXPECT_EQ(Read("f.txt"), "0123456abcd");
    EXPECT_TRUE(FailsWith(ERROR_WRITE_FAULT, [&] { return FlushFileBuffers(h); }));
    g_budget = 10;
    EXPECT_TRUE(
        FailsWith(ERROR_DISK_FULL, [&] { return CopyFileW(W("source.txt").c_str(), W("copy.txt").c_str(), TRUE); }));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "copy.txt"));
}

// --- Names and folders ---------------------------------------------------------------

TEST_F(Files, MoveAndCopyReplaceOnlyWhenAskedTo) {
    m_dir.Write("a.txt", "A");
    m_dir.Write("b.txt", "B");
    fs::create_directory(m_dir.Path() / "dir");
    const auto move = [&](const char* from, const char* to, DWORD flags) {
        return [=, this] { return MoveFileExW(W(from).c_str(), W(to).c_str(), flags) != FALSE; };
    };
    EXPECT_TRUE(FailsWith(ERROR_ALREADY_EXISTS, move("a.txt", "b.txt", 0)));
    EXPECT_TRUE(SucceedsQuietly(move("a.txt", "b.txt", MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "a.txt"));
    EXPECT_EQ(Read("b.txt"), "A");
    ExpectFailures({{ERROR_ACCESS_DENIED, move("b.txt", "dir", MOVEFILE_REPLACE_EXISTING)},
                    {ERROR_PATH_NOT_FOUND, move("b.txt", "none\\b.txt", 0)},
                    {ERROR_FILE_NOT_FOUND, move("gone.txt", "c.txt", 0)}});

    const auto old = fs::last_write_time(m_dir.Path() / "b.txt") - std::chrono::hours(48);
    fs::last_write_time(m_dir.Path() / "b.txt", old);
    const auto copy = [&](const char* from, const char* to, BOOL failIfExists) {
        return [=, this] { return CopyFileW(W(from).c_str(), W(to).c_str(), failIfExists) != FALSE; };
    };
    ASSERT_TRUE(copy("b.txt", "dir\\c.txt", TRUE)());
    EXPECT_EQ(Read("dir/c.txt"), "A");
    EXPECT_EQ(fs::last_write_time(m_dir.Path() / "dir" / "c.txt"), old);
    m_dir.Write("dir/c.txt", "other, longer contents");
    EXPECT_TRUE(FailsWith(ERROR_FILE_EXISTS, copy("b.txt", "dir\\c.txt", TRUE)));
    ASSERT_TRUE(copy("b.txt", "dir\\c.txt", FALSE)());
    EXPECT_EQ(Read("dir/c.txt"), "A");
    EXPECT_TRUE(FailsWith(ERROR_SHARING_VIOLATION, copy("b.txt", "b.txt", FALSE)));
    EXPECT_EQ(Read("b.txt"), "A");
    EXPECT_TRUE(FailsWith(ERROR_FILE_NOT_FOUND, copy("none.txt", "x.txt", FALSE)));
}

TEST_F(Files, FoldersAreCreatedAndRemoved) {
    const auto call = [&](BOOL (*f)(LPCWSTR), const char* name) {
        return [=, this] { return f(W(name).c_str()) != FALSE; };
    };
    EXPECT_TRUE(SucceedsQuietly([&] { return CreateDirectoryW(W("d").c_str(), nullptr); }));
    m_dir.Write("d/f.txt", "f");
    ExpectFailures({{ERROR_ALREADY_EXISTS, [&] { return CreateDirectoryW(W("d").c_str(), nullptr); }},
                    {ERROR_PATH_NOT_FOUND, [&] { return CreateDirectoryW(W("x\\y").c_str(), nullptr); }},
                    {ERROR_DIR_NOT_EMPTY, call(RemoveDirectoryW, "d")},
                    {ERROR_DIRECTORY, call(RemoveDirectoryW, "d\\f.txt")},
                    {ERROR_ACCESS_DENIED, call(DeleteFileW, "d")}});
    ASSERT_TRUE(call(DeleteFileW, "d\\f.txt")());
    EXPECT_TRUE(FailsWith(ERROR_FILE_NOT_FOUND, call(DeleteFileW, "d\\f.txt")));
    EXPECT_TRUE(call(RemoveDirectoryW, "d")());
    EXPECT_TRUE(FailsWith(ERROR_FILE_NOT_FOUND, call(RemoveDirectoryW, "d")));
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
    const auto attributes = [&](const char* name) {
        return [=, this] { return GetFileAttributesW(W(name).c_str()) != INVALID_FILE_ATTRIBUTES; };
    };
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ExpectFailures({{ERROR_FILE_NOT_FOUND, attributes("none")},
                    {ERROR_PATH_NOT_FOUND, attributes("none\\x")},
                    {ERROR_INVALID_PARAMETER,
                     [&] { return GetFileAttributesExW(W("plain.txt").c_str(), GetFileExMaxInfoLevel, &data); }}});
    ASSERT_TRUE(GetFileAttributesExW(W("plain.txt").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow + data.nFileSizeHigh, 5u);
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
    const vlibtest::EnvScope tmp("TMPDIR", "/var/tmp");
    length = GetTempPathW(4096, buffer);
    EXPECT_EQ(std::wstring(buffer, length), L"/var/tmp/");
    EXPECT_EQ(GetTempPathW(3, buffer), 10u);
}

// A temporary folder is new, private (0700) and unpredictably named in the
// temporary folder.
TEST_F(Files, TemporaryFoldersAreNewPrivateAndUnpredictable) {
    const std::string folder = m_dir.Path().string();
    const vlibtest::EnvScope tmp("TMPDIR", folder.c_str());
    std::wstring first, second;
    ASSERT_TRUE(vplatform::CreateTemporaryFolder(L"demo-", first));
    ASSERT_TRUE(vplatform::CreateTemporaryFolder(L"demo-", second));
    EXPECT_NE(first, second);
    for (const fs::path& made : {fs::path(first), fs::path(second)}) {
        EXPECT_EQ(made.parent_path(), m_dir.Path());
        EXPECT_TRUE(made.filename().string().starts_with("demo-"));
        EXPECT_EQ(made.filename().string().size(), 21u);
        EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all);
        EXPECT_FALSE(fs::is_symlink(made));
    }
}

TEST_F(Files, FileTimesAreSetAndReadAndNeedWriteAccess) {
    Handle h{Open("t.txt", GENERIC_READ | GENERIC_WRITE, CREATE_NEW)};
    ASSERT_TRUE(h.Valid());
    const FILETIME written = vplatform::FileTimeFromTicks(132'000'000'001'234'567ull);  // 2019, sub-second ticks
    const FILETIME accessed = vplatform::FileTimeFromTicks(131'000'000'000'000'000ull);
    const FILETIME zero{0, 0};
    ASSERT_TRUE(SetFileTime(h, nullptr, &accessed, &written));
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &zero));  // null and zero leave a time alone
    FILETIME created{}, readAccess{}, readWrite{};
    ASSERT_TRUE(GetFileTime(h, &created, &readAccess, &readWrite));
    EXPECT_EQ(Ticks(readWrite), Ticks(written));
    EXPECT_EQ(Ticks(readAccess), Ticks(accessed));
    EXPECT_NE(Ticks(created), 0u);
    Handle query{Open("t.txt", 0, OPEN_EXISTING)};
    ASSERT_TRUE(query.Valid());  // opens for queries conflict with no one
    EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [&] { return SetFileTime(query, nullptr, nullptr, &written); }));
}

}  // namespace

// A terminal, the null device, a FIFO and a file are told apart as Windows
// tells a console, a device, a pipe and a disk file; only the terminal has a
// console mode.  The standard handles are one handle each for the process.
TEST_F(Files, FileTypesAndConsoleModesTellTerminalsFromDevicesPipesAndFiles) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char slaveName[64] = {};
    ASSERT_EQ(ttyname_r(slave, slaveName, sizeof slaveName), 0);
    ASSERT_EQ(mkfifo((m_dir.Path() / "fifo").c_str(), 0600), 0);
    m_dir.Write("file", "x");
    const std::wstring terminal = fs::path(slaveName).wstring();
    const auto open = [](const std::wstring& path, DWORD access) {
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    };
    const struct {
        std::wstring path;
        DWORD access, type, mode;
    } cases[] = {
        {terminal, GENERIC_WRITE, FILE_TYPE_CHAR, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT},
        {terminal, GENERIC_READ, FILE_TYPE_CHAR, ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT},
        {L"/dev/null", GENERIC_WRITE, FILE_TYPE_CHAR, 0},
        {W("fifo"), GENERIC_READ | GENERIC_WRITE, FILE_TYPE_PIPE, 0},
        {W("file"), GENERIC_READ, FILE_TYPE_DISK, 0},
    };
    for (const auto& c : cases) {
        const Handle h{open(c.path, c.access)};
        ASSERT_TRUE(h.Valid()) << fs::path(c.path) << " " << GetLastError();
        EXPECT_EQ(GetFileType(h), c.type) << fs::path(c.path);
        DWORD mode = 0xdeadbeef;
        if (c.mode != 0) {
            EXPECT_TRUE(GetConsoleMode(h, &mode)) << fs::path(c.path);
            EXPECT_EQ(mode, c.mode);
        } else {
            EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetConsoleMode(h, &mode) != FALSE; }))
                << fs::path(c.path);
        }
    }
    close(slave);
    close(master);

    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), error);
    EXPECT_NE(GetStdHandle(STD_INPUT_HANDLE), error);
    EXPECT_NE(GetFileType(error), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    SetLastError(0);
    EXPECT_EQ(GetStdHandle(0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileType(nullptr), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
}

#include "diagnostics/Log.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <map>
#include <stdexcept>
#include <thread>

#include "diagnostics/internal/LogTesting.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/Files.h"
#include "platform/mfc/AfxException.h"
#include "tests/support/AcpScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestException.h"
#include "tests/support/Wait.h"
#include "text/StringConversion.h"

namespace {

using vlibtest::LogCapture;
using vlibtest::LogEntry;
using vlibtest::TempDir;
using namespace std::string_view_literals;

std::wstring Wide(const std::filesystem::path& path) {
    return VTools::String::Utf8ToWide(path.string());
}

// Waits until the writer has put more than `bytes` bytes into `file`.
void WaitForFileSize(const std::filesystem::path& file, std::uintmax_t bytes) {
    EXPECT_TRUE(vlibtest::WaitFor([&] {
        std::error_code error;
        return std::filesystem::file_size(file, error) >= bytes && !error;
    }));
}

void Write(std::string_view function, int line, std::string_view message) {
    VTools::Log::Instance().Write(function, line, message);
}

TEST(Log, EntryHasTheExactBytesAndTheLocalTime) {
    vlibtest::AcpScope acp(1250);
    TempDir dir;
    const auto file = dir.Path() / "log.txt";
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(file)));
    EXPECT_TRUE(VTools::Log::Instance().IsOpen());
    const std::time_t before = std::time(nullptr);
    Write("A::B", 7, "x");
    WaitForFileSize(file, 1);
    VTools::Log::Instance().Close();
    EXPECT_FALSE(VTools::Log::Instance().IsOpen());

    const std::string bytes = TempDir::Read(file);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(bytes.substr(12, 20), "\t\tA::B ( 7 )\r\nx\r\n-\r\n");
    // The closing entry follows, in the ANSI code page (here Windows-1250).
    EXPECT_TRUE(
        bytes.ends_with("Zamkni\xEA"
                        "cie\r\n-\r\n"))
        << bytes;
    const auto entries = vlibtest::ParseLog(bytes);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].function, "VTools::Log::Close");

    // The stamp is the local time of day of the write (allowing one second).
    std::tm local{};
    localtime_r(&before, &local);
    const int stamped =
        std::stoi(bytes.substr(0, 2)) * 3600 + std::stoi(bytes.substr(3, 2)) * 60 + std::stoi(bytes.substr(6, 2));
    const int expected = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    EXPECT_LE((stamped - expected + 86400) % 86400, 1);
}

TEST(Log, MessagesAreWrittenAsGivenUpToAnEmbeddedNul) {
    LogCapture log;
    Write("F", -12, "");
    Write("F", 1, "before\0after"sv);
    Write("F", 2, "two\nlines");
    Write("F\0ignored"sv, 3, "ok");
    const auto entries = log.CloseAndRead(4);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].line, "-12");
    EXPECT_EQ(entries[0].message, "");
    EXPECT_EQ(entries[1].message, "before");
    EXPECT_EQ(entries[2].message, "two\r\nlines");
    EXPECT_EQ(entries[3].function, "F");
}

TEST(Log, ClosedLogWritesNothingAndCloseNeverFails) {
    VTools::Log::Instance().Close();
    Write("Before", 1, "dropped");
    VTools::Log::Instance().Close();
    LogCapture log;
    Write("During", 1, "kept");
    const auto entries = log.CloseAndRead(1);
    Write("After", 1, "dropped");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].function, "During");
    EXPECT_EQ(vlibtest::ParseLog(TempDir::Read(log.File())).size(), 2u);
}

TEST(Log, OpenAppendsRefusesASecondOpenAndFailsForAMissingFolder) {
    TempDir dir;
    const auto file = dir.Write("log.txt", "earlier contents\r\n");
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(file)));
    EXPECT_FALSE(VTools::Log::Instance().Open(Wide(dir.Path() / "other.txt")));
    Write("F", 1, "x");
    WaitForFileSize(file, 18 + 1);
    VTools::Log::Instance().Close();
    const std::string bytes = TempDir::Read(file);
    EXPECT_TRUE(bytes.starts_with("earlier contents\r\n"));
    EXPECT_EQ(vlibtest::ParseLog(bytes.substr(18)).size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "other.txt"));

    EXPECT_FALSE(VTools::Log::Instance().Open(Wide(dir.Path() / "missing" / "log.txt")));
    EXPECT_FALSE(VTools::Log::Instance().IsOpen());
    // Reopening after a close works.
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(file)));
    VTools::Log::Instance().Close();
}

TEST(Log, EntriesFromManyThreadsArriveWholeAndInQueueOrder) {
    LogCapture log;
    constexpr int kThreads = 4, kEntries = 500;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int n = 0; n < kEntries; ++n) Write("Writer", t, std::to_string(n));
        });
    }
    for (auto& w : writers) w.join();
    ASSERT_EQ(log.WaitForEntries(kThreads * kEntries).size(), static_cast<size_t>(kThreads * kEntries));
    const auto entries = log.CloseAndRead();
    ASSERT_EQ(entries.size(), kThreads * kEntries + 1u);
    std::map<std::string, int> next;
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        EXPECT_EQ(std::stoi(entries[i].message), next[entries[i].line]++);
    }
}

TEST(Log, CloseDiscardsQueuedEntriesAndWritesOneClosingEntryLast) {
    LogCapture log;
    constexpr int kEntries = 20000;
    for (int n = 0; n < kEntries; ++n) Write("Burst", n, "entry");
    const auto entries = log.CloseAndRead();
    ASSERT_GE(entries.size(), 1u);
    EXPECT_EQ(entries.back().function, "VTools::Log::Close");
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        ASSERT_EQ(entries[i].function, "Burst");
        ASSERT_EQ(entries[i].line, std::to_string(i));  // a prefix of the queue, in order
    }
}

TEST(Log, FlushWaitsUntilEveryQueuedEntryIsWritten) {
    EXPECT_FALSE(VTools::Log::Instance().Flush());
    LogCapture log;
    constexpr int kEntries = 5000;
    for (int n = 0; n < kEntries; ++n) Write("Flushed", n, "entry");
    EXPECT_TRUE(VTools::Log::Instance().Flush());
    EXPECT_EQ(log.CloseAndRead().size(), kEntries + 1u);
}

TEST(Log, WriteFailuresAreSwallowed) {
    // Every write to /dev/full fails with ENOSPC.
    ASSERT_TRUE(VTools::Log::Instance().Open(L"/dev/full"));
    for (int n = 0; n < 10; ++n) Write("Full", n, "lost");
    VTools::Log::Instance().Close();
    EXPECT_FALSE(VTools::Log::Instance().IsOpen());
}

TEST(Log, LogAllExceptionsClassifiesWhatIsBeingHandled) {
    vlibtest::AcpScope acp(CP_UTF8);
    int deleted = 0;
    LogCapture log;
    try {
        throw std::runtime_error("disk full");
    } catch (...) {
        LogAllExceptions("Caller", 10);
    }
    try {
        throw 42;
    } catch (...) {
        LogAllExceptions("Caller", 11);
    }
    try {
        throw new vlibtest::TestMfcException(L"counting", &deleted);
    } catch (...) {
        LogAllExceptions("Caller", 12);
    }
    const auto entries = log.CloseAndRead(3);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].message, "Wyjątek: disk full");
    EXPECT_EQ(entries[0].line, "10");
    EXPECT_EQ(entries[1].message, "Nieznany wyjątek.");
    EXPECT_EQ(entries[2].message, "Wyjątek MFC: counting");
    EXPECT_EQ(deleted, 1);
}

void SetAgeHours(const std::filesystem::path& file, LONGLONG hours) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const FILETIME then =
        vplatform::FileTimeFromTicks(vplatform::FileTimeTicks(now) - static_cast<ULONGLONG>(hours * 36'000'000'000LL));
    const HANDLE handle = CreateFileW(Wide(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &then));
    CloseHandle(handle);
}

TEST(Log, CleanerDeletesOnlyOldTextFilesOfTheFolderAfterTheDelay) {
    TempDir dir;
    const auto oldUpper = dir.Write("OLD.TXT", "x");
    const auto recent = dir.Write("recent.txt", "x");
    const auto oldOther = dir.Write("old.log", "x");
    const auto almost = dir.Write("almost.txt", "x");
    std::filesystem::create_directory(dir.Path() / "sub");
    const auto nested = dir.Write("sub/nested.txt", "x");
    SetAgeHours(oldUpper, 200);
    SetAgeHours(recent, 100);
    SetAgeHours(oldOther, 300);
    SetAgeHours(almost, 167);
    SetAgeHours(nested, 300);

    // Closed within the ten seconds: nothing is deleted.
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(dir.Path() / "log.txt")));
    VTools::Log::Instance().Close();
    EXPECT_TRUE(std::filesystem::exists(oldUpper));

    const VTools::internal::ScopedLogCleanDelay delay(std::chrono::milliseconds(20));
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(dir.Path() / "log.txt")));
    EXPECT_TRUE(vlibtest::WaitFor([&] { return !std::filesystem::exists(oldUpper); }));
    VTools::Log::Instance().Close();
    EXPECT_TRUE(std::filesystem::exists(recent));
    EXPECT_TRUE(std::filesystem::exists(almost));
    EXPECT_TRUE(std::filesystem::exists(oldOther));
    EXPECT_TRUE(std::filesystem::exists(nested));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "log.txt"));
}

// A fixed log name reused after a week away: the clean-up runs before the
// first entry refreshes the file, which on Windows cannot be deleted while
// open.  The session's entries, the closing one included, stay in the file.
TEST(Log, TheCleanUpNeverDeletesTheLogsOwnFile) {
    TempDir dir;
    const auto file = dir.Write("log.txt", "last week\r\n");
    const auto other = dir.Write("other.txt", "x");
    SetAgeHours(file, 200);
    SetAgeHours(other, 200);
    const VTools::internal::ScopedLogCleanDelay delay(std::chrono::milliseconds(0));
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(file)));
    EXPECT_TRUE(vlibtest::WaitFor([&] { return !std::filesystem::exists(other); }));
    VTools::Log::Instance().Close();  // waits for the clean-up to end
    ASSERT_TRUE(std::filesystem::exists(file));
    const std::string bytes = TempDir::Read(file);
    EXPECT_TRUE(bytes.starts_with("last week\r\n"));
    const auto entries = vlibtest::ParseLog(bytes.substr(11));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].function, "VTools::Log::Close");
}

// A log directly in "/": the clean-up works on "/", not on the current
// folder.  Run in a child process confined to a temporary folder (chroot),
// so that the real root is never touched.
TEST(Log, ALogDirectlyInTheRootCleansTheRootNotTheCurrentFolder) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "work");
    const auto old = dir.Write("old.txt", "x");
    const auto kept = dir.Write("work/kept.txt", "x");
    SetAgeHours(old, 200);
    SetAgeHours(kept, 200);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chroot(dir.Path().c_str()) != 0 || chdir("/work") != 0) _exit(77);
        const VTools::internal::ScopedLogCleanDelay delay(std::chrono::milliseconds(0));
        if (!VTools::Log::Instance().Open(L"/app.txt")) _exit(2);
        const bool cleaned = vlibtest::WaitFor([] { return !std::filesystem::exists("/old.txt"); });
        VTools::Log::Instance().Close();
        _exit(cleaned && std::filesystem::exists("/work/kept.txt") ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "chroot is not permitted here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(kept));
}

// Close stops counting at once: only writes that began while the log was
// running are waited for, so threads that keep logging cannot hold it up.
TEST(Log, CloseReturnsWhileOtherThreadsKeepLogging) {
    LogCapture log;
    std::atomic<bool> stop{false};
    std::atomic<int> started{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 16; ++t) {
        writers.emplace_back([&, t] {
            Write("Busy", t, "entry");
            started.fetch_add(1);
            while (!stop.load(std::memory_order_relaxed)) Write("Busy", t, "entry");
        });
    }
    // Closed while every writer is busy, before a long queue has built up.
    ASSERT_TRUE(vlibtest::WaitFor([&] { return started.load() == 16; }));
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        VTools::Log::Instance().Close();
        closed = true;
    });
    EXPECT_TRUE(vlibtest::WaitFor([&] { return closed.load(); }, std::chrono::seconds(3)));
    stop = true;
    for (auto& w : writers) w.join();
    closer.join();
    const auto entries = log.CloseAndRead();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().function, "VTools::Log::Close");
}

// A write that fails (a full disk, an I/O error) loses at most its own entry:
// once writing works again the next entries reach the file, and an entry
// that was written in part is completed before them, never left torn in the
// middle of the file.
enum class Disk { Ok, FailAfterHalf, Full };
std::atomic<Disk> g_disk{Disk::Ok};

ssize_t FailingWrite(int fd, const void* buffer, size_t count) {
    switch (g_disk.load()) {
        case Disk::Ok:
            break;
        case Disk::FailAfterHalf:
            g_disk = Disk::Full;
            count = count / 2;
            break;
        case Disk::Full:
            errno = ENOSPC;
            return -1;
    }
    return vplatform::test::RealSyscalls().write(fd, buffer, count);
}

TEST(Log, EntriesAfterAFailedWriteReachTheFileWhole) {
    vplatform::Syscalls table = vplatform::test::RealSyscalls();
    table.write = FailingWrite;
    const vplatform::test::ScopedSyscallsForTesting scope(table);
    LogCapture log;
    Write("F", 1, "before");
    ASSERT_TRUE(VTools::Log::Instance().Flush());
    g_disk = Disk::FailAfterHalf;
    Write("F", 2, "torn by a full disk");
    Write("F", 3, "lost while the disk is full");
    ASSERT_TRUE(VTools::Log::Instance().Flush());
    g_disk = Disk::Ok;
    Write("F", 4, "after");
    const auto entries = log.CloseAndRead(3);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].message, "before");
    EXPECT_EQ(entries[1].message, "torn by a full disk");
    EXPECT_EQ(entries[2].message, "after");
    EXPECT_EQ(entries[3].function, "VTools::Log::Close");
}

// The log opens its file by the platform's path rule, as CreateFileW does: a
// path that names no file (a lone surrogate) is refused, not bent into
// another name.
TEST(Log, APathWithoutAFileSystemFormIsRefused) {
    TempDir dir;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(VTools::Log::Instance().Open(Wide(dir.Path()) + L"/log\xD800.txt"));
    EXPECT_FALSE(VTools::Log::Instance().Open(Wide(dir.Path()) + std::wstring(L"/log\0.txt", 9)));
    EXPECT_FALSE(VTools::Log::Instance().IsOpen());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace

#include "diagnostics/Log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <stdexcept>
#include <thread>

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
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    ticks -= static_cast<ULONGLONG>(hours * 36'000'000'000LL);
    const FILETIME then{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    const HANDLE handle = CreateFileW(Wide(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(handle, nullptr, nullptr, &then));
    CloseHandle(handle);
}

TEST(Log, CleanerDeletesOnlyOldTextFilesOfTheFolderTenSecondsAfterOpen) {
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

    // Closed within ten seconds: nothing is deleted.
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(dir.Path() / "log.txt")));
    VTools::Log::Instance().Close();
    EXPECT_TRUE(std::filesystem::exists(oldUpper));

    const auto opened = std::chrono::steady_clock::now();
    ASSERT_TRUE(VTools::Log::Instance().Open(Wide(dir.Path() / "log.txt")));
    while (std::filesystem::exists(oldUpper) && std::chrono::steady_clock::now() - opened < std::chrono::seconds(20)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto waited = std::chrono::steady_clock::now() - opened;
    VTools::Log::Instance().Close();
    EXPECT_FALSE(std::filesystem::exists(oldUpper));
    EXPECT_GE(waited, std::chrono::milliseconds(9900));
    EXPECT_TRUE(std::filesystem::exists(recent));
    EXPECT_TRUE(std::filesystem::exists(almost));
    EXPECT_TRUE(std::filesystem::exists(oldOther));
    EXPECT_TRUE(std::filesystem::exists(nested));
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "log.txt"));
}

}  // namespace

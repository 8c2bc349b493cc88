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
#include "platform/kernel/Files.h"
#include "tests/support/AcpScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Seam.h"
#include "tests/support/TestException.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;
using vlibtest::LogCapture;
using vlibtest::TempDir;
using vlibtest::WaitFor;
using vlibtest::Wide;
using namespace std::string_view_literals;

VTools::Log& TheLog() {
    return VTools::Log::Instance();
}

void Write(std::string_view function, int line, std::string_view message) {
    TheLog().Write(function, line, message);
}

// The entries of `bytes`, all of which must be whole.
std::vector<vlibtest::LogEntry> Whole(const std::string& bytes) {
    bool complete = false;
    auto entries = vlibtest::ParseLog(bytes, &complete);
    EXPECT_TRUE(complete) << bytes;
    return entries;
}

// An entry's exact bytes and local time; messages are written as given up
// to an embedded NUL, with their line ends made CR LF.
TEST(Log, EntryHasTheExactBytesAndTheLocalTime) {
    vlibtest::AcpScope acp(1250);
    TempDir dir;
    const auto file = dir.Path() / "log.txt";
    ASSERT_TRUE(TheLog().Open(Wide(file)));
    EXPECT_TRUE(TheLog().IsOpen());
    const std::time_t before = std::time(nullptr);
    Write("A::B", 7, "x");
    Write("F", -12, "");
    Write("F", 1, "before\0after"sv);
    Write("F", 2, "two\nlines");
    Write("F\0ignored"sv, 3, "ok");
    ASSERT_TRUE(TheLog().Flush());
    TheLog().Close();
    EXPECT_FALSE(TheLog().IsOpen());

    const std::string bytes = TempDir::Read(file);
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(bytes.substr(12, 20), "\t\tA::B ( 7 )\r\nx\r\n-\r\n");
    // The closing entry follows, in the ANSI code page (here Windows-1250).
    EXPECT_TRUE(bytes.ends_with("Zamkni\352cie\r\n-\r\n")) << bytes;
    const auto entries = Whole(bytes);
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[1].line, "-12");
    EXPECT_EQ(entries[1].message, "");
    EXPECT_EQ(entries[2].message, "before");
    EXPECT_EQ(entries[3].message, "two\r\nlines");
    EXPECT_EQ(entries[4].function, "F");
    EXPECT_EQ(entries[5].function, "VTools::Log::Close");
    // The stamp is the local time of day of the write (allowing one second).
    std::tm local{};
    localtime_r(&before, &local);
    const int stamped =
        std::stoi(bytes.substr(0, 2)) * 3600 + std::stoi(bytes.substr(3, 2)) * 60 + std::stoi(bytes.substr(6, 2));
    EXPECT_LE((stamped - (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) + 86400) % 86400, 1);
}

// Open appends, after a line break when the file ends inside a line (an
// entry torn by a killed process), and refuses a second file or a path with
// no file-system form (never bent into another name); a closed log writes
// nothing, Close never fails, and the log reopens after a close.
TEST(Log, OpenAppendsOnALineOfItsOwnAndOnlyAnOpenLogWrites) {
    const std::string torn = "12:00:00.000\t\tF ( 1 )\r\nhalf an ent";
    for (const std::string& earlier : {std::string("earlier contents\r\n"), torn}) {
        SCOPED_TRACE(earlier);
        TempDir dir;
        const auto file = dir.Write("log.txt", earlier);
        TheLog().Close();
        Write("Before", 1, "dropped");
        for (const std::wstring& refused :
             {Wide(dir.Path() / "missing" / "log.txt"), Wide(dir.Path()) + L"/log\xD800.txt",
              Wide(dir.Path()) + std::wstring(L"/log\0.txt", 9)}) {
            EXPECT_FALSE(TheLog().Open(refused));
        }
        EXPECT_FALSE(TheLog().IsOpen());
        ASSERT_TRUE(TheLog().Open(Wide(file)));
        EXPECT_FALSE(TheLog().Open(Wide(dir.Path() / "other.txt")));
        Write("During", 1, "kept");
        ASSERT_TRUE(TheLog().Flush());
        TheLog().Close();
        TheLog().Close();
        Write("After", 1, "dropped");
        ASSERT_TRUE(TheLog().Open(Wide(file)));
        TheLog().Close();
        const std::string bytes = TempDir::Read(file);
        const std::string kept = earlier.ends_with("\r\n") ? earlier : earlier + "\r\n";
        ASSERT_TRUE(bytes.starts_with(kept)) << bytes;
        const auto entries = Whole(bytes.substr(kept.size()));
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[0].function, "During");
        EXPECT_EQ(entries[2].function, "VTools::Log::Close");
        EXPECT_EQ(vlibtest::Names(dir.Path()), std::vector<std::string>{"log.txt"});
    }
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
    const auto entries = log.CloseAndRead(kThreads * kEntries);
    ASSERT_EQ(entries.size(), kThreads * kEntries + 1u);
    std::map<std::string, int> next;
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
        EXPECT_EQ(std::stoi(entries[i].message), next[entries[i].line]++);
    }
}

TEST(Log, CloseDiscardsQueuedEntriesAndFlushWaitsForThem) {
    for (const bool flush : {false, true}) {
        LogCapture log;
        constexpr int kEntries = 20000;
        for (int n = 0; n < kEntries; ++n) Write("Burst", n, "entry");
        EXPECT_TRUE(!flush || TheLog().Flush());
        const auto entries = log.CloseAndRead();
        EXPECT_TRUE(!flush || entries.size() == kEntries + 1u) << entries.size();
        ASSERT_GE(entries.size(), 1u);
        EXPECT_EQ(entries.back().function, "VTools::Log::Close");
        for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
            ASSERT_EQ(entries[i].line, std::to_string(i));  // a prefix of the queue, in order
        }
    }
    EXPECT_FALSE(TheLog().Flush());
}

TEST(Log, LogAllExceptionsClassifiesWhatIsBeingHandled) {
    vlibtest::AcpScope acp(CP_UTF8);
    int deleted = 0;
    const auto entries = vlibtest::EntriesOf([&] {
        const std::function<void()> throwers[] = {[] { throw std::runtime_error("disk full"); }, [] { throw 42; },
                                                  [&] { throw new vlibtest::TestMfcException(L"counting", &deleted); }};
        for (int i = 0; i < 3; ++i) {
            try {
                throwers[i]();
            } catch (...) {
                LogAllExceptions("Caller", 10 + i);
            }
        }
    });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].message, "Wyjątek: disk full");
    EXPECT_EQ(entries[0].line, "10");
    EXPECT_EQ(entries[1].message, "Nieznany wyjątek.");
    EXPECT_EQ(entries[2].message, "Wyjątek MFC: counting");
    EXPECT_EQ(deleted, 1);
}

void SetAgeHours(const fs::path& file, LONGLONG hours) {
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

// Ten seconds after Open (shortened here), ".txt" files of the log's folder
// that are a week old go; nothing else, and never the log's own file, which
// an old log reused after a week away is (on Windows an open file cannot be
// deleted): its entries stay.
TEST(Log, TheCleanUpDeletesOnlyOldTextFilesBesideTheLog) {
    TempDir dir;
    const struct {
        const char* name;
        LONGLONG age;
        bool kept;
    } files[] = {{"OLD.TXT", 200, false},   {"recent.txt", 100, true},     {"old.log", 300, true},
                 {"almost.txt", 167, true}, {"sub/nested.txt", 300, true}, {"log.txt", 200, true}};
    fs::create_directory(dir.Path() / "sub");
    for (const auto& f : files) SetAgeHours(dir.Write(f.name, "last week\r\n"), f.age);

    // Closed within the ten seconds: nothing is deleted.
    ASSERT_TRUE(TheLog().Open(Wide(dir.Path() / "log.txt")));
    TheLog().Close();
    EXPECT_TRUE(fs::exists(dir.Path() / "OLD.TXT"));
    SetAgeHours(dir.Path() / "log.txt", 200);  // old again, as after a week away

    const VTools::internal::ScopedLogCleanDelay delay(std::chrono::milliseconds(0));
    ASSERT_TRUE(TheLog().Open(Wide(dir.Path() / "log.txt")));
    EXPECT_TRUE(WaitFor([&] { return !fs::exists(dir.Path() / "OLD.TXT"); }));
    TheLog().Close();  // waits for the clean-up to end
    for (const auto& f : files) EXPECT_EQ(fs::exists(dir.Path() / f.name), f.kept) << f.name;
    const std::string bytes = TempDir::Read(dir.Path() / "log.txt");
    ASSERT_TRUE(bytes.starts_with("last week\r\n"));
    EXPECT_EQ(Whole(bytes.substr(11)).size(), 2u);
}

// A log directly in "/" cleans "/", not the current folder; run in a child
// confined to a temporary folder (chroot), so the real root is never touched.
TEST(Log, ALogDirectlyInTheRootCleansTheRootNotTheCurrentFolder) {
    TempDir dir;
    fs::create_directory(dir.Path() / "work");
    SetAgeHours(dir.Write("old.txt", "x"), 200);
    SetAgeHours(dir.Write("work/kept.txt", "x"), 200);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chroot(dir.Path().c_str()) != 0 || chdir("/work") != 0) _exit(77);
        const VTools::internal::ScopedLogCleanDelay delay(std::chrono::milliseconds(0));
        if (!TheLog().Open(L"/app.txt")) _exit(2);
        const bool cleaned = WaitFor([] { return !fs::exists("/old.txt"); });
        TheLog().Close();
        _exit(cleaned && fs::exists("/work/kept.txt") ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "chroot is not permitted here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::exists(dir.Path() / "old.txt"));
    EXPECT_TRUE(fs::exists(dir.Path() / "work" / "kept.txt"));
}

// Close waits only for the writes that began while the log was running, so
// threads that keep logging cannot hold it up.
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
    ASSERT_TRUE(WaitFor([&] { return started.load() == 16; }));
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        TheLog().Close();
        closed = true;
    });
    EXPECT_TRUE(WaitFor([&] { return closed.load(); }));
    stop = true;
    for (auto& w : writers) w.join();
    closer.join();
    const auto entries = log.CloseAndRead();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().function, "VTools::Log::Close");
}

// Writes that always fail (every write to /dev/full ends with ENOSPC) are
// swallowed, and Close still ends.
TEST(Log, WriteFailuresAreSwallowedAndCloseEnds) {
    ASSERT_TRUE(TheLog().Open(L"/dev/full"));
    for (int n = 0; n < 10; ++n) Write("Full", n, "lost");
    TheLog().Close();
    EXPECT_FALSE(TheLog().IsOpen());
}

// A failed write (a full disk) loses at most its own entry: once writing works
// again the next entries reach the file, and an entry written in part is
// completed first, never left torn inside the file.
enum class Disk { Ok, FailAfterHalf, Full };
std::atomic<Disk> g_disk{Disk::Ok};

TEST(Log, EntriesAfterAFailedWriteReachTheFileWhole) {
    const vlibtest::SeamScope seam([](auto& s) {
        s.write = [](int fd, const void* buffer, size_t count) -> ssize_t {
            if (g_disk == Disk::Full) return errno = ENOSPC, -1;
            if (g_disk == Disk::FailAfterHalf) {
                g_disk = Disk::Full;
                count /= 2;
            }
            return vplatform::test::RealSyscalls().write(fd, buffer, count);
        };
    });
    LogCapture log;
    Write("F", 1, "before");
    ASSERT_TRUE(TheLog().Flush());
    g_disk = Disk::FailAfterHalf;
    Write("F", 2, "torn by a full disk");
    Write("F", 3, "lost while the disk is full");
    ASSERT_TRUE(TheLog().Flush());
    g_disk = Disk::Ok;
    Write("F", 4, "after");
    const auto entries = log.CloseAndRead(3);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].message, "before");
    EXPECT_EQ(entries[1].message, "torn by a full disk");
    EXPECT_EQ(entries[2].message, "after");
    EXPECT_EQ(entries[3].function, "VTools::Log::Close");
}

}  // namespace

#include "diagnostics/Log.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <future>
#include <limits>
#include <thread>

#include "diagnostics/internal/CaughtMfcException.h"
#include "diagnostics/internal/EntryPool.h"
#include "diagnostics/internal/LogTesting.h"
#include "platform/kernel/FileSystemPath.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/Time.h"
#include "text/StringConversion.h"

namespace VTools {

namespace {

// The delay between Open and the clean-up; tests shorten it.
std::atomic<std::uint32_t> g_cleanDelayMilliseconds{10000};
constexpr LONGLONG kTicksPerHour = 36'000'000'000LL;  // 100-ns ticks
constexpr LONGLONG kMaximumAgeHours = 168;

// Text as printf's "%s" takes it: up to its end or its first NUL.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// The line feeds of `text`, each of which a text-mode stream stores as CR LF.
std::size_t LineFeeds(std::string_view text) {
    std::size_t count = 0;
    if (text.empty()) return count;
    for (const char* at = text.data(); const void* found = std::memchr(at, '\n', text.data() + text.size() - at);) {
        ++count;
        at = static_cast<const char*>(found) + 1;
    }
    return count;
}

// Copies `text` to `out` as a text-mode stream stores it, every "\n" as CR
// LF; `lineFeeds` is LineFeeds(text).  Returns the end of what was written.
char* CopyTextMode(char* out, std::string_view text, std::size_t lineFeeds) {
    if (lineFeeds == 0) {
        if (!text.empty()) std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    for (const char c : text) {
        if (c == '\n') *out++ = '\r';
        *out++ = c;
    }
    return out;
}

template <std::size_t N>
char* CopyLiteral(char* out, const char (&literal)[N]) {
    std::memcpy(out, literal, N - 1);
    return out + N - 1;
}

// The folder of the log's file: the path without its last element, "/" for
// a file directly in the root, "." for a bare name.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return L".";
    return path.substr(0, separator == 0 ? 1 : separator);
}

// How long the exit waits for the writer to put what Write accepted into the
// file.
constexpr auto kExitFlushLimit = std::chrono::seconds(1);

}  // namespace

void Log::FlushAtExit() noexcept {
    Log& log = Instance();
    // A child forked without exec has the file but not the writer thread.
    if (log.IsOpen() && log.m_openedBy == GetCurrentProcessId()) log.Flush(kExitFlushLimit);
}

Log& Log::Instance() {
    static Log log;
    return log;
}

Log::Log() : m_writer("Log"), m_cleaner("Clean"), m_entries(std::make_unique<internal::EntryPool>()) {}

Log::~Log() {
    // At process exit after a missing Close: the queued entries were written
    // by FlushAtExit; stop the threads before the members they use are
    // destroyed.  A file still open is left to the system, which closes it
    // with the process.
    try {
        m_cleaner.StopExecute();
        m_writer.StopExecute();
    } catch (...) {
    }
}

bool Log::Open(const std::wstring& path) {
    // A second Open while open would start the executors twice: refused, and
    // the current file is kept.
    if (IsOpen() || m_writer.IsRunning()) return false;
    if (!OpenStream(path)) return false;
    m_writer.StartExecute();
    m_openedBy = GetCurrentProcessId();
    // At exit, before the statics made so far (those the writer has just
    // used among them) and this log are destroyed, the entries still queued
    // are written; the destructor then stops the threads.
    static const bool registered = std::atexit([] { FlushAtExit(); }) == 0;
    (void)registered;
    m_cleaner.SetRunOnce(true);
    m_cleaner.SetTimer(g_cleanDelayMilliseconds.load());
    m_cleaner.SetTask([path] { Clean(path); });
    m_cleaner.StartExecute();
    return true;
}

bool Log::OpenStream(const std::wstring& path) {
    // Bytes as they are: the entries already carry CR LF line ends.  Other
    // processes may read and write the file meanwhile; without
    // FILE_SHARE_DELETE the open file cannot be deleted, by the clean-up
    // either.  A path with a NUL inside names no file (as a C string it would
    // name another).
    if (path.find(L'\0') != std::wstring::npos) return false;
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    m_file = file;
    m_pending.clear();
    // A process killed while writing may have left its last entry torn
    // (the kernel can cut a write at a page boundary): the entries of this
    // run start on a line of their own, not glued to the torn text.
    if (EndsInsideALine(path)) {
        DWORD written = 0;
        WriteFile(m_file, "\r\n", 2, &written, nullptr);
    }
    return true;
}

bool Log::EndsInsideALine(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    LARGE_INTEGER last{};
    char byte = '\n';
    DWORD read = 0;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) {
        last.QuadPart = size.QuadPart - 1;
        if (!SetFilePointerEx(file, last, nullptr, FILE_BEGIN) || !ReadFile(file, &byte, 1, &read, nullptr)) {
            byte = '\n';
        }
    }
    CloseHandle(file);
    return byte != '\n';
}

void Log::Close() {
    try {
        m_cleaner.StopExecute();
        m_writer.StopExecute();
    } catch (...) {
        // Stopping can only fail when called from a log thread itself.
    }
    // A Write that found the writer running before it stopped may still be
    // appending; once those are done, whatever they queued is discarded too
    // and every entry is free again.  Writes that begin now do nothing and
    // are not waited for.
    while (m_entries->WritesInFlight()) std::this_thread::yield();
    m_writer.ClearTasks();
    m_entries->ReclaimAll();
    if (m_file == nullptr) return;
    try {
        std::string entry;
        PrepareMessage(entry, "VTools::Log::Close", __LINE__,
                       String::Utf8ToAnsi("Zamkni\xC4\x99"
                                          "cie"));
        WriteEntry(entry);
    } catch (...) {
        // The closing entry is lost; the file is closed all the same.
    }
    CloseHandle(m_file);
    m_file = nullptr;
    m_pending.clear();
}

bool Log::IsOpen() const {
    return m_file != nullptr;
}

void Log::Write(std::string_view function, std::int32_t line, std::string_view message) noexcept {
    if (!m_writer.IsRunning()) return;
    // Counted only once running was seen: Close, which stops the writer and
    // then waits for the counts, either finds this call counted or this call
    // finds the writer stopped on the second look (both sides sequentially
    // consistent).  The count lives on the cache line of the stripe whose
    // entries this thread uses, which this call touches anyway.
    internal::EntryPool::Stripe& stripe = m_entries->ThisThreadsStripe();
    struct InFlight {
        std::atomic<int>& count;
        explicit InFlight(std::atomic<int>& c) : count(c) { count.fetch_add(1); }
        ~InFlight() { count.fetch_sub(1); }
    } inFlight(stripe.inFlight);
    if (!m_writer.IsRunning()) return;
    internal::LogEntry* entry = nullptr;
    try {
        entry = m_entries->Acquire(stripe);
        PrepareMessage(entry->text, function, line, message);
        AddMessageToLog(entry);
    } catch (...) {
        // The entry is lost; the log stays usable.
        if (entry != nullptr) m_entries->Release(entry);
    }
}

bool Log::Flush(std::chrono::milliseconds timeout) noexcept {
    try {
        if (!m_writer.IsRunning()) return false;
        // The writer runs tasks in order: once this marker has run, so has
        // every entry queued before it.
        auto written = std::make_shared<std::promise<void>>();
        std::future<void> done = written->get_future();
        m_writer.AddTask([written] { written->set_value(); });
        return done.wait_for(timeout) == std::future_status::ready;
    } catch (...) {
        return false;
    }
}

void Log::AddMessageToLog(internal::LogEntry* entry) {
    // The task holds a plain pointer, small enough for std::function to keep
    // without allocating; the pool owns the entry, also when the task is
    // discarded unrun.
    m_writer.AddTask([this, entry] {
        WriteEntry(entry->text);
        m_entries->ReleaseFromWriter(entry);
    });
}

void Log::WriteEntry(std::string_view bytes) noexcept {
    if (m_file == nullptr) return;
    try {
        DWORD written = 0;
        if (!m_pending.empty()) {
            const BOOL done =
                WriteFile(m_file, m_pending.data(), static_cast<DWORD>(m_pending.size()), &written, nullptr);
            m_pending.erase(0, written);
            // Still failing: this entry is lost rather than written after a
            // torn one.
            if (!done || !m_pending.empty()) return;
        }
        written = 0;
        if (!WriteFile(m_file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written > 0) {
            m_pending.assign(bytes.substr(written));
        }
    } catch (...) {
        // The rest of a torn entry could not be kept: it stays torn.
        m_pending.clear();
    }
}

void Log::PrepareMessage(std::string& entry, std::string_view function, std::int32_t line, std::string_view message) {
    std::array<char, 13> time;
    GetFormatedTime(time);
    function = UpToNul(function);
    message = UpToNul(message);
    char number[16];
    const auto [numberEnd, error] = std::to_chars(number, number + sizeof number, line);
    (void)error;
    const std::size_t functionFeeds = LineFeeds(function);
    const std::size_t messageFeeds = LineFeeds(message);
    const auto numberSize = static_cast<std::size_t>(numberEnd - number);

    // "%s\t\t%s ( %d )\n%s\n-\n", with every "\n" stored as CR LF, written
    // in one pass into a buffer sized once.
    const std::size_t size =
        12 + 2 + function.size() + functionFeeds + 3 + numberSize + 4 + message.size() + messageFeeds + 5;
    entry.resize(size);
    char* out = entry.data();
    std::memcpy(out, time.data(), 12);
    out = CopyLiteral(out + 12, "\t\t");
    out = CopyTextMode(out, function, functionFeeds);
    out = CopyLiteral(out, " ( ");
    std::memcpy(out, number, numberSize);
    out = CopyLiteral(out + numberSize, " )\r\n");
    out = CopyTextMode(out, message, messageFeeds);
    CopyLiteral(out, "\r\n-\r\n");
}

char* Log::GetFormatedTime(std::array<char, 13>& buffer) {
    // The instant comes from the platform's clock (100-nanosecond ticks since
    // 1601-01-01, a midnight in UTC).  The local time of day of its whole
    // second ("HH:MM:SS", with the offset from UTC in force now) is made once
    // per second per thread, since offsets change only on whole seconds and
    // the time-zone lookup is too slow to make for every entry; the
    // milliseconds are patched in.
    constexpr long long kTicksPerSecond = 10'000'000;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = static_cast<long long>(vplatform::FileTimeTicks(now));
    const long long utcSeconds = ticks / kTicksPerSecond;
    const long long milliseconds = ticks / 10'000 % 1000;  // truncated, not rounded

    struct SecondText {
        long long second = std::numeric_limits<long long>::min();
        char text[8];
    };
    thread_local SecondText cached;
    const auto two = [](char* at, long long value) {
        at[0] = static_cast<char>('0' + value / 10);
        at[1] = static_cast<char>('0' + value % 10);
    };
    if (utcSeconds != cached.second) {
        FILETIME shifted;
        const long long offsetSeconds =
            FileTimeToLocalFileTime(&now, &shifted)
                ? (static_cast<long long>(vplatform::FileTimeTicks(shifted)) - ticks) / kTicksPerSecond
                : 0;
        constexpr long long kSecondsPerDay = 86400;
        const long long local = ((utcSeconds + offsetSeconds) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
        // "%02lld:%02lld:%02lld"
        two(cached.text, local / 3600);
        cached.text[2] = ':';
        two(cached.text + 3, local / 60 % 60);
        cached.text[5] = ':';
        two(cached.text + 6, local % 60);
        cached.second = utcSeconds;
    }

    // ".%03lld"
    char* text = buffer.data();
    std::memcpy(text, cached.text, 8);
    text[8] = '.';
    text[9] = static_cast<char>('0' + milliseconds / 100);
    two(text + 10, milliseconds % 100);
    text[12] = '\0';
    return text;
}

void Log::Clean(const std::wstring& path) {
    try {
        std::string folder;
        if (!vplatform::ToFileSystemPath(FolderOf(path), folder)) return;
        if (!std::filesystem::is_directory(folder)) return;

        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::error_code error;
            if (!entry.is_regular_file(error)) continue;
            std::string extension = entry.path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (extension != ".txt") continue;

            // A name that is not UTF-8 has no wide form that reaches it.
            std::wstring file;
            if (!vplatform::FromFileSystemPath(entry.path().native(), file)) continue;
            WIN32_FILE_ATTRIBUTE_DATA data;
            bool old = true;  // a time that cannot be read counts as old
            if (GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
                const auto age = static_cast<LONGLONG>(vplatform::FileTimeTicks(now)) -
                                 static_cast<LONGLONG>(vplatform::FileTimeTicks(data.ftLastWriteTime));
                old = age / kTicksPerHour >= kMaximumAgeHours;
            }
            // The log's own file is open without FILE_SHARE_DELETE: its
            // deletion fails, as on Windows.
            if (old) DeleteFileW(file.c_str());
        }
    } catch (...) {
        // A folder that cannot be listed ends the cleaning silently.
    }
}

void internal::SetLogCleanDelayForTesting(std::chrono::milliseconds delay) {
    g_cleanDelayMilliseconds = static_cast<std::uint32_t>(delay.count());
}

}  // namespace VTools

void LogAllExceptions(std::string_view function, std::int32_t line) noexcept {
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            VTools::Log::Instance().Write(function, line,
                                          VTools::String::Utf8ToAnsi("Wyj\xC4\x85tek: ") + std::string(e.what()));
        } catch (CException* e) {
            VTools::Log::Instance().Write(function, line, VTools::internal::DescribeAndRelease(e));
        } catch (...) {
            VTools::Log::Instance().Write(function, line, VTools::String::Utf8ToAnsi("Nieznany wyj\xC4\x85tek."));
        }
    } catch (...) {
        // Classifying or formatting failed: the entry is lost.
    }
}

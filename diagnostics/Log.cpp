#include "diagnostics/Log.h"

#include <boost/date_time/c_local_time_adjustor.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
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

// Appends `text` as a text-mode stream stores it: every "\n" becomes CR LF.
void AppendTextMode(std::string& out, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', start)) {
        out.append(text.data() + start, at - start).append("\r\n");
        start = at + 1;
    }
    out.append(text.data() + start, text.size() - start);
}

// The folder of the log's file: the path without its last element, "/" for
// a file directly in the root, "." for a bare name.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return L".";
    return path.substr(0, separator == 0 ? 1 : separator);
}

}  // namespace

Log& Log::Instance() {
    static Log log;
    return log;
}

Log::Log() : m_writer("Log"), m_cleaner("Clean"), m_entries(std::make_unique<internal::EntryPool>()) {}

Log::~Log() {
    // At process exit after a missing Close: stop the threads before the
    // members they use are destroyed.  A file still open is left to the
    // system, which closes it with the process.
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
    return true;
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
    while (m_writesInFlight.load() != 0) std::this_thread::yield();
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
    // then waits for the count, either finds this call counted or this call
    // finds the writer stopped on the second look (both sides sequentially
    // consistent).
    struct InFlight {
        std::atomic<int>& count;
        explicit InFlight(std::atomic<int>& c) : count(c) { count.fetch_add(1); }
        ~InFlight() { count.fetch_sub(1); }
    } inFlight(m_writesInFlight);
    if (!m_writer.IsRunning()) return;
    internal::LogEntry* entry = nullptr;
    try {
        entry = m_entries->Acquire();
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
        m_entries->Release(entry);
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

    // "%s\t\t%s ( %d )\n%s\n-\n", with every "\n" stored as CR LF.
    entry.clear();
    entry.reserve(12 + function.size() + message.size() + 32);
    entry.append(time.data(), 12).append("\t\t");
    AppendTextMode(entry, function);
    entry.append(" ( ").append(number, numberEnd).append(" )\r\n");
    AppendTextMode(entry, message);
    entry.append("\r\n-\r\n");
}

char* Log::GetFormatedTime(std::array<char, 13>& buffer) {
    namespace pt = boost::posix_time;
    // The instant comes from the system clock (microseconds or finer); the
    // local offset comes from Boost.Date_Time's local adjustor, computed once
    // a minute per thread, since offsets change only on whole minutes and the
    // time-zone lookup is too slow to make for every entry.
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    const long long microseconds = std::chrono::duration_cast<std::chrono::microseconds>(sinceEpoch).count();
    const long long utcSeconds = microseconds / 1'000'000;
    thread_local long long cachedMinute = std::numeric_limits<long long>::min();
    thread_local long long offsetSeconds = 0;
    if (utcSeconds / 60 != cachedMinute) {
        using Adjustor = boost::date_time::c_local_adjustor<pt::ptime>;
        const pt::ptime utc = pt::from_time_t(static_cast<std::time_t>(utcSeconds));
        offsetSeconds = (Adjustor::utc_to_local(utc) - utc).total_seconds();
        cachedMinute = utcSeconds / 60;
    }
    constexpr long long kSecondsPerDay = 86400;
    const long long local = ((utcSeconds + offsetSeconds) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
    const long long milliseconds = microseconds / 1000 % 1000;  // truncated, not rounded

    // "%02lld:%02lld:%02lld.%03lld"
    const auto two = [](char* at, long long value) {
        at[0] = static_cast<char>('0' + value / 10);
        at[1] = static_cast<char>('0' + value % 10);
    };
    char* text = buffer.data();
    two(text, local / 3600);
    text[2] = ':';
    two(text + 3, local / 60 % 60);
    text[5] = ':';
    two(text + 6, local % 60);
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

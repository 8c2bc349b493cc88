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
#include <locale>
#include <thread>

#include "diagnostics/internal/CaughtMfcException.h"
#include "diagnostics/internal/EntryPool.h"
#include "platform/kernel/Files.h"
#include "text/StringConversion.h"

namespace VTools {

namespace {

constexpr std::uint32_t kCleanDelayMilliseconds = 10000;
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

// The stream's locale: "polish" where that name exists, else the Polish
// locale under its Linux names, else the classic one.  The bytes written do
// not depend on it.
std::locale PolishLocale() {
    for (const char* name : {"polish", "pl_PL.UTF-8", "pl_PL.utf8", "pl_PL.ISO-8859-2", "pl_PL"}) {
        try {
            return std::locale(name);
        } catch (const std::runtime_error&) {
        }
    }
    return std::locale::classic();
}

// The narrow file-system form of a wide path.
std::filesystem::path FileSystemPath(std::wstring_view path) {
    std::string utf8 = String::WideToUtf8(path);
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    return std::filesystem::path(utf8);
}

LONGLONG Ticks(const FILETIME& time) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

Log& Log::Instance() {
    static Log log;
    return log;
}

Log::Log() : m_writer("Log"), m_cleaner("Clean"), m_entries(std::make_unique<internal::EntryPool>()) {}

Log::~Log() {
    // At process exit after a missing Close: stop the threads before the
    // members they use are destroyed.
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
    m_cleaner.SetTimer(kCleanDelayMilliseconds);
    m_cleaner.SetTask([path] { Clean(path); });
    m_cleaner.StartExecute();
    return true;
}

bool Log::OpenStream(const std::wstring& path) {
    // Binary mode: the entries already carry CR LF line ends.  Linux opens
    // with full sharing.
    m_stream.open(FileSystemPath(path), std::ios::out | std::ios::app | std::ios::binary);
    if (!m_stream.is_open()) return false;
    m_stream.clear();
    m_stream.imbue(PolishLocale());
    return true;
}

void Log::Close() {
    try {
        m_cleaner.StopExecute();
        m_writer.StopExecute();
    } catch (...) {
        // Stopping can only fail when called from a log thread itself.
    }
    // A Write that saw the writer running just before it stopped may still be
    // appending; once those are done, whatever they queued is discarded too
    // and every entry is free again.
    while (m_writesInFlight.load(std::memory_order_acquire) != 0) std::this_thread::yield();
    m_writer.ClearTasks();
    m_entries->ReclaimAll();
    if (!m_stream.is_open()) return;
    try {
        std::string entry;
        PrepareMessage(entry, "VTools::Log::Close", __LINE__,
                       String::Utf8ToAnsi("Zamkni\xC4\x99"
                                          "cie"));
        m_stream.write(entry.data(), static_cast<std::streamsize>(entry.size()));
        m_stream.flush();
        m_stream.close();
    } catch (...) {
        m_stream.setstate(std::ios::failbit);
    }
}

bool Log::IsOpen() const {
    return m_stream.is_open();
}

void Log::Write(std::string_view function, std::int32_t line, std::string_view message) noexcept {
    struct InFlight {
        std::atomic<int>& count;
        explicit InFlight(std::atomic<int>& c) : count(c) { count.fetch_add(1, std::memory_order_acq_rel); }
        ~InFlight() { count.fetch_sub(1, std::memory_order_acq_rel); }
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
        try {
            if (m_stream.is_open()) {
                m_stream.write(entry->text.data(), static_cast<std::streamsize>(entry->text.size()));
                m_stream.flush();
            }
        } catch (...) {
        }
        m_entries->Release(entry);
    });
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
        const auto separator = path.find_last_of(L"\\/");
        const std::wstring folder = separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
        const std::filesystem::path folderPath = FileSystemPath(folder.empty() ? std::wstring(L".") : folder);
        if (!std::filesystem::is_directory(folderPath)) return;

        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        for (const auto& entry : std::filesystem::directory_iterator(folderPath)) {
            std::error_code error;
            if (!entry.is_regular_file(error)) continue;
            std::string extension = entry.path().extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (extension != ".txt") continue;

            const std::wstring file = String::Utf8ToWide(entry.path().string());
            WIN32_FILE_ATTRIBUTE_DATA data;
            const bool known = GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) != FALSE;
            if (!known || (Ticks(now) - Ticks(data.ftLastWriteTime)) / kTicksPerHour >= kMaximumAgeHours) {
                DeleteFileW(file.c_str());
            }
        }
    } catch (...) {
        // A folder that cannot be listed ends the cleaning silently.
    }
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

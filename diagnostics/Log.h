// The process's one file log.
//
// Every module writes its diagnostics through VTools::Log::Instance().Write:
// the entry is stamped with the local time of day and formatted on the
// caller's thread, then queued for the "Log" writer thread, which appends it
// to the file with one write; the caller never waits for the disk.  Ten
// seconds after Open, the one-shot "Clean" thread deletes ".txt" files of the
// log's folder that are 168 hours old or older, never the log's own file.
//
// Entry format: "%s\t\t%s ( %d )\n%s\n-\n" from the time stamp
// ("%02lld:%02lld:%02lld.%03lld", hours to milliseconds), the function name,
// the line and the message; every "\n" is written as CR LF.  Messages are
// narrow text in the ANSI code page, written byte for byte.
//
// The file is reached through the platform's file functions (CreateFileW with
// FILE_APPEND_DATA, so entries of other processes appending to the same file
// never overwrite these), shared for reading and writing but not for
// deletion, as an open file on Windows cannot be deleted.
//
// Exit: a process that ends (returns from main, calls exit) with the log
// still open loses none of the entries Write accepted before: they are
// written at exit, before the file is left to the system, within about a
// second.  No closing entry is written then; that is Close's.
//
// Failure: the log never reports its own failures.  Write never throws and
// drops the entry when the log is closed or formatting fails; Open returns
// false when the file cannot be opened (a missing folder, a path without a
// file-system form) or the log is already open.  An entry whose write fails
// (a full disk, an I/O error) is lost, the log goes on: the next entries
// reach the file once writing works again, and the rest of an entry written
// only in part goes first, so no torn entry is left inside the file.  A file
// that ends inside a line (the last entry of a process killed while
// writing) gets a line break before the entries of this run.
//
// Threads: Write, Flush, Instance and LogAllExceptions may be called from any
// thread at any time; Open, Close and IsOpen come from the application's
// controlling thread, not concurrently with each other, and never from the
// log's own threads.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "VLibExport.h"
#include "multithreading/TaskExecutor.h"
#include "multithreading/TimerExecutor.h"
#include "platform/WinTypes.h"

namespace VTools {

namespace internal {
class EntryPool;
struct LogEntry;
}  // namespace internal

class VLIB_API Log {
public:
    // The single log, created on first use (thread-safe).
    static Log& Instance();

    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Opens `path` for appending (created when missing, never truncated) and
    // starts the writer and the cleaner.  False, with nothing started, when
    // the file cannot be opened or the log is already open (the current file
    // is kept).
    bool Open(const std::wstring& path);
    // Stops the cleaner and the writer (entries still queued are discarded),
    // waits for the Write calls that began while the log was running (not
    // for those that begin afterwards, which do nothing), writes the closing
    // entry "Zamknięcie" directly and closes the file.  Never throws; on a
    // closed log it only stops the threads.
    void Close();
    bool IsOpen() const;
    // Formats one entry and queues it.  Both views must point to
    // NUL-terminated text; each is taken up to its end or its first NUL.
    // Does nothing while the log is closed.  Never throws, never waits for the
    // disk.
    void Write(std::string_view function, std::int32_t line, std::string_view message) noexcept;
    // Waits until every entry queued before the call is in the file, so that
    // a following Close loses none of them.  False when the log is closed or
    // `timeout` passes first.  Never throws.
    bool Flush(std::chrono::milliseconds timeout = std::chrono::seconds(10)) noexcept;

private:
    // At process exit (an atexit handler registered by the first Open), a log
    // still open writes what Write has accepted, waiting at most about a
    // second; the closing entry stays Close's.
    static void FlushAtExit() noexcept;
    Log();
    ~Log();

    bool OpenStream(const std::wstring& path);
    // True when the file at `path` ends with a line not ended.
    static bool EndsInsideALine(const std::wstring& path);
    // Appends one finished entry to the file (the writer thread, or Close once
    // the writer has stopped); the rest of an entry cut short by a failed
    // write goes first.
    void WriteEntry(std::string_view bytes) noexcept;
    // Queues a write task for one finished entry, which goes back to the
    // entry pool once written.
    void AddMessageToLog(internal::LogEntry* entry);
    // Formats one entry, the time stamp included, into `entry` (replacing its
    // contents): the bytes the file receives, "\n" already as CR LF.
    void PrepareMessage(std::string& entry, std::string_view function, std::int32_t line, std::string_view message);
    char* GetFormatedTime(std::array<char, 13>& buffer);
    static void Clean(const std::wstring& path);

    // The open file (null while closed); used by the writer thread while the
    // log runs, by Open and Close otherwise.
    HANDLE m_file = nullptr;
    // The process that opened it (a forked child has no writer).
    DWORD m_openedBy = 0;
    // The part of an entry that a failed write did not put into the file.
    std::string m_pending;
    Multithreading::TaskExecutor m_writer;
    Multithreading::TimerExecutor m_cleaner;
    std::unique_ptr<internal::EntryPool> m_entries;
};

}  // namespace VTools

// Inside a catch handler: writes the exception being handled as one log entry
// ("Wyjątek: " and what() for a standard exception, the MFC text for a
// CException*, which is then released with Delete, "Nieznany wyjątek." for
// anything else).  Never throws.
VLIB_API void LogAllExceptions(std::string_view function, std::int32_t line) noexcept;

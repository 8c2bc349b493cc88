// What the crash-report layer's installation (crash_report.cpp) and its
// crash path (crash_handling.cpp: the signal and terminate handlers, the
// "Crash" thread and the report writer) share: the state a crash uses,
// reserved at install, and the calls between the two.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>

#include "platform/crashreport/CrashReport.h"
#include "platform/crashreport/internal/ReportText.h"
#include "platform/crashreport/internal/ReporterProtocol.h"

namespace vplatform::crash::handling {

// Everything a crash uses, reserved at install (static storage, no
// constructor: the handler never allocates).
struct ReportState {
    pid_t pid;
    uid_t owner;                                    // the user, who must own the save folder
    char saveFolder[vplatform::crash::kPathBytes];  // absolute, file-system form, "" for none
    int saveFd;                                     // the save folder (O_PATH), -1 for none
    char appName[256];
    char appVersion[128];
    long utcOffsetSeconds;  // local time's offset, taken at install
    int goPipe[2];          // handler -> crash thread
    int donePipe[2];        // crash thread -> handler
    bool handled[NSIG];
    struct sigaction previous[NSIG];
    std::terminate_handler previousTerminate;
    bool terminateHandled;
    // The crash.
    CR_CRASH_FACTS facts;
    std::uint64_t frames[vplatform::crash::kMaxFrames];
    // The report folder ("" and -1 while none is made, or when its files
    // could not be written) and its name in the save folder.
    char reportFolder[vplatform::crash::kPathBytes];
    wchar_t reportFolderWide[vplatform::crash::kPathBytes];
    char reportName[64];
    int reportFd;
    char text[64 * 1024];  // formatting room for the report files
    // The reporter process: its socket (-1: none) and pid.
    int reporterSocket;
    pid_t reporterPid;
    vplatform::crash::CrashMessage message;
};
extern ReportState g_state;

// The callback, its parameter and the time it is given.
extern std::atomic<PFNCRASHCALLBACKW> g_callback;
extern std::atomic<LPVOID> g_userParam;
extern std::atomic<DWORD> g_limitMilliseconds;
// Set once the report is written (or given up).
extern std::atomic<bool> g_reportWritten;
// 0 until the crash thread or the handler takes the writing of the report;
// then when that writer stops waiting for the reporter (monotonic ms).
extern std::atomic<std::int64_t> g_reportDeadline;

// Async-signal-safe helpers.
bool WriteAll(int fd, const char* bytes, std::size_t count);
bool MakeDirectories(const char* path);
// What keeps a folder from being a save folder.
enum class SaveFolderFault { None, NoFolder, AnotherUsers, WritableByOthers };
int OpenSaveFolder(const char* path, SaveFolderFault& fault);
void SetDisposition(int signal, const struct sigaction& action);
void CopyText(char* out, std::size_t size, const char* text);

// The handlers and the crash thread.
void CrashSignalHandler(int signal, siginfo_t* info, void* context);
[[noreturn]] void TerminateHandler();
void CrashThreadMain();

// Gives the calling thread its alternate signal stack (crash_report.cpp); 0
// on success, else the failure is recorded as the thread's last error.
int InstallThreadStack();

}  // namespace vplatform::crash::handling

// What the crash-report layer and the reporter process (vlib-crash-reporter)
// say to each other over their connected SOCK_SEQPACKET socket: one message
// per packet, each a fixed-size record, so the signal handler's side needs no
// allocation and no framing.
//
//   reporter -> process  Hello, once, when the reporter is ready: its pid (the
//                        process names it as its ptracer).
//   process -> reporter  Crash, once, at a crash: the facts, the handler's own
//                        unwind, and with it (SCM_RIGHTS) the descriptor of
//                        the report folder the process made, when it made one.
//   reporter -> process  Answer, when the report is written (or could not be)
//                        and the reporter has let go of the process.
//
// The reporter ends when the socket closes (the process ended or uninstalled).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/crashreport/CrashReport.h"

namespace vplatform::crash {

constexpr std::size_t kMaxFrames = 128;
constexpr std::size_t kPathBytes = 4096;
// The reporter's end of the socket in its own process.
constexpr int kReporterSocket = 3;

constexpr std::uint32_t kHelloMagic = 0x6c6c6548;   // "Hell"
constexpr std::uint32_t kCrashMagic = 0x68737243;   // "Crsh"
constexpr std::uint32_t kAnswerMagic = 0x65656e44;  // "Dnee"

struct ReporterHello {
    std::uint32_t magic;
    pid_t pid;
};

struct CrashMessage {
    std::uint32_t magic;
    pid_t pid;              // the crashed process
    long utcOffsetSeconds;  // local time's offset, taken at install
    char appName[256];      // UTF-8, NUL-terminated
    char appVersion[128];   //
    std::int32_t toFolder;  // 1: the report folder's descriptor comes along; 0: stderr
    CR_CRASH_FACTS facts;   // pFrames is meaningless here: see frames
    std::uint64_t frames[kMaxFrames];
};

// How the reporter made the report.
enum class ReportSource : std::int32_t {
    Failed = 0,    // nothing written: the process writes it itself
    Attached = 1,  // unwound by attaching to the crashed thread
    Handler = 2,   // the handler's own frames, symbolized by the reporter
};

// Where the reporter wrote the report.
enum class ReportPlace : std::int32_t {
    Folder = 1,         // crash.json and stack.txt in the report folder
    StandardError = 2,  // no folder, or its files could not be written whole (removed)
};

struct ReporterAnswer {
    std::uint32_t magic;
    ReportSource source;
    ReportPlace place;
};

}  // namespace vplatform::crash

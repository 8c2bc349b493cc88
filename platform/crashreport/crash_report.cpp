// The crash-report layer: process flag and per-thread alternate signal stacks.
#include "platform/crashreport/CrashReport.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/internal/Syscalls.h"

namespace {

std::atomic<bool> g_processInstalled{false};

// Large enough for a crash handler that formats a report.
constexpr std::size_t kCrashStackSize = 64 * 1024;

struct ThreadInstallation {
    void* stack = nullptr;
    stack_t previous{};
};

thread_local ThreadInstallation t_installation;
thread_local std::wstring t_lastError;

int Fail(const wchar_t* message) {
    t_lastError = message;
    return 1;
}

}  // namespace

extern "C" {

int crInstallW(const CR_INSTALL_INFOW* info) {
    if (info == nullptr || info->cb != sizeof(CR_INSTALL_INFOW)) return Fail(L"Invalid installation info.");
    bool expected = false;
    if (!g_processInstalled.compare_exchange_strong(expected, true))
        return Fail(L"Crash reporting is already installed.");
    t_lastError = L"Success.";
    return 0;
}

int crUninstall() {
    bool expected = true;
    if (!g_processInstalled.compare_exchange_strong(expected, false)) return Fail(L"Crash reporting is not installed.");
    t_lastError = L"Success.";
    return 0;
}

int crInstallToCurrentThread2(DWORD) {
    if (!g_processInstalled.load()) return Fail(L"Crash reporting is not installed for the process.");
    if (t_installation.stack != nullptr) return Fail(L"Crash reporting is already installed for this thread.");
    void* stack = std::malloc(kCrashStackSize);
    if (stack == nullptr) return Fail(L"Not enough memory for the crash stack.");
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = kCrashStackSize;
    alternate.ss_flags = 0;
    if (vplatform::Sys().sigaltstack(&alternate, &t_installation.previous) != 0) {
        std::free(stack);
        return Fail(L"The crash stack could not be installed.");
    }
    t_installation.stack = stack;
    t_lastError = L"Success.";
    return 0;
}

int crUninstallFromCurrentThread() {
    if (t_installation.stack == nullptr) return Fail(L"Crash reporting is not installed for this thread.");
    // Put back what the thread had before (usually no alternate stack).
    stack_t previous = t_installation.previous;
    if (previous.ss_sp == nullptr) {
        previous = {};
        previous.ss_flags = SS_DISABLE;
    }
    if (vplatform::Sys().sigaltstack(&previous, nullptr) != 0) return Fail(L"The crash stack could not be removed.");
    std::free(t_installation.stack);
    t_installation.stack = nullptr;
    t_lastError = L"Success.";
    return 0;
}

int crGetLastErrorMsgW(LPWSTR buffer, UINT size) {
    if (buffer == nullptr || size == 0) return -1;
    const std::size_t length = std::min<std::size_t>(t_lastError.size(), size - 1);
    std::copy_n(t_lastError.begin(), length, buffer);
    buffer[length] = L'\0';
    return static_cast<int>(length);
}
}

bool vplatformThreadHasCrashStack() {
    stack_t current{};
    return vplatform::Sys().sigaltstack(nullptr, &current) == 0 && t_installation.stack != nullptr &&
           current.ss_sp == t_installation.stack && (current.ss_flags & SS_DISABLE) == 0;
}

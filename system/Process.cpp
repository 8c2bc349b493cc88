#include "system/Process.h"

#include <filesystem>
#include <string>
#include <utility>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Sync.h"
#include "platform/user/Messages.h"
#include "platform/user/Window.h"
#include "system/Path.h"

namespace VTools::Process {

OpenProcessResult::OpenProcessResult(OpenProcessResult&& other) noexcept
    : m_process(other.m_process),
      m_thread(other.m_thread),
      m_processId(other.m_processId),
      m_threadId(other.m_threadId) {
    other.Clear();
}

OpenProcessResult& OpenProcessResult::operator=(OpenProcessResult&& other) noexcept {
    if (this != &other) {
        // The handles held so far would otherwise be lost, and the child
        // they keep would never be reaped.
        CloseHandles();
        m_process = other.m_process;
        m_thread = other.m_thread;
        m_processId = other.m_processId;
        m_threadId = other.m_threadId;
        other.Clear();
    }
    return *this;
}

OpenProcessResult::~OpenProcessResult() {
    CloseHandles();
}

void OpenProcessResult::CloseHandles() {
    if (m_thread != nullptr) CloseHandle(m_thread);
    m_thread = nullptr;
    if (m_process != nullptr) CloseHandle(m_process);
    m_process = nullptr;
}

void OpenProcessResult::Clear() {
    m_process = nullptr;
    m_thread = nullptr;
    m_processId = 0;
    m_threadId = 0;
}

OpenProcessResult OpenProcess(std::wstring_view executablePath, std::wstring_view arguments) {
    OpenProcessResult result;
    if (!Path::FileExist(std::filesystem::path(std::wstring(executablePath)))) return result;
    // A path with white space would be taken apart, or another program
    // started: it goes in quotes.  A quote in it cannot be quoted.
    if (executablePath.find(L'"') != std::wstring_view::npos) return result;
    std::wstring commandLine;
    if (executablePath.find_first_of(L" \t") != std::wstring_view::npos) {
        commandLine = L"\"" + std::wstring(executablePath) + L"\"";
    } else {
        commandLine = executablePath;
    }
    if (!arguments.empty()) commandLine += L" " + std::wstring(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &information)) {
        return result;
    }
    result.m_process = information.hProcess;
    result.m_thread = information.hThread;
    result.m_processId = information.dwProcessId;
    result.m_threadId = information.dwThreadId;
    return result;
}

namespace {

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK TakeTopWindow(HWND hwnd, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD processId = 0;
    if (GetWindowThreadProcessId(hwnd, &processId) == 0 || processId != search->processId) return TRUE;
    if (GetWindow(hwnd, GW_OWNER) != nullptr || !IsWindowVisible(hwnd)) return TRUE;
    search->found = hwnd;
    return FALSE;
}

}  // namespace

HWND FindTopWindow(DWORD processId) {
    Search search{processId, nullptr};
    EnumWindows(TakeTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void CloseProcess(const OpenProcessResult& result) {
    const HANDLE process = result.GetProcessHandle();
    // An ended process's id may already name another program.
    if (process == nullptr || WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return;
    const HWND window = FindTopWindow(result.GetProcessId());
    if (window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0)) return;
    TerminateProcess(process, 0);
}

}  // namespace VTools::Process

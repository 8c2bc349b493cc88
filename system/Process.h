// Starting other programs: OpenProcess starts a program with a command line
// and returns its process and thread handles in an owning OpenProcessResult;
// FindTopWindow finds a program's main window, CloseProcess closes it.
//
// Threads: the functions keep no state and may be called from any thread; an
// OpenProcessResult is used by one thread at a time.
#pragma once

#include <string_view>

#include "VLibExport.h"
#include "platform/WinTypes.h"

namespace VTools::Process {

// What process creation returns, in the order and widths of the Win32
// PROCESS_INFORMATION record: the process handle, the thread handle, the
// process id and the thread id.  Owns both handles; movable, not copyable.
class VLIB_API OpenProcessResult {
public:
    OpenProcessResult() = default;
    // Takes the other's fields and leaves it all zero.
    OpenProcessResult(OpenProcessResult&& other) noexcept;
    // Closes the handles this object holds, then takes the other's.
    OpenProcessResult& operator=(OpenProcessResult&& other) noexcept;
    OpenProcessResult(const OpenProcessResult&) = delete;
    OpenProcessResult& operator=(const OpenProcessResult&) = delete;
    // CloseHandles.
    ~OpenProcessResult();

    // True only when both handles are held.
    explicit operator bool() const { return m_process != nullptr && m_thread != nullptr; }
    // Closes the thread handle, then the process handle (each when held) and
    // nulls them; the ids stay.
    void CloseHandles();

    HANDLE GetProcessHandle() const { return m_process; }
    HANDLE GetThreadHandle() const { return m_thread; }
    DWORD GetProcessId() const { return m_processId; }
    DWORD GetThreadId() const { return m_threadId; }

private:
    friend OpenProcessResult OpenProcess(std::wstring_view executablePath, std::wstring_view arguments);
    // Zeroes the four fields without closing anything.
    void Clear();

    HANDLE m_process = nullptr;
    HANDLE m_thread = nullptr;
    DWORD m_processId = 0;
    DWORD m_threadId = 0;
};

// Starts `executablePath` with `arguments`: the command line is the path
// followed, when there are arguments, by one space and the arguments as
// given.  A path with white space is put in quotes, so that it names one
// program and stays one argument; a path holding a quote cannot be quoted
// and gives an empty result.  The process inherits the caller's inheritable
// handles, environment and current folder.  An empty result (false) for a
// path that is no existing file and for a failed start.
VLIB_API OpenProcessResult OpenProcess(std::wstring_view executablePath, std::wstring_view arguments);

// The main window of process `processId`: the first top-level window, from
// the top of the Z order (EnumWindows), that belongs to the process, has no
// owner (dialog boxes and tool windows with an owner are passed over) and is
// visible (a minimised window counts as visible).  Null when there is none,
// and without a display for other programs' windows.
VLIB_API HWND FindTopWindow(DWORD processId);

// Closes a program started with OpenProcess: posts WM_CLOSE to its main
// window (FindTopWindow; for another program's X window, the window
// manager's close request, which a window that does not take it refuses),
// else terminates the process with exit code 0.  Waits for neither.  Does
// nothing for a result without a process handle or whose process has
// already ended, so that a window of a later program given the same id is
// never closed.  The result keeps its handles.
VLIB_API void CloseProcess(const OpenProcessResult& result);

}  // namespace VTools::Process

// Whether another instance of the program is already running: a named mutex
// whose name comes from an application name and, optionally, from the
// folder of the running executable (so that copies installed in different
// folders do not block each other).
//
// The named mutex exists while any process holds a handle to it; the kernel
// releases it when a holder ends in any way.  Programs started by the holder
// do not inherit it.
//
// Threads: an object is used by one thread at a time.
#pragma once

#include <string>

#include "VLibExport.h"
#include "platform/WinTypes.h"

class VLIB_API AppRunningDetector {
public:
    AppRunningDetector(std::wstring name, bool perFolder);
    // Takes the other's name, flag and handle; the other holds no handle.
    AppRunningDetector(AppRunningDetector&& other) noexcept;
    // Closes the handle this object holds, then takes the other's.
    AppRunningDetector& operator=(AppRunningDetector&& other) noexcept;
    AppRunningDetector(const AppRunningDetector&) = delete;
    AppRunningDetector& operator=(const AppRunningDetector&) = delete;
    // Closes the mutex handle when one is held.
    ~AppRunningDetector();

    // Opens (or creates) the mutex and keeps it open: true when it existed
    // before, that is, another instance holds it (or this object did).  A
    // handle from an earlier call is closed once the new one exists; when the
    // mutex cannot be created the earlier handle stays and the result is
    // false with the last error telling why (after a true "not running" the
    // last error is ERROR_SUCCESS).  Never throws.
    bool IsAppAlreadyRunning();

    // The name with every backslash made an underscore, cut to its last 260
    // characters.
    static std::wstring PrepareKernelObjectName(std::wstring name);

private:
    std::wstring m_name;
    HANDLE m_mutex = nullptr;
    bool m_perFolder;
};

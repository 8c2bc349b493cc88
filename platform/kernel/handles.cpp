// Closing kernel handles; the handle counts of the process.
#include "platform/kernel/Handles.h"

#include "platform/WinError.h"
#include "platform/internal/HandleTable.h"

using vplatform::GdiHandles;
using vplatform::KernelHandles;
using vplatform::UserHandles;

extern "C" {

BOOL CloseHandle(HANDLE handle) {
    return KernelHandles().Close(handle) ? TRUE : FALSE;
}

BOOL GetProcessHandleCount(HANDLE process, PDWORD count) {
    if (!vplatform::IsCurrentProcessPseudoHandle(process)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (count == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *count = static_cast<DWORD>(KernelHandles().Count());
    return TRUE;
}

DWORD GetGuiResources(HANDLE process, DWORD flags) {
    if (!vplatform::IsCurrentProcessPseudoHandle(process)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    switch (flags) {
        case GR_GDIOBJECTS:
            return static_cast<DWORD>(GdiHandles().Count());
        case GR_USEROBJECTS:
            return static_cast<DWORD>(UserHandles().Count());
        case GR_GDIOBJECTS_PEAK:
            return static_cast<DWORD>(GdiHandles().Peak());
        case GR_USEROBJECTS_PEAK:
            return static_cast<DWORD>(UserHandles().Peak());
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
    }
}
}

// A library whose DLL entry refuses to attach.
#include "platform/WinError.h"
#include "platform/kernel/DllEntry.h"

namespace {

BOOL WINAPI RefusingMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

}  // namespace

VPLATFORM_DLL_ENTRY(RefusingMain)

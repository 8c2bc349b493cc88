// Kernel handles: closing them and the pseudo handles of the current process
// and thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

extern "C" {
// Closes a real handle (file, thread…).  FALSE with ERROR_INVALID_HANDLE for a
// null, invalid or pseudo handle.
VPLATFORM_API BOOL CloseHandle(HANDLE handle);
}

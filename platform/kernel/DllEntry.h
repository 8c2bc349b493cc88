// The DLL entry of a module: DllMain, called by the platform when the module
// is loaded and unloaded.
//
// A module declares its entry once, at the end of one of its source files,
// after the static objects it must follow:
//
//     BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID);
//     VPLATFORM_DLL_ENTRY(DllMain)
//
// Attach: while the module is being loaded (dlopen, or the start of the
// process for a library linked in), after the static objects defined before
// the macro in that file, DllMain is called with DLL_PROCESS_ATTACH and the
// module's handle.  If it returns FALSE, the module refuses to load: the
// process writes the module's file, the reason and the last error to stderr
// and ends with exit status 127 (a library that refuses cannot be unloaded
// half-initialised).
// Detach: at unload (FreeLibrary, dlclose, or the end of the process),
// DllMain is called with DLL_PROCESS_DETACH before the module's static
// objects made before or during attach are destroyed.
// DLL_THREAD_ATTACH and DLL_THREAD_DETACH are not delivered.
//
// Threads: the entry runs on the thread that loads or unloads the module,
// under the dynamic loader's lock: it must not wait for another thread that
// loads a library.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

using PDLL_ENTRY = BOOL(WINAPI*)(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

namespace vplatform {

// Calls `entry` for attach with the handle of the module holding `anchor`;
// ends the process with status 127 when it returns FALSE.
VPLATFORM_API void RunDllAttach(const void* anchor, PDLL_ENTRY entry);
// Calls `entry` for detach.
VPLATFORM_API void RunDllDetach(const void* anchor, PDLL_ENTRY entry);

}  // namespace vplatform

#define VPLATFORM_DLL_ENTRY(entry)                                          \
    namespace {                                                             \
    struct VPlatformDllEntry {                                              \
        VPlatformDllEntry() { ::vplatform::RunDllAttach(this, &(entry)); }  \
        ~VPlatformDllEntry() { ::vplatform::RunDllDetach(this, &(entry)); } \
        VPlatformDllEntry(const VPlatformDllEntry&) = delete;               \
        VPlatformDllEntry& operator=(const VPlatformDllEntry&) = delete;    \
    };                                                                      \
    [[maybe_unused]] const VPlatformDllEntry vplatformDllEntry;             \
    }

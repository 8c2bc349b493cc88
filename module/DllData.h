// A module's MFC extension-module record and its name, and the MFC
// registration made at load and undone at unload.
//
//     static DllData& Data() { static DllData data; return data; }
//     BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
//         if (reason == DLL_PROCESS_ATTACH) return Data().InitExtensionModule(module);
//         if (reason == DLL_PROCESS_DETACH) Data().TermExtensionModule();
//         return TRUE;
//     }
//     VPLATFORM_DLL_ENTRY(DllMain)
//
// The library itself does exactly this with a DllData of its own.
//
// Failures: InitExtensionModule returns false when MFC refuses the module
// (a handle that is no loaded module); nothing logs or throws.
// Threads: an object is used by one thread at a time (the loader's, for a
// module's own).
#pragma once

#include <string>

#include "VLibExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxModule.h"

class VLIB_API DllData {
public:
    DllData() = default;

    // Fills the extension-module record for `module`, links a new
    // CDynLinkLibrary for it into MFC's chain (MFC owns it) and names the
    // module after its file: no folder, no extension, and for a shared object
    // neither ".so" nor its version ("libVLibIncludes.so.0" ->
    // "libVLibIncludes").  False, with nothing changed, when MFC refuses.
    bool InitExtensionModule(HINSTANCE module);
    // Names the module after the executable of the process, without its
    // extension; the record is not touched.  Always true.
    bool InitAppModule();
    // Removes this module's links from MFC's chain (not the other modules').
    void TermExtensionModule();

    const std::wstring& GetModuleName() const { return m_moduleName; }
    const AFX_EXTENSION_MODULE& GetExtensionModule() const { return m_extensionModule; }

private:
    AFX_EXTENSION_MODULE m_extensionModule{};
    std::wstring m_moduleName;
};

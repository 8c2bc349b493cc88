// The library's DLL entry: the library makes itself an MFC extension module
// at load (refusing to load if MFC refuses) and ends the extension module at
// unload.  The entry is declared at the end of LoadRegistrations.cpp, so that
// it runs after the static registrations.
#include "module/DllData.h"
#include "module/internal/DllEntry.h"
#include "platform/kernel/DllEntry.h"

namespace {

// Created at the first attach, lives to the end of the process.
DllData& LibraryData() {
    static DllData data;
    return data;
}

}  // namespace

namespace vlib::module {

const DllData& LibraryDllData() {
    return LibraryData();
}

BOOL WINAPI LibraryDllMain(HINSTANCE module, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return LibraryData().InitExtensionModule(module) ? TRUE : FALSE;
        case DLL_PROCESS_DETACH: {
            AFX_EXTENSION_MODULE record = LibraryData().GetExtensionModule();
            AfxTermExtensionModule(record, FALSE);
            return TRUE;
        }
        default:
            return TRUE;
    }
}

}  // namespace vlib::module

// The test library of the resource tests: an extension module with its own
// resources (resources/plugin.rc) and a DllData, as an application's module
// would have.
#include "module/DllData.h"
#include "platform/kernel/DllEntry.h"

namespace {

DllData& Data() {
    static DllData data;
    return data;
}

BOOL WINAPI PluginMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) return Data().InitExtensionModule(module) ? TRUE : FALSE;
    if (reason == DLL_PROCESS_DETACH) Data().TermExtensionModule();
    return TRUE;
}

}  // namespace

VPLATFORM_DLL_ENTRY(PluginMain)

// The name the library's DllData gave it.
extern "C" __attribute__((visibility("default"))) const wchar_t* ResourcePluginName() {
    return Data().GetModuleName().c_str();
}

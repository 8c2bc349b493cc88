// The DLL entry's calls at load and unload.
#include "platform/kernel/DllEntry.h"

#include <unistd.h>

#include <string>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/Module.h"
#include "platform/nls/internal/utf.h"

namespace {

HINSTANCE ModuleOf(const void* anchor) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(anchor), &module);
    return module;
}

std::string FileOf(HINSTANCE module) {
    wchar_t wide[4096];
    const DWORD length = GetModuleFileNameW(module, wide, 4096);
    std::string file(vplatform::internal::Utf16ToUtf8Length(wide, length), '\0');
    vplatform::internal::Utf16ToUtf8(wide, length, file.data(), file.size());
    return file;
}

}  // namespace

namespace vplatform {

void RunDllAttach(const void* anchor, PDLL_ENTRY entry) {
    const HINSTANCE module = ModuleOf(anchor);
    SetLastError(ERROR_SUCCESS);
    if (entry(module, DLL_PROCESS_ATTACH, nullptr)) return;
    const DWORD error = GetLastError();
    const std::string message = FileOf(module) +
                                ": the module refused to load: its DllMain returned FALSE on process attach"
                                " (last error " +
                                std::to_string(error) + ")\n";
    Sys().write(STDERR_FILENO, message.data(), message.size());
    ::_exit(127);
}

void RunDllDetach(const void* anchor, PDLL_ENTRY entry) {
    entry(ModuleOf(anchor), DLL_PROCESS_DETACH, nullptr);
}

}  // namespace vplatform

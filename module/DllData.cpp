#include "module/DllData.h"

#include <string_view>

#include "platform/kernel/Module.h"
#include "system/Path.h"

namespace {

// "libz.so.1.2" -> "libz"; "plugin.so" -> "plugin"; "viewer" -> "viewer";
// "a.dll" -> "a".
std::wstring ModuleNameOf(const std::wstring& file) {
    for (std::size_t at = file.find(L".so"); at != std::wstring::npos; at = file.find(L".so", at + 1)) {
        const std::wstring_view rest = std::wstring_view(file).substr(at + 3);
        if (rest.empty() || (rest[0] == L'.' && rest.find_first_not_of(L"0123456789.") == std::wstring_view::npos)) {
            return file.substr(0, at);
        }
    }
    return VTools::Path::RemoveExtension(file);
}

}  // namespace

bool DllData::InitExtensionModule(HINSTANCE module) {
    AFX_EXTENSION_MODULE record = m_extensionModule;
    if (!AfxInitExtensionModule(record, module)) return false;
    m_extensionModule = record;
    // The chain owns the link and deletes it in AfxTermExtensionModule.
    new CDynLinkLibrary(m_extensionModule);
    m_moduleName = ModuleNameOf(VTools::Path::GetModuleName(m_extensionModule.hModule, true));
    return true;
}

bool DllData::InitAppModule() {
    m_moduleName = VTools::Path::GetModuleName(nullptr, false);
    return true;
}

void DllData::TermExtensionModule() {
    AfxTermExtensionModule(m_extensionModule, FALSE);
}

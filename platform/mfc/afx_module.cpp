// Extension modules and the current resource module.
#include "platform/mfc/AfxModule.h"

#include <mutex>
#include <vector>

#include "platform/kernel/Module.h"
#include "platform/kernel/Resource.h"
#include "platform/kernel/internal/LoadedModules.h"

IMPLEMENT_DYNAMIC(CDynLinkLibrary, CObject)

namespace {

// The chain of extension modules (newest first) and the current resource
// module, which is null until first asked for (then the executable).
struct ModuleState {
    std::mutex lock;
    CDynLinkLibrary* first = nullptr;
    int count = 0;
    HINSTANCE resource = nullptr;
};

ModuleState& State() {
    static ModuleState state;
    return state;
}

HINSTANCE CurrentResource(ModuleState& state) {
    if (state.resource == nullptr) state.resource = GetModuleHandleW(nullptr);
    return state.resource;
}

bool HasResource(HINSTANCE module, LPCWSTR name, LPCWSTR type) {
    const DWORD saved = GetLastError();
    const bool found = FindResourceW(module, name, type) != nullptr;
    SetLastError(saved);
    return found;
}

}  // namespace

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
    if (state.bInitialized) return TRUE;
    // A loaded module has a file name; a data-file module is none.
    const DWORD saved = GetLastError();
    wchar_t file[2];
    if (hModule == nullptr || vplatform::IsDataFileHandle(hModule) ||
        (GetModuleFileNameW(hModule, file, 2) == 0 && GetLastError() == ERROR_MOD_NOT_FOUND)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    SetLastError(saved);
    state.bInitialized = TRUE;
    state.hModule = hModule;
    state.hResource = hModule;
    state.pFirstSharedClass = nullptr;
    state.pFirstSharedFactory = nullptr;
    return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll) {
    if (!state.bInitialized) return;
    CDynLinkLibrary* doomed = nullptr;
    {
        ModuleState& s = State();
        std::lock_guard guard(s.lock);
        CDynLinkLibrary** link = &s.first;
        while (*link != nullptr) {
            CDynLinkLibrary* library = *link;
            if (bAll || library->m_hModule == state.hModule) {
                *link = library->m_pNextDLL;
                library->m_pNextDLL = doomed;
                doomed = library;
                --s.count;
            } else {
                link = &library->m_pNextDLL;
            }
        }
    }
    // Deleted outside the lock: a destructor may ask for resources.
    while (doomed != nullptr) {
        CDynLinkLibrary* next = doomed->m_pNextDLL;
        doomed->m_pNextDLL = nullptr;
        delete doomed;
        doomed = next;
    }
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_bSystem(bSystem), m_pNextDLL(nullptr) {
    ModuleState& s = State();
    std::lock_guard guard(s.lock);
    m_pNextDLL = s.first;
    s.first = this;
    ++s.count;
}

CDynLinkLibrary::CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource)
    : m_hModule(hModule), m_hResource(hResource), m_bSystem(FALSE), m_pNextDLL(nullptr) {
    ModuleState& s = State();
    std::lock_guard guard(s.lock);
    m_pNextDLL = s.first;
    s.first = this;
    ++s.count;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    // Unlinks itself if it is still in the chain (deleted by its owner
    // rather than by AfxTermExtensionModule).
    ModuleState& s = State();
    std::lock_guard guard(s.lock);
    for (CDynLinkLibrary** link = &s.first; *link != nullptr; link = &(*link)->m_pNextDLL) {
        if (*link == this) {
            *link = m_pNextDLL;
            --s.count;
            break;
        }
    }
}

int AfxGetDynLinkLibraryCount() {
    ModuleState& s = State();
    std::lock_guard guard(s.lock);
    return s.count;
}

HINSTANCE AfxGetResourceHandle() {
    ModuleState& s = State();
    std::lock_guard guard(s.lock);
    return CurrentResource(s);
}

void AfxSetResourceHandle(HINSTANCE hInstResource) {
    if (hInstResource == nullptr) return;
    ModuleState& s = State();
    std::lock_guard guard(s.lock);
    s.resource = hInstResource;
}

HINSTANCE AfxGetInstanceHandle() {
    return GetModuleHandleW(nullptr);
}

HINSTANCE AfxFindResourceHandle(LPCWSTR lpszName, LPCWSTR lpszType) {
    HINSTANCE current;
    std::vector<HINSTANCE> chain;
    {
        ModuleState& s = State();
        std::lock_guard guard(s.lock);
        current = CurrentResource(s);
        for (CDynLinkLibrary* library = s.first; library != nullptr; library = library->m_pNextDLL) {
            if (!library->m_bSystem && library->m_hResource != nullptr) chain.push_back(library->m_hResource);
        }
    }
    // Searched outside the lock: the resource functions take the loader's.
    if (HasResource(current, lpszName, lpszType)) return current;
    for (HINSTANCE module : chain) {
        if (HasResource(module, lpszName, lpszType)) return module;
    }
    return current;
}

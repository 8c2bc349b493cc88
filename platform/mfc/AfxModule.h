// MFC's extension modules and resource modules: AFX_EXTENSION_MODULE,
// AfxInitExtensionModule, AfxTermExtensionModule, CDynLinkLibrary, and the
// current resource module (AfxGetResourceHandle, AfxSetResourceHandle,
// AfxFindResourceHandle, AfxGetInstanceHandle).
//
// An extension module is a shared library that adds its resources to the
// application's: it fills its AFX_EXTENSION_MODULE record at load
// (AfxInitExtensionModule) and creates a CDynLinkLibrary, which links it into
// one process-wide chain of extension modules; AfxFindResourceHandle searches
// the current resource module first and then that chain.  At unload
// AfxTermExtensionModule deletes the module's CDynLinkLibrary objects.
//
// The current resource module is one per process, as the application's
// module state holds it: it starts as the executable.
//
// Threads: every function may be called from any thread; the chain and the
// current resource module are guarded.  A CDynLinkLibrary is created and
// deleted only through these functions' rules (the chain owns it).
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxObject.h"

class COleObjectFactory;

struct AFX_EXTENSION_MODULE {
    BOOL bInitialized;
    HMODULE hModule;
    HMODULE hResource;
    CRuntimeClass* pFirstSharedClass;
    COleObjectFactory* pFirstSharedFactory;
};

// Fills `state` for the module `hModule` (hModule and hResource both that
// module).  Initialising a record twice keeps the first module: TRUE.  FALSE
// with ERROR_MOD_NOT_FOUND, and `state` untouched, when `hModule` is not a
// loaded module (a null handle, a data-file module, anything else).
VPLATFORM_API BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);
// Deletes the CDynLinkLibrary objects of `state`'s module, or with `bAll`
// every one in the chain.  Does nothing for a record never initialised.
VPLATFORM_API void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// A link of the chain of extension modules.  Create it on the heap: its
// constructor links it into the chain, which owns it from then on
// (AfxTermExtensionModule deletes it).  A system module (`bSystem`) is left
// out of resource searches.
class VPLATFORM_API CDynLinkLibrary : public CObject {
    DECLARE_DYNAMIC(CDynLinkLibrary)

public:
    explicit CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
    CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource);
    ~CDynLinkLibrary() override;
    CDynLinkLibrary(const CDynLinkLibrary&) = delete;
    CDynLinkLibrary& operator=(const CDynLinkLibrary&) = delete;

    HINSTANCE m_hModule;
    HINSTANCE m_hResource;
    BOOL m_bSystem;
    CDynLinkLibrary* m_pNextDLL;  // guarded by the chain's lock
};

// The number of CDynLinkLibrary objects in the chain.
VPLATFORM_API int AfxGetDynLinkLibraryCount();

// The current resource module: the executable until AfxSetResourceHandle.
VPLATFORM_API HINSTANCE AfxGetResourceHandle();
// Makes `hInstResource` the current resource module; a null handle is
// ignored.
VPLATFORM_API void AfxSetResourceHandle(HINSTANCE hInstResource);
// The application's module: the executable.
VPLATFORM_API HINSTANCE AfxGetInstanceHandle();
// The module that has the resource `lpszName` of type `lpszType`: the current
// resource module if it has it, else the first non-system extension module of
// the chain (newest first) that has it, else the current resource module.
VPLATFORM_API HINSTANCE AfxFindResourceHandle(LPCWSTR lpszName, LPCWSTR lpszType);

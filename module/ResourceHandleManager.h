// Switches MFC's current resource module for the length of a scope, so that
// resources are loaded from a chosen module:
//
//     {
//         ResourceHandleManager use(pluginModule);
//         ... AfxGetResourceHandle() is pluginModule here ...
//     }   // the previous module is current again
//
// Managers nest and restore in reverse order, also when the scope is left by
// an exception.  A null module, or the module already current, changes
// nothing and restores nothing.
//
// Threads: the current resource module is the process's; create and destroy
// a manager on one thread, and do not interleave managers of several threads.
#pragma once

#include "VLibExport.h"
#include "platform/WinTypes.h"

class VLIB_API ResourceHandleManager {
public:
    explicit ResourceHandleManager(const HINSTANCE module);
    // Makes the remembered module current again, if one was remembered.
    ~ResourceHandleManager();

    ResourceHandleManager(const ResourceHandleManager&) = delete;
    ResourceHandleManager& operator=(const ResourceHandleManager&) = delete;
    // Takes over what `other` restores; `other` then restores nothing.
    ResourceHandleManager(ResourceHandleManager&& other) noexcept;
    // Takes over what `other` restores.  If this manager had switched too,
    // it keeps the module it would restore (the older one) and `other`'s
    // switch is dropped: when this manager ends, the module current before
    // either began is current again.  Moving onto itself does nothing.
    ResourceHandleManager& operator=(ResourceHandleManager&& other) noexcept;

private:
    HINSTANCE m_previous = nullptr;
};

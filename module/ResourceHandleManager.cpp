#include "module/ResourceHandleManager.h"

#include <utility>

#include "platform/mfc/AfxModule.h"

ResourceHandleManager::ResourceHandleManager(const HINSTANCE module) {
    if (module == nullptr) return;
    const HINSTANCE current = AfxGetResourceHandle();
    if (current == module) return;
    m_previous = current;
    AfxSetResourceHandle(module);
}

ResourceHandleManager::~ResourceHandleManager() {
    // AfxSetResourceHandle does not throw; a null module is ignored there.
    if (m_previous != nullptr) AfxSetResourceHandle(m_previous);
}

ResourceHandleManager::ResourceHandleManager(ResourceHandleManager&& other) noexcept
    : m_previous(std::exchange(other.m_previous, nullptr)) {}

ResourceHandleManager& ResourceHandleManager::operator=(ResourceHandleManager&& other) noexcept {
    if (this == &other) return *this;
    const HINSTANCE taken = std::exchange(other.m_previous, nullptr);
    // A manager that switched keeps the older module it restores; one that
    // did not takes over what `other` restores.
    if (m_previous == nullptr) m_previous = taken;
    return *this;
}

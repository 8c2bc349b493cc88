#include "system/AppRunningDetector.h"

#include <algorithm>
#include <utility>

#include "platform/kernel/Handles.h"
#include "platform/kernel/Sync.h"
#include "system/Path.h"

namespace {

constexpr std::size_t kMaxName = 260;

}  // namespace

AppRunningDetector::AppRunningDetector(std::wstring name, bool perFolder)
    : m_name(std::move(name)), m_perFolder(perFolder) {}

AppRunningDetector::AppRunningDetector(AppRunningDetector&& other) noexcept
    : m_name(std::move(other.m_name)), m_mutex(std::exchange(other.m_mutex, nullptr)), m_perFolder(other.m_perFolder) {}

AppRunningDetector& AppRunningDetector::operator=(AppRunningDetector&& other) noexcept {
    if (this != &other) {
        // A handle kept here would hold the mutex until the process ends.
        if (m_mutex != nullptr) CloseHandle(m_mutex);
        m_name = std::move(other.m_name);
        m_mutex = std::exchange(other.m_mutex, nullptr);
        m_perFolder = other.m_perFolder;
    }
    return *this;
}

AppRunningDetector::~AppRunningDetector() {
    if (m_mutex != nullptr) CloseHandle(m_mutex);
}

bool AppRunningDetector::IsAppAlreadyRunning() {
    std::wstring name = m_perFolder ? VTools::Path::GetModulePath(nullptr) + m_name : m_name;
    name = PrepareKernelObjectName(std::move(name));
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex == nullptr) return false;
    // The earlier handle goes only now, so that the mutex never ceased to exist.
    if (m_mutex != nullptr) CloseHandle(m_mutex);
    m_mutex = mutex;
    return error == ERROR_ALREADY_EXISTS;
}

std::wstring AppRunningDetector::PrepareKernelObjectName(std::wstring name) {
    std::replace(name.begin(), name.end(), L'\\', L'_');
    if (name.size() > kMaxName) name.erase(0, name.size() - kMaxName);
    return name;
}

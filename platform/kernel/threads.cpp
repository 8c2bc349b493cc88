// Threads: ids, descriptions, handles and waiting, over Linux tasks.
#include "platform/kernel/Threads.h"

#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/internal/KernelObject.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/WinError.h"
#include "platform/nls/CodePage.h"

namespace {

const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

// A handle to a thread of this process, by kernel thread id.
class ThreadObject : public vplatform::KernelObject {
public:
    explicit ThreadObject(pid_t tid) : m_tid(tid) {}
    pid_t Tid() const { return m_tid; }

private:
    pid_t m_tid;
};

pid_t CurrentTid() {
    thread_local const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    return tid;
}

bool TaskExists(pid_t tid) {
    const std::string path = "/proc/self/task/" + std::to_string(tid);
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The full descriptions, by thread id.  A thread's entry is removed when the
// thread ends, so a reused id never shows a stale description.
class DescriptionRegistry {
public:
    void Set(pid_t tid, std::wstring text) {
        std::lock_guard lock(m_mutex);
        m_descriptions[tid] = std::move(text);
    }
    std::wstring Get(pid_t tid) {
        std::lock_guard lock(m_mutex);
        const auto it = m_descriptions.find(tid);
        return it == m_descriptions.end() ? std::wstring() : it->second;
    }
    void Erase(pid_t tid) {
        std::lock_guard lock(m_mutex);
        m_descriptions.erase(tid);
    }

private:
    std::mutex m_mutex;
    std::unordered_map<pid_t, std::wstring> m_descriptions;
};

DescriptionRegistry& Registry() {
    // Never destroyed: threads may end after static destruction has begun.
    static auto* registry = new DescriptionRegistry;
    return *registry;
}

// Erases the calling thread's description when the thread ends.
struct DescriptionCleanup {
    bool active = false;
    ~DescriptionCleanup() {
        if (active) Registry().Erase(CurrentTid());
    }
};
thread_local DescriptionCleanup t_descriptionCleanup;

// The thread id behind a handle, or -1 (last error set).
pid_t HandleTid(HANDLE thread) {
    if (thread == kCurrentThreadPseudoHandle) return CurrentTid();
    if (const auto* object = vplatform::HandleObject<ThreadObject>(thread)) return object->Tid();
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
}

// The kernel's thread name holds 15 bytes of UTF-8; cut at a character
// boundary so that no partial character is left at the end.
std::string KernelName(const std::string& utf8) {
    constexpr std::size_t kLimit = 15;
    if (utf8.size() <= kLimit) return utf8;
    std::size_t end = kLimit;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
    return utf8.substr(0, end);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), needed, nullptr, nullptr);
    return result;
}

}  // namespace

extern "C" {

HANDLE GetCurrentThread() {
    return kCurrentThreadPseudoHandle;
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(CurrentTid());
}

DWORD GetThreadId(HANDLE thread) {
    const pid_t tid = HandleTid(thread);
    return tid < 0 ? 0 : static_cast<DWORD>(tid);
}

HANDLE OpenThread(DWORD, BOOL, DWORD threadId) {
    const auto tid = static_cast<pid_t>(threadId);
    if (threadId == 0 || !TaskExists(tid)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return vplatform::MakeHandle(new ThreadObject(tid));
}

HRESULT SetThreadDescription(HANDLE thread, LPCWSTR description) {
    if (description == nullptr) return E_INVALIDARG;
    const pid_t tid = HandleTid(thread);
    if (tid < 0) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    std::wstring text(description);
    // Taken as the process's UTF-16 texts are; a wchar_t above 0xFFFF is
    // converted as that code point.
    const std::string name = KernelName(ToUtf8(text));
    int error = 0;
    if (tid == CurrentTid()) {
        error = pthread_setname_np(pthread_self(), name.c_str());
    } else {
        const std::string path = "/proc/self/task/" + std::to_string(tid) + "/comm";
        FILE* comm = std::fopen(path.c_str(), "w");
        if (comm == nullptr) {
            error = errno;
        } else {
            if (std::fputs(name.c_str(), comm) < 0) error = errno;
            if (std::fclose(comm) != 0 && error == 0) error = errno;
        }
    }
    if (error != 0)
        return HRESULT_FROM_WIN32(error == ESRCH || error == ENOENT ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    Registry().Set(tid, std::move(text));
    if (tid == CurrentTid()) t_descriptionCleanup.active = true;
    return S_OK;
}

HRESULT GetThreadDescription(HANDLE thread, LPWSTR* description) {
    if (description == nullptr) return E_INVALIDARG;
    *description = nullptr;
    const pid_t tid = HandleTid(thread);
    if (tid < 0) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    const std::wstring text = Registry().Get(tid);
    auto* buffer = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, (text.size() + 1) * sizeof(wchar_t)));
    if (buffer == nullptr) return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    *description = buffer;
    return S_OK;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    const auto* object = vplatform::HandleObject<ThreadObject>(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    // The kernel offers no wait on another thread of the process that was not
    // created with a clear-tid futex, so the task list is polled with a short
    // back-off.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    auto pause = std::chrono::microseconds(50);
    for (;;) {
        if (!TaskExists(object->Tid())) return WAIT_OBJECT_0;
        if (milliseconds != INFINITE && std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
}

DWORD ResumeThread(HANDLE thread) {
    if (HandleTid(thread) < 0) return static_cast<DWORD>(-1);
    return 0;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
}

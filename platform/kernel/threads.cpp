// Threads: records, ids, descriptions and handles, over Linux tasks.
#include "platform/kernel/Threads.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/internal/ErrnoMap.h"
#include "platform/internal/HandleTable.h"
#include "platform/internal/Syscalls.h"
#include "platform/internal/Waitable.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/WinError.h"
#include "platform/kernel/internal/Processes.h"
#include "platform/nls/CodePage.h"

namespace vplatform {
namespace {

// The records of the live threads that have used the platform, by id.  A
// thread's entry goes as it ends, before the kernel can give its id to
// another thread.
class Registry {
public:
    void Add(const std::shared_ptr<ThreadRecord>& record) {
        const std::lock_guard lock(m_mutex);
        m_records[record->Tid()] = record;
    }
    std::shared_ptr<ThreadRecord> Find(pid_t tid) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_records.find(tid);
        return it == m_records.end() ? nullptr : it->second;
    }
    void Erase(const ThreadRecord* record) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_records.find(record->Tid());
        if (it != m_records.end() && it->second.get() == record) m_records.erase(it);
    }

private:
    std::mutex m_mutex;
    std::unordered_map<pid_t, std::shared_ptr<ThreadRecord>> m_records;
};

Registry& Records() {
    static auto* registry = new Registry;  // never destroyed: threads may end after static destruction
    return *registry;
}

// The reference to the calling thread's record that the thread holds until
// it ends; also the value of the pthread key whose destructor ends it.
thread_local std::shared_ptr<ThreadRecord>* t_record = nullptr;

void EndOfThread(void* value) {
    const std::unique_ptr<std::shared_ptr<ThreadRecord>> holder(static_cast<std::shared_ptr<ThreadRecord>*>(value));
    // A platform call from a later destructor of the thread starts a new
    // record, which the key ends in its next round.
    if (t_record == holder.get()) t_record = nullptr;
    (*holder)->End();
    Records().Erase(holder->get());
}

pthread_key_t EndKey() {
    static const pthread_key_t key = [] {
        pthread_key_t created;
        if (pthread_key_create(&created, EndOfThread) != 0) std::abort();  // only at the key limit (1024)
        return created;
    }();
    return key;
}

}  // namespace

ThreadRecord::~ThreadRecord() = default;

void ThreadRecord::AddOwned(std::shared_ptr<Waitable> object) {
    m_owned.push_back(std::move(object));
}

void ThreadRecord::RemoveOwned(const Waitable* object) {
    const auto it =
        std::find_if(m_owned.begin(), m_owned.end(), [&](const auto& held) { return held.get() == object; });
    if (it != m_owned.end()) m_owned.erase(it);
}

int ThreadRecord::WakeFd() {
    if (m_wakeFd < 0) {
        m_wakeFd = Sys().eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wakeFd < 0) SetLastErrorFromErrno(errno);
    }
    return m_wakeFd;
}

std::wstring ThreadRecord::Description() const {
    const std::lock_guard lock(m_descriptionMutex);
    return m_description;
}

void ThreadRecord::SetDescription(std::wstring text) {
    const std::lock_guard lock(m_descriptionMutex);
    m_description = std::move(text);
}

void ThreadRecord::End() {
    std::vector<std::shared_ptr<Waitable>> owned;
    {
        const auto lock = LockWaits();
        m_ended = true;
        owned.swap(m_owned);
        for (const auto& object : owned) object->OwnerEnded();
        Signalled();
    }
    if (m_wakeFd >= 0) Sys().close(m_wakeFd);
    m_wakeFd = -1;
    // `owned` is released here, outside the lock.
}

ThreadRecord& CurrentThread() {
    if (t_record != nullptr) return **t_record;
    auto holder = std::make_unique<std::shared_ptr<ThreadRecord>>(std::make_shared<ThreadRecord>(Sys().gettid()));
    // The key's destructor ends the record; should the key refuse the value
    // (no memory), the record still serves, but its handles never signal.
    pthread_setspecific(EndKey(), holder.get());
    Records().Add(*holder);
    t_record = holder.release();
    return **t_record;
}

std::shared_ptr<ThreadRecord> CurrentThreadShared() {
    CurrentThread();
    return *t_record;
}

std::shared_ptr<ThreadRecord> FindThread(pid_t tid) {
    return Records().Find(tid);
}

namespace {

// The record behind a thread handle (or the pseudo handle), or null with
// ERROR_INVALID_HANDLE.
std::shared_ptr<ThreadRecord> ThreadOf(HANDLE thread) {
    if (thread == kCurrentThreadPseudoHandle) return CurrentThreadShared();
    return KernelHandles().Lookup<ThreadRecord>(thread);
}

bool HasEnded(const ThreadRecord& record) {
    const auto lock = LockWaits();
    return record.Ended();
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

// Writes another thread's kernel name; 0 or an errno value.
int WriteComm(pid_t tid, const std::string& name) {
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/comm";
    int fd;
    while ((fd = Sys().open(path.c_str(), O_WRONLY | O_CLOEXEC, 0)) < 0 && errno == EINTR) {
    }
    if (fd < 0) return errno;
    int error = 0;
    ssize_t written;
    while ((written = Sys().write(fd, name.data(), name.size())) < 0 && errno == EINTR) {
    }
    if (written < 0) error = errno;
    Sys().close(fd);
    return error;
}

}  // namespace
}  // namespace vplatform

using namespace vplatform;

extern "C" {

HANDLE GetCurrentThread() {
    return kCurrentThreadPseudoHandle;
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(CurrentThread().Tid());
}

HANDLE GetCurrentProcess() {
    return kCurrentProcessPseudoHandle;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(Sys().getpid());
}

DWORD GetThreadId(HANDLE thread) {
    DWORD id = 0;
    DWORD code = 0;
    if (ProcessThreadInfo(thread, id, code)) return id;
    const auto record = ThreadOf(thread);
    return record ? static_cast<DWORD>(record->Tid()) : 0;
}

HANDLE OpenThread(DWORD, BOOL, DWORD threadId) {
    // The caller's own record exists from here on, so it can open itself.
    CurrentThread();
    const auto record = threadId == 0 ? nullptr : FindThread(static_cast<pid_t>(threadId));
    if (!record) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return KernelHandles().Insert(record);
}

HRESULT SetThreadDescription(HANDLE thread, LPCWSTR description) {
    if (description == nullptr) return E_INVALIDARG;
    const auto record = ThreadOf(thread);
    if (!record) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    std::wstring text(description);
    // Taken as the process's UTF-16 texts are; a wchar_t above 0xFFFF is
    // converted as that code point.
    const std::string name = KernelName(ToUtf8(text));
    int error = 0;
    if (record.get() == &CurrentThread()) {
        error = Sys().pthread_setname_np(pthread_self(), name.c_str());
    } else if (!HasEnded(*record)) {
        // An ended thread keeps its description without a kernel name.  The
        // check and the write are not atomic: a thread ending in between
        // makes the write fail (ENOENT, or a rename of a thread that got
        // its id in those microseconds).
        error = WriteComm(record->Tid(), name);
    }
    if (error != 0)
        return HRESULT_FROM_WIN32(error == ESRCH || error == ENOENT ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    record->SetDescription(std::move(text));
    return S_OK;
}

HRESULT GetThreadDescription(HANDLE thread, LPWSTR* description) {
    if (description == nullptr) return E_INVALIDARG;
    *description = nullptr;
    const auto record = ThreadOf(thread);
    if (!record) return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    const std::wstring text = record->Description();
    auto* buffer = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, (text.size() + 1) * sizeof(wchar_t)));
    if (buffer == nullptr) return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    *description = buffer;
    return S_OK;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
    DWORD id = 0;
    DWORD code = 0;
    if (exitCode != nullptr && ProcessThreadInfo(thread, id, code)) {
        *exitCode = code;
        return TRUE;
    }
    const auto record = ThreadOf(thread);
    if (!record) return FALSE;
    if (exitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = HasEnded(*record) ? 0 : STILL_ACTIVE;
    return TRUE;
}

DWORD ResumeThread(HANDLE thread) {
    DWORD id = 0;
    DWORD code = 0;
    if (ProcessThreadInfo(thread, id, code)) return 0;
    if (!ThreadOf(thread)) return static_cast<DWORD>(-1);
    return 0;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
}

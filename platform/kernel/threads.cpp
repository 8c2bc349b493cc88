// Threads: records, ids, descriptions and handles, over Linux tasks.
#include "platform/kernel/Threads.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/WinError.h"
#include "platform/internal/ErrnoMap.h"
#include "platform/internal/HandleTable.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/Memory.h"
#include "platform/kernel/internal/Processes.h"
#include "platform/kernel/internal/Waitable.h"
#include "platform/nls/CodePage.h"
#include "platform/nls/internal/Utf8.h"

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
    PlatformMutex m_mutex;
    std::unordered_map<pid_t, std::shared_ptr<ThreadRecord>> m_records;
};

Registry& Records() {
    static auto* registry = new Registry;  // never destroyed: threads may end after static destruction
    return *registry;
}

// The reference to the calling thread's record that the thread holds until
// it ends; also the value of the pthread key whose destructor ends it.
thread_local std::shared_ptr<ThreadRecord>* t_record = nullptr;

// What the suspension signal's handler reads: initial-exec TLS, which a
// handler may touch (no lazy allocation), of trivial types.
#define VPLATFORM_SIGNAL_TLS __attribute__((tls_model("initial-exec"))) thread_local constinit
VPLATFORM_SIGNAL_TLS ThreadControl* t_control = nullptr;
// The thread is inside ParkWhileSuspended (a handler that runs there parks
// nothing more).
VPLATFORM_SIGNAL_TLS std::atomic<bool> t_parking{false};
#undef VPLATFORM_SIGNAL_TLS

int SuspendSignal() {
    return SIGRTMAX - 2;
}

void WakeAll(ThreadControl& control) {
    Sys().futex_wake(reinterpret_cast<const unsigned*>(&control.state), INT_MAX);
}

// Parks the calling thread while its suspend count is not 0 (and, in a
// start-up hold, until it is told to end).  Async-signal-safe.
//
// kParked is set for as long as the thread stays here and is cleared only
// together with a count of 0 (one compare and swap): a suspension counted
// meanwhile makes the exchange fail, so the thread stays parked for it and
// the suspender, seeing kParked, is right.  A suspension signal handled while
// the thread is parked here (under ThreadSanitizer, which runs deferred
// handlers at its atomic operations, at every turn of the loop) parks
// nothing more: a nested park would clear kParked on its way out while this
// one went on sleeping, and the next suspender would wait for kParked for
// good.  A suspension whose signal came just before the guard was lowered is
// found by the last look at the count.
void ParkWhileSuspended(ThreadControl& control) {
    if (t_parking.load(std::memory_order_relaxed)) return;
    constexpr unsigned kLeave = ThreadControl::kTerminate;
    for (;;) {
        unsigned state = control.state.load(std::memory_order_acquire);
        if ((state & ThreadControl::kCountMask) == 0 || (state & kLeave) != 0) return;
        t_parking.store(true, std::memory_order_relaxed);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        for (;;) {
            state = control.state.load(std::memory_order_acquire);
            if ((state & ThreadControl::kCountMask) == 0 || (state & kLeave) != 0) {
                if (control.state.compare_exchange_weak(state, state & ~ThreadControl::kParked,
                                                        std::memory_order_acq_rel)) {
                    break;
                }
                continue;
            }
            if ((state & ThreadControl::kParked) == 0) {
                if (control.state.compare_exchange_weak(state, state | ThreadControl::kParked,
                                                        std::memory_order_acq_rel)) {
                    WakeAll(control);
                }
                continue;
            }
            Sys().futex_wait(reinterpret_cast<const unsigned*>(&control.state), state, nullptr);
        }
        std::atomic_signal_fence(std::memory_order_seq_cst);
        t_parking.store(false, std::memory_order_relaxed);
    }
}

void OnSuspendSignal(int) {
    const int saved = errno;
    if (ThreadControl* control = t_control) {
        if (!DeferSuspensionInsidePlatformLock()) ParkWhileSuspended(*control);
    }
    errno = saved;
}

// The park hook of PlatformLock.h: a suspension deferred while the thread
// held platform locks parks it once it has released the last one.
void ParkDeferredSuspension() noexcept {
    if (ThreadControl* control = t_control) ParkWhileSuspended(*control);
}

// Installs the handler once; false with the last error set when Linux
// refuses it.
bool InstallSuspendHandler() {
    static const int error = [] {
        SetPlatformParkHook(ParkDeferredSuspension);
        struct sigaction action {};
        action.sa_handler = OnSuspendSignal;
#if defined(__SANITIZE_THREAD__)
        // ThreadSanitizer runs a handler only when the thread next enters
        // or leaves a call it intercepts; a restarted futex sleep never
        // would, so the sleep is interrupted and the relock runs it.
        action.sa_flags = 0;
#else
        action.sa_flags = SA_RESTART;
#endif
        sigemptyset(&action.sa_mask);
        return Sys().sigaction(SuspendSignal(), &action, nullptr) == 0 ? 0 : errno;
    }();
    if (error != 0) SetLastErrorFromErrno(error);
    return error == 0;
}

// The hooks of ThreadControl.h; written during static initialisation only.
struct Hooks {
    std::array<ThreadHook, 8> atStart{};
    std::array<ThreadHook, 8> atEnd{};
    std::size_t starts = 0;
    std::size_t ends = 0;
};
Hooks& ThreadHooks() {
    static Hooks hooks;
    return hooks;
}

void EndOfThread(void* value) {
    const std::unique_ptr<std::shared_ptr<ThreadRecord>> holder(static_cast<std::shared_ptr<ThreadRecord>*>(value));
    ThreadRecord& record = **holder;
    // The hooks (the thread's queue and windows) run while the record is
    // still the thread's own.
    if (t_record == holder.get()) {
        const Hooks& hooks = ThreadHooks();
        for (std::size_t i = 0; i < hooks.ends; ++i) hooks.atEnd[i]();
    }
    // A platform call from a later destructor of the thread starts a new
    // record, which the key ends in its next round.
    if (t_record == holder.get()) t_record = nullptr;
    ThreadControl& control = record.Control();
    {
        const std::lock_guard lock(control.mutex);
        control.state.fetch_or(ThreadControl::kEnded, std::memory_order_acq_rel);
    }
    WakeAll(control);
    if (t_control == &control) t_control = nullptr;
    record.End();
    Records().Erase(&record);
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

ThreadHookRegistration::ThreadHookRegistration(ThreadHook atStart, ThreadHook atEnd) noexcept {
    Hooks& hooks = ThreadHooks();
    if (atStart != nullptr && hooks.starts < hooks.atStart.size()) hooks.atStart[hooks.starts++] = atStart;
    if (atEnd != nullptr && hooks.ends < hooks.atEnd.size()) hooks.atEnd[hooks.ends++] = atEnd;
}

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
    t_control = &(*t_record)->Control();
    // SuspendThread must reach the thread even when it was started with the
    // signal blocked (a process that blocks signals for a handler thread).
    sigset_t suspend;
    sigemptyset(&suspend);
    sigaddset(&suspend, SuspendSignal());
    Sys().pthread_sigmask(SIG_UNBLOCK, &suspend, nullptr);
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
    if (IsCurrentThreadPseudoHandle(thread)) return CurrentThreadShared();
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

// What a thread of CreateThread and its creator share until the thread's
// start-up is done.
struct StartBlock {
    LPTHREAD_START_ROUTINE routine = nullptr;
    LPVOID parameter = nullptr;
    std::shared_ptr<ThreadRecord> record;  // set by the thread before `ready`
    std::atomic<unsigned> ready{0};        // futex word
};

void* StartThread(void* argument) {
    const std::unique_ptr<std::shared_ptr<StartBlock>> held(static_cast<std::shared_ptr<StartBlock>*>(argument));
    const std::shared_ptr<StartBlock> block = *held;
    auto record = CurrentThreadShared();
    ThreadControl& control = record->Control();
    // Held, not started, until the creator or ResumeThread releases it.
    control.state.store(1, std::memory_order_release);
    const Hooks& hooks = ThreadHooks();
    for (std::size_t i = 0; i < hooks.starts; ++i) hooks.atStart[i]();
    const LPTHREAD_START_ROUTINE routine = block->routine;
    const LPVOID parameter = block->parameter;
    block->record = std::move(record);
    block->ready.store(1, std::memory_order_release);
    Sys().futex_wake(reinterpret_cast<const unsigned*>(&block->ready), 1);
    ParkWhileSuspended(control);
    if ((control.state.load(std::memory_order_acquire) & ThreadControl::kTerminate) != 0) return nullptr;
    control.exitCode.store(routine(parameter), std::memory_order_relaxed);
    return nullptr;
}

// Lowers the count of `control` by one, marking a thread held since its
// start-up as started when the count reaches 0; the previous count.
unsigned Release(ThreadControl& control) {
    unsigned state = control.state.load(std::memory_order_acquire);
    for (;;) {
        const unsigned count = state & ThreadControl::kCountMask;
        if (count == 0 || (state & ThreadControl::kEnded) != 0) return 0;
        unsigned next = state - 1;
        if (count == 1 && (state & ThreadControl::kTerminate) == 0) next |= ThreadControl::kStarted;
        if (control.state.compare_exchange_weak(state, next, std::memory_order_acq_rel)) {
            // Only a count of 0 lets a parked thread or a waiting suspender on.
            if (count == 1) WakeAll(control);
            return count;
        }
    }
}

// The nice value of a Windows thread priority, or nothing for another value.
std::optional<int> NiceValue(int priority) {
    switch (priority) {
        case THREAD_PRIORITY_IDLE:
            return 19;
        case THREAD_PRIORITY_LOWEST:
            return 10;
        case THREAD_PRIORITY_BELOW_NORMAL:
            return 5;
        case THREAD_PRIORITY_NORMAL:
            return 0;
        case THREAD_PRIORITY_ABOVE_NORMAL:
            return -5;
        case THREAD_PRIORITY_HIGHEST:
            return -10;
        case THREAD_PRIORITY_TIME_CRITICAL:
            return -20;
        default:
            return std::nullopt;
    }
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
    const std::string name = KernelName(Utf8Of(text));
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
    *exitCode = HasEnded(*record) ? record->Control().exitCode.load(std::memory_order_relaxed) : STILL_ACTIVE;
    return TRUE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE startAddress, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId) {
    if (startAddress == nullptr || (creationFlags & ~(CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    CurrentThread();
    auto block = std::make_shared<StartBlock>();
    block->routine = startAddress;
    block->parameter = parameter;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackSize != 0) {
        const auto page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
        const SIZE_T least = PTHREAD_STACK_MIN;
        const SIZE_T size = (std::max(stackSize, least) + page - 1) / page * page;
        pthread_attr_setstacksize(&attributes, static_cast<size_t>(size));
    }
    auto* argument = new std::shared_ptr<StartBlock>(block);
    pthread_t created;
    const int error = Sys().pthread_create(&created, &attributes, StartThread, argument);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete argument;
        SetLastError(error == EINVAL ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    while (block->ready.load(std::memory_order_acquire) == 0) {
        Sys().futex_wait(reinterpret_cast<const unsigned*>(&block->ready), 0, nullptr);
    }
    ThreadControl& control = block->record->Control();
    const HANDLE handle = KernelHandles().Insert(block->record);
    if (handle == nullptr) {
        // The thread has run nothing of its caller's yet: it ends unrun.
        const DWORD insertError = GetLastError();
        control.state.fetch_or(ThreadControl::kTerminate, std::memory_order_acq_rel);
        WakeAll(control);
        SetLastError(insertError);
        return nullptr;
    }
    if (threadId != nullptr) *threadId = static_cast<DWORD>(block->record->Tid());
    if ((creationFlags & CREATE_SUSPENDED) == 0) Release(control);
    return handle;
}

DWORD SuspendThread(HANDLE thread) {
    const auto record = ThreadOf(thread);
    if (!record) return static_cast<DWORD>(-1);
    if (!InstallSuspendHandler()) return static_cast<DWORD>(-1);
    ThreadControl& control = record->Control();
    const bool self = record.get() == &CurrentThread();
    unsigned previous = 0;
    {
        const std::lock_guard lock(control.mutex);
        const unsigned state = control.state.load(std::memory_order_acquire);
        if ((state & ThreadControl::kEnded) != 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return static_cast<DWORD>(-1);
        }
        if ((state & ThreadControl::kCountMask) >= MAXIMUM_SUSPEND_COUNT) {
            SetLastError(ERROR_SIGNAL_REFUSED);
            return static_cast<DWORD>(-1);
        }
        // Only this lock raises the count, so it cannot pass the limit.
        previous = control.state.fetch_add(1, std::memory_order_acq_rel) & ThreadControl::kCountMask;
        // A held thread parks without a signal; the mutex keeps the thread
        // from ending, and so its id from being reused, until the signal is sent.
        if (previous == 0 && !self && (state & ThreadControl::kStarted) != 0 &&
            Sys().tgkill(Sys().getpid(), record->Tid(), SuspendSignal()) != 0) {
            const int sendError = errno;
            Release(control);
            SetLastErrorFromErrno(sendError);
            return static_cast<DWORD>(-1);
        }
    }
    if (self) {
        ParkWhileSuspended(control);
        return previous;
    }
    for (;;) {
        const unsigned state = control.state.load(std::memory_order_acquire);
        if ((state & (ThreadControl::kParked | ThreadControl::kEnded)) != 0 ||
            (state & ThreadControl::kCountMask) == 0) {
            break;
        }
        Sys().futex_wait(reinterpret_cast<const unsigned*>(&control.state), state, nullptr);
    }
    return previous;
}

DWORD ResumeThread(HANDLE thread) {
    // The first thread of a created process runs already: nothing to resume.
    DWORD id = 0;
    DWORD code = 0;
    if (ProcessThreadInfo(thread, id, code)) return 0;
    const auto record = ThreadOf(thread);
    if (!record) return static_cast<DWORD>(-1);
    return Release(record->Control());
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    const auto record = ThreadOf(thread);
    if (!record) return FALSE;
    ThreadControl& control = record->Control();
    unsigned state = control.state.load(std::memory_order_acquire);
    for (;;) {
        if ((state & ThreadControl::kEnded) != 0) return TRUE;
        if ((state & ThreadControl::kStarted) != 0) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        control.exitCode.store(exitCode, std::memory_order_relaxed);
        if (control.state.compare_exchange_weak(state, state | ThreadControl::kTerminate, std::memory_order_acq_rel)) {
            break;
        }
    }
    WakeAll(control);
    return TRUE;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
    const auto record = ThreadOf(thread);
    if (!record) return FALSE;
    const std::optional<int> nice = NiceValue(priority);
    if (!nice) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ThreadControl& control = record->Control();
    const std::lock_guard lock(control.mutex);
    if ((control.state.load(std::memory_order_acquire) & ThreadControl::kEnded) == 0 &&
        Sys().setpriority(PRIO_PROCESS, static_cast<id_t>(record->Tid()), *nice) != 0) {
        SetLastError(errno == ESRCH ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    control.priority = priority;
    return TRUE;
}

int GetThreadPriority(HANDLE thread) {
    const auto record = ThreadOf(thread);
    if (!record) return THREAD_PRIORITY_ERROR_RETURN;
    ThreadControl& control = record->Control();
    const std::lock_guard lock(control.mutex);
    return control.priority;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
}

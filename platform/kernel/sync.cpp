// Waits, events and mutexes over the waitable model of kernel/internal/Waitable.h.
#include "platform/kernel/Sync.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/internal/ErrnoMap.h"
#include "platform/internal/HandleTable.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/NamedObjects.h"
#include "platform/kernel/internal/Waitable.h"

namespace vplatform {

// One thread's wait in progress; lives in its frame.  Fields change only
// with the wait lock held.
struct Waiter {
    ThreadRecord* thread = nullptr;
    std::span<Waitable* const> objects;
    bool all = false;
    bool done = false;
    DWORD result = WAIT_FAILED;
    int wakeFd = -1;  // set when the wait polls descriptors
    // The futex word the waiting thread sleeps on, without the wait lock (so
    // that it can be suspended while it sleeps); bumped by Complete.
    std::atomic<unsigned> wake{0};
};

// The queues of waiters on the objects; every member runs with the lock held.
struct WaitQueue {
    // Takes the objects of `waiter` when its wait can be satisfied now.
    static bool Satisfy(Waiter& waiter) {
        ThreadRecord& thread = *waiter.thread;
        const auto count = static_cast<DWORD>(waiter.objects.size());
        if (!waiter.all) {
            for (DWORD i = 0; i < count; ++i) {
                if (waiter.objects[i]->IsSignalled(thread) && waiter.objects[i]->Claim()) {
                    waiter.result = (waiter.objects[i]->Acquire(thread) ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i;
                    return true;
                }
            }
            return false;
        }
        for (Waitable* object : waiter.objects) {
            if (!object->IsSignalled(thread)) return false;
        }
        for (DWORD i = 0; i < count; ++i) {
            if (!waiter.objects[i]->Claim()) {
                while (i > 0) waiter.objects[--i]->Unclaim();
                return false;
            }
        }
        waiter.result = WAIT_OBJECT_0;
        for (DWORD i = 0; i < count; ++i) {
            if (waiter.objects[i]->Acquire(thread) && waiter.result == WAIT_OBJECT_0) {
                waiter.result = WAIT_ABANDONED_0 + i;
            }
        }
        return true;
    }

    static void Enqueue(Waiter& waiter) {
        for (Waitable* object : waiter.objects) {
            auto& queue = object->m_waiters;
            if (std::find(queue.begin(), queue.end(), &waiter) == queue.end()) queue.push_back(&waiter);
        }
    }

    static void Dequeue(Waiter& waiter) {
        for (Waitable* object : waiter.objects) std::erase(object->m_waiters, &waiter);
    }

    // Ends a queued wait that Satisfy completed and wakes its thread.
    static void Complete(Waiter& waiter) {
        Dequeue(waiter);
        waiter.done = true;
        if (waiter.wakeFd >= 0) {
            const std::uint64_t one = 1;
            // An eventfd write fails only when its count would overflow, and
            // then the waiter is awake already.
            [[maybe_unused]] const ssize_t written = Sys().write(waiter.wakeFd, &one, sizeof one);
        } else {
            waiter.wake.fetch_add(1, std::memory_order_relaxed);
            // After the wait lock is released: woken now, the waiter would
            // first wait for the lock.  Should it have left meanwhile (a
            // timeout), the late wake-up is one more spurious one for
            // whatever sleeps there, which futex sleepers stand.
            WakeAfterPlatformLocks(reinterpret_cast<const unsigned*>(&waiter.wake));
        }
    }

    static void Signalled(Waitable& object) {
        auto& queue = object.m_waiters;
        for (std::size_t i = 0; i < queue.size();) {
            Waiter& waiter = *queue[i];
            if (Satisfy(waiter)) {
                Complete(waiter);  // removes queue[i]
            } else {
                ++i;
            }
        }
    }
};

// Constant-initialised and trivially destroyed: it works before and after
// static construction and destruction, and its first use takes no
// initialisation guard that a thread suspended inside it would hold.
static_assert(std::is_trivially_destructible_v<PlatformMutex>);
namespace {
constinit PlatformMutex g_waitLock;
}  // namespace

std::unique_lock<PlatformMutex> LockWaits() {
    return std::unique_lock(g_waitLock);
}

Waitable::~Waitable() = default;

bool Waitable::Acquire(ThreadRecord&) {
    return false;
}

bool Waitable::Claim() {
    return true;
}

void Waitable::Unclaim() {}

void Waitable::OwnerEnded() {}

int Waitable::WatchFd() const {
    return -1;
}

void Waitable::FdReady() {}

void Waitable::Signalled() {
    WaitQueue::Signalled(*this);
}

namespace {

DWORD Failed(DWORD error) {
    SetLastError(error);
    return WAIT_FAILED;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` for poll(2), rounded up; -1 for none.
int PollTimeout(const std::optional<Clock::time_point>& deadline) {
    if (!deadline) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// Sleeps on the waiter's futex word without the wait lock until Complete
// bumps it, `deadline` passes, or a signal interrupts the sleep.
void SleepUntilWoken(Waiter& waiter, std::unique_lock<PlatformMutex>& lock,
                     const std::optional<Clock::time_point>& deadline) {
    const unsigned seen = waiter.wake.load(std::memory_order_relaxed);
    timespec timeout{};
    if (deadline) {
        const auto left = std::max(*deadline - Clock::now(), Clock::duration::zero());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        timeout.tv_sec = static_cast<time_t>(seconds.count());
        timeout.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - seconds).count());
    }
    lock.unlock();
    Sys().futex_wait(reinterpret_cast<const unsigned*>(&waiter.wake), seen, deadline ? &timeout : nullptr);
    lock.lock();
}

// Polls the descriptors of the objects (and the waiter's eventfd when it is
// queued) without the lock, then lets each readable object read its new
// state.  Returns 0 or the errno value of a failed poll.
int PollObjects(Waiter& waiter, std::unique_lock<PlatformMutex>& lock, int timeout, bool withWakeFd) {
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS + 1> fds{};
    std::array<Waitable*, MAXIMUM_WAIT_OBJECTS + 1> owners{};
    nfds_t count = 0;
    if (withWakeFd) fds[count++] = {waiter.wakeFd, POLLIN, 0};
    for (Waitable* object : waiter.objects) {
        // A signalled object's descriptor may stay readable (a pidfd does):
        // it is left out, or the poll would return at once until the wait ends.
        const int fd = object->WatchFd();
        if (fd < 0 || object->IsSignalled(*waiter.thread)) continue;
        owners[count] = object;
        fds[count++] = {fd, POLLIN, 0};
    }
    if (count == 0) return 0;
    lock.unlock();
    int ready = 0;
    while ((ready = Sys().poll(fds.data(), count, timeout)) < 0 && errno == EINTR) {
    }
    const int error = ready < 0 ? errno : 0;
    if (withWakeFd && (fds[0].revents & POLLIN) != 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t drained = Sys().read(waiter.wakeFd, &value, sizeof value);
    }
    lock.lock();
    if (error != 0) return error;
    for (nfds_t i = withWakeFd ? 1 : 0; i < count; ++i) {
        if (fds[i].revents != 0 && !waiter.done) owners[i]->FdReady();
    }
    return 0;
}

}  // namespace

DWORD WaitForObjects(std::span<Waitable* const> objects, bool waitAll, DWORD milliseconds) {
    if (objects.empty() || objects.size() > MAXIMUM_WAIT_OBJECTS) return Failed(ERROR_INVALID_PARAMETER);
    bool polls = false;
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        if (*it == nullptr) return Failed(ERROR_INVALID_HANDLE);
        if (waitAll && std::find(objects.begin(), it, *it) != it) return Failed(ERROR_INVALID_PARAMETER);
        polls = polls || (*it)->WatchFd() >= 0;
    }
    ThreadRecord& self = CurrentThread();
    Waiter waiter;
    waiter.thread = &self;
    waiter.objects = objects;
    waiter.all = waitAll;
    if (polls && (waiter.wakeFd = self.WakeFd()) < 0) return WAIT_FAILED;
    auto lock = LockWaits();
    // Objects watched through descriptors read their state first.
    if (polls) {
        if (const int error = PollObjects(waiter, lock, 0, false)) return Failed(ErrorFromErrno(error));
    }
    if (WaitQueue::Satisfy(waiter)) return waiter.result;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    std::optional<Clock::time_point> deadline;
    if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    WaitQueue::Enqueue(waiter);
    while (!waiter.done) {
        if (polls) {
            if (const int error = PollObjects(waiter, lock, PollTimeout(deadline), true)) {
                if (waiter.done) break;
                WaitQueue::Dequeue(waiter);
                return Failed(ErrorFromErrno(error));
            }
        } else {
            SleepUntilWoken(waiter, lock, deadline);
        }
        if (!waiter.done && deadline && Clock::now() >= *deadline) {
            WaitQueue::Dequeue(waiter);
            return WAIT_TIMEOUT;
        }
    }
    return waiter.result;
}

namespace {

// A named event's state, shared by every process that holds the event: the
// first page of the name's lock file, which each of them maps.  The kind
// byte ('E') and the manual-reset byte lead; the state word (0 or 1) is
// changed atomically in the mapping; a write of the notice byte through the
// file, after a change, is what the other holders' inotify watches see.
constexpr std::size_t kEventFileSize = 4096;
constexpr std::size_t kEventManualOffset = 1;
constexpr std::size_t kEventStateOffset = 64;
constexpr off_t kEventNoticeOffset = 128;

// The process's one inotify descriptor, watching the files of its named
// events; -1 when it cannot be made.
int EventWatchFd() {
    static const int fd = Sys().inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    return fd;
}

// The watches of the process's named-event files: one per file, counted,
// since the kernel gives the same watch to the same file.
std::mutex g_watchesMutex;
std::map<int, int> g_watches;

class SharedEventState {
public:
    // Maps the file and watches it; null with the last error set.
    static std::unique_ptr<SharedEventState> Map(std::unique_ptr<NamedLock> file) {
        const int watchFd = EventWatchFd();
        if (watchFd < 0) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        void* page = Sys().mmap(nullptr, kEventFileSize, PROT_READ | PROT_WRITE, MAP_SHARED, file->Fd(), 0);
        if (page == MAP_FAILED) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        const std::string path = "/proc/self/fd/" + std::to_string(file->Fd());
        int watch = -1;
        {
            const std::lock_guard lock(g_watchesMutex);
            watch = Sys().inotify_add_watch(watchFd, path.c_str(), IN_MODIFY);
            if (watch >= 0) ++g_watches[watch];
        }
        if (watch < 0) {
            SetLastErrorFromErrno(errno);
            Sys().munmap(page, kEventFileSize);
            return nullptr;
        }
        return std::unique_ptr<SharedEventState>(new SharedEventState(std::move(file), page, watchFd, watch));
    }
    ~SharedEventState() {
        {
            const std::lock_guard lock(g_watchesMutex);
            if (--g_watches[m_watch] == 0) {
                g_watches.erase(m_watch);
                Sys().inotify_rm_watch(m_watchFd, m_watch);
            }
        }
        Sys().munmap(m_page, kEventFileSize);  // before the file (and its lock) goes
    }
    SharedEventState(const SharedEventState&) = delete;
    SharedEventState& operator=(const SharedEventState&) = delete;

    bool Manual() const { return static_cast<const unsigned char*>(m_page)[kEventManualOffset] != 0; }
    int WatchFd() const { return m_watchFd; }
    bool Signalled() const { return Word().load(std::memory_order_acquire) != 0; }
    void Store(bool signalled) { Word().store(signalled ? 1 : 0, std::memory_order_release); }
    // Takes the signal of an auto-reset event.
    bool Take() {
        std::uint32_t expected = 1;
        return Word().compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    }
    // Tells the other holders' watches that the state changed.
    void Notify() const {
        const char notice = 1;
        ssize_t put = -1;
        while ((put = Sys().pwrite(m_file->Fd(), &notice, 1, kEventNoticeOffset)) < 0 && errno == EINTR) {
        }
    }

private:
    SharedEventState(std::unique_ptr<NamedLock> file, void* page, int watchFd, int watch)
        : m_file(std::move(file)), m_page(page), m_watchFd(watchFd), m_watch(watch) {}
    std::atomic_ref<std::uint32_t> Word() const {
        return std::atomic_ref<std::uint32_t>(
            *reinterpret_cast<std::uint32_t*>(static_cast<char*>(m_page) + kEventStateOffset));
    }

    std::unique_ptr<NamedLock> m_file;
    void* m_page;
    int m_watchFd;
    int m_watch;
};

class Event;
// The named events of the process, for the one whose watch reads the
// descriptor to look at all (the descriptor is shared).  Wait lock held.
std::vector<Event*> g_namedEvents;

class Event final : public Waitable {
public:
    static constexpr ObjectType kType = ObjectType::Event;

    Event(bool manualReset, bool signalled) : m_manualReset(manualReset), m_signalled(signalled) {}
    // A named event; its kind of reset is the file's.
    explicit Event(std::unique_ptr<SharedEventState> shared)
        : m_manualReset(shared->Manual()), m_signalled(false), m_shared(std::move(shared)) {
        const auto lock = LockWaits();
        g_namedEvents.push_back(this);
    }
    ~Event() override {
        if (m_shared) {
            const auto lock = LockWaits();
            std::erase(g_namedEvents, this);
        }
    }

    bool IsSignalled(const ThreadRecord&) const override { return SignalledNow(); }
    bool SignalledNow() const { return m_shared ? m_shared->Signalled() : m_signalled; }
    bool Claim() override { return !m_shared || m_manualReset || m_shared->Take(); }
    void Unclaim() override {
        if (!m_shared || m_manualReset) return;
        m_shared->Store(true);
        m_shared->Notify();
    }
    bool Acquire(ThreadRecord&) override {
        if (!m_manualReset && !m_shared) m_signalled = false;
        return false;
    }
    int WatchFd() const override { return m_shared ? m_shared->WatchFd() : -1; }
    // Another process may have changed any named event of this one: the
    // descriptor is drained and every one of them looked at.
    void FdReady() override {
        std::array<char, 4096> events{};
        while (Sys().read(m_shared->WatchFd(), events.data(), events.size()) > 0) {
        }
        for (Event* event : g_namedEvents) {
            if (event->SignalledNow()) event->Signalled();
        }
    }

    // Lock held.  Set and Pulse return whether other processes are to be
    // told (Notify, after the lock).
    bool Set() {
        if (!m_shared) {
            m_signalled = true;
            Signalled();
            return false;
        }
        m_shared->Store(true);
        Signalled();
        // An auto-reset event a waiter here has taken tells nobody.
        return m_manualReset || m_shared->Signalled();
    }
    void Reset() {
        if (m_shared) {
            m_shared->Store(false);
        } else {
            m_signalled = false;
        }
    }
    void Pulse() {
        Set();
        Reset();
    }
    void Notify() const {
        if (m_shared) m_shared->Notify();
    }

private:
    const bool m_manualReset;
    bool m_signalled;
    const std::unique_ptr<SharedEventState> m_shared;
};

class Mutex final : public Waitable, public std::enable_shared_from_this<Mutex> {
public:
    static constexpr ObjectType kType = ObjectType::Mutex;

    bool IsSignalled(const ThreadRecord& thread) const override { return m_owner == nullptr || m_owner == &thread; }
    bool Acquire(ThreadRecord& thread) override {
        if (m_owner == &thread) {
            ++m_count;
            return false;
        }
        m_owner = &thread;
        m_count = 1;
        thread.AddOwned(shared_from_this());
        return std::exchange(m_abandoned, false);
    }
    void OwnerEnded() override {
        m_owner = nullptr;
        m_count = 0;
        m_abandoned = true;
        Signalled();
    }

    // The lock file of a named mutex, held for the mutex's life.
    void SetName(std::unique_ptr<NamedLock> lock) { m_lock = std::move(lock); }

    // Lock held; false when `thread` is not the owner.
    bool Release(ThreadRecord& thread) {
        if (m_owner != &thread) return false;
        if (--m_count == 0) {
            m_owner = nullptr;
            // The caller's lookup holds the mutex too, so it is not destroyed here.
            thread.RemoveOwned(this);
            Signalled();
        }
        return true;
    }

private:
    // The owner's record lives while it owns the mutex: it holds the mutex
    // and clears this through OwnerEnded before it ends.
    ThreadRecord* m_owner = nullptr;
    DWORD m_count = 0;
    bool m_abandoned = false;
    std::unique_ptr<NamedLock> m_lock;
};

// The named objects of this process by name (mutexes and events share the
// names): a second creation of a name gives a handle to the same object.
class NamedObjects {
public:
    std::mutex& Lock() { return m_mutex; }
    // With Lock() held.
    std::shared_ptr<Waitable> Find(const std::wstring& name) {
        const auto it = m_objects.find(name);
        if (it == m_objects.end()) return nullptr;
        auto object = it->second.lock();
        if (!object) m_objects.erase(it);
        return object;
    }
    void Add(const std::wstring& name, const std::shared_ptr<Waitable>& object) { m_objects[name] = object; }

private:
    std::mutex m_mutex;
    std::map<std::wstring, std::weak_ptr<Waitable>> m_objects;
};

NamedObjects& Named() {
    static auto* named = new NamedObjects;  // never destroyed: handles may outlive static destruction
    return *named;
}

constexpr std::size_t kMaxObjectName = 260;

// The name of a named object without its namespace prefix ("Local\" and
// "Global\" both name the user's objects here); false with the last error
// set for a name no object can have.
bool ObjectName(LPCWSTR name, std::wstring& out) {
    std::wstring_view text(name);
    for (const std::wstring_view prefix : {std::wstring_view(L"Local\\"), std::wstring_view(L"Global\\")}) {
        if (text.starts_with(prefix)) {
            text.remove_prefix(prefix.size());
            break;
        }
    }
    if (text.find(L'\\') != std::wstring_view::npos) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (text.size() > kMaxObjectName) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    out.assign(text);
    return true;
}

// A new handle to the named mutex `name`: the process's own when it has
// one, else a new mutex holding the name's lock file.
HANDLE CreateNamedMutex(bool initialOwner, LPCWSTR lpName) {
    std::wstring name;
    if (!ObjectName(lpName, name)) return nullptr;
    std::shared_ptr<Mutex> mutex;
    bool existed = false;
    {
        const std::lock_guard lock(Named().Lock());
        if (const auto object = Named().Find(name)) {
            mutex = std::dynamic_pointer_cast<Mutex>(object);
            if (!mutex) {
                SetLastError(ERROR_INVALID_HANDLE);  // the name is another kind's
                return nullptr;
            }
            existed = true;
        } else {
            auto file = NamedLock::Acquire(name, "M", false, existed);
            if (!file) return nullptr;
            mutex = std::make_shared<Mutex>();
            mutex->SetName(std::move(file));
            // The creator may own it at once; an opener of an existing one may not.
            if (initialOwner && !existed) {
                const auto waits = LockWaits();
                mutex->Acquire(CurrentThread());
            }
            Named().Add(name, mutex);
        }
    }
    const HANDLE handle = KernelHandles().Insert(mutex);
    if (handle == nullptr) {
        const DWORD error = GetLastError();
        {
            const auto waits = LockWaits();
            mutex->Release(CurrentThread());
        }
        mutex.reset();  // may release the lock file, outside the registry's lock
        SetLastError(error);
        return nullptr;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// A new handle to the named event `name`: the process's own when it has
// one, else the event of the name's file, made by this call unless
// `openOnly`.
HANDLE NamedEvent(bool manualReset, bool initialState, LPCWSTR lpName, bool openOnly) {
    std::wstring name;
    if (!ObjectName(lpName, name)) return nullptr;
    std::shared_ptr<Event> event;
    bool existed = false;
    {
        const std::lock_guard lock(Named().Lock());
        if (const auto object = Named().Find(name)) {
            event = std::dynamic_pointer_cast<Event>(object);
            if (!event) {
                SetLastError(ERROR_INVALID_HANDLE);  // the name is another kind's
                return nullptr;
            }
            existed = true;
        } else {
            std::string initial(kEventFileSize, '\0');
            initial[0] = 'E';
            initial[kEventManualOffset] = manualReset ? 1 : 0;
            const std::uint32_t state = initialState ? 1 : 0;
            std::memcpy(initial.data() + kEventStateOffset, &state, sizeof state);
            auto file = NamedLock::Acquire(name, initial, openOnly, existed);
            if (!file) return nullptr;
            auto shared = SharedEventState::Map(std::move(file));
            if (!shared) return nullptr;
            event = std::make_shared<Event>(std::move(shared));
            Named().Add(name, event);
        }
    }
    const HANDLE handle = KernelHandles().Insert(event);
    if (handle == nullptr) return nullptr;
    SetLastError(existed && !openOnly ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// The objects of a wait, held for its length.  Only the references added are
// constructed and destroyed: most waits have one object, not 64.
class HeldObjects {
public:
    HeldObjects() {}  // leaves the slots unconstructed
    HeldObjects(const HeldObjects&) = delete;
    HeldObjects& operator=(const HeldObjects&) = delete;
    ~HeldObjects() {
        for (std::size_t i = 0; i < m_count; ++i) std::destroy_at(&m_held[i].object);
    }
    // False, adding nothing, for a null object.
    bool Add(std::shared_ptr<Waitable> object) {
        if (!object) return false;
        m_raw[m_count] = object.get();
        std::construct_at(&m_held[m_count++].object, std::move(object));
        return true;
    }
    std::span<Waitable* const> Objects() const { return {m_raw.data(), m_count}; }

private:
    union Held {
        Held() {}
        ~Held() {}
        std::shared_ptr<Waitable> object;
    };
    std::array<Held, MAXIMUM_WAIT_OBJECTS> m_held;
    std::array<Waitable*, MAXIMUM_WAIT_OBJECTS> m_raw;
    std::size_t m_count = 0;
};

// Runs `change` on the event of `handle` with the lock held.
// A named event's other holders are told after the lock when `change`
// returns true.
template <class Change>
BOOL ChangeEvent(HANDLE handle, Change change) {
    const auto event = KernelHandles().Lookup<Event>(handle);
    if (!event) return FALSE;
    bool notify = false;
    {
        const auto lock = LockWaits();
        notify = change(*event);
    }
    if (notify) event->Notify();
    return TRUE;
}

// The calling process as a waitable object (GetCurrentProcess()): signalled
// when the process ends, which no wait inside it lives to see.
class CurrentProcess final : public Waitable {
public:
    bool IsSignalled(const ThreadRecord&) const override { return false; }
};

std::shared_ptr<Waitable> CurrentProcessShared() {
    static auto* process = new std::shared_ptr<Waitable>(std::make_shared<CurrentProcess>());  // never destroyed
    return *process;
}

}  // namespace
}  // namespace vplatform

using namespace vplatform;

extern "C" {

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
    if (lpName != nullptr && *lpName != 0)
        return NamedEvent(bManualReset != FALSE, bInitialState != FALSE, lpName, false);
    return KernelHandles().Insert(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR lpName) {
    if (lpName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (*lpName == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return NamedEvent(false, false, lpName, true);
}

BOOL SetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, [](Event& event) { return event.Set(); });
}

BOOL ResetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, [](Event& event) {
        event.Reset();
        return false;
    });
}

BOOL PulseEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, [](Event& event) {
        event.Pulse();
        return false;
    });
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCWSTR lpName) {
    if (lpName != nullptr && *lpName != 0) return CreateNamedMutex(bInitialOwner != FALSE, lpName);
    auto mutex = std::make_shared<Mutex>();
    ThreadRecord& self = CurrentThread();
    if (bInitialOwner) {
        const auto lock = LockWaits();
        mutex->Acquire(self);
    }
    const HANDLE handle = KernelHandles().Insert(mutex);
    if (handle == nullptr && bInitialOwner) {
        const DWORD error = GetLastError();
        const auto lock = LockWaits();
        mutex->Release(self);
        SetLastError(error);
    }
    return handle;
}

BOOL ReleaseMutex(HANDLE hMutex) {
    const auto mutex = KernelHandles().Lookup<Mutex>(hMutex);
    if (!mutex) return FALSE;
    ThreadRecord& self = CurrentThread();
    const auto lock = LockWaits();
    if (!mutex->Release(self)) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    // The pseudo handles name waitable objects here, and only here.
    const bool process = IsCurrentProcessPseudoHandle(hHandle);
    if (process || IsCurrentThreadPseudoHandle(hHandle)) {
        const auto object = process ? CurrentProcessShared() : CurrentThreadShared();
        Waitable* const objects[] = {object.get()};
        return WaitForObjects(objects, false, dwMilliseconds);
    }
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) return Failed(ERROR_INVALID_PARAMETER);
    HeldObjects objects;
    for (DWORD i = 0; i < nCount; ++i) {
        if (!objects.Add(KernelHandles().Lookup<Waitable>(lpHandles[i]))) return WAIT_FAILED;
    }
    return WaitForObjects(objects.Objects(), bWaitAll != FALSE, dwMilliseconds);
}
}

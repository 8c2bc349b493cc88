// The platform's X connections: opening with a retry delay, per-display error
// records, the shared connection and its watchers, event threads.
#include "platform/x11/internal/Connection.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>
#include <vector>

#include "platform/WinError.h"
#include "platform/internal/Syscalls.h"
#include "platform/x11/internal/Desktop.h"
#include "platform/x11/internal/ErrorHook.h"

namespace vplatform::x11 {
namespace {

using Clock = std::chrono::steady_clock;

// When the last opening failed; openings wait kRetryDelay after it.
class Gate {
public:
    bool MayTry() {
        const std::lock_guard lock(m_mutex);
        return !m_failedAt || Clock::now() - *m_failedAt >= kRetryDelay;
    }
    void Failed() {
        const std::lock_guard lock(m_mutex);
        m_failedAt = Clock::now();
    }
    void Reset() {
        const std::lock_guard lock(m_mutex);
        m_failedAt.reset();
    }

private:
    std::mutex m_mutex;
    std::optional<Clock::time_point> m_failedAt;
};

Gate& Availability() {
    static auto* gate = new Gate;  // never destroyed, as the connections
    return *gate;
}

// The displays of the platform's connections, for the I/O error handler.
class Displays {
public:
    void Add(Display* display) {
        const std::lock_guard lock(m_mutex);
        m_displays.insert(display);
    }
    void Remove(Display* display) {
        const std::lock_guard lock(m_mutex);
        m_displays.erase(display);
    }
    bool Has(Display* display) {
        const std::lock_guard lock(m_mutex);
        return m_displays.count(display) != 0;
    }

private:
    std::mutex m_mutex;
    std::set<Display*> m_displays;
};

Displays& Ours() {
    static auto* displays = new Displays;
    return *displays;
}

// Displays whose server went away: never closed by Xlib, never used again.
void Abandon(Display* display) {
    static auto* mutex = new std::mutex;
    static auto* displays = new std::vector<Display*>;
    const std::lock_guard lock(*mutex);
    displays->push_back(display);
}

bool IsOurs(Display* display) {
    return Ours().Has(display);
}

// Xlib's per-display exit handler: the connection is lost, the process lives.
void ServerLost(Display*, void* data) {
    static_cast<Connection*>(data)->MarkLost();
    Availability().Failed();
}

bool NoDisplay() {
    SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
    return false;
}

}  // namespace

std::unique_ptr<Connection> Connection::Open() {
    if (!Availability().MayTry()) {
        NoDisplay();
        return nullptr;
    }
    const char* name = Sys().getenv("DISPLAY");
    ErrorHook::InstallIoHandler(IsOurs);
    Display* display = name != nullptr && *name != 0 ? XOpenDisplay(name) : nullptr;
    if (display == nullptr) {
        Availability().Failed();
        NoDisplay();
        return nullptr;
    }
    std::unique_ptr<Connection> connection(new Connection(display));
    Ours().Add(display);
    XSetIOErrorExitHandler(display, ServerLost, connection.get());
    connection->m_hook = ErrorHook::Install(*connection);
    return connection;
}

Connection::Connection(Display* display) : m_display(display), m_root(DefaultRootWindow(display)) {}

Connection::~Connection() {
    if (m_lost) {
        // After Xlib's I/O error path the display's lock state may wait for
        // a reply that never comes: XCloseDisplay would hang.  Only the
        // socket is closed; the structure stays (reachable) and unused.
        Sys().close(ConnectionNumber(m_display));
        Abandon(m_display);
    } else {
        XCloseDisplay(m_display);
    }
    Ours().Remove(m_display);
    ErrorHook::Free(m_hook);
}

int Connection::Fd() const {
    return ConnectionNumber(m_display);
}

unsigned long Connection::NextSerial() const {
    return ErrorHook::NextSerial(m_display);
}

int Connection::ErrorSince(unsigned long serial, bool sync) {
    if (sync && !m_lost) XSync(m_display, False);
    std::erase_if(m_errors, [serial](const TakenError& error) { return error.serial < serial; });
    return m_errors.empty() ? 0 : m_errors.front().code;
}

Atom Connection::Intern(const char* name) {
    const auto it = m_atoms.find(name);
    if (it != m_atoms.end()) return it->second;
    const Atom atom = XInternAtom(m_display, name, False);
    if (atom != None) m_atoms.emplace(name, atom);
    return atom;
}

const std::string& Connection::AtomName(Atom atom) {
    const auto it = m_names.find(atom);
    if (it != m_names.end()) return it->second;
    std::string name;
    ErrorTrap trap(*this);
    if (char* text = XGetAtomName(m_display, atom)) {
        name = text;
        XFree(text);
    }
    return m_names.emplace(atom, std::move(name)).first->second;
}

int Connection::Pending() {
    return m_lost ? 0 : XEventsQueued(m_display, QueuedAfterReading);
}

// --- The shared connection ------------------------------------------------------------

namespace {

struct Shared {
    std::mutex mutex;
    std::unique_ptr<Connection> connection;
    std::vector<Watcher*> watchers;
    // Lockings and drops of the connection: a holder's knowledge is current
    // while this has not moved and the socket is silent.
    std::atomic<std::uint64_t> holds{0};

    // With `mutex` held.
    void Drop() {
        holds.fetch_add(1);
        if (!connection) return;
        for (Watcher* watcher : watchers) watcher->Lost();
        connection.reset();
    }
};

Shared& SharedState() {
    static auto* shared = new Shared;  // never destroyed: threads may ask at exit
    return *shared;
}

}  // namespace

SharedDisplay SharedDisplay::Acquire() {
    Shared& shared = SharedState();
    std::unique_lock lock(shared.mutex);
    shared.holds.fetch_add(1);
    if (shared.connection && shared.connection->Lost()) shared.Drop();
    if (!shared.connection) {
        shared.connection = Connection::Open();
        if (!shared.connection) return SharedDisplay(std::unique_lock<std::mutex>(), nullptr);
        for (Watcher* watcher : shared.watchers) watcher->Connected(*shared.connection);
    }
    SharedDisplay display(std::move(lock), shared.connection.get());
    if (!display.Dispatch()) return SharedDisplay(std::unique_lock<std::mutex>(), nullptr);
    return display;
}

void SharedDisplay::AddWatcher(Watcher* watcher) {
    Shared& shared = SharedState();
    const std::lock_guard lock(shared.mutex);
    shared.watchers.push_back(watcher);
    if (shared.connection && !shared.connection->Lost()) watcher->Connected(*shared.connection);
}

bool SharedDisplay::Dispatch() {
    if (m_connection == nullptr) return NoDisplay();
    const auto& watchers = SharedState().watchers;  // the lock is held
    while (m_connection->Pending() > 0) {
        XEvent event;
        XNextEvent(m_connection->Dpy(), &event);
        for (Watcher* watcher : watchers) watcher->Event(*m_connection, event);
    }
    if (!m_connection->Lost()) return true;
    SharedState().Drop();
    m_connection = nullptr;
    m_lock.unlock();
    return NoDisplay();
}

SharedDisplay::Mark SharedDisplay::Settled() const {
    if (m_connection == nullptr) return {};
    return {m_connection->Fd(), SharedState().holds.load()};
}

bool SharedDisplay::Unchanged(const Mark& mark) {
    const auto& holds = SharedState().holds;
    if (mark.fd < 0 || holds.load() != mark.holds) return false;
    pollfd fd{mark.fd, POLLIN, 0};
    if (Sys().poll(&fd, 1, 0) != 0) return false;
    // A holder that came meanwhile may have read what the poll would have
    // seen (or the descriptor may be another one's now).
    return holds.load() == mark.holds;
}

void SharedDisplay::Release() {
    m_connection = nullptr;
    if (m_lock.owns_lock()) m_lock.unlock();
}

SharedDisplay::~SharedDisplay() = default;

// --- Event threads ------------------------------------------------------------------

std::unique_ptr<EventThread> EventThread::Start(const char* name, Handler& handler) {
    auto connection = Connection::Open();
    if (!connection) return nullptr;
    std::unique_ptr<EventThread> thread(new EventThread(std::move(connection), handler));
    thread->m_wake = Sys().eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (thread->m_wake < 0) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
    }
    try {
        thread->m_thread = std::thread([raw = thread.get(), label = std::string(name)] {
            Sys().pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
            raw->Run();
        });
    } catch (const std::system_error&) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return nullptr;
    }
    return thread;
}

EventThread::EventThread(std::unique_ptr<Connection> connection, Handler& handler)
    : m_connection(std::move(connection)), m_handler(handler) {}

EventThread::~EventThread() {
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        Wake();
        m_thread.join();
    }
    if (m_wake >= 0) Sys().close(m_wake);
}

bool EventThread::Post(std::function<void(Connection&)> task) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_ended || m_stop) return false;
        m_tasks.push_back(std::move(task));
    }
    Wake();
    return true;
}

bool EventThread::Ended() const {
    const std::lock_guard lock(m_mutex);
    return m_ended;
}

void EventThread::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = Sys().write(m_wake, &one, sizeof one);
}

void EventThread::Run() {
    Connection& connection = *m_connection;
    Display* display = connection.Dpy();
    m_handler.Started(connection);
    for (;;) {
        std::vector<std::function<void(Connection&)>> tasks;
        {
            const std::lock_guard lock(m_mutex);
            tasks.swap(m_tasks);
            if (m_stop && tasks.empty()) break;
        }
        for (auto& task : tasks) task(connection);
        while (!connection.Lost() && connection.Pending() > 0) {
            XEvent event;
            XNextEvent(display, &event);
            m_handler.Event(connection, event);
        }
        if (connection.Lost()) break;
        const auto timer = m_handler.NextTimer();
        if (timer && *timer <= Clock::now()) {
            m_handler.Timer(connection);
            continue;
        }
        // Flushing may read events into Xlib's queue, where poll would not see them.
        XFlush(display);
        if (connection.Lost()) break;
        if (XEventsQueued(display, QueuedAlready) > 0) continue;
        int timeout = -1;
        if (timer) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*timer - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        }
        pollfd fds[2] = {{connection.Fd(), POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (Sys().poll(fds, 2, timeout) > 0 && (fds[1].revents & POLLIN) != 0) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t drained = Sys().read(m_wake, &value, sizeof value);
        }
    }
    if (connection.Lost()) m_handler.Lost();
    // Tasks posted until now still run: they find the connection lost.
    std::vector<std::function<void(Connection&)>> tasks;
    {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        tasks.swap(m_tasks);
    }
    for (auto& task : tasks) task(connection);
}

void ResetSharedDisplay() {
    Shared& shared = SharedState();
    {
        const std::lock_guard lock(shared.mutex);
        shared.Drop();
    }
    Availability().Reset();
}
}  // namespace vplatform::x11

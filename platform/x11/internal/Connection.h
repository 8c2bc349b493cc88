// The platform's connections to the X server: the layer every desktop
// service of the platform builds on (monitors, keys and the clipboard here;
// windows next).  Only platform/x11/ includes this header: it brings Xlib.
//
// Connections.  The platform opens connections of its own, never the
// application's, from $DISPLAY at first use.  Two kinds exist:
//   - the shared connection (SharedDisplay): any thread locks it for short
//     queries; each lock first reads, without a round trip, the events the
//     server has sent, and hands them to the registered watchers, so a
//     change the server made before the call is seen by it;
//   - connections owned by one thread (EventThread): the thread waits on the
//     connection's descriptor and dispatches every event to its handler;
//     other threads give it work with Post.  The clipboard serves its
//     selection this way.
//
// Availability.  Without $DISPLAY, or when the server refuses or has gone,
// every opening fails with ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION (1459),
// and after a failure no connection is tried again for kRetryDelay: a
// missing display costs nothing per call.  A server that goes away (an I/O
// error) never ends the process: the connection is marked lost (Lost()), its
// users drop it, and the next opening after the delay tries again.
//
// Errors.  Every X protocol error on a platform connection is taken by that
// connection, through a handler of its own display (Xlib's per-display
// asynchronous handlers): the application's Xlib error handler never sees
// it, and nothing replaces it.  A caller learns the errors of its requests
// with an ErrorTrap: the first error code of a request sent since the trap
// was set.  Xlib's I/O error handler is process-wide: when the application
// has not installed one, the platform installs one that returns for its own
// connections (so that the per-display exit handler, XSetIOErrorExitHandler,
// can mark them lost) and calls Xlib's default for every other display; an
// application's own handler is never replaced, and decides for the
// platform's connections too.
//
// Threads.  A Connection is used by one thread at a time: the holder of the
// shared connection's lock, or the thread of an EventThread.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vplatform::x11 {

// After a failed opening, no other is tried for this long.
inline constexpr std::chrono::seconds kRetryDelay{3};

class Connection {
public:
    // A new connection to $DISPLAY; null with 1459 when there is none (or
    // when the retry delay of an earlier failure has not passed).
    static std::unique_ptr<Connection> Open();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* Dpy() const { return m_display; }
    Window Root() const { return m_root; }
    int Fd() const;
    // True once the server has gone: nothing more is asked of the connection,
    // and its owner drops it.  Set from Xlib's I/O error path.
    bool Lost() const { return m_lost; }

    // The serial number the next request will carry.
    unsigned long NextSerial() const;
    // The first error code (BadWindow…) of a request with a serial number
    // from `serial` on, 0 when none has arrived.  With `sync`, waits first
    // for the server to answer everything sent so far (one round trip); a
    // request with a reply needs no sync once its reply has been read.
    int ErrorSince(unsigned long serial, bool sync);

    // Atoms by name, asked from the server once per connection.
    Atom Intern(const char* name);
    // The name of an atom ("" for an unknown one), asked once.
    const std::string& AtomName(Atom atom);

    // Reads, without waiting, what the server has sent, and returns the
    // number of events queued.
    int Pending();

    // Called from the I/O error path.
    void MarkLost() { m_lost = true; }

private:
    friend struct ErrorHookAccess;
    explicit Connection(Display* display);

    Display* m_display;
    Window m_root;
    bool m_lost = false;
    // The errors taken by the connection's handler: serial and code, the
    // last few kept.
    struct TakenError {
        unsigned long serial;
        int code;
    };
    std::vector<TakenError> m_errors;
    void* m_hook = nullptr;  // the display's asynchronous handler record
    std::unordered_map<std::string, Atom> m_atoms;
    std::unordered_map<Atom, std::string> m_names;
};

// The errors of the requests made during its lifetime.
class ErrorTrap {
public:
    explicit ErrorTrap(Connection& connection) : m_connection(connection), m_serial(connection.NextSerial()) {}
    // After requests with replies: no round trip.
    int Check() { return m_connection.ErrorSince(m_serial, false); }
    // After requests without replies: one round trip.
    int Sync() { return m_connection.ErrorSince(m_serial, true); }

private:
    Connection& m_connection;
    unsigned long m_serial;
};

// What sees the events of the shared connection: monitors, keys.  Every
// member runs with the shared connection locked.
class Watcher {
public:
    virtual ~Watcher() = default;
    // A new connection: select the events wanted.
    virtual void Connected(Connection& connection) = 0;
    // An event read from the server.
    virtual void Event(Connection& connection, const XEvent& event) = 0;
    // The connection is gone: forget what came from it.
    virtual void Lost() = 0;
};

// The shared connection, locked.
class SharedDisplay {
public:
    // Locks the shared connection, opening it when there is none (at first
    // use, or after the server was lost and the retry delay passed), then
    // reads the events already sent and hands them to the watchers.  Null
    // (converts to false) with 1459 when there is no display.
    static SharedDisplay Acquire();
    // Adds a watcher for the life of the process (static objects); it sees
    // the connection at once when one is open.  Not with the lock held.
    static void AddWatcher(Watcher* watcher);

    explicit operator bool() const { return m_connection != nullptr; }
    Connection* operator->() const { return m_connection; }
    Connection& operator*() const { return *m_connection; }
    // Hands the events read since to the watchers (after requests that may
    // have read some); false, with 1459 and the connection dropped, when the
    // server went away meanwhile.
    bool Dispatch();
    // Unlocks; the object then is null.
    void Release();

    // What the shared connection looked like to a holder that has just
    // dispatched (no request since): its descriptor and how often it had
    // been locked.  Xlib's queue is empty at that point.
    struct Mark {
        int fd = -1;
        std::uint64_t holds = 0;
    };
    Mark Settled() const;
    // True when, since `mark` was taken, nobody has locked or dropped the
    // shared connection and the server has sent nothing (its socket has no
    // unread byte, no hang-up): whatever a holder learnt then still holds.
    // Takes no lock and makes no request (one zero-timeout poll); any
    // thread.  False when in doubt (the poll failed).
    static bool Unchanged(const Mark& mark);

    SharedDisplay(SharedDisplay&&) = default;
    ~SharedDisplay();

private:
    SharedDisplay(std::unique_lock<std::mutex> lock, Connection* connection)
        : m_lock(std::move(lock)), m_connection(connection) {}
    std::unique_lock<std::mutex> m_lock;
    Connection* m_connection = nullptr;
};

// A thread that owns a connection and dispatches its events.
class EventThread {
public:
    class Handler {
    public:
        virtual ~Handler() = default;
        // Runs on the thread once the connection is open, before anything else.
        virtual void Started(Connection& connection) = 0;
        // Every event read, in order.
        virtual void Event(Connection& connection, XEvent& event) = 0;
        // The earliest time at which Timer is to run, if any.
        virtual std::optional<std::chrono::steady_clock::time_point> NextTimer() const { return std::nullopt; }
        virtual void Timer(Connection&) {}
        // The server went away; the thread ends after this.
        virtual void Lost() {}
    };

    // Opens a connection and starts the thread (named `name`, at most 15
    // bytes); null with the last error set (1459 without a display).
    static std::unique_ptr<EventThread> Start(const char* name, Handler& handler);
    // Stops the thread (it finishes the task it runs) and closes the connection.
    ~EventThread();
    EventThread(const EventThread&) = delete;
    EventThread& operator=(const EventThread&) = delete;

    // Runs `task` on the thread, after the tasks posted before it.  False
    // when the thread has ended (the server went away).
    bool Post(std::function<void(Connection&)> task);
    // True once the server has gone and the thread has ended.
    bool Ended() const;
    // True when called on the thread itself.
    bool OnThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    EventThread(std::unique_ptr<Connection> connection, Handler& handler);
    void Run();
    void Wake();

    std::unique_ptr<Connection> m_connection;
    Handler& m_handler;
    int m_wake = -1;
    mutable std::mutex m_mutex;
    std::vector<std::function<void(Connection&)>> m_tasks;
    bool m_stop = false;
    bool m_ended = false;
    std::thread m_thread;
};

}  // namespace vplatform::x11

namespace vplatform::user {
struct DesktopLayout;
}  // namespace vplatform::user

namespace vplatform::x11 {

// The current layout (Desktop.h's CurrentLayout) for a holder of the shared
// connection's lock; WatchLayout must have been called first, without the
// lock (it adds the layout's watcher).
std::shared_ptr<const user::DesktopLayout> LayoutLocked(Connection& connection);
void WatchLayout();

// Drops the shared connection and forgets the time of the last failed
// opening (x11::test::ResetDisplayForTesting).
void ResetSharedDisplay();

}  // namespace vplatform::x11

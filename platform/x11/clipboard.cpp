// The CLIPBOARD selection: a thread of its own serves the process's text
// while the process owns it, reads other owners' text, and at exit hands the
// text to the clipboard manager or to the keeper program.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/Processes.h"
#include "platform/nls/internal/Utf8.h"
#include "platform/nls/internal/WideText.h"
#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/Desktop.h"
#include "platform/x11/internal/SelectionServer.h"

namespace vplatform::x11 {
namespace {

using Clock = std::chrono::steady_clock;
// A selection owner that says nothing for this long has failed.
constexpr auto kAnswerLimit = std::chrono::seconds(1);
// A caller's wait for the clipboard's thread, long transfers included.
constexpr auto kCallLimit = std::chrono::seconds(30);
// The hand-over at exit: the clipboard manager first, the keeper after it.
constexpr auto kManagerLimit = std::chrono::milliseconds(600);
constexpr auto kHandOverLimit = std::chrono::seconds(1);

// An INCR owner announces a lower bound of the size; a larger one is not
// trusted for the first reservation.
constexpr std::size_t kMostReserved = std::size_t{256} << 20;

struct Owning {
    std::uint64_t ticket = 0;
    DWORD error = 0;
};

struct Reading {
    ClipboardRead result = ClipboardRead::Failed;
    WideText text;
    DWORD error = 0;
};

class Service final : public EventThread::Handler {
public:
    std::uint64_t Own(const std::wstring* text) {
        auto data = text != nullptr ? std::make_shared<const std::string>(Utf8Of(*text)) : nullptr;
        const auto outcome = Call<Owning>(
            [this, data](Connection& connection, std::shared_ptr<std::promise<Owning>> promise) {
                StartOwning(connection, data, std::move(promise));
            },
            kAnswerLimit);
        if (!outcome) return 0;
        if (outcome->ticket == 0) SetLastError(outcome->error);
        return outcome->ticket;
    }

    bool StillOwned(std::uint64_t ticket) const { return ticket != 0 && m_ticket.load() == ticket; }

    ClipboardRead Read(WideText& text) {
        auto outcome = Call<Reading>(
            [this](Connection& connection, std::shared_ptr<std::promise<Reading>> promise) {
                m_reads.push_back(std::move(promise));
                if (!m_reading.active) BeginRead(connection);
            },
            kCallLimit);
        if (!outcome) return ClipboardRead::Failed;
        if (outcome->result == ClipboardRead::Failed) SetLastError(outcome->error);
        text = std::move(outcome->text);
        return outcome->result;
    }

    bool HandOver() {
        const auto deadline = Clock::now() + kHandOverLimit;
        {
            const std::lock_guard lock(m_mutex);
            if (!m_thread || m_thread->Ended() || m_ticket.load() == 0) return true;  // nothing owned
        }
        using Owned = std::shared_ptr<const std::string>;
        const auto text = Call<Owned>(
            [this](Connection&, std::shared_ptr<std::promise<Owned>> promise) {
                promise->set_value(m_server && m_server->Owned() ? m_server->Text() : nullptr);
            },
            kAnswerLimit);
        if (!text) return false;
        if (!*text) return true;  // an emptied clipboard: nothing to keep
        const auto saved = Call<bool>(
            [this](Connection& connection, std::shared_ptr<std::promise<bool>> promise) {
                StartSaving(connection, std::move(promise));
            },
            kManagerLimit);
        if (saved && *saved) return true;
        return StartKeeper(**text, deadline);
    }

    // Ends the thread; the process then owns nothing.
    void Stop() {
        std::unique_ptr<EventThread> thread;
        {
            const std::lock_guard lock(m_mutex);
            thread = std::move(m_thread);
        }
        thread.reset();
        m_ticket = 0;
    }

    // --- On the clipboard's thread --------------------------------------------------------

    void Started(Connection& connection) override {
        Display* display = connection.Dpy();
        m_window = XCreateSimpleWindow(display, connection.Root(), -10, -10, 1, 1, 0, 0, 0);
        XSelectInput(display, m_window, PropertyChangeMask);
        m_clipboard = connection.Intern("CLIPBOARD");
        m_stamp = connection.Intern("VLIB_CLIPBOARD_TIME");
        m_utf8 = connection.Intern("UTF8_STRING");
        m_targets = connection.Intern("TARGETS");
        m_incr = connection.Intern("INCR");
        m_manager = connection.Intern("CLIPBOARD_MANAGER");
        m_saveTargets = connection.Intern("SAVE_TARGETS");
        m_saveProperty = connection.Intern("VLIB_CLIPBOARD_SAVE");
        for (std::size_t i = 0; i < std::size(m_readProperties); ++i) {
            m_readProperties[i] = connection.Intern(("VLIB_CLIPBOARD_" + std::to_string(i)).c_str());
        }
        m_server = std::make_unique<SelectionServer>(display, m_window, m_clipboard);
        m_owning.clear();
        m_reads.clear();
        m_reading = {};
        m_saving = {};
    }

    void Event(Connection& connection, XEvent& event) override {
        switch (m_server->Handle(event)) {
            case SelectionServer::Result::Lost:
                m_ticket = 0;
                return;
            case SelectionServer::Result::Handled:
                return;
            case SelectionServer::Result::NotMine:
                break;
        }
        if (event.type == PropertyNotify && event.xproperty.window == m_window) {
            if (event.xproperty.atom == m_stamp && !m_owning.empty()) {
                FinishOwning(connection, event.xproperty.time);
            } else if (m_reading.active && m_reading.incr && event.xproperty.atom == m_reading.property &&
                       event.xproperty.state == PropertyNewValue) {
                ReadPiece(connection);
            }
        } else if (event.type == SelectionNotify && event.xselection.requestor == m_window) {
            if (event.xselection.selection == m_clipboard && m_reading.active && !m_reading.incr &&
                event.xselection.target == m_reading.target) {
                Converted(connection, event.xselection.property);
            } else if (event.xselection.selection == m_manager && m_saving.promise) {
                EndSaving(event.xselection.property != None);
            }
        }
    }

    std::optional<Clock::time_point> NextTimer() const override {
        std::optional<Clock::time_point> next = m_server ? m_server->NextDeadline() : std::nullopt;
        for (const auto deadline : {m_reading.active ? std::optional(m_reading.deadline) : std::nullopt,
                                    m_saving.promise ? std::optional(m_saving.deadline) : std::nullopt}) {
            if (deadline && (!next || *deadline < *next)) next = deadline;
        }
        return next;
    }

    void Timer(Connection& connection) override {
        const auto now = Clock::now();
        m_server->Expire(now);
        if (m_reading.active && now >= m_reading.deadline) {
            // The owner fell silent.  Its late answer may still come: the
            // next reading uses another property.
            XDeleteProperty(connection.Dpy(), m_window, m_reading.property);
            m_readIndex = (m_readIndex + 1) % std::size(m_readProperties);
            FinishRead(connection, {ClipboardRead::Failed, {}, ERROR_TIMEOUT});
        }
        if (m_saving.promise && now >= m_saving.deadline) EndSaving(false);
    }

    void Lost() override {
        m_ticket = 0;
        for (auto& request : m_owning) request.promise->set_value({0, ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION});
        m_owning.clear();
        for (auto& promise : m_reads)
            promise->set_value({ClipboardRead::Failed, {}, ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION});
        m_reads.clear();
        m_reading = {};
        if (m_saving.promise) EndSaving(false);
    }

private:
    // Runs `task` on the clipboard's thread (started when needed) and waits
    // up to `limit` for the value it promises; none with the last error set.
    template <class T>
    std::optional<T> Call(std::function<void(Connection&, std::shared_ptr<std::promise<T>>)> task,
                          Clock::duration limit) {
        auto promise = std::make_shared<std::promise<T>>();
        auto future = promise->get_future();
        {
            const std::lock_guard lock(m_mutex);
            if (m_thread && m_thread->Ended()) m_thread.reset();
            if (!m_thread) {
                m_thread = EventThread::Start("VClipboard", *this);
                if (!m_thread) return std::nullopt;
                static std::once_flag once;
                std::call_once(once, [] { std::atexit(AtExit); });
            }
            // A task posted to an ended thread still runs, finding the
            // connection lost; one refused is answered here.
            if (!m_thread->Post([task = std::move(task), promise](Connection& connection) {
                    if (connection.Lost()) {
                        promise->set_exception(std::make_exception_ptr(std::runtime_error("lost")));
                    } else {
                        task(connection, promise);
                    }
                })) {
                SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
                return std::nullopt;
            }
        }
        if (future.wait_for(limit) != std::future_status::ready) {
            SetLastError(ERROR_TIMEOUT);
            return std::nullopt;
        }
        try {
            return future.get();
        } catch (const std::exception&) {
            SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
            return std::nullopt;
        }
    }

    static void AtExit();

    // Asks for a server time (the time of a change of our own property); the
    // ownership is taken when it arrives.
    void StartOwning(Connection& connection, std::shared_ptr<const std::string> text,
                     std::shared_ptr<std::promise<Owning>> promise) {
        m_owning.push_back({std::move(text), std::move(promise)});
        XChangeProperty(connection.Dpy(), m_window, m_stamp, XA_INTEGER, 32, PropModeAppend, nullptr, 0);
    }

    void FinishOwning(Connection& connection, Time time) {
        auto request = std::move(m_owning.front());
        m_owning.pop_front();
        Display* display = connection.Dpy();
        XSetSelectionOwner(display, m_clipboard, m_window, time);
        if (XGetSelectionOwner(display, m_clipboard) != m_window) {
            request.promise->set_value(
                {0, connection.Lost() ? ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION : ERROR_ACCESS_DENIED});
            return;
        }
        m_server->Serve(std::move(request.text), time);
        const std::uint64_t ticket = ++m_lastTicket;
        m_ticket = ticket;
        request.promise->set_value({ticket, 0});
    }

    void BeginRead(Connection& connection) {
        Display* display = connection.Dpy();
        while (!m_reads.empty()) {
            if (m_server->Owned()) {
                const auto& own = m_server->Text();
                Reading reading{own ? ClipboardRead::Text : ClipboardRead::NoText, {}, 0};
                Utf8PieceDecoder decoder;
                if (own && !(decoder.Add(own->data(), own->size(), reading.text) && decoder.Finish(reading.text))) {
                    reading = {ClipboardRead::Failed, {}, ERROR_NOT_ENOUGH_MEMORY};
                }
                m_reads.front()->set_value(std::move(reading));
                m_reads.pop_front();
                continue;
            }
            if (XGetSelectionOwner(display, m_clipboard) == None) {
                m_reads.front()->set_value({ClipboardRead::NoText, {}, 0});
                m_reads.pop_front();
                continue;
            }
            m_reading = {};
            m_reading.active = true;
            m_reading.property = m_readProperties[m_readIndex];
            // What the owner offers first: an owner that serves anything it
            // is asked for would otherwise give its image as text.
            Convert(connection, m_targets);
            return;
        }
    }

    void Convert(Connection& connection, Atom target) {
        m_reading.target = target;
        m_reading.deadline = Clock::now() + kAnswerLimit;
        XDeleteProperty(connection.Dpy(), m_window, m_reading.property);
        XConvertSelection(connection.Dpy(), m_clipboard, target, m_reading.property, m_window, CurrentTime);
    }

    // Reads and deletes the property of the reading, decoding its bytes
    // into the reading's text straight from Xlib's buffer (pieces of large
    // transfers are megabytes: the owner sends the next one meanwhile);
    // false when it is missing or is not 8-bit data.  `received` counts its
    // bytes; an INCR property gives its announced size in `announced`.
    bool TakeProperty(Connection& connection, Atom& type, std::size_t& received, std::size_t* announced = nullptr) {
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        ErrorTrap trap(connection);
        const int status = XGetWindowProperty(connection.Dpy(), m_window, m_reading.property, 0, LONG_MAX / 4, True,
                                              AnyPropertyType, &type, &format, &count, &after, &data);
        const bool ok = status == Success && trap.Check() == 0 && type != None && (format == 8 || type == m_incr);
        received = ok && format == 8 ? count : 0;
        if (received > 0 && !m_reading.failed) {
            const auto* bytes = reinterpret_cast<const char*>(data);
            m_reading.failed = m_reading.target == m_utf8 ? !m_reading.decoder.Add(bytes, count, m_reading.text)
                                                          : !m_reading.text.AppendLatin1(bytes, count);
        }
        if (ok && type == m_incr && format == 32 && count >= 1 && announced != nullptr) {
            // Xlib hands 32-bit items as longs.
            *announced = static_cast<std::size_t>(*reinterpret_cast<const unsigned long*>(data) & 0xFFFFFFFFul);
        }
        if (data != nullptr) XFree(data);
        return ok;
    }

    // The atoms of the reading's property (a TARGETS answer), deleted.
    std::vector<Atom> TakeAtoms(Connection& connection) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        ErrorTrap trap(connection);
        std::vector<Atom> atoms;
        if (XGetWindowProperty(connection.Dpy(), m_window, m_reading.property, 0, 4096, True, XA_ATOM, &type, &format,
                               &count, &after, &data) == Success &&
            trap.Check() == 0 && type == XA_ATOM && format == 32) {
            const auto* values = reinterpret_cast<const Atom*>(data);
            atoms.assign(values, values + count);
        }
        if (data != nullptr) XFree(data);
        return atoms;
    }

    void Converted(Connection& connection, Atom property) {
        if (m_reading.target == m_targets) {
            if (property == None) {
                // An owner without TARGETS: ask for the text itself.
                Convert(connection, m_utf8);
                return;
            }
            const auto targets = TakeAtoms(connection);
            const auto offers = [&](Atom atom) {
                return std::find(targets.begin(), targets.end(), atom) != targets.end();
            };
            if (offers(m_utf8)) {
                Convert(connection, m_utf8);
            } else if (offers(XA_STRING)) {
                Convert(connection, XA_STRING);
            } else {
                FinishRead(connection, {ClipboardRead::NoText, {}, 0});
            }
            return;
        }
        if (property == None) {
            // No UTF8_STRING: perhaps STRING; else no text at all.
            if (m_reading.target == m_utf8) {
                Convert(connection, XA_STRING);
            } else {
                FinishRead(connection, {ClipboardRead::NoText, {}, 0});
            }
            return;
        }
        Atom type = None;
        std::size_t announced = 0;
        std::size_t received = 0;
        if (!TakeProperty(connection, type, received, &announced)) {
            FinishRead(connection, {ClipboardRead::NoText, {}, 0});
        } else if (type == m_incr) {
            // Deleting the property asked for the first piece.  The pieces
            // are decoded into one buffer with room for the announced size
            // (a byte gives one unit at most); without that room it grows.
            m_reading.incr = true;
            (void)m_reading.text.Reserve(std::min(announced, kMostReserved));
            m_reading.deadline = Clock::now() + kAnswerLimit;
        } else {
            FinishText(connection);
        }
    }

    void ReadPiece(Connection& connection) {
        Atom type = None;
        std::size_t received = 0;
        if (!TakeProperty(connection, type, received)) return;  // not ours yet
        if (received == 0) {                                    // the empty piece ends the transfer
            FinishText(connection);
            return;
        }
        m_reading.deadline = Clock::now() + kAnswerLimit;
    }

    void FinishText(Connection& connection) {
        if (m_reading.failed || !m_reading.decoder.Finish(m_reading.text)) {
            FinishRead(connection, {ClipboardRead::Failed, {}, ERROR_NOT_ENOUGH_MEMORY});
            return;
        }
        FinishRead(connection, {ClipboardRead::Text, std::move(m_reading.text), 0});
    }

    void FinishRead(Connection& connection, Reading outcome) {
        m_reading = {};
        m_reads.front()->set_value(std::move(outcome));
        m_reads.pop_front();
        BeginRead(connection);
    }

    void StartSaving(Connection& connection, std::shared_ptr<std::promise<bool>> promise) {
        Display* display = connection.Dpy();
        if (XGetSelectionOwner(display, m_manager) == None || !m_server->Owned()) {
            promise->set_value(false);
            return;
        }
        const Atom targets[] = {m_utf8, connection.Intern("text/plain;charset=utf-8"), XA_STRING};
        XChangeProperty(display, m_window, m_saveProperty, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(targets), static_cast<int>(std::size(targets)));
        XConvertSelection(display, m_manager, m_saveTargets, m_saveProperty, m_window, CurrentTime);
        m_saving.promise = std::move(promise);
        m_saving.deadline = Clock::now() + kManagerLimit;
    }

    void EndSaving(bool saved) {
        m_saving.promise->set_value(saved);
        m_saving = {};
    }

    bool StartKeeper(const std::string& text, Clock::time_point deadline);

    std::mutex m_mutex;  // m_thread
    std::unique_ptr<EventThread> m_thread;
    std::atomic<std::uint64_t> m_ticket{0};
    std::atomic<std::uint64_t> m_lastTicket{0};

    // The clipboard's thread only.
    Window m_window = None;
    std::unique_ptr<SelectionServer> m_server;
    Atom m_clipboard = None, m_stamp = None, m_utf8 = None, m_targets = None, m_incr = None;
    Atom m_manager = None, m_saveTargets = None, m_saveProperty = None;
    Atom m_readProperties[4] = {};
    std::size_t m_readIndex = 0;
    struct OwnRequest {
        std::shared_ptr<const std::string> text;
        std::shared_ptr<std::promise<Owning>> promise;
    };
    std::deque<OwnRequest> m_owning;                             // waiting for their server times, in order
    std::deque<std::shared_ptr<std::promise<Reading>>> m_reads;  // the first is under way while m_reading.active
    struct {
        bool active = false;
        Atom property = None;
        Atom target = None;
        bool incr = false;
        WideText text;
        Utf8PieceDecoder decoder;
        bool failed = false;  // memory ran out: the rest is received, not kept
        Clock::time_point deadline;
    } m_reading;
    struct {
        std::shared_ptr<std::promise<bool>> promise;
        Clock::time_point deadline;
    } m_saving;
};

Service& TheService() {
    static auto* service = new Service;  // never destroyed: the thread is stopped at exit
    return *service;
}

void Service::AtExit() {
    TheService().HandOver();
    TheService().Stop();
}

// --- The keeper ---------------------------------------------------------------------

std::string KeeperPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&HandOverClipboard), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string library = info.dli_fname;
    const auto slash = library.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : library.substr(0, slash);
    const std::string installed = VLIB_KEEPER_FROM_LIBDIR;
    for (const std::string& candidate :
         {installed.starts_with("/") ? installed : folder + "/" + installed, folder + "/vlib-clipboard-keeper"}) {
        struct statx status {};
        if (Sys().statx(AT_FDCWD, candidate.c_str(), 0, STATX_TYPE | STATX_MODE, &status) == 0 &&
            S_ISREG(status.stx_mode) && (status.stx_mode & 0111) != 0) {
            return candidate;
        }
    }
    return {};
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

bool Service::StartKeeper(const std::string& text, Clock::time_point deadline) {
    const std::string path = KeeperPath();
    if (path.empty()) return false;
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    if (Sys().pipe2(input, O_CLOEXEC) != 0) return false;
    if (Sys().pipe2(output, O_CLOEXEC) != 0) {
        Sys().close(input[0]);
        Sys().close(input[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    const HelperSpawnAttributes attributes;
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int error = Sys().posix_spawn(&pid, path.c_str(), &actions, attributes.Get(), argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    Sys().close(input[0]);
    Sys().close(output[1]);
    if (error != 0) {
        Sys().close(input[1]);
        Sys().close(output[0]);
        return false;
    }
    ReapWhenEnded(pid);
    // The text, a page at a time whenever the pipe has room.
    bool written = true;
    for (std::size_t offset = 0; offset < text.size() && written;) {
        pollfd fd = {input[1], POLLOUT, 0};
        if (Sys().poll(&fd, 1, MillisecondsUntil(deadline)) <= 0 || (fd.revents & POLLOUT) == 0) {
            written = false;
            break;
        }
        const ssize_t count =
            Sys().write(input[1], text.data() + offset, std::min<std::size_t>(4096, text.size() - offset));
        if (count > 0) {
            offset += static_cast<std::size_t>(count);
        } else if (errno != EINTR) {
            written = false;
        }
    }
    Sys().close(input[1]);
    // "ok" once it owns the clipboard.
    char answer[3] = {};
    std::size_t received = 0;
    while (written && received < sizeof answer) {
        pollfd fd = {output[0], POLLIN, 0};
        if (Sys().poll(&fd, 1, MillisecondsUntil(deadline)) <= 0) break;
        const ssize_t count = Sys().read(output[0], answer + received, sizeof answer - received);
        if (count > 0) {
            received += static_cast<std::size_t>(count);
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    Sys().close(output[0]);
    return received == sizeof answer && std::string_view(answer, 3) == "ok\n";
}

}  // namespace

std::uint64_t OwnClipboard(const std::wstring* text) {
    return TheService().Own(text);
}

bool StillOwned(std::uint64_t ticket) {
    return TheService().StillOwned(ticket);
}

ClipboardRead ReadClipboard(WideText& text) {
    return TheService().Read(text);
}

bool HandOverClipboard() {
    return TheService().HandOver();
}

namespace test {

void ResetDisplayForTesting() {
    TheService().Stop();
    ResetSharedDisplay();
}

std::string ClipboardKeeperPath() {
    return KeeperPath();
}

}  // namespace test
}  // namespace vplatform::x11

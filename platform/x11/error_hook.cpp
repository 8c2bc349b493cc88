// Per-display error handling through Xlib's asynchronous handlers.  Xlib's
// internal header is included last, after every C++ header, and its min and
// max macros are removed at once.
#include <memory>
#include <mutex>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/ErrorHook.h"

#include <X11/Xlibint.h>
#undef min
#undef max

namespace vplatform::x11 {

struct ErrorHookAccess {
    static void Record(Connection& connection, unsigned long serial, int code) {
        auto& errors = connection.m_errors;
        if (errors.size() >= 64) errors.erase(errors.begin());
        errors.push_back({serial, code});
    }
};

namespace {

struct Record {
    _XAsyncHandler handler;
    Connection* connection;
};

// Called by Xlib for every reply and error of the display; takes errors only.
// Xlib has already noted the error's serial as the last one read.
Bool TakeError(Display* display, xReply* reply, char*, int, XPointer data) {
    if (reply->generic.type != X_Error) return False;
    const auto* error = reinterpret_cast<const xError*>(reply);
    auto* record = reinterpret_cast<Record*>(data);
    ErrorHookAccess::Record(*record->connection, static_cast<unsigned long>(X_DPY_GET_LAST_REQUEST_READ(display)),
                            error->errorCode);
    return True;
}

bool (*g_ours)(Display*) = nullptr;
XIOErrorHandler g_previous = nullptr;

// The platform's connections return (their exit handler marks them lost);
// every other display gets what it had before.
int IoError(Display* display) {
    if (g_ours != nullptr && g_ours(display)) return 0;
    return g_previous != nullptr ? g_previous(display) : _XDefaultIOError(display);
}

}  // namespace

void* ErrorHook::Install(Connection& connection) {
    Display* display = connection.Dpy();
    auto* record = new Record{};
    record->connection = &connection;
    record->handler.handler = TakeError;
    record->handler.data = reinterpret_cast<XPointer>(record);
    LockDisplay(display);
    record->handler.next = display->async_handlers;
    display->async_handlers = &record->handler;
    UnlockDisplay(display);
    return record;
}

void ErrorHook::Free(void* record) {
    delete static_cast<Record*>(record);
}

unsigned long ErrorHook::NextSerial(Display* display) {
    return static_cast<unsigned long>(X_DPY_GET_REQUEST(display)) + 1;
}

void ErrorHook::InstallIoHandler(bool (*ours)(Display*)) {
    static std::once_flag once;
    std::call_once(once, [ours] {
        g_ours = ours;
        const XIOErrorHandler previous = XSetIOErrorHandler(IoError);
        if (previous != _XDefaultIOError) {
            // The application's own handler stays.
            XSetIOErrorHandler(previous);
        } else {
            g_previous = previous;
        }
    });
}

}  // namespace vplatform::x11

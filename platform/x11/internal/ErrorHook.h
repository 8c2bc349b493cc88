// The parts of the connection layer that need Xlib's internal header
// (error_hook.cpp, the only file that includes it: its min/max macros do not
// mix with the C++ library).
#pragma once

#include <X11/Xlib.h>

namespace vplatform::x11 {

class Connection;

struct ErrorHook {
    // Takes every protocol error of the connection's display from here on:
    // records serial and code in the connection.  Returns the handler record
    // to free after the display is closed.
    static void* Install(Connection& connection);
    static void Free(void* record);
    // The serial number of the next request, and of the last answer read.
    static unsigned long NextSerial(Display* display);
    // Installs the process's I/O error handler when the application has none
    // (see Connection.h); `ours` tells whether a display is the platform's.
    static void InstallIoHandler(bool (*ours)(Display*));
};

}  // namespace vplatform::x11

// The desktop services of the X11 layer, in Win32 terms and without Xlib:
// the monitors, keys and clipboard of the X11 display driver
// (platform/user/internal/DisplayDriver.h has their types).  Every function may be called from any thread; each fails
// with ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION (1459) when there is no display (see Connection.h for when the platform
// tries again).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/nls/internal/WideText.h"
#include "platform/user/internal/DisplayDriver.h"

namespace vplatform::x11 {

using user::ClipboardRead;
using user::DesktopLayout;
using user::KeyboardState;
using user::ScreenMonitor;

// --- Monitors (layout.cpp) ------------------------------------------------------------

// The monitors of the display: from XRRGetMonitors (active monitors only,
// each named by its RandR name), the primary one first (RandR's primary,
// else the first listed); without RandR 1.5 the whole screen is one monitor.
// The layout's origin is in X root coordinates.
//
// The current layout.  It is kept between calls and read again only after
// the server announced a change (a root ConfigureNotify, RandR screen, CRTC
// or output changes, the properties that make work areas); announcements are
// read at each call without a round trip, so a change made before the call
// is seen by it.  While nothing else has used the shared connection and its
// socket has nothing unread, the kept layout is given without taking the
// connection's lock (one zero-timeout poll).  Null with 1459 without a
// display.
//
// Work areas, for each monitor, by the first rule that applies:
//   1. the rectangle of _GTK_WORKAREAS_D<current desktop> inside the monitor;
//   2. with a window manager listing _NET_CLIENT_LIST: the monitor less the
//      struts (_NET_WM_STRUT_PARTIAL, else _NET_WM_STRUT) of the listed
//      windows that reach into it;
//   3. the monitor ∩ _NET_WORKAREA of the current desktop;
//   4. the monitor.
// A result that would be empty is the monitor.
VPLATFORM_API std::shared_ptr<const DesktopLayout> CurrentLayout();

// --- Keys (keys.cpp) ----------------------------------------------------------------

// The current state of the keyboard and pointer buttons (XQueryKeymap,
// XQueryPointer) through a table of every keycode of each key's keysyms,
// made again when the keyboard mapping changes.  Either Shift, Ctrl or Alt
// makes VK_SHIFT, VK_CONTROL or VK_MENU down; AltGr (ISO_Level3_Shift,
// Mode_switch) is the right Alt.  False with 1459 without a display.
bool ReadKeyboard(KeyboardState& state, bool withPointer);

// --- The clipboard (clipboard.cpp) --------------------------------------------------

// Makes the process the owner of the CLIPBOARD selection, serving `text`
// (UTF-16) or, with null, nothing but the list of targets (an emptied
// clipboard).  Returns a ticket naming this ownership, 0 with the last error
// set on failure (1459, ERROR_TIMEOUT, ERROR_ACCESS_DENIED when the server
// did not give the selection).
std::uint64_t OwnClipboard(const std::wstring* text);
// True while the ownership `ticket` lasts: until another program takes the
// selection or the process owns it again.
bool StillOwned(std::uint64_t ticket);

// The text on the clipboard: the process's own, or asked from the owner as
// UTF8_STRING, else STRING (ISO 8859-1), through INCR transfers when large;
// `text` receives it as UTF-16, each piece of a transfer decoded as it arrives (ill-formed UTF-8 as
// MultiByteToWideChar decodes it).  NoText when nobody owns the clipboard or the owner offers no text; Failed with
// the last error set: 1459, ERROR_TIMEOUT when the owner does not answer within a second (or stops for a second in
// the middle of a transfer), ERROR_NOT_ENOUGH_MEMORY.
ClipboardRead ReadClipboard(WideText& text);

// The text owned by the process at exit goes to the clipboard manager
// (SAVE_TARGETS), else to the clipboard keeper program installed with the
// library, which serves it until another program takes the clipboard.  Runs
// from an atexit handler registered at the first ownership, within a second.
// Exposed for tests that check the hand-over without ending the process.
VPLATFORM_API bool HandOverClipboard();

namespace test {

// Forgets the time of the last failed opening, so that the next opening
// tries at once, and drops the shared connection and the clipboard's thread
// (tests that change DISPLAY).
VPLATFORM_API void ResetDisplayForTesting();
// The keeper program's path, as the platform looks for it.
VPLATFORM_API std::string ClipboardKeeperPath();

}  // namespace test
}  // namespace vplatform::x11

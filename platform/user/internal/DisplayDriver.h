// The display driver: what the window layer needs of a display (an X11
// connection, in x11/), in Win32 terms and without the display's own headers.
// It covers the process's top-level windows and the windows of other
// programs, the monitors, the keyboard and the clipboard.  platform/user/
// reaches the display only through the driver installed here, and x11/
// implements it (and includes no other header of user/internal/).
//
// Without a display every part answers as a machine with no display would:
// windows exist only in the platform (creating, showing, moving and
// destroying them works and sends the messages of platform/user/Window.h,
// and nothing is drawn anywhere); monitors, keys and the clipboard fail with
// ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION (1459).  A driver installed with
// SetDisplayDriver (once, at start-up, before windows are made; it is never
// deleted by the platform) replaces the display's own for all of them.
//
// Windows.  The driver is told:
//
//   Created    a top-level window now exists (before WM_NCCREATE, so that
//              the window has its display side while its procedure sets
//              itself up); the rectangle may be changed to place a window
//              created with CW_USEDEFAULT.
//   Destroyed  the window is gone: its handle already fails (after
//              WM_NCDESTROY, or at its thread's end).
//   Shown      its visibility changed (ShowWindow, SetWindowPos with
//              SWP_SHOWWINDOW/SWP_HIDEWINDOW, GWL_STYLE's WS_VISIBLE).
//   Moved      its window rectangle changed (screen coordinates).
//   TextChanged its title changed.
//
// "Top-level" means: not WS_CHILD, not message-only (HWND_MESSAGE), of this
// process.  Every call comes on the thread that made the change, which is
// the window's own thread except for cross-thread SetWindowPos, ShowWindow
// and SetWindowTextW, and at its thread's end; no platform lock is held, so
// the driver may call the platform's window functions (but must not destroy
// the window it is told about).
//
// The other direction:
//   - NoteWindowRect: the display moved or sized a window (the user dragged
//     it): the platform keeps the new rectangle and sends the window
//     WM_WINDOWPOSCHANGED (with WM_MOVE and WM_SIZE); the driver is not told
//     back.  It sends, so it is called with no platform lock held (not from
//     FdReady, which holds the wait lock: post a message and call it from
//     the window's thread).
//   - AddForeignWindow / UpdateForeignWindow / RemoveForeignWindow: windows
//     of other programs become entries of the same USER handle table, with
//     their process and thread ids, styles, rectangle, title and class name.
//     IsWindow, GetWindowThreadProcessId, GetWindowRect, GetWindowTextW,
//     GetClassNameW and GetWindowLongPtrW (styles) work on them; changing
//     them fails with ERROR_ACCESS_DENIED; posting and sending go to the
//     driver's PostForeign/SendForeign.
//   - DriverMessage / Deliver: a message the driver posts to a window of
//     this process (a move the display made, read on the driver's own
//     thread) comes back to the driver's Deliver from DispatchMessageW, on
//     the window's thread with no platform lock held: there it may call
//     NoteWindowRect.
//   - InputSource: an object that every wait of a message queue includes
//     (an X connection watched through its descriptor, Waitable.h), so that
//     display events wake GetMessageW; its FdReady moves them into the
//     queues (PostMessageW).
//   - TranslateKey: the characters of a key message for TranslateMessage.
//   - SetDriverData / DriverData: the driver's own object for a window.
//
// Monitors, keys and the clipboard may be asked from any thread.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/internal/Waitable.h"
#include "platform/nls/internal/WideText.h"
#include "platform/user/Window.h"

namespace vplatform::user {

// What a driver is told of a top-level window at its creation.
struct TopLevelWindow {
    HWND hwnd;
    DWORD threadId;
    DWORD style;
    DWORD exStyle;
    HWND owner;
    RECT rect;  // screen coordinates
    std::wstring title;
    std::wstring className;
};

// One monitor in virtual-screen coordinates: the primary monitor's top-left
// corner is 0,0; the rectangles' right and bottom edges are exclusive.
struct ScreenMonitor {
    std::wstring name;  // the display's name of the monitor
    RECT rect;
    RECT work;  // never empty
    bool primary;
};

// The monitors of the display, the primary one first.  A layout is never
// changed once made: a change of the display's layout makes a new one with a
// new generation.
struct DesktopLayout {
    std::vector<ScreenMonitor> monitors;  // at least one
    RECT bounds;                          // the virtual screen: all monitors' union
    POINT origin;                         // the primary monitor's top-left corner in the display's coordinates
    std::uint64_t generation;             // differs between different layouts
};

// Which virtual keys are down (bits 0-255 by virtual-key code), and the
// toggle state of Caps Lock, Num Lock and Scroll Lock.
struct KeyboardState {
    std::bitset<256> down;
    std::bitset<256> toggled;
};

enum class ClipboardRead { Text, NoText, Failed };

class VPLATFORM_API DisplayDriver {
public:
    virtual ~DisplayDriver();

    // --- Windows -----------------------------------------------------------------------

    // `window.rect` may be changed (a window created with CW_USEDEFAULT has
    // position and size 0); the platform keeps what it holds afterwards.
    virtual void Created(TopLevelWindow& window);
    virtual void Destroyed(HWND hwnd);
    virtual void Shown(HWND hwnd, bool visible);
    virtual void Moved(HWND hwnd, const RECT& screenRect);
    virtual void TextChanged(HWND hwnd, std::wstring_view text);

    // A message of DriverMessage() dispatched to one of the process's
    // windows.  Does nothing here.
    virtual void Deliver(const MSG& message);

    // The object the queues' waits include, or null (here).
    virtual std::shared_ptr<Waitable> InputSource();
    // The characters of a key message (WM_KEYDOWN, WM_SYSKEYDOWN); false
    // (here) for none.
    virtual bool TranslateKey(const MSG& key, std::wstring& characters);
    // A message for a window of another program.  Here: FALSE (0) with
    // ERROR_ACCESS_DENIED.
    virtual BOOL PostForeign(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT SendForeign(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Moves, sizes, shows, hides or restacks a window of another program as
    // SetWindowPos asks.  Here: FALSE with ERROR_ACCESS_DENIED.
    virtual BOOL PlaceForeign(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
    // Reads again what the display knows of a window of another program
    // (UpdateForeignWindow); false when the window has gone, after removing
    // its handle (RemoveForeignWindow).  Called at every lookup of such a
    // window, with no platform lock held.  Here: true.
    virtual bool RefreshForeign(HWND hwnd);
    // The top-level windows of the display, the top of the Z order first:
    // this process's windows that have a place on it and the windows of other
    // programs (entries made at first sight).  False with the last error set
    // when there is no display.  Here: false with
    // ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
    virtual bool EnumTopLevel(std::vector<HWND>& windows);

    // --- Monitors ----------------------------------------------------------------------

    // The current layout; null with the last error set.  Here: null with
    // ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
    virtual std::shared_ptr<const DesktopLayout> CurrentLayout();

    // --- Keys --------------------------------------------------------------------------

    // The current state of the keyboard (and of the pointer buttons with
    // `withPointer`); false with the last error set.  Here: false with
    // ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
    virtual bool ReadKeyboard(KeyboardState& state, bool withPointer);

    // --- The clipboard -----------------------------------------------------------------

    // Makes the process the owner of the clipboard, serving `text` (UTF-16)
    // or, with null, nothing (an emptied clipboard).  Returns a ticket naming
    // this ownership, 0 with the last error set.  Here: 0 with
    // ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
    virtual std::uint64_t OwnClipboard(const std::wstring* text);
    // True while the ownership `ticket` lasts: until another program takes
    // the clipboard or the process owns it again.  Here: false.
    virtual bool StillOwned(std::uint64_t ticket);
    // The text on the clipboard, into `text` as UTF-16: NoText when there is
    // none, Failed with the last error set.  Here: Failed with
    // ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
    virtual ClipboardRead ReadClipboard(WideText& text);
};

// Installs the driver (null goes back to the display's own: the X11 driver
// of platform/x11, which acts as above without a display).  Calls already
// made keep the driver they started with, which must therefore stay alive.
VPLATFORM_API void SetDisplayDriver(DisplayDriver* driver);
// The driver installed, else the display's own; never null.
DisplayDriver* CurrentDisplayDriver();

// A window of another program.
struct ForeignWindow {
    DWORD processId = 0;
    DWORD threadId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};  // screen coordinates
    HWND owner = nullptr;
    std::wstring title;
    std::wstring className;
};
// Gives a window of another program an HWND; null with the last error
// (ERROR_NOT_ENOUGH_QUOTA) when the USER table is full.
VPLATFORM_API HWND AddForeignWindow(const ForeignWindow& window);
// False with ERROR_INVALID_WINDOW_HANDLE for a handle that is not one of them.
VPLATFORM_API bool UpdateForeignWindow(HWND hwnd, const ForeignWindow& window);
// Its handle fails from here on.
VPLATFORM_API bool RemoveForeignWindow(HWND hwnd);

// The registered message a driver posts to the process's windows for itself
// (0 if it could not be registered).
VPLATFORM_API UINT DriverMessage();

// The display moved or sized a window of this process (see above).  False
// with ERROR_INVALID_WINDOW_HANDLE.
VPLATFORM_API bool NoteWindowRect(HWND hwnd, const RECT& screenRect);

// The driver's own data of a window (null at first).
VPLATFORM_API bool SetDriverData(HWND hwnd, std::shared_ptr<void> data);
VPLATFORM_API std::shared_ptr<void> DriverData(HWND hwnd);

}  // namespace vplatform::user

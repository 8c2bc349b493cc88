// The object behind an HWND: one model for the windows of the process and,
// through a display driver, for windows of other programs.
//
// What a window keeps: its thread and queue, its class, procedure, styles,
// instance, identifier, user data, extra bytes, text, its window and client
// rectangles (in its parent's client coordinates; screen coordinates for a
// window without a parent), and data a driver attaches.  These change under
// the window's own lock (`mutex`).  The parent is fixed at creation; owner
// and children change under the window tree lock (TreeMutex()), which is
// taken before a window's lock when both are needed, and never while a
// window procedure runs.
//
// Using a window inside platform/: look it up with LookupWindow (the lookup
// holds a reference, so the object outlives a DestroyWindow meanwhile), read
// or change its fields under its lock, and call procedures (SendMessageW,
// CallWindow) with no platform lock held.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/internal/HandleTable.h"
#include "platform/internal/PlatformLock.h"
#include "platform/user/Window.h"

namespace vplatform::user {

class MessageQueue;
struct WindowClass;

class Window final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::Window;

    // Set once, before the handle is given to anyone.
    HWND handle = nullptr;
    HWND parent = nullptr;  // null: top-level; HWND_MESSAGE: message-only
    bool child = false;     // WS_CHILD with a parent window: coordinates relative to it
    DWORD threadId = 0;     // 0 for a window of another program until its driver tells
    DWORD processId = 0;
    bool foreign = false;                   // a window of another program, known to the driver
    std::shared_ptr<MessageQueue> queue;    // the owner thread's queue; null when foreign
    std::shared_ptr<WindowClass> wndClass;  // null when foreign

    mutable PlatformMutex mutex;
    // Under `mutex`.
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    HINSTANCE instance = nullptr;
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    std::wstring text;
    std::wstring className;  // the class's name as registered (or as the driver tells)
    RECT rect{};             // window rectangle, parent client coordinates
    RECT client{};           // client rectangle, the same coordinates
    std::vector<unsigned char> extra;
    std::shared_ptr<void> driverData;
    bool destroying = false;

    // Under TreeMutex().
    HWND owner = nullptr;
    std::vector<HWND> children;  // newest first
};

// The window of `hwnd`, or null with ERROR_INVALID_WINDOW_HANDLE.
std::shared_ptr<Window> LookupWindow(HWND hwnd);

// The lock of every window's parent, owner and children, and of the list of
// top-level windows (newest first).
PlatformMutex& TreeMutex();
std::vector<HWND>& TopLevelWindows();

// True for a window that a driver is told about: not a child, not
// message-only, and of this process.
bool IsTopLevel(const Window& window);

// The top-level window above `hwnd` (itself when it is one).
HWND TopLevelAncestor(HWND hwnd);

// True for a window of the calling thread (never another program's).
bool IsOwnThread(const Window& window);

// Tells the display driver that a top-level window was shown or hidden.
void TellShown(const Window& window, bool visible);

// Sets a window's text (empty for null or a resource id) and tells the
// display driver of a top-level window's new title.
void SetText(Window& window, LPCWSTR text);

// Copies `text` into `buffer` of `size` characters, cut to fit and
// terminated; returns the characters copied (0 without a buffer).
int CopyText(const std::wstring& text, LPWSTR buffer, int size);

// Destroys a window of an ended thread, and its children: no messages, the
// handle goes at once (the queue's teardown).
void DestroyWithoutMessages(HWND hwnd);

}  // namespace vplatform::user

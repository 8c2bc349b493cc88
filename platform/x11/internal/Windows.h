// The X11 side of the window model, without Xlib: the window backend that
// platform/user/ uses unless another one is installed.
//
// Windows of this process.  A top-level window gets an X window at its
// creation when a display exists (position, size, title, class,
// WM_PROTOCOLS with WM_DELETE_WINDOW, _NET_WM_PID, WM_CLIENT_MACHINE,
// WM_TRANSIENT_FOR for an owner with an X window); it is mapped and
// withdrawn as the window is shown and hidden, moved and sized with it, and
// destroyed with it.  These X windows are on a connection of their own whose
// thread reads their events as they come: a close request (a window
// manager's WM_DELETE_WINDOW) is posted to the window as WM_CLOSE, a move or
// size made by the display reaches it on its own thread through
// DispatchMessageW (WM_WINDOWPOSCHANGED, with WM_MOVE and WM_SIZE).  Without
// a display nothing of this happens and the windows work as before.
//
// Windows of other programs.  An X window gets an HWND at first sight (from
// EnumTopLevel or as the owner of one), keyed by its X id; every lookup of
// it asks the server again: rectangle with the window manager's frame
// (_NET_FRAME_EXTENTS), visibility (mapped, or minimised: WM_STATE iconic or
// _NET_WM_STATE_HIDDEN, which counts as visible and adds WS_MINIMIZE), owner
// (WM_TRANSIENT_FOR), title (_NET_WM_NAME, else WM_NAME) and class (WM_CLASS).
// Its process comes from the server (X-Resource client ids), else from
// _NET_WM_PID when WM_CLIENT_MACHINE names this host, else it is unknown
// (0); the thread id given is the process id (a program's first thread).
// A window that has gone loses its handle at the next lookup, or when its
// DestroyNotify is read.  Every X error is taken per request; a lost server
// drops every entry of another program's window.
#pragma once

namespace vplatform::user {
class WindowBackend;
}

namespace vplatform::x11 {

user::WindowBackend& DisplayWindowBackend();

}  // namespace vplatform::x11

// Window classes and windows: registration, creation and destruction, the
// window procedure and its default, window data, text, visibility and
// rectangles.
//
// Windows need no display.  A window is an entry of the process's USER
// handle table (HWND), owned by the thread that created it: its messages go
// to that thread's queue (platform/user/Messages.h), and it is destroyed with
// that thread (without messages: the thread is gone).  Handles carry a reuse
// count: a destroyed window's HWND fails every call with
// ERROR_INVALID_WINDOW_HANDLE and never names a later window.  Top-level
// windows (neither WS_CHILD nor HWND_MESSAGE) may be given a place on a
// display by a display driver (platform/user/internal/DisplayDriver.h);
// without one they exist only here.  Message-only windows (parent
// HWND_MESSAGE) are never shown to a driver.
//
// Windows of other programs.  Through the driver (the X11 one, in
// platform/x11/) other programs' windows are HWNDs of the same table, made
// at first sight (EnumWindows, GetWindow).  IsWindow,
// GetWindowRect (with the window manager's frame), GetWindowThreadProcessId
// (0 when the process is unknown), GetWindow(GW_OWNER), IsWindowVisible (a
// minimised window is visible), GetWindowTextW and GetClassNameW read them;
// SetWindowPos and MoveWindow move, size, show, hide and restack them;
// PostMessageW(WM_CLOSE) asks them to close (FALSE with ERROR_NOT_SUPPORTED
// when the window does not take the request; other messages: FALSE with
// ERROR_ACCESS_DENIED); other changes fail with ERROR_ACCESS_DENIED.  Each
// call asks the display again: a window that has gone fails with
// ERROR_INVALID_WINDOW_HANDLE.
//
// Classes.  RegisterClassExW registers a class of the module `hInstance`
// (null: the executable).  CreateWindowExW finds a class by name, without
// case, or by atom: first the classes of its `hInstance`, then CS_GLOBALCLASS
// classes, then the classes the platform provides ("Message": a class whose
// procedure is DefWindowProcW).
//
// Creation sends, in this order: WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE,
// WM_SIZE, WM_MOVE, then for WS_VISIBLE the messages of ShowWindow, and
// WM_PARENTNOTIFY to the parent of a child (unless WS_EX_NOPARENTNOTIFY).
// WM_NCCREATE returning FALSE or WM_CREATE returning -1 destroys the window
// again and CreateWindowExW fails with ERROR_CANCELLED.  Destruction (only by
// the window's own thread) destroys the windows it owns, sends WM_DESTROY to
// the window and then to its children, and WM_NCDESTROY to the children and
// then to the window; the window's timers go, and so do the messages posted
// to it and not yet retrieved (messages sent to it and not yet handled give
// their senders 0).
//
// Rectangles.  A window keeps its window rectangle and its client rectangle;
// without a non-client area (DefWindowProcW leaves WM_NCCALCSIZE's rectangle
// as it is) both are the same.  CW_USEDEFAULT gives position 0 and size 0
// unless a driver places the window.  Coordinates of a child are relative
// to its parent's client area, those of other windows are screen
// coordinates.
//
// Threads: every function may be called from any thread of the process
// unless it says otherwise; messages that a call sends to a window of another
// thread wait for that thread (SendMessageW).  Window data (GetWindowLongPtrW
// and the others) is read and written under the window's own lock.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Resource.h"  // IS_INTRESOURCE
#include "platform/user/Messages.h"

// Styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000u;
constexpr DWORD WS_POPUP = 0x80000000u;
constexpr DWORD WS_CHILD = 0x40000000u;
constexpr DWORD WS_MINIMIZE = 0x20000000u;
constexpr DWORD WS_VISIBLE = 0x10000000u;
constexpr DWORD WS_DISABLED = 0x08000000u;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000u;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000u;
constexpr DWORD WS_MAXIMIZE = 0x01000000u;
constexpr DWORD WS_CAPTION = 0x00C00000u;
constexpr DWORD WS_BORDER = 0x00800000u;
constexpr DWORD WS_DLGFRAME = 0x00400000u;
constexpr DWORD WS_VSCROLL = 0x00200000u;
constexpr DWORD WS_HSCROLL = 0x00100000u;
constexpr DWORD WS_SYSMENU = 0x00080000u;
constexpr DWORD WS_THICKFRAME = 0x00040000u;
constexpr DWORD WS_GROUP = 0x00020000u;
constexpr DWORD WS_TABSTOP = 0x00010000u;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000u;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000u;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr DWORD WS_POPUPWINDOW = WS_POPUP | WS_BORDER | WS_SYSMENU;

constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001u;
constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004u;
constexpr DWORD WS_EX_TOPMOST = 0x00000008u;
constexpr DWORD WS_EX_TRANSPARENT = 0x00000020u;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080u;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100u;
constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200u;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000u;
constexpr DWORD WS_EX_LAYERED = 0x00080000u;
constexpr DWORD WS_EX_NOACTIVATE = 0x08000000u;

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr UINT CS_OWNDC = 0x0020;
constexpr UINT CS_CLASSDC = 0x0040;
constexpr UINT CS_PARENTDC = 0x0080;
constexpr UINT CS_NOCLOSE = 0x0200;
constexpr UINT CS_SAVEBITS = 0x0800;
constexpr UINT CS_GLOBALCLASS = 0x4000;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

inline const HWND HWND_DESKTOP = nullptr;
inline const HWND HWND_TOP = nullptr;
inline const HWND HWND_BOTTOM = reinterpret_cast<HWND>(static_cast<LONG_PTR>(1));
inline const HWND HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
inline const HWND HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2));
inline const HWND HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-3));

// Window data indexes (GetWindowLongPtrW); 0 and above: the extra bytes.
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_ID = -12;
constexpr int GWL_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;

// ShowWindow.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWDEFAULT = 10;

// GetWindow.
constexpr UINT GW_OWNER = 4;
constexpr UINT GW_CHILD = 5;

// SetWindowPos.
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOREDRAW = 0x0008;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_FRAMECHANGED = 0x0020;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;
constexpr UINT SWP_NOCOPYBITS = 0x0100;
constexpr UINT SWP_NOOWNERZORDER = 0x0200;
constexpr UINT SWP_NOSENDCHANGING = 0x0400;

// WM_SIZE.
constexpr WPARAM SIZE_RESTORED = 0;
constexpr WPARAM SIZE_MINIMIZED = 1;
constexpr WPARAM SIZE_MAXIMIZED = 2;

using WNDENUMPROC = BOOL(CALLBACK*)(HWND, LPARAM);

struct WNDCLASSEXW {
    UINT cbSize;  // sizeof(WNDCLASSEXW)
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
    HICON hIconSm;
};
using LPWNDCLASSEXW = WNDCLASSEXW*;

struct CREATESTRUCTW {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};
using LPCREATESTRUCTW = CREATESTRUCTW*;

struct WINDOWPOS {
    HWND hwnd;
    HWND hwndInsertAfter;
    int x;
    int y;
    int cx;
    int cy;
    UINT flags;
};
using LPWINDOWPOS = WINDOWPOS*;

struct STYLESTRUCT {
    DWORD styleOld;
    DWORD styleNew;
};
using LPSTYLESTRUCT = STYLESTRUCT*;

// A class atom passed where a class name is expected.
inline LPCWSTR MAKEINTATOM(ATOM atom) {
    return reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(atom));
}
constexpr LONG MAKELONG(WORD low, WORD high) {
    return static_cast<LONG>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
    return static_cast<WPARAM>(static_cast<DWORD>(MAKELONG(low, high)));
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
    return static_cast<LPARAM>(static_cast<DWORD>(MAKELONG(low, high)));
}

extern "C" {

// Registers a class and returns its atom.  0 with ERROR_INVALID_PARAMETER for
// a wrong cbSize, no procedure, a null, empty or over-256-unit name, or extra
// bytes outside 0-40,000; ERROR_CLASS_ALREADY_EXISTS for a name the module
// (or, for CS_GLOBALCLASS, any module) has registered.
VPLATFORM_API ATOM RegisterClassExW(const WNDCLASSEXW* lpwcx);
// Removes a class of the module.  FALSE with ERROR_CLASS_DOES_NOT_EXIST,
// ERROR_CLASS_HAS_WINDOWS while windows of it exist, ERROR_ACCESS_DENIED for
// a class of the platform.
VPLATFORM_API BOOL UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance);
// Describes a class as CreateWindowExW would find it (lpszClassName and
// lpszMenuName point to the class's own text).  FALSE with
// ERROR_CLASS_DOES_NOT_EXIST or ERROR_INVALID_PARAMETER (null `lpwcx`).
VPLATFORM_API BOOL GetClassInfoExW(HINSTANCE hInstance, LPCWSTR lpszClass, LPWNDCLASSEXW lpwcx);
// The class name of a window, cut to `nMaxCount` units with its NUL; the
// units copied.  0 with ERROR_INVALID_WINDOW_HANDLE or ERROR_INVALID_PARAMETER.
VPLATFORM_API int GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount);

// Creates a window owned by the calling thread (creation messages above).
// `hWndParent`: the parent of a WS_CHILD window, the owner of another one
// (its top-level ancestor is taken), or HWND_MESSAGE for a message-only
// window.  `hMenu`: a child's identifier (GWLP_ID).  Null with
// ERROR_CANNOT_FIND_WND_CLASS, ERROR_TLW_WITH_WSCHILD (WS_CHILD without a
// parent), ERROR_INVALID_WINDOW_HANDLE (a bad parent), ERROR_NOT_ENOUGH_QUOTA
// (10,000 USER handles), ERROR_CANCELLED (refused by its procedure).
VPLATFORM_API HWND CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName, DWORD dwStyle, int X,
                                   int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                   LPVOID lpParam);
// Destroys a window of the calling thread (destruction messages above).
// FALSE with ERROR_INVALID_WINDOW_HANDLE, ERROR_ACCESS_DENIED for a window of
// another thread or program.
VPLATFORM_API BOOL DestroyWindow(HWND hWnd);
// TRUE while `hWnd` names a window (another program's window is asked for
// again from the display).
VPLATFORM_API BOOL IsWindow(HWND hWnd);
// Calls `lpEnumFunc` with each top-level window and `lParam`, the top of the
// Z order first: the windows the display lists (this process's and other
// programs', see below), then this process's windows it does not list
// (hidden ones; all of them without a display), newest first.  Stops when
// the callback returns FALSE, and then returns FALSE; TRUE when every window
// was enumerated.  FALSE with ERROR_INVALID_PARAMETER for a null callback.
// The callback runs on the calling thread with no platform lock held.
VPLATFORM_API BOOL EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);

// The default answers: WM_NCCREATE sets the window text and returns TRUE;
// WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH work on the window text; WM_CLOSE
// destroys the window; WM_WINDOWPOSCHANGED sends WM_MOVE and WM_SIZE; all
// others give 0.
VPLATFORM_API LRESULT DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Calls `lpPrevWndFunc` (a procedure replaced through GWLP_WNDPROC); 0 for null.
VPLATFORM_API LRESULT CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// The id of the window's thread, and its process id in `lpdwProcessId` when
// not null.  0 with ERROR_INVALID_WINDOW_HANDLE.
VPLATFORM_API DWORD GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);

// Window data: GWLP_WNDPROC, GWLP_HINSTANCE, GWLP_HWNDPARENT (the parent of
// a child, the owner of another window), GWLP_ID, GWL_STYLE, GWL_EXSTYLE,
// GWLP_USERDATA, or a byte offset into the class's cbWndExtra bytes (8 bytes
// for the Ptr functions, 4 for the others).  Set returns the previous value
// and leaves the last error alone on success, as on Windows (so clear it
// first to tell a previous 0 from a failure).  Setting GWL_STYLE sends
// WM_STYLECHANGING and WM_STYLECHANGED; GWLP_HWNDPARENT changes the owner of
// a window that is not a child.  0 with ERROR_INVALID_WINDOW_HANDLE,
// ERROR_INVALID_INDEX, ERROR_ACCESS_DENIED (changing another program's window).
VPLATFORM_API LONG_PTR GetWindowLongPtrW(HWND hWnd, int nIndex);
VPLATFORM_API LONG_PTR SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
VPLATFORM_API LONG GetWindowLongW(HWND hWnd, int nIndex);
VPLATFORM_API LONG SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong);

// The parent of a child window, else the owner; null (last error unchanged)
// for none, with ERROR_INVALID_WINDOW_HANDLE for a bad window.
VPLATFORM_API HWND GetParent(HWND hWnd);
// GW_OWNER: the owner of a window that is not a child (for a window of
// another program: its WM_TRANSIENT_FOR); GW_CHILD: the child at the top of
// the Z order.  Null (last error unchanged) for none; null with
// ERROR_INVALID_WINDOW_HANDLE for a bad window, ERROR_INVALID_PARAMETER for
// another command.
VPLATFORM_API HWND GetWindow(HWND hWnd, UINT uCmd);
// TRUE when `hWnd` is a child or further descendant of `hWndParent`.
VPLATFORM_API BOOL IsChild(HWND hWndParent, HWND hWnd);

// WM_SETTEXT to the window.  FALSE with ERROR_INVALID_WINDOW_HANDLE.
VPLATFORM_API BOOL SetWindowTextW(HWND hWnd, LPCWSTR lpString);
// The window text (WM_GETTEXT for a window of the calling thread, the text
// kept for others), cut to `nMaxCount` units with its NUL; the units copied.
VPLATFORM_API int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount);
VPLATFORM_API int GetWindowTextLengthW(HWND hWnd);

// Shows or hides a window (SW_HIDE hides, every other command shows; the
// minimized and maximized states are left to a driver).  Sends
// WM_SHOWWINDOW, WM_WINDOWPOSCHANGING and WM_WINDOWPOSCHANGED when the
// visibility changes.  Returns TRUE when the window was visible before.
VPLATFORM_API BOOL ShowWindow(HWND hWnd, int nCmdShow);
// TRUE when the window and all its ancestors have WS_VISIBLE.
VPLATFORM_API BOOL IsWindowVisible(HWND hWnd);
// Moves, sizes, shows or hides a window (SWP_NOMOVE, SWP_NOSIZE,
// SWP_SHOWWINDOW, SWP_HIDEWINDOW; the Z order is left to a driver).  Sends
// WM_WINDOWPOSCHANGING (its WINDOWPOS may be changed), WM_NCCALCSIZE when the
// size changes, and WM_WINDOWPOSCHANGED.  FALSE with
// ERROR_INVALID_WINDOW_HANDLE.
VPLATFORM_API BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
VPLATFORM_API BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
// The window rectangle in screen coordinates.
VPLATFORM_API BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
// The client rectangle: (0, 0, width, height).
VPLATFORM_API BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
VPLATFORM_API BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint);
VPLATFORM_API BOOL ScreenToClient(HWND hWnd, LPPOINT lpPoint);
}

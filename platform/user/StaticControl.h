// The "STATIC" window class: text labels, provided by the platform to every
// module (CreateWindowExW(0, L"STATIC", text, WS_CHILD | SS_LEFT, …)).
//
// Nothing is painted; a static control keeps its text (WM_SETTEXT,
// WM_GETTEXT and WM_GETTEXTLENGTH of DefWindowProcW) and its font
// (WM_SETFONT stores the HFONT, WM_GETFONT returns it; null until one is
// set, which means the system font).  The control neither copies nor
// deletes the font: its owner keeps it alive while the control uses it.
//
// Non-client edges, as Windows computes them: the client rectangle is the
// window rectangle inset by 1 pixel for WS_BORDER, 1 for WS_EX_STATICEDGE
// and 2 for WS_EX_CLIENTEDGE (they add up).  SS_SUNKEN adds
// WS_EX_STATICEDGE to the extended style when the control is created.  A
// style changed later counts from the next SetWindowPos with
// SWP_FRAMECHANGED or a change of size.
//
// Threads: as for every window (platform/user/Window.h).
#pragma once

#include "platform/WinTypes.h"

// Static-control styles.
constexpr DWORD SS_LEFT = 0x00000000u;
constexpr DWORD SS_CENTER = 0x00000001u;
constexpr DWORD SS_RIGHT = 0x00000002u;
constexpr DWORD SS_SIMPLE = 0x0000000Bu;
constexpr DWORD SS_LEFTNOWORDWRAP = 0x0000000Cu;
constexpr DWORD SS_TYPEMASK = 0x0000001Fu;
constexpr DWORD SS_NOPREFIX = 0x00000080u;
constexpr DWORD SS_NOTIFY = 0x00000100u;
constexpr DWORD SS_CENTERIMAGE = 0x00000200u;
constexpr DWORD SS_SUNKEN = 0x00001000u;
constexpr DWORD SS_ENDELLIPSIS = 0x00004000u;

// The 1-pixel edge of controls that take no input.
constexpr DWORD WS_EX_STATICEDGE = 0x00020000u;

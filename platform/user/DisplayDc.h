// The device contexts of the screen and of windows, under their user32
// names: GetDC and ReleaseDC.  What a DC holds and how it is drawn with is
// GDI's (platform/gdi/Gdi.h); USER hands the DCs out for a window and ends
// them with it.
//
// Threads: any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

extern "C" {

// The DC of a window's client area, or of the screen for a null window.  The
// screen DC works with or without a display.  A window's DC has the screen's
// format and the default attributes (SYSTEM_FONT: the window's own font is
// not selected, callers select it) and is released with ReleaseDC and the
// same window; destroying the window releases the DCs still out (their
// handles fail from then on and no longer count).  Each call gives a new DC.
// Null with ERROR_INVALID_WINDOW_HANDLE for a window that does not exist (a
// destroyed one included), ERROR_NOT_ENOUGH_QUOTA beyond the GDI quota.
VPLATFORM_API HDC GetDC(HWND hWnd);
// Gives back a DC of GetDC: 1, or 0 with ERROR_INVALID_HANDLE for a handle
// that is no live DC (one already released included) and
// ERROR_INVALID_PARAMETER for a memory DC or a DC of another window.  The
// objects the DC had selected are no longer selected.
VPLATFORM_API int ReleaseDC(HWND hWnd, HDC hDC);
}

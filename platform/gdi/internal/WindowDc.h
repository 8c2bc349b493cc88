// The DCs of the display, for the window layer: GDI makes and ends them,
// USER's GetDC and ReleaseDC (platform/user/DisplayDc.h) decide for which
// window and check it.
//
// A display DC is like the screen's (32 bits per pixel, 96 DPI, the default
// attributes at every GetDC) and remembers its window (null for the
// screen's).  Nothing is drawn, so GDI needs neither the window's size nor
// its position; only a clip box (GetClipBox) starts from the DC's surface,
// which GDI asks the function given at the DC's creation, without the DC's
// lock held.  When a window is destroyed, the window layer calls
// ReleaseWindowDcs so that the DCs that its users did not release stop
// working and stop counting.
//
// Threads: every function may be called from any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

namespace vplatform::gdi {

// The rectangle a display DC draws on, in its own coordinates (0, 0 at the
// top left), for its window (null: the screen).  It may set the last error.
using SurfaceOf = RECT (*)(HWND window);

// A new DC of the screen with the default attributes; null with the last
// error set (ERROR_NOT_ENOUGH_QUOTA beyond the GDI quota).
VPLATFORM_API HDC MakeScreenDc(SurfaceOf surface);

// A new DC of `window` with the default attributes; null with the last error
// set (ERROR_NOT_ENOUGH_QUOTA beyond the GDI quota).  The caller has checked
// that `window` is a live window.  Without a surface function the surface is
// empty.
VPLATFORM_API HDC MakeWindowDc(HWND window, SurfaceOf surface = nullptr);

// Ends a display DC of `window` (null: the screen's): 1, or 0 with
// ERROR_INVALID_HANDLE for a handle that is no live DC and
// ERROR_INVALID_PARAMETER for a memory DC or a DC of another window.
VPLATFORM_API int ReleaseDisplayDc(HWND window, HDC hdc);

// Releases every DC of `window` that is still out: their handles fail from
// then on.  Returns how many there were.
VPLATFORM_API int ReleaseWindowDcs(HWND window);

}  // namespace vplatform::gdi

// The device contexts of windows, for the window layer.
//
// GetDC(hwnd) checks that the window lives and calls MakeWindowDc for it;
// ReleaseDC(hwnd, dc) gives such a DC back (its window must match).  A window's DC
// is a display DC like the screen's (32 bits per pixel, 96 DPI, the default
// attributes at every GetDC) that remembers its window; nothing is drawn, so
// it needs neither the window's size nor its position.  When a window is
// destroyed, the window layer calls ReleaseWindowDcs so that the DCs that its
// users did not release stop working and stop counting.
//
// Threads: both may be called from any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

namespace vplatform::gdi {

// A new DC of `window` with the default attributes; null with the last error
// set (ERROR_NOT_ENOUGH_QUOTA beyond the GDI quota).  The caller has checked
// that `window` is a live window.
VPLATFORM_API HDC MakeWindowDc(HWND window);

// Releases every DC of `window` that is still out: their handles fail from
// then on.  Returns how many there were.
VPLATFORM_API int ReleaseWindowDcs(HWND window);

}  // namespace vplatform::gdi

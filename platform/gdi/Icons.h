// Icons: CreateIconIndirect, CopyIcon, GetIconInfo, DestroyIcon.
//
// An icon holds its own copies of a mask bitmap and, for a colour icon, a
// colour bitmap (the bitmaps given to CreateIconIndirect stay the caller's).
// Icons are entries of the GDI handle table: each counts as one object in
// GetGuiResources(GR_GDIOBJECTS) until DestroyIcon.  They are not GDI objects
// for the object functions: GetObjectType gives 0 and DeleteObject and
// SelectObject refuse them.  A destroyed, stale or forged icon handle fails
// with ERROR_INVALID_CURSOR_HANDLE.
//
// Threads: every function may be called from any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

struct ICONINFO {
    BOOL fIcon;  // TRUE for an icon, FALSE for a cursor
    DWORD xHotspot;
    DWORD yHotspot;
    HBITMAP hbmMask;
    HBITMAP hbmColor;
};
using PICONINFO = ICONINFO*;

extern "C" {

// A new icon from copies of the bitmaps: `hbmMask` is required; without
// `hbmColor` the mask holds the AND mask over the XOR mask (twice the icon's
// height), as on Windows.  An icon's hotspot is its centre, a cursor's the
// given one.  Null with ERROR_INVALID_PARAMETER for a null `piconinfo` or
// mask, ERROR_INVALID_HANDLE for a bitmap handle that is not live.
VPLATFORM_API HICON CreateIconIndirect(PICONINFO piconinfo);
// A new icon with the same pixels.
VPLATFORM_API HICON CopyIcon(HICON hIcon);
// The icon's description with new copies of its bitmaps, which the caller
// deletes with DeleteObject.  FALSE with ERROR_INVALID_PARAMETER for a null
// `piconinfo`.
VPLATFORM_API BOOL GetIconInfo(HICON hIcon, PICONINFO piconinfo);
// Destroys the icon: its handle fails from then on.
VPLATFORM_API BOOL DestroyIcon(HICON hIcon);

}  // extern "C"

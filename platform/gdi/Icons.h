// Icons: CreateIconIndirect, CopyIcon, GetIconInfo, DestroyIcon, and icons
// from resource data: LookupIconIdFromDirectoryEx, CreateIconFromResourceEx.
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

// Load flags of CreateIconFromResourceEx (and the image loaders).
constexpr UINT LR_DEFAULTCOLOR = 0x0000;
constexpr UINT LR_MONOCHROME = 0x0001;
constexpr UINT LR_DEFAULTSIZE = 0x0040;
constexpr UINT LR_SHARED = 0x8000;

// The size an icon takes when no size is asked for (SM_CXICON, SM_CYICON).
constexpr int kDefaultIconSize = 32;

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
// Destroys the icon: its handle fails from then on.  FALSE with
// ERROR_INVALID_CURSOR_HANDLE for a destroyed, stale or forged handle.
VPLATFORM_API BOOL DestroyIcon(HICON hIcon);

// The id (nID) of the image of an icon or cursor group directory (an
// RT_GROUP_ICON / RT_GROUP_CURSOR resource: a 6-byte header and 14-byte
// entries) that best fits the size and the screen's colour depth: the entries
// whose width and height are nearest (sum of the differences; 0 in the
// directory means 256), among them the larger image, then the colour depth
// nearest the screen's 32 bits (1 bit with LR_MONOCHROME).  A desired size of
// 0 means kDefaultIconSize.  `presbits` must hold the header and every entry
// its count announces.  0 with ERROR_INVALID_PARAMETER for a null pointer, a
// directory of the other kind (icon/cursor) or without entries.
VPLATFORM_API int LookupIconIdFromDirectoryEx(PBYTE presbits, BOOL fIcon, int cxDesired, int cyDesired, UINT Flags);

// A new icon (or cursor) from one image's resource data: a DIB of twice the
// icon's height (1, 4, 8, 16, 24 or 32 bits per pixel, colour table, XOR
// pixels, 1-bit AND mask) or a PNG; a cursor's data starts with its hotspot
// (two WORDs).  32-bit pixels with any alpha keep it, otherwise the AND mask
// gives transparency.  The icon is cxDesired x cyDesired, scaled by area
// averaging; a 0 takes the image's own size, or kDefaultIconSize with
// LR_DEFAULTSIZE.  LR_MONOCHROME makes a black-and-white icon with only a
// mask bitmap.  `dwVer` must be 0x00030000 (or the older 0x00020000).
// Null with ERROR_INVALID_PARAMETER for a null pointer, a bad version or a
// negative size, ERROR_INVALID_DATA for data that is truncated or no image,
// ERROR_NOT_ENOUGH_MEMORY for an image above 1 GiB of pixels.
VPLATFORM_API HICON CreateIconFromResourceEx(PBYTE presbits, DWORD dwResSize, BOOL fIcon, DWORD dwVer, int cxDesired,
                                             int cyDesired, UINT Flags);

}  // extern "C"

// GDI: device contexts and the objects drawn with them (regions, bitmaps,
// brushes, pens, stock objects), under their gdi32 names.  Fonts and text
// measuring are in platform/gdi/Fonts.h, DrawTextW in platform/gdi/DrawText.h,
// icons in platform/gdi/Icons.h.
//
// There is no display server behind these DCs.  GetDC(nullptr) (USER's,
// platform/user/DisplayDc.h) is a screen DC with or without one: 32 bits per
// pixel at 96 dots per inch (what Windows reports to a process that is not
// DPI-aware), so that measured widths never depend on the machine.  Nothing is drawn: the DCs hold their attributes and
// selected objects, and bitmaps hold real, zero-filled pixels.
//
// Handles.  Every DC and object is an entry of the process's GDI handle table
// and counts in GetGuiResources(GR_GDIOBJECTS) until it is deleted or
// released; at most 10,000 live at once (then creation fails with
// ERROR_NOT_ENOUGH_QUOTA).  Stock objects (GetStockObject) are permanent,
// shared and not counted.  A deleted, released, stale (its slot reused),
// forged or wrong-type handle fails with ERROR_INVALID_HANDLE and never
// reaches another object.
//
// Windows' object rules.  DeleteObject refuses (FALSE, ERROR_BUSY) an object
// that is selected into a DC, also one selected in a state that SaveDC kept,
// and leaves a stock object alone (TRUE).  A bitmap is selected into one
// memory DC at a time.  A DC from GetDC is given back with ReleaseDC, a memory
// DC deleted with DeleteDC; each refuses the other's DCs.  Every DC starts
// with the default attributes: SYSTEM_FONT, WHITE_BRUSH, BLACK_PEN, a 1x1
// monochrome bitmap for a memory DC, OPAQUE background mode, black text on a
// white background, MM_TEXT, no clipping region; GetDC always gives such a
// DC, whatever the last one released had selected.
//
// Threads: every function may be called from any thread.  A DC serialises the
// calls made on it; objects may be selected into DCs of several threads at
// once (a font into the DC of every thread that measures with it).
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

// GetObjectType results and GetCurrentObject kinds.
constexpr DWORD OBJ_PEN = 1;
constexpr DWORD OBJ_BRUSH = 2;
constexpr DWORD OBJ_DC = 3;
constexpr DWORD OBJ_FONT = 6;
constexpr DWORD OBJ_BITMAP = 7;
constexpr DWORD OBJ_REGION = 8;
constexpr DWORD OBJ_MEMDC = 10;

// GetStockObject.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int OEM_FIXED_FONT = 10;
constexpr int ANSI_FIXED_FONT = 11;
constexpr int ANSI_VAR_FONT = 12;
constexpr int SYSTEM_FONT = 13;
constexpr int DEVICE_DEFAULT_FONT = 14;
constexpr int DEFAULT_PALETTE = 15;
constexpr int SYSTEM_FIXED_FONT = 16;
constexpr int DEFAULT_GUI_FONT = 17;
constexpr int DC_BRUSH = 18;
constexpr int DC_PEN = 19;

// Background modes, map modes, colours.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr int MM_TEXT = 1;
constexpr int MM_LOMETRIC = 2;
constexpr int MM_HIMETRIC = 3;
constexpr int MM_LOENGLISH = 4;
constexpr int MM_HIENGLISH = 5;
constexpr int MM_TWIPS = 6;
constexpr int MM_ISOTROPIC = 7;
constexpr int MM_ANISOTROPIC = 8;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;
constexpr int GDI_ERROR = -1;
inline const HGDIOBJ HGDI_ERROR = reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(-1));

// GetDeviceCaps.
constexpr int TECHNOLOGY = 2;
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int DT_RASDISPLAY = 1;

// Region types (results of the region functions) and CombineRgn modes.
// ERROR is the region functions' failure result.
constexpr int ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;
constexpr int COMPLEXREGION = 3;
constexpr int RGN_AND = 1;
constexpr int RGN_OR = 2;
constexpr int RGN_XOR = 3;
constexpr int RGN_DIFF = 4;
constexpr int RGN_COPY = 5;

// Brushes and pens.
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;
constexpr UINT BS_HOLLOW = BS_NULL;
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;

struct LOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
};

struct LOGPEN {
    UINT lopnStyle;
    POINT lopnWidth;
    COLORREF lopnColor;
};

// Bitmaps.  bmBits is the pixel memory of a DIB section, null for a bitmap
// of the device (CreateCompatibleBitmap, CreateBitmap), whose pixels are read
// and written with GetBitmapBits/SetBitmapBits; its rows (bmWidthBytes) are
// padded to 2 bytes, a DIB section's to 4.
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // negative: rows from the top down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

// The largest bitmap the platform allocates: 1 GiB of pixels.
constexpr ULONGLONG kMaxBitmapBytes = ULONGLONG{1} << 30;

extern "C" {

// --- Device contexts --------------------------------------------------------

// The DCs of the screen and of windows come from USER: GetDC and ReleaseDC
// in platform/user/DisplayDc.h.
// A memory DC compatible with `hdc` (null: the screen), with a 1x1 monochrome
// bitmap selected.  Null with ERROR_INVALID_HANDLE for a bad DC.
VPLATFORM_API HDC CreateCompatibleDC(HDC hdc);
// Deletes a memory DC; its selected objects are no longer selected.  FALSE
// with ERROR_INVALID_HANDLE for a bad handle, ERROR_INVALID_PARAMETER for a
// DC of GetDC (release it instead).
VPLATFORM_API BOOL DeleteDC(HDC hdc);

// Saves the DC's attributes, selected objects and clipping region on its
// stack: the new depth (1 for the first), or 0 with ERROR_INVALID_HANDLE.
VPLATFORM_API int SaveDC(HDC hdc);
// Restores the state saved at depth `nSavedDC` (negative: that many from the
// top, -1 the last) and drops it and every later one.  FALSE with
// ERROR_INVALID_PARAMETER for a depth that is not on the stack.
VPLATFORM_API BOOL RestoreDC(HDC hdc, int nSavedDC);

// Selects a font, brush, pen or bitmap into the DC and returns the handle of
// the object of that kind it replaces; a region becomes the clipping region
// (a copy, as SelectClipRgn) and the result is its type.  Null with
// ERROR_INVALID_HANDLE for a bad DC or object (a DC or an icon included); a
// bitmap fails with ERROR_INVALID_PARAMETER for a DC that is not a memory DC
// or a bitmap whose format the DC cannot hold, with ERROR_BUSY when it is
// selected into another DC.  A failed region gives HGDI_ERROR.
VPLATFORM_API HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
// The selected object of a kind (OBJ_FONT, OBJ_BRUSH, OBJ_PEN, OBJ_BITMAP);
// null with ERROR_INVALID_PARAMETER for another kind.  A screen DC's bitmap
// is a stock 1x1 bitmap of 32 bits per pixel.
VPLATFORM_API HGDIOBJ GetCurrentObject(HDC hdc, UINT type);

// The attribute setters return the previous value; on a bad DC they return 0
// (CLR_INVALID for colours) with ERROR_INVALID_HANDLE.  A background mode
// other than TRANSPARENT and OPAQUE fails with ERROR_INVALID_PARAMETER.
VPLATFORM_API int SetBkMode(HDC hdc, int mode);
VPLATFORM_API int GetBkMode(HDC hdc);
VPLATFORM_API COLORREF SetTextColor(HDC hdc, COLORREF color);
VPLATFORM_API COLORREF GetTextColor(HDC hdc);
VPLATFORM_API COLORREF SetBkColor(HDC hdc, COLORREF color);
VPLATFORM_API COLORREF GetBkColor(HDC hdc);
// Only MM_TEXT (one logical unit is one pixel) is kept: the other modes fail
// with ERROR_CALL_NOT_IMPLEMENTED, values outside 1-8 with
// ERROR_INVALID_PARAMETER.
VPLATFORM_API int SetMapMode(HDC hdc, int mode);
VPLATFORM_API int GetMapMode(HDC hdc);

// LOGPIXELSX/LOGPIXELSY 96, BITSPIXEL 32, PLANES 1, TECHNOLOGY DT_RASDISPLAY,
// NUMCOLORS -1 (more than 256), for every DC; 0 for other indexes and for a
// bad DC.
VPLATFORM_API int GetDeviceCaps(HDC hdc, int index);

// Makes a copy of the region the DC's clipping region (null: no clipping);
// the caller keeps its region.  The new clipping region's type (SIMPLEREGION
// for none), or ERROR with ERROR_INVALID_HANDLE.
VPLATFORM_API int SelectClipRgn(HDC hdc, HRGN hrgn);
// Copies the DC's clipping region into the existing region `hrgn`: 1, or 0
// when the DC has none (`hrgn` unchanged), or -1 with ERROR_INVALID_HANDLE.
VPLATFORM_API int GetClipRgn(HDC hdc, HRGN hrgn);
// The smallest rectangle around what can be drawn on: the DC's surface (a
// window DC's client area, the screen, a memory DC's bitmap) cut by its
// clipping region.  The region's type (NULLREGION for nothing, then the
// rectangle is empty), or ERROR with ERROR_INVALID_HANDLE for a bad DC,
// ERROR_INVALID_PARAMETER for a null `lprect`.
VPLATFORM_API int GetClipBox(HDC hdc, LPRECT lprect);

// --- Objects ----------------------------------------------------------------

// A stock object: the brushes, pens and fonts above (the fonts carry the
// LOGFONTs Windows gives them; DEFAULT_GUI_FONT is "MS Shell Dlg", -11).
// Null with ERROR_INVALID_PARAMETER for DEFAULT_PALETTE (no palettes) and
// other indexes.
VPLATFORM_API HGDIOBJ GetStockObject(int i);
// Deletes a font, brush, pen, bitmap or region.  TRUE for a stock object,
// which stays.  FALSE with ERROR_BUSY while the object is selected into a DC,
// ERROR_INVALID_HANDLE for anything else (a DC or an icon included).
VPLATFORM_API BOOL DeleteObject(HGDIOBJ ho);
// Copies the object's description into `pv` (LOGFONTW for a font, BITMAP for
// a bitmap, LOGBRUSH, LOGPEN) and returns the bytes written, at most `c`; a
// null `pv` gives the size needed.  0 with ERROR_INVALID_HANDLE for a bad
// handle or a region (which has no description), ERROR_INVALID_PARAMETER for
// a negative `c`.
VPLATFORM_API int GetObjectW(HANDLE h, int c, LPVOID pv);
// OBJ_DC, OBJ_MEMDC, OBJ_FONT, OBJ_BITMAP, OBJ_BRUSH, OBJ_PEN, OBJ_REGION;
// 0 with ERROR_INVALID_HANDLE for anything else (an icon is no GDI object).
VPLATFORM_API DWORD GetObjectType(HGDIOBJ h);

VPLATFORM_API HBRUSH CreateSolidBrush(COLORREF color);
// BS_SOLID and BS_NULL; other styles fail with ERROR_INVALID_PARAMETER.
VPLATFORM_API HBRUSH CreateBrushIndirect(const LOGBRUSH* plbrush);
// Styles PS_SOLID to PS_INSIDEFRAME; others fail with ERROR_INVALID_PARAMETER.
VPLATFORM_API HPEN CreatePen(int iStyle, int cWidth, COLORREF color);

// --- Regions ----------------------------------------------------------------
//
// A region is a set of pixels: a union of rectangles, right and bottom edges
// exclusive.  The functions that change or read a region return its type
// (NULLREGION, SIMPLEREGION for one rectangle, COMPLEXREGION), or ERROR with
// ERROR_INVALID_HANDLE for a bad handle.

// The rectangle's region (its corners put in order); an empty rectangle
// gives the empty region.  CreateRectRgnIndirect fails with
// ERROR_INVALID_PARAMETER for a null rectangle.
VPLATFORM_API HRGN CreateRectRgn(int x1, int y1, int x2, int y2);
VPLATFORM_API HRGN CreateRectRgnIndirect(const RECT* lprect);
// Makes `hrgn` the rectangle's region: TRUE, or FALSE with the error.
VPLATFORM_API BOOL SetRectRgn(HRGN hrgn, int left, int top, int right, int bottom);
// Sets `hrgnDst` to src1 combined with src2 (RGN_AND, RGN_OR, RGN_XOR,
// RGN_DIFF) or to a copy of src1 (RGN_COPY, src2 unused).  The destination
// may be one of the sources.  Another mode fails with ERROR_INVALID_PARAMETER.
VPLATFORM_API int CombineRgn(HRGN hrgnDst, HRGN hrgnSrc1, HRGN hrgnSrc2, int iMode);
// TRUE when both regions hold the same pixels; FALSE when not, and with
// ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API BOOL EqualRgn(HRGN hrgn1, HRGN hrgn2);
// The smallest rectangle holding the region (all zero for the empty one).
VPLATFORM_API int GetRgnBox(HRGN hrgn, LPRECT lprc);
VPLATFORM_API int OffsetRgn(HRGN hrgn, int x, int y);
VPLATFORM_API BOOL PtInRegion(HRGN hrgn, int x, int y);
VPLATFORM_API BOOL RectInRegion(HRGN hrgn, const RECT* lprect);

// --- Bitmaps ----------------------------------------------------------------
//
// Sizes are checked in 64 bits: a width or height below 0, more than 1 plane,
// a bit count other than 1, 4, 8, 16, 24 or 32, or more than kMaxBitmapBytes
// of pixels fail with ERROR_INVALID_PARAMETER; pixels that cannot be
// allocated fail with ERROR_NOT_ENOUGH_MEMORY.

// A bitmap in the format of the DC's surface: 32 bits per pixel for the
// screen and window DCs, the format of the selected bitmap for a memory DC
// (so monochrome for a fresh one, as on Windows).  A width or height of 0
// gives a 1x1 monochrome bitmap.
VPLATFORM_API HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// A device bitmap of the given format, with `lpBits` (rows padded to 2 bytes)
// copied in when not null.  A width or height of 0 gives a 1x1 monochrome
// bitmap.
VPLATFORM_API HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits);
// A bitmap whose pixels the caller writes directly: `*ppvBits` receives them
// (rows padded to 4 bytes, bottom-up unless biHeight is negative).
// DIB_RGB_COLORS, BI_RGB (BI_BITFIELDS for 16 and 32 bits), a width above 0
// and a height not 0; file-mapping sections are not supported (a non-null
// `hSection` fails with ERROR_NOT_SUPPORTED).  `hdc` may be null.  On failure
// `*ppvBits` is null.
VPLATFORM_API HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                                       DWORD offset);
// Copies up to `cb` bytes of a bitmap's pixels out or in (rows as in BITMAP);
// the bytes copied, or 0 with ERROR_INVALID_HANDLE or ERROR_INVALID_PARAMETER
// (null buffer, negative count).
VPLATFORM_API LONG GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits);
VPLATFORM_API LONG SetBitmapBits(HBITMAP hbm, DWORD cb, const void* pvBits);

}  // extern "C"

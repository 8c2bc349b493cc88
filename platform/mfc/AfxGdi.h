// MFC's GDI classes over the platform's GDI: CGdiObject with CFont, CRgn,
// CBitmap, CBrush and CPen, and CDC, with MFC's signatures and handle maps.
//
// Ownership.  An object owns the handle it created (its Create… members) or
// was given with Attach: CGdiObject's destructor deletes its object
// (DeleteObject), CDC's deletes its DC (DeleteDC).  A DC from GetDC is given
// back with ReleaseDC by whoever got it: attach it to a CDC only to detach it
// again.  Detach hands the handle back without deleting it.  A Create…
// member of an object that owns a handle already returns FALSE and leaves it
// as it was (MFC asserts), without leaking a new handle.
//
// Handle maps, one set per thread as in MFC.  FromHandle returns the object
// of the calling thread that owns the handle, or else a temporary object that
// wraps it without owning it (never deleting it).  Temporaries live until
// the thread's idle clean-up, AfxUnlockTempMaps (which a message loop calls
// whenever its queue runs empty, as CWinThread::OnIdle does), or until the
// thread ends: keep their pointers no longer than the current message.
// CDC::SelectObject and GetCurrentFont… return such pointers.  The typed
// FromHandle functions (CFont::FromHandle…) return null for a null handle or
// one that is not of their kind (a stale handle included), where MFC would
// hand out a wrongly typed pointer.
//
// A CDC keeps one DC for output and attributes (m_hAttribDC is m_hDC).
//
// Threads: an object belongs to the thread that created or attached it (its
// handle map); the handles themselves may be used from any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/gdi/DrawText.h"
#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi.h"
#include "platform/mfc/AfxGeometry.h"
#include "platform/mfc/AfxString.h"

class CDC;

class VPLATFORM_API CGdiObject {
public:
    CGdiObject() = default;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    // Deletes the object it owns.
    virtual ~CGdiObject();

    operator HGDIOBJ() const { return m_hObject; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }

    // The owning object of the calling thread, or a temporary one of the
    // class matching the handle's kind; null for a null handle.
    static CGdiObject* FromHandle(HGDIOBJ hObject);
    // Deletes the calling thread's temporary objects now.
    static void DeleteTempMap();

    // Takes ownership of `hObject`: FALSE (nothing done) for a null handle or
    // when the object owns one already.
    BOOL Attach(HGDIOBJ hObject);
    // Gives up the handle without deleting it.
    HGDIOBJ Detach();
    // Deletes the owned object (DeleteObject) and forgets it; FALSE when it
    // owns none or GDI refuses (the object is selected into a DC: the handle
    // is then kept).
    BOOL DeleteObject();

    int GetObject(int nCount, LPVOID lpObject) const;
    UINT GetObjectType() const;
    // Owns the stock object (deleting it later does nothing).
    BOOL CreateStockObject(int nIndex);

    HGDIOBJ m_hObject = nullptr;
};

class VPLATFORM_API CFont : public CGdiObject {
public:
    static CFont* FromHandle(HFONT hFont);
    operator HFONT() const { return static_cast<HFONT>(GetSafeHandle()); }

    BOOL CreateFontIndirect(const LOGFONTW* lpLogFont);
    BOOL CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                    BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                    BYTE nQuality, BYTE nPitchAndFamily, LPCWSTR lpszFacename);
    // A font `nPointSize` tenths of a point high on `pDC` (null: the screen,
    // 96 DPI): lfHeight = -MulDiv(nPointSize, 96, 720), so 80 gives -11.
    BOOL CreatePointFont(int nPointSize, LPCWSTR lpszFaceName, CDC* pDC = nullptr);
    // The same with lfHeight in tenths of a point.
    BOOL CreatePointFontIndirect(const LOGFONTW* lpLogFont, CDC* pDC = nullptr);
    int GetLogFont(LOGFONTW* pLogFont) const;
};

class VPLATFORM_API CRgn : public CGdiObject {
public:
    static CRgn* FromHandle(HRGN hRgn);
    operator HRGN() const { return static_cast<HRGN>(GetSafeHandle()); }

    BOOL CreateRectRgn(int x1, int y1, int x2, int y2);
    BOOL CreateRectRgnIndirect(LPCRECT lpRect);
    // This region set to the two combined (it must exist already).
    int CombineRgn(const CRgn* pRgn1, const CRgn* pRgn2, int nCombineMode);
    int CopyRgn(const CRgn* pRgnSrc);
    BOOL EqualRgn(const CRgn* pRgn) const;
    int GetRgnBox(LPRECT lpRect) const;
    int OffsetRgn(int x, int y);
    int OffsetRgn(POINT point) { return OffsetRgn(point.x, point.y); }
    BOOL PtInRegion(int x, int y) const;
    BOOL PtInRegion(POINT point) const { return PtInRegion(point.x, point.y); }
    BOOL RectInRegion(LPCRECT lpRect) const;
    void SetRectRgn(int x1, int y1, int x2, int y2);
    void SetRectRgn(LPCRECT lpRect);
};

class VPLATFORM_API CBitmap : public CGdiObject {
public:
    static CBitmap* FromHandle(HBITMAP hBitmap);
    operator HBITMAP() const { return static_cast<HBITMAP>(GetSafeHandle()); }

    BOOL CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitcount, const void* lpBits);
    BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
    int GetBitmap(BITMAP* pBitMap) const;
    DWORD GetBitmapBits(DWORD dwCount, LPVOID lpBits) const;
    DWORD SetBitmapBits(DWORD dwCount, const void* lpBits);
};

class VPLATFORM_API CBrush : public CGdiObject {
public:
    CBrush() = default;
    // Throws CResourceException (MFC's) when the brush cannot be created.
    explicit CBrush(COLORREF crColor);
    static CBrush* FromHandle(HBRUSH hBrush);
    operator HBRUSH() const { return static_cast<HBRUSH>(GetSafeHandle()); }
    BOOL CreateSolidBrush(COLORREF crColor);
};

class VPLATFORM_API CPen : public CGdiObject {
public:
    CPen() = default;
    // Throws CResourceException (MFC's) when the pen cannot be created.
    CPen(int nPenStyle, int nWidth, COLORREF crColor);
    static CPen* FromHandle(HPEN hPen);
    operator HPEN() const { return static_cast<HPEN>(GetSafeHandle()); }
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
};

class VPLATFORM_API CDC {
public:
    CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;
    // Deletes the DC it owns (DeleteDC).
    virtual ~CDC();

    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }

    // The owning CDC of the calling thread, or a temporary one; null for a
    // null handle.
    static CDC* FromHandle(HDC hDC);
    static void DeleteTempMap();

    BOOL Attach(HDC hDC);
    HDC Detach();
    // A memory DC compatible with `pDC` (null: the screen).
    BOOL CreateCompatibleDC(CDC* pDC);
    // Deletes the owned DC; FALSE when there is none or GDI refuses it (a DC
    // from GetDC: the handle is given up all the same).
    BOOL DeleteDC();

    virtual int SaveDC();
    virtual BOOL RestoreDC(int nSavedDC);

    // The previously selected object, as a temporary (see above); null on
    // failure and for a null argument.
    CGdiObject* SelectStockObject(int nIndex);
    CFont* SelectObject(CFont* pFont);
    CBitmap* SelectObject(CBitmap* pBitmap);
    CBrush* SelectObject(CBrush* pBrush);
    CPen* SelectObject(CPen* pPen);
    CGdiObject* SelectObject(CGdiObject* pObject);
    // The region's type (the clipping region becomes a copy of it), or
    // GDI_ERROR.
    int SelectObject(CRgn* pRgn);
    CFont* GetCurrentFont() const;
    CBitmap* GetCurrentBitmap() const;
    CBrush* GetCurrentBrush() const;
    CPen* GetCurrentPen() const;

    int SetBkMode(int nBkMode);
    int GetBkMode() const;
    virtual COLORREF SetTextColor(COLORREF crColor);
    COLORREF GetTextColor() const;
    virtual COLORREF SetBkColor(COLORREF crColor);
    COLORREF GetBkColor() const;
    virtual int SetMapMode(int nMapMode);
    int GetMapMode() const;
    int GetDeviceCaps(int nIndex) const;
    // A null region removes the clipping region.
    virtual int SelectClipRgn(CRgn* pRgn);

    // DrawTextW (measuring only, with DT_CALCRECT).
    virtual int DrawText(LPCWSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat);
    int DrawText(const CString& str, LPRECT lpRect, UINT nFormat);
    // The text's extent in the DC's font; (0, 0) on failure.
    CSize GetTextExtent(LPCWSTR lpszString, int nCount) const;
    CSize GetTextExtent(const CString& str) const;
    BOOL GetTextMetrics(LPTEXTMETRICW lpMetrics) const;

    HDC m_hDC = nullptr;
    HDC m_hAttribDC = nullptr;
};

// The thread's temporary-map lock.  AfxUnlockTempMaps undoes one
// AfxLockTempMaps; when that leaves no lock it deletes the thread's temporary
// objects (with `bDeleteTemps`) and returns TRUE.  A message loop's idle
// step calls AfxLockTempMaps() then AfxUnlockTempMaps() when no lock is held.
VPLATFORM_API void AfxLockTempMaps();
VPLATFORM_API BOOL AfxUnlockTempMaps(BOOL bDeleteTemps = TRUE);

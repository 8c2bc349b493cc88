// MFC's windows: CWnd over the platform's windows (platform/user/Window.h)
// and CStatic, a CWnd of the "STATIC" class (platform/user/StaticControl.h).
//
// Ownership.  A CWnd holds in m_hWnd the window it created (CreateEx,
// Create) or was given with Attach, and its destructor destroys that window
// (DestroyWindow) unless Detach gave it up first.  A window that is
// destroyed by other means (DestroyWindow of its handle or of its parent,
// WM_CLOSE) leaves the CWnd that created it empty (m_hWnd null) once it gets
// WM_NCDESTROY; one that was attached is noticed at the CWnd's next
// DestroyWindow.
//
// Messages.  CreateEx hooks the window it creates: from then on (the
// creation messages go to the class's procedure alone) every message goes
// to the object's WindowProc, which calls the ON_MESSAGE and
// ON_REGISTERED_MESSAGE entries of its message map and sends the others to
// DefWindowProc, the class's own procedure.  After WM_NCDESTROY the object
// is detached and PostNcDestroy is called (an object may delete itself
// there).  Attach does not hook a window.
//
// Handle maps, as for CDC (platform/mfc/AfxGdi.h).  FromHandlePermanent
// returns the CWnd attached to a window (null when none is); FromHandle
// returns that CWnd, or else a temporary one of the calling thread that
// wraps the handle without owning it (never destroying the window).
// Temporaries live until the thread's idle clean-up (AfxUnlockTempMaps) or
// until the thread ends: keep their pointers no longer than the current
// message.  GetParent, GetFont and GetDC return such pointers.
//
// Failures are those of the Win32 functions each member calls (the last
// error is theirs); a CWnd without a window fails every call on its window
// with ERROR_INVALID_WINDOW_HANDLE.
//
// Threads: a CWnd belongs to the thread of its window: create, destroy,
// attach and detach it there (DestroyWindow of another thread's window
// fails with ERROR_ACCESS_DENIED).  SendMessage and PostMessage may be
// called from any thread, with a window of that thread's own.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxCmdTarget.h"
#include "platform/mfc/AfxGdi.h"
#include "platform/mfc/AfxGeometry.h"
#include "platform/mfc/AfxString.h"
#include "platform/user/DisplayDc.h"
#include "platform/user/Messages.h"
#include "platform/user/StaticControl.h"
#include "platform/user/Window.h"

class VPLATFORM_API CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)

public:
    CWnd();
    // Destroys the window it holds (see above).
    ~CWnd() override;

    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The CWnd attached to `hWnd`, or a temporary one (see above); null for
    // a null handle.
    static CWnd* FromHandle(HWND hWnd);
    // The CWnd attached to `hWnd`, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);
    // Deletes the calling thread's temporary CWnd objects now.
    static void DeleteTempMap();

    // Takes `hWndNew` (not hooked): FALSE with ERROR_INVALID_PARAMETER for a
    // null handle, ERROR_ALREADY_EXISTS when the object holds a window or
    // the window has a CWnd attached already.
    BOOL Attach(HWND hWndNew);
    // Gives up the window without destroying it (a hooked window gets its
    // class's procedure back); null when it holds none.
    HWND Detach();

    // CreateWindowExW, then the window is attached and hooked.  FALSE with
    // ERROR_ALREADY_EXISTS when the object holds a window already, else with
    // CreateWindowExW's error.
    virtual BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, int x, int y,
                          int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    virtual BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                          const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    // A child window (WS_CHILD is added) of `pParentWnd` with the
    // identifier `nID`.
    virtual BOOL Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID);
    // Destroys the window; FALSE when it holds none or DestroyWindow fails.
    virtual BOOL DestroyWindow();

    // The window rectangle in screen coordinates (coordinates of a child
    // included), and the client rectangle from (0, 0); unchanged on failure.
    void GetWindowRect(LPRECT lpRect) const;
    void GetClientRect(LPRECT lpRect) const;
    // `pWndInsertAfter` null: no Z order change asked (as HWND_TOP).
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    int GetDlgCtrlID() const;

    void SetWindowText(LPCWSTR lpszString);
    int GetWindowText(LPWSTR lpszStringBuf, int nMaxCount) const;
    // The whole text; empty on failure.
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const;
    // The names of the UNICODE build of MFC's headers.
    void SetWindowTextW(LPCWSTR lpszString) { SetWindowText(lpszString); }
    int GetWindowTextW(LPWSTR lpszStringBuf, int nMaxCount) const { return GetWindowText(lpszStringBuf, nMaxCount); }
    void GetWindowTextW(CString& rString) const { GetWindowText(rString); }

    // WM_SETFONT and WM_GETFONT.  The window does not own the font: keep the
    // CFont alive while the window uses it.  GetFont: a temporary (or the
    // owning CFont of this thread), null when the window has no font (it
    // uses the system font).
    void SetFont(CFont* pFont, BOOL bRedraw = TRUE);
    CFont* GetFont() const;

    // The DC of the client area (GetDC of the window) as a temporary CDC;
    // null when there is none.  Give it back with ReleaseDC.
    CDC* GetDC();
    int ReleaseDC(CDC* pDC);

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // The parent of a child, else the owner, as FromHandle gives it; null
    // when there is none.
    CWnd* GetParent() const;

    HWND m_hWnd = nullptr;

protected:
    // A hooked window's messages: the message map's entry, else
    // DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The class's own procedure (the one the hook replaced).
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window's last message; the object is detached.
    virtual void PostNcDestroy();

private:
    friend struct CWndAccess;

    WNDPROC m_pfnSuper = nullptr;  // non-null while the window is hooked
};

class VPLATFORM_API CStatic : public CWnd {
    DECLARE_DYNAMIC(CStatic)

public:
    CStatic();
    ~CStatic() override;

    using CWnd::Create;
    // A "STATIC" child window of `pParentWnd` showing `lpszText`.
    virtual BOOL Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID = 0xffff);
};

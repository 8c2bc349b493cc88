// CWnd, its handle maps and hook, and CStatic.
#include "platform/mfc/AfxWin.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/WinError.h"

// Reaches the hooked window's members from the hook procedure.
struct CWndAccess {
    static LRESULT Dispatch(CWnd& wnd, UINT message, WPARAM wParam, LPARAM lParam) {
        return wnd.WindowProc(message, wParam, lParam);
    }
    static void NcDestroyed(CWnd& wnd) {
        wnd.Detach();
        wnd.PostNcDestroy();
    }
};

namespace {

// The CWnd attached to each window, for every thread (a window's messages
// may come while another thread asks for its CWnd).
struct PermanentMap {
    std::mutex mutex;
    std::unordered_map<HWND, CWnd*> windows;
};

PermanentMap& Permanent() {
    static auto* map = new PermanentMap;  // never destroyed: CWnd objects may outlive static destruction
    return *map;
}

// The calling thread's temporary CWnd objects.  The flag is trivially
// destructible, so that it can be read after the thread's thread_local
// objects are gone.
thread_local bool t_tempsGone = false;

struct TempHolder {
    std::unordered_map<HWND, std::unique_ptr<CWnd>>* temps = nullptr;
    ~TempHolder() {
        CWnd::DeleteTempMap();
        delete temps;
        temps = nullptr;
        t_tempsGone = true;
    }
};
thread_local TempHolder t_temps;

std::unordered_map<HWND, std::unique_ptr<CWnd>>* Temps() {
    if (t_tempsGone) return nullptr;
    if (t_temps.temps == nullptr) t_temps.temps = new std::unordered_map<HWND, std::unique_ptr<CWnd>>;
    return t_temps.temps;
}

// The procedure of every hooked window.
LRESULT CALLBACK HookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
    if (wnd == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    const LRESULT result = CWndAccess::Dispatch(*wnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) CWndAccess::NcDestroyed(*wnd);
    return result;
}

}  // namespace

// --- CWnd ---------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (m_hWnd != nullptr) CWnd::DestroyWindow();
    // Destroying failed (a window of another thread): leave it, unhooked.
    if (m_hWnd != nullptr) Detach();
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    if (CWnd* permanent = FromHandlePermanent(hWnd)) return permanent;
    auto* temps = Temps();
    if (temps == nullptr) return nullptr;
    auto& temporary = (*temps)[hWnd];
    if (!temporary) {
        temporary = std::make_unique<CWnd>();
        temporary->m_hWnd = hWnd;
    }
    return temporary.get();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    PermanentMap& map = Permanent();
    const std::lock_guard lock(map.mutex);
    const auto found = map.windows.find(hWnd);
    return found != map.windows.end() ? found->second : nullptr;
}

void CWnd::DeleteTempMap() {
    if (t_temps.temps == nullptr) return;
    auto temps = std::move(*t_temps.temps);
    t_temps.temps->clear();
    for (auto& [handle, wnd] : temps) wnd->m_hWnd = nullptr;  // a temporary never destroys its window
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (hWndNew == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (m_hWnd != nullptr) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    PermanentMap& map = Permanent();
    const std::lock_guard lock(map.mutex);
    if (!map.windows.emplace(hWndNew, this).second) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach() {
    const HWND hwnd = std::exchange(m_hWnd, nullptr);
    if (hwnd == nullptr) return nullptr;
    if (m_pfnSuper != nullptr) {
        // Only our own hook is taken away; a procedure set over it stays.
        if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == &HookProc) {
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        }
        m_pfnSuper = nullptr;
    }
    PermanentMap& map = Permanent();
    const std::lock_guard lock(map.mutex);
    if (const auto found = map.windows.find(hwnd); found != map.windows.end() && found->second == this) {
        map.windows.erase(found);
    }
    return hwnd;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam) {
    if (m_hWnd != nullptr) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    const HWND hwnd = ::CreateWindowExW(dwExStyle, lpszClassName, lpszWindowName, dwStyle, x, y, nWidth, nHeight,
                                        hWndParent, nIDorHMenu, nullptr, lpParam);
    if (hwnd == nullptr) return FALSE;
    if (!Attach(hwnd)) {
        const DWORD error = ::GetLastError();
        ::DestroyWindow(hwnd);
        ::SetLastError(error);
        return FALSE;
    }
    m_pfnSuper = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HookProc));
    return TRUE;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                    CWnd* pParentWnd, UINT nID, LPVOID lpParam) {
    return CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), lpParam);
}

BOOL CWnd::Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                  UINT nID) {
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect, pParentWnd, nID);
}

BOOL CWnd::DestroyWindow() {
    const HWND hwnd = m_hWnd;
    if (hwnd == nullptr) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const bool hooked = m_pfnSuper != nullptr;
    if (::DestroyWindow(hwnd)) {
        // A hooked window was detached at WM_NCDESTROY, and PostNcDestroy
        // may have deleted this object: it is not touched again.
        if (!hooked) Detach();
        return TRUE;
    }
    // A window that is gone already (ended with its thread, or destroyed
    // while merely attached) leaves the object empty.
    if (!::IsWindow(hwnd) && m_hWnd == hwnd) {
        const DWORD error = ::GetLastError();
        Detach();
        ::SetLastError(error);
    }
    return FALSE;
}

void CWnd::GetWindowRect(LPRECT lpRect) const {
    ::GetWindowRect(m_hWnd, lpRect);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    ::GetClientRect(m_hWnd, lpRect);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
    return ::SetWindowPos(m_hWnd, pWndInsertAfter != nullptr ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx, cy, nFlags);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
    ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint) {
    if (lpRect == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top, bRepaint);
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}

DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
}

DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
}

int CWnd::GetDlgCtrlID() const {
    return static_cast<int>(::GetWindowLongPtrW(m_hWnd, GWLP_ID));
}

void CWnd::SetWindowText(LPCWSTR lpszString) {
    ::SetWindowTextW(m_hWnd, lpszString);
}

int CWnd::GetWindowText(LPWSTR lpszStringBuf, int nMaxCount) const {
    return ::GetWindowTextW(m_hWnd, lpszStringBuf, nMaxCount);
}

void CWnd::GetWindowText(CString& rString) const {
    const int length = ::GetWindowTextLengthW(m_hWnd);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int copied = length > 0 ? ::GetWindowTextW(m_hWnd, text.data(), length + 1) : 0;
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    rString = CString(std::move(text));
}

int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthW(m_hWnd);
}

void CWnd::SetFont(CFont* pFont, BOOL bRedraw) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(pFont != nullptr ? pFont->GetSafeHandle() : nullptr), bRedraw);
}

CFont* CWnd::GetFont() const {
    return CFont::FromHandle(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)));
}

CDC* CWnd::GetDC() {
    if (m_hWnd == nullptr) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return CDC::FromHandle(::GetDC(m_hWnd));
}

int CWnd::ReleaseDC(CDC* pDC) {
    if (pDC == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return ::ReleaseDC(m_hWnd, pDC->m_hDC);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message)) {
        if (entry->nMessage == 0xC000 || entry->nSig == AfxSig_lwl) {
            return reinterpret_cast<AFX_WNDMSG_FN>(entry->pfn)(this, wParam, lParam);
        }
    }
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper != nullptr) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

void CWnd::PostNcDestroy() {}

// --- CStatic ------------------------------------------------------------------

IMPLEMENT_DYNAMIC(CStatic, CWnd)

CStatic::CStatic() = default;

CStatic::~CStatic() = default;

BOOL CStatic::Create(LPCWSTR lpszText, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
    return CWnd::Create(L"STATIC", lpszText, dwStyle, rect, pParentWnd, nID);
}

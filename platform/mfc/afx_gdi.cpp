// MFC's GDI classes and their per-thread handle maps.
#include "platform/mfc/AfxGdi.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_map>

#include "platform/mfc/AfxException.h"
#include "platform/mfc/AfxWin.h"

namespace {

// The calling thread's handle maps: the objects that own handles
// (permanent) and the temporary wrappers FromHandle made.
struct HandleMaps {
    std::unordered_map<HGDIOBJ, CGdiObject*> objects;
    std::unordered_map<HGDIOBJ, std::unique_ptr<CGdiObject>> tempObjects;
    std::unordered_map<HDC, CDC*> dcs;
    std::unordered_map<HDC, std::unique_ptr<CDC>> tempDcs;
    int lockCount = 0;

    void DeleteTempObjects() {
        auto temps = std::move(tempObjects);
        tempObjects.clear();
        for (auto& [handle, object] : temps) object->m_hObject = nullptr;  // a temporary never deletes
    }
    void DeleteTempDcs() {
        auto temps = std::move(tempDcs);
        tempDcs.clear();
        for (auto& [handle, dc] : temps) dc->m_hDC = dc->m_hAttribDC = nullptr;
    }
};

// Trivially destructible, so that it can be read after the thread's
// thread_local objects are gone (an owning object destroyed at process exit
// then finds no maps).
thread_local bool t_mapsGone = false;

struct MapsHolder {
    HandleMaps* maps = nullptr;
    ~MapsHolder() {
        if (maps != nullptr) {
            maps->DeleteTempObjects();
            maps->DeleteTempDcs();
            delete maps;
        }
        t_mapsGone = true;
    }
};
thread_local MapsHolder t_holder;

HandleMaps* Maps() {
    if (t_mapsGone) return nullptr;
    if (t_holder.maps == nullptr) t_holder.maps = new HandleMaps;
    return t_holder.maps;
}

// A temporary object of the class that matches the handle's kind.
std::unique_ptr<CGdiObject> MakeTemporary(HGDIOBJ handle) {
    std::unique_ptr<CGdiObject> object;
    switch (::GetObjectType(handle)) {
        case OBJ_FONT:
            object = std::make_unique<CFont>();
            break;
        case OBJ_BITMAP:
            object = std::make_unique<CBitmap>();
            break;
        case OBJ_REGION:
            object = std::make_unique<CRgn>();
            break;
        case OBJ_BRUSH:
            object = std::make_unique<CBrush>();
            break;
        case OBJ_PEN:
            object = std::make_unique<CPen>();
            break;
        default:
            object = std::make_unique<CGdiObject>();
            break;
    }
    object->m_hObject = handle;
    return object;
}

// Attach for a handle just made: one that cannot be attached (the object
// owns one already) is deleted again rather than leaked.
BOOL AttachMade(CGdiObject& object, HGDIOBJ made) {
    if (object.Attach(made)) return TRUE;
    if (made != nullptr) ::DeleteObject(made);
    return FALSE;
}

template <class T>
T* Typed(HGDIOBJ handle) {
    return dynamic_cast<T*>(CGdiObject::FromHandle(handle));
}

}  // namespace

// --- CGdiObject -------------------------------------------------------------

CGdiObject::~CGdiObject() {
    DeleteObject();
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ hObject) {
    HandleMaps* maps = Maps();
    if (hObject == nullptr || maps == nullptr) return nullptr;
    if (const auto owner = maps->objects.find(hObject); owner != maps->objects.end()) return owner->second;
    auto& temporary = maps->tempObjects[hObject];
    if (!temporary) temporary = MakeTemporary(hObject);
    return temporary.get();
}

void CGdiObject::DeleteTempMap() {
    if (HandleMaps* maps = Maps()) maps->DeleteTempObjects();
}

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
    if (hObject == nullptr || m_hObject != nullptr) return FALSE;
    m_hObject = hObject;
    if (HandleMaps* maps = Maps()) maps->objects[hObject] = this;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    const HGDIOBJ handle = m_hObject;
    if (handle != nullptr) {
        if (HandleMaps* maps = Maps()) {
            const auto owner = maps->objects.find(handle);
            if (owner != maps->objects.end() && owner->second == this) maps->objects.erase(owner);
        }
    }
    m_hObject = nullptr;
    return handle;
}

BOOL CGdiObject::DeleteObject() {
    if (m_hObject == nullptr) return FALSE;
    if (!::DeleteObject(m_hObject)) return FALSE;
    Detach();
    return TRUE;
}

int CGdiObject::GetObject(int nCount, LPVOID lpObject) const {
    return ::GetObjectW(m_hObject, nCount, lpObject);
}

UINT CGdiObject::GetObjectType() const {
    return ::GetObjectType(m_hObject);
}

BOOL CGdiObject::CreateStockObject(int nIndex) {
    return Attach(::GetStockObject(nIndex));
}

// --- CFont, CRgn, CBitmap, CBrush, CPen ---------------------------------------

CFont* CFont::FromHandle(HFONT hFont) {
    return Typed<CFont>(hFont);
}

BOOL CFont::CreateFontIndirect(const LOGFONTW* lpLogFont) {
    return AttachMade(*this, ::CreateFontIndirectW(lpLogFont));
}

BOOL CFont::CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                       BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                       BYTE nQuality, BYTE nPitchAndFamily, LPCWSTR lpszFacename) {
    return AttachMade(
        *this, ::CreateFontW(nHeight, nWidth, nEscapement, nOrientation, nWeight, bItalic, bUnderline, cStrikeOut,
                             nCharSet, nOutPrecision, nClipPrecision, nQuality, nPitchAndFamily, lpszFacename));
}

BOOL CFont::CreatePointFont(int nPointSize, LPCWSTR lpszFaceName, CDC* pDC) {
    LOGFONTW logFont{};
    logFont.lfCharSet = DEFAULT_CHARSET;
    logFont.lfHeight = nPointSize;
    for (int i = 0; lpszFaceName != nullptr && lpszFaceName[i] != 0 && i < LF_FACESIZE - 1; ++i) {
        logFont.lfFaceName[i] = lpszFaceName[i];
    }
    return CreatePointFontIndirect(&logFont, pDC);
}

BOOL CFont::CreatePointFontIndirect(const LOGFONTW* lpLogFont, CDC* pDC) {
    if (lpLogFont == nullptr) return FALSE;
    LOGFONTW logFont = *lpLogFont;
    const HDC dc = pDC != nullptr ? pDC->m_hDC : ::GetDC(nullptr);
    const long long dpi = dc != nullptr ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (pDC == nullptr && dc != nullptr) ::ReleaseDC(nullptr, dc);
    // Tenths of a point to pixels, rounded as MulDiv rounds.
    const long long tenths = logFont.lfHeight;
    const long long pixels = (std::llabs(tenths) * dpi + 360) / 720;
    logFont.lfHeight = static_cast<LONG>(-pixels);
    return CreateFontIndirect(&logFont);
}

int CFont::GetLogFont(LOGFONTW* pLogFont) const {
    return GetObject(sizeof(LOGFONTW), pLogFont);
}

CRgn* CRgn::FromHandle(HRGN hRgn) {
    return Typed<CRgn>(hRgn);
}

BOOL CRgn::CreateRectRgn(int x1, int y1, int x2, int y2) {
    return AttachMade(*this, ::CreateRectRgn(x1, y1, x2, y2));
}

BOOL CRgn::CreateRectRgnIndirect(LPCRECT lpRect) {
    return AttachMade(*this, ::CreateRectRgnIndirect(lpRect));
}

int CRgn::CombineRgn(const CRgn* pRgn1, const CRgn* pRgn2, int nCombineMode) {
    return ::CombineRgn(static_cast<HRGN>(m_hObject), pRgn1 != nullptr ? static_cast<HRGN>(pRgn1->m_hObject) : nullptr,
                        pRgn2 != nullptr ? static_cast<HRGN>(pRgn2->m_hObject) : nullptr, nCombineMode);
}

int CRgn::CopyRgn(const CRgn* pRgnSrc) {
    return CombineRgn(pRgnSrc, nullptr, RGN_COPY);
}

BOOL CRgn::EqualRgn(const CRgn* pRgn) const {
    return ::EqualRgn(static_cast<HRGN>(m_hObject), pRgn != nullptr ? static_cast<HRGN>(pRgn->m_hObject) : nullptr);
}

int CRgn::GetRgnBox(LPRECT lpRect) const {
    return ::GetRgnBox(static_cast<HRGN>(m_hObject), lpRect);
}

int CRgn::OffsetRgn(int x, int y) {
    return ::OffsetRgn(static_cast<HRGN>(m_hObject), x, y);
}

BOOL CRgn::PtInRegion(int x, int y) const {
    return ::PtInRegion(static_cast<HRGN>(m_hObject), x, y);
}

BOOL CRgn::RectInRegion(LPCRECT lpRect) const {
    return ::RectInRegion(static_cast<HRGN>(m_hObject), lpRect);
}

void CRgn::SetRectRgn(int x1, int y1, int x2, int y2) {
    ::SetRectRgn(static_cast<HRGN>(m_hObject), x1, y1, x2, y2);
}

void CRgn::SetRectRgn(LPCRECT lpRect) {
    if (lpRect != nullptr) SetRectRgn(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom);
}

CBitmap* CBitmap::FromHandle(HBITMAP hBitmap) {
    return Typed<CBitmap>(hBitmap);
}

BOOL CBitmap::CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitcount, const void* lpBits) {
    return AttachMade(*this, ::CreateBitmap(nWidth, nHeight, nPlanes, nBitcount, lpBits));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
    return AttachMade(*this, ::CreateCompatibleBitmap(pDC != nullptr ? pDC->m_hDC : nullptr, nWidth, nHeight));
}

int CBitmap::GetBitmap(BITMAP* pBitMap) const {
    return GetObject(sizeof(BITMAP), pBitMap);
}

DWORD CBitmap::GetBitmapBits(DWORD dwCount, LPVOID lpBits) const {
    return static_cast<DWORD>(::GetBitmapBits(static_cast<HBITMAP>(m_hObject),
                                              static_cast<LONG>(std::min<DWORD>(dwCount, INT32_MAX)), lpBits));
}

DWORD CBitmap::SetBitmapBits(DWORD dwCount, const void* lpBits) {
    return static_cast<DWORD>(::SetBitmapBits(static_cast<HBITMAP>(m_hObject), dwCount, lpBits));
}

CBrush::CBrush(COLORREF crColor) {
    if (!CreateSolidBrush(crColor)) AfxThrowResourceException();
}

CBrush* CBrush::FromHandle(HBRUSH hBrush) {
    return Typed<CBrush>(hBrush);
}

BOOL CBrush::CreateSolidBrush(COLORREF crColor) {
    return AttachMade(*this, ::CreateSolidBrush(crColor));
}

CPen::CPen(int nPenStyle, int nWidth, COLORREF crColor) {
    if (!CreatePen(nPenStyle, nWidth, crColor)) AfxThrowResourceException();
}

CPen* CPen::FromHandle(HPEN hPen) {
    return Typed<CPen>(hPen);
}

BOOL CPen::CreatePen(int nPenStyle, int nWidth, COLORREF crColor) {
    return AttachMade(*this, ::CreatePen(nPenStyle, nWidth, crColor));
}

// --- CDC ------------------------------------------------------------------------

CDC::~CDC() {
    if (m_hDC != nullptr) ::DeleteDC(Detach());
}

CDC* CDC::FromHandle(HDC hDC) {
    HandleMaps* maps = Maps();
    if (hDC == nullptr || maps == nullptr) return nullptr;
    if (const auto owner = maps->dcs.find(hDC); owner != maps->dcs.end()) return owner->second;
    auto& temporary = maps->tempDcs[hDC];
    if (!temporary) {
        temporary = std::make_unique<CDC>();
        temporary->m_hDC = temporary->m_hAttribDC = hDC;
    }
    return temporary.get();
}

void CDC::DeleteTempMap() {
    if (HandleMaps* maps = Maps()) maps->DeleteTempDcs();
}

BOOL CDC::Attach(HDC hDC) {
    if (hDC == nullptr || m_hDC != nullptr) return FALSE;
    m_hDC = m_hAttribDC = hDC;
    if (HandleMaps* maps = Maps()) maps->dcs[hDC] = this;
    return TRUE;
}

HDC CDC::Detach() {
    const HDC handle = m_hDC;
    if (handle != nullptr) {
        if (HandleMaps* maps = Maps()) {
            const auto owner = maps->dcs.find(handle);
            if (owner != maps->dcs.end() && owner->second == this) maps->dcs.erase(owner);
        }
    }
    m_hDC = m_hAttribDC = nullptr;
    return handle;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    if (m_hDC != nullptr) return FALSE;  // owns one already
    return Attach(::CreateCompatibleDC(pDC != nullptr ? pDC->m_hDC : nullptr));
}

BOOL CDC::DeleteDC() {
    if (m_hDC == nullptr) return FALSE;
    return ::DeleteDC(Detach());
}

int CDC::SaveDC() {
    return ::SaveDC(m_hDC);
}

BOOL CDC::RestoreDC(int nSavedDC) {
    return ::RestoreDC(m_hDC, nSavedDC);
}

CGdiObject* CDC::SelectStockObject(int nIndex) {
    const HGDIOBJ stock = ::GetStockObject(nIndex);
    return stock != nullptr ? CGdiObject::FromHandle(::SelectObject(m_hDC, stock)) : nullptr;
}

CFont* CDC::SelectObject(CFont* pFont) {
    return pFont != nullptr ? CFont::FromHandle(static_cast<HFONT>(::SelectObject(m_hDC, pFont->m_hObject))) : nullptr;
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
    return pBitmap != nullptr ? CBitmap::FromHandle(static_cast<HBITMAP>(::SelectObject(m_hDC, pBitmap->m_hObject)))
                              : nullptr;
}

CBrush* CDC::SelectObject(CBrush* pBrush) {
    return pBrush != nullptr ? CBrush::FromHandle(static_cast<HBRUSH>(::SelectObject(m_hDC, pBrush->m_hObject)))
                             : nullptr;
}

CPen* CDC::SelectObject(CPen* pPen) {
    return pPen != nullptr ? CPen::FromHandle(static_cast<HPEN>(::SelectObject(m_hDC, pPen->m_hObject))) : nullptr;
}

CGdiObject* CDC::SelectObject(CGdiObject* pObject) {
    return pObject != nullptr ? CGdiObject::FromHandle(::SelectObject(m_hDC, pObject->m_hObject)) : nullptr;
}

int CDC::SelectObject(CRgn* pRgn) {
    if (pRgn == nullptr) return GDI_ERROR;
    const HGDIOBJ result = ::SelectObject(m_hDC, pRgn->m_hObject);
    return result == nullptr || result == HGDI_ERROR ? GDI_ERROR : static_cast<int>(reinterpret_cast<LONG_PTR>(result));
}

CFont* CDC::GetCurrentFont() const {
    return CFont::FromHandle(static_cast<HFONT>(::GetCurrentObject(m_hDC, OBJ_FONT)));
}

CBitmap* CDC::GetCurrentBitmap() const {
    return CBitmap::FromHandle(static_cast<HBITMAP>(::GetCurrentObject(m_hDC, OBJ_BITMAP)));
}

CBrush* CDC::GetCurrentBrush() const {
    return CBrush::FromHandle(static_cast<HBRUSH>(::GetCurrentObject(m_hDC, OBJ_BRUSH)));
}

CPen* CDC::GetCurrentPen() const {
    return CPen::FromHandle(static_cast<HPEN>(::GetCurrentObject(m_hDC, OBJ_PEN)));
}

int CDC::SetBkMode(int nBkMode) {
    return ::SetBkMode(m_hDC, nBkMode);
}

int CDC::GetBkMode() const {
    return ::GetBkMode(m_hDC);
}

COLORREF CDC::SetTextColor(COLORREF crColor) {
    return ::SetTextColor(m_hDC, crColor);
}

COLORREF CDC::GetTextColor() const {
    return ::GetTextColor(m_hDC);
}

COLORREF CDC::SetBkColor(COLORREF crColor) {
    return ::SetBkColor(m_hDC, crColor);
}

COLORREF CDC::GetBkColor() const {
    return ::GetBkColor(m_hDC);
}

int CDC::SetMapMode(int nMapMode) {
    return ::SetMapMode(m_hDC, nMapMode);
}

int CDC::GetMapMode() const {
    return ::GetMapMode(m_hDC);
}

int CDC::GetDeviceCaps(int nIndex) const {
    return ::GetDeviceCaps(m_hDC, nIndex);
}

int CDC::SelectClipRgn(CRgn* pRgn) {
    return ::SelectClipRgn(m_hDC, pRgn != nullptr ? static_cast<HRGN>(pRgn->m_hObject) : nullptr);
}

int CDC::DrawText(LPCWSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat) {
    return ::DrawTextW(m_hDC, lpszString, nCount, lpRect, nFormat);
}

int CDC::DrawText(const CString& str, LPRECT lpRect, UINT nFormat) {
    return DrawText(str.GetString(), str.GetLength(), lpRect, nFormat);
}

CSize CDC::GetTextExtent(LPCWSTR lpszString, int nCount) const {
    SIZE size{0, 0};
    if (!::GetTextExtentPoint32W(m_hDC, lpszString, nCount, &size)) return CSize(0, 0);
    return CSize(size);
}

CSize CDC::GetTextExtent(const CString& str) const {
    return GetTextExtent(str.GetString(), str.GetLength());
}

BOOL CDC::GetTextMetrics(LPTEXTMETRICW lpMetrics) const {
    return ::GetTextMetricsW(m_hDC, lpMetrics);
}

// --- Temporary maps -------------------------------------------------------------

void AfxLockTempMaps() {
    if (HandleMaps* maps = Maps()) ++maps->lockCount;
}

BOOL AfxUnlockTempMaps(BOOL bDeleteTemps) {
    HandleMaps* maps = Maps();
    if (maps == nullptr || maps->lockCount == 0 || --maps->lockCount != 0) return FALSE;
    if (bDeleteTemps) {
        maps->DeleteTempObjects();
        maps->DeleteTempDcs();
        CWnd::DeleteTempMap();
    }
    return TRUE;
}

// GDI objects: the stock objects, lookups and selection counts, deleting and
// describing objects, brushes, pens, regions and bitmaps.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "platform/WinError.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/internal/Objects.h"
#include "platform/internal/Syscalls.h"

namespace vplatform::gdi {
namespace {

constexpr std::size_t kStockCount = 22;

LOGFONTW StockFont(LONG height, LONG width, LONG weight, BYTE charSet, BYTE pitchAndFamily, const wchar_t* face) {
    LOGFONTW logfont{};
    logfont.lfHeight = height;
    logfont.lfWidth = width;
    logfont.lfWeight = weight;
    logfont.lfCharSet = charSet;
    logfont.lfPitchAndFamily = pitchAndFamily;
    for (int i = 0; face[i] != 0 && i < LF_FACESIZE - 1; ++i) logfont.lfFaceName[i] = face[i];
    return logfont;
}

std::shared_ptr<Bitmap> StockBitmap(WORD bitsPixel) {
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = 1;
    bitmap->height = 1;
    bitmap->bitsPixel = bitsPixel;
    bitmap->stride = bitsPixel == 1 ? 2 : 4;
    bitmap->bytes = bitmap->stride;
    bitmap->pixels.reset(static_cast<BYTE*>(std::calloc(1, bitmap->bytes)));
    return bitmap;
}

// The stock objects with Windows' descriptions, made at first use.
const std::array<std::shared_ptr<GdiObject>, kStockCount>& StockObjects() {
    static const auto* objects = [] {
        auto* made = new std::array<std::shared_ptr<GdiObject>, kStockCount>;
        auto& o = *made;
        o[WHITE_BRUSH] = std::make_shared<Brush>(LOGBRUSH{BS_SOLID, RGB(255, 255, 255), 0});
        o[LTGRAY_BRUSH] = std::make_shared<Brush>(LOGBRUSH{BS_SOLID, RGB(192, 192, 192), 0});
        o[GRAY_BRUSH] = std::make_shared<Brush>(LOGBRUSH{BS_SOLID, RGB(128, 128, 128), 0});
        o[DKGRAY_BRUSH] = std::make_shared<Brush>(LOGBRUSH{BS_SOLID, RGB(64, 64, 64), 0});
        o[BLACK_BRUSH] = std::make_shared<Brush>(LOGBRUSH{BS_SOLID, RGB(0, 0, 0), 0});
        o[NULL_BRUSH] = std::make_shared<Brush>(LOGBRUSH{BS_NULL, RGB(0, 0, 0), 0});
        o[WHITE_PEN] = std::make_shared<Pen>(LOGPEN{PS_SOLID, {0, 0}, RGB(255, 255, 255)});
        o[BLACK_PEN] = std::make_shared<Pen>(LOGPEN{PS_SOLID, {0, 0}, RGB(0, 0, 0)});
        o[NULL_PEN] = std::make_shared<Pen>(LOGPEN{PS_NULL, {0, 0}, RGB(0, 0, 0)});
        o[OEM_FIXED_FONT] =
            std::make_shared<Font>(StockFont(12, 8, FW_NORMAL, OEM_CHARSET, FIXED_PITCH | FF_MODERN, L"Terminal"));
        o[ANSI_FIXED_FONT] =
            std::make_shared<Font>(StockFont(12, 9, FW_NORMAL, ANSI_CHARSET, FIXED_PITCH | FF_MODERN, L"Courier"));
        o[ANSI_VAR_FONT] = std::make_shared<Font>(
            StockFont(12, 9, FW_NORMAL, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, L"MS Sans Serif"));
        o[SYSTEM_FONT] =
            std::make_shared<Font>(StockFont(16, 7, FW_BOLD, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, L"System"));
        o[DEVICE_DEFAULT_FONT] =
            std::make_shared<Font>(StockFont(16, 0, FW_NORMAL, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, L"System"));
        o[SYSTEM_FIXED_FONT] =
            std::make_shared<Font>(StockFont(16, 8, FW_NORMAL, ANSI_CHARSET, FIXED_PITCH | FF_MODERN, L"Fixedsys"));
        o[DEFAULT_GUI_FONT] = std::make_shared<Font>(
            StockFont(-11, 0, FW_NORMAL, DEFAULT_CHARSET, VARIABLE_PITCH | FF_SWISS, L"MS Shell Dlg"));
        o[DC_BRUSH] = std::make_shared<Brush>(LOGBRUSH{BS_SOLID, RGB(255, 255, 255), 0});
        o[DC_PEN] = std::make_shared<Pen>(LOGPEN{PS_SOLID, {0, 0}, RGB(0, 0, 0)});
        o[kStockMonoBitmap] = StockBitmap(1);
        o[kStockScreenBitmap] = StockBitmap(32);
        for (auto& object : o) {
            if (object) object->stock = true;
        }
        return made;
    }();
    return *objects;
}

bool ValidBitCount(WORD bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

template <class T>
HGDIOBJ InsertNew(std::shared_ptr<T> object) {
    return GdiHandles().Insert(std::move(object));
}

std::shared_ptr<RegionObject> FindRegion(HRGN hrgn) {
    auto region = Find<RegionObject>(hrgn);
    if (!region) SetLastError(ERROR_INVALID_HANDLE);
    return region;
}

Region CopyRegion(RegionObject& object) {
    const std::lock_guard lock(object.mutex);
    return object.region;
}

int StoreRegion(RegionObject& object, Region region) {
    const std::lock_guard lock(object.mutex);
    object.region = std::move(region);
    return object.region.Type();
}

// Runs `body`, turning an allocation failure into ERROR_NOT_ENOUGH_MEMORY
// and `failed`.
template <class Result, class Body>
Result Guarded(Result failed, Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failed;
    }
}

}  // namespace

GdiObject::~GdiObject() = default;

std::mutex& SelectionLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

HGDIOBJ StockHandle(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= kStockCount || !StockObjects()[index]) return nullptr;
    return reinterpret_cast<HGDIOBJ>(kStockTag | static_cast<std::uintptr_t>(index));
}

std::shared_ptr<HandleObject> FindAny(HGDIOBJ handle) {
    if (IsStockHandle(handle)) {
        const std::size_t index = reinterpret_cast<std::uintptr_t>(handle) & 0x3FFF;
        return index < kStockCount ? StockObjects()[index] : nullptr;
    }
    return GdiHandles().Find<HandleObject>(handle);
}

FontInstance* Font::Realize(unsigned long* error) const {
    if (FontInstance* ready = m_ready.load(std::memory_order_acquire)) return ready;
    const std::lock_guard lock(m_mutex);
    if (m_instance) return m_instance.get();
    if (m_error != 0) {
        *error = m_error;
        return nullptr;
    }
    unsigned long failure = 0;
    auto instance = RealizeFont(logfont, &failure);
    if (!instance) {
        if (failure != ERROR_NOT_ENOUGH_MEMORY) m_error = failure;
        *error = failure;
        return nullptr;
    }
    m_instance = std::move(instance);
    m_ready.store(m_instance.get(), std::memory_order_release);
    return m_instance.get();
}

std::shared_ptr<Bitmap> Bitmap::Make(LONG width, LONG height, WORD bitsPixel, bool dib) {
    if (width < 0 || height < 0 || !ValidBitCount(bitsPixel)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const unsigned long long bitsPerRow = static_cast<unsigned long long>(width) * bitsPixel;
    const unsigned long long stride = dib ? (bitsPerRow + 31) / 32 * 4 : (bitsPerRow + 15) / 16 * 2;
    if (stride > kMaxBitmapBytes || stride * static_cast<unsigned long long>(height) > kMaxBitmapBytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bitsPixel = bitsPixel;
    bitmap->dib = dib;
    bitmap->stride = static_cast<std::size_t>(stride);
    bitmap->bytes = static_cast<std::size_t>(stride * static_cast<unsigned long long>(height));
    bitmap->pixels.reset(static_cast<BYTE*>(Sys().calloc(std::max<std::size_t>(bitmap->bytes, 1), 1)));
    if (!bitmap->pixels) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return bitmap;
}

std::shared_ptr<Bitmap> Bitmap::Copy() const {
    auto copy = Make(width, height, bitsPixel, dib);
    if (!copy) return nullptr;
    std::memcpy(copy->pixels.get(), pixels.get(), bytes);
    copy->topDown = topDown;
    copy->header = header;
    copy->colors = colors;
    return copy;
}

BITMAP Bitmap::Describe() const {
    return BITMAP{0,
                  width,
                  topDown ? -height : height,
                  static_cast<LONG>(stride),
                  1,
                  bitsPixel,
                  dib ? static_cast<LPVOID>(pixels.get()) : nullptr};
}

HGDIOBJ Reselect(Selected& slot, HGDIOBJ handle, std::shared_ptr<GdiObject> object, const Dc* dc) {
    const HGDIOBJ previous = slot.handle;
    if (slot.object && !slot.object->stock && --slot.object->selections == 0) {
        if (auto* bitmap = dynamic_cast<Bitmap*>(slot.object.get())) bitmap->selectedInto = nullptr;
    }
    if (object && !object->stock) {
        ++object->selections;
        if (auto* bitmap = dynamic_cast<Bitmap*>(object.get())) bitmap->selectedInto = dc;
    }
    slot.handle = handle;
    slot.object = std::move(object);
    return previous;
}

void Unselect(DcState& state) {
    for (Selected* slot : {&state.font, &state.brush, &state.pen, &state.bitmap}) {
        Reselect(*slot, nullptr, nullptr, nullptr);
    }
}

void CountSelections(const DcState& state) {
    for (const Selected* slot : {&state.font, &state.brush, &state.pen, &state.bitmap}) {
        if (slot->object && !slot->object->stock) ++slot->object->selections;
    }
}

HDC MakeDc(DcKind kind, HWND window, SurfaceOf surface) {
    try {
        auto dc = std::make_shared<Dc>(kind, window, surface);
        const auto& stock = StockObjects();
        dc->state.font = {StockHandle(SYSTEM_FONT), stock[SYSTEM_FONT]};
        dc->state.brush = {StockHandle(WHITE_BRUSH), stock[WHITE_BRUSH]};
        dc->state.pen = {StockHandle(BLACK_PEN), stock[BLACK_PEN]};
        const int bitmap = kind == DcKind::Memory ? kStockMonoBitmap : kStockScreenBitmap;
        dc->state.bitmap = {reinterpret_cast<HGDIOBJ>(kStockTag | static_cast<std::uintptr_t>(bitmap)), stock[bitmap]};
        dc->PublishFont();
        return static_cast<HDC>(GdiHandles().Insert(std::move(dc)));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

bool CloseDc(HDC hdc, const std::shared_ptr<Dc>& dc) {
    if (!GdiHandles().Remove<Dc>(hdc)) return false;
    {
        const std::lock_guard selection(SelectionLock());
        const std::lock_guard lock(dc->mutex);
        dc->closed = true;
        dc->PublishFont();
        Unselect(dc->state);
        for (DcState& saved : dc->saved) Unselect(saved);
        dc->saved.clear();
    }
    ForgetMeasured(dc.get());
    return true;
}

}  // namespace vplatform::gdi

using namespace vplatform::gdi;
using vplatform::GdiHandles;

extern "C" {

HGDIOBJ GetStockObject(int i) {
    if (i == kStockMonoBitmap || i == kStockScreenBitmap) i = -1;  // internal ones
    const HGDIOBJ handle = StockHandle(i);
    if (handle == nullptr) SetLastError(ERROR_INVALID_PARAMETER);
    return handle;
}

BOOL DeleteObject(HGDIOBJ ho) {
    auto object = std::dynamic_pointer_cast<GdiObject>(FindAny(ho));
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (object->stock) return TRUE;
    {
        const std::lock_guard lock(SelectionLock());
        if (object->selections > 0) {
            SetLastError(ERROR_BUSY);
            return FALSE;
        }
        // A handle value is never given out again (its slot's generation
        // moves on), so a live `ho` still names `object`.
        if (!GdiHandles().Close(ho)) return FALSE;
    }
    ForgetMeasured(object.get());
    return TRUE;  // `object` is destroyed here, outside the lock
}

int GetObjectW(HANDLE h, int c, LPVOID pv) {
    if (c < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto object = std::dynamic_pointer_cast<GdiObject>(FindAny(h));
    if (!object || object->Kind() == OBJ_REGION) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    union {
        LOGFONTW font;
        BITMAP bitmap;
        LOGBRUSH brush;
        LOGPEN pen;
    } description;
    int size = 0;
    switch (object->Kind()) {
        case OBJ_FONT:
            description.font = static_cast<Font&>(*object).logfont;
            size = sizeof(LOGFONTW);
            break;
        case OBJ_BITMAP:
            description.bitmap = static_cast<Bitmap&>(*object).Describe();
            size = sizeof(BITMAP);
            break;
        case OBJ_BRUSH:
            description.brush = static_cast<Brush&>(*object).logbrush;
            size = sizeof(LOGBRUSH);
            break;
        default:
            description.pen = static_cast<Pen&>(*object).logpen;
            size = sizeof(LOGPEN);
            break;
    }
    if (pv == nullptr) return size;
    size = std::min(size, c);
    std::memcpy(pv, &description, static_cast<std::size_t>(size));
    return size;
}

DWORD GetObjectType(HGDIOBJ h) {
    const auto object = FindAny(h);
    if (const auto* gdi = dynamic_cast<const GdiObject*>(object.get())) return gdi->Kind();
    if (const auto* dc = dynamic_cast<const Dc*>(object.get())) return dc->kind == DcKind::Memory ? OBJ_MEMDC : OBJ_DC;
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    const LOGBRUSH logbrush{BS_SOLID, color & 0x00FFFFFF, 0};
    return CreateBrushIndirect(&logbrush);
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* plbrush) {
    if (plbrush == nullptr || (plbrush->lbStyle != BS_SOLID && plbrush->lbStyle != BS_NULL)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Guarded<HBRUSH>(nullptr, [&] { return static_cast<HBRUSH>(InsertNew(std::make_shared<Brush>(*plbrush))); });
}

HPEN CreatePen(int iStyle, int cWidth, COLORREF color) {
    if (iStyle < PS_SOLID || iStyle > PS_INSIDEFRAME) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const LOGPEN logpen{static_cast<UINT>(iStyle), {std::max(cWidth, 0), 0}, color & 0x00FFFFFF};
    return Guarded<HPEN>(nullptr, [&] { return static_cast<HPEN>(InsertNew(std::make_shared<Pen>(logpen))); });
}

// --- Regions ----------------------------------------------------------------

HRGN CreateRectRgn(int x1, int y1, int x2, int y2) {
    return Guarded<HRGN>(nullptr, [&] {
        return static_cast<HRGN>(InsertNew(std::make_shared<RegionObject>(Region::FromRect(x1, y1, x2, y2))));
    });
}

HRGN CreateRectRgnIndirect(const RECT* lprect) {
    if (lprect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateRectRgn(lprect->left, lprect->top, lprect->right, lprect->bottom);
}

BOOL SetRectRgn(HRGN hrgn, int left, int top, int right, int bottom) {
    const auto region = FindRegion(hrgn);
    if (!region) return FALSE;
    return Guarded<BOOL>(FALSE, [&] {
        StoreRegion(*region, Region::FromRect(left, top, right, bottom));
        return TRUE;
    });
}

int CombineRgn(HRGN hrgnDst, HRGN hrgnSrc1, HRGN hrgnSrc2, int iMode) {
    if (iMode < RGN_AND || iMode > RGN_COPY) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR;
    }
    const auto destination = FindRegion(hrgnDst);
    const auto first = FindRegion(hrgnSrc1);
    const auto second = iMode == RGN_COPY ? first : FindRegion(hrgnSrc2);
    if (!destination || !first || !second) return ERROR;
    return Guarded<int>(ERROR, [&] {
        Region a = CopyRegion(*first);
        if (iMode == RGN_COPY) return StoreRegion(*destination, std::move(a));
        const Region b = CopyRegion(*second);
        return StoreRegion(*destination, Region::Combine(a, b, iMode));
    });
}

BOOL EqualRgn(HRGN hrgn1, HRGN hrgn2) {
    const auto first = FindRegion(hrgn1);
    const auto second = FindRegion(hrgn2);
    if (!first || !second) return FALSE;
    return Guarded<BOOL>(FALSE, [&] { return CopyRegion(*first) == CopyRegion(*second) ? TRUE : FALSE; });
}

int GetRgnBox(HRGN hrgn, LPRECT lprc) {
    const auto region = FindRegion(hrgn);
    if (!region) return ERROR;
    if (lprc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR;
    }
    const std::lock_guard lock(region->mutex);
    *lprc = region->region.Box();
    return region->region.Type();
}

int OffsetRgn(HRGN hrgn, int x, int y) {
    const auto region = FindRegion(hrgn);
    if (!region) return ERROR;
    const std::lock_guard lock(region->mutex);
    region->region.Offset(x, y);
    return region->region.Type();
}

BOOL PtInRegion(HRGN hrgn, int x, int y) {
    const auto region = FindRegion(hrgn);
    if (!region) return FALSE;
    const std::lock_guard lock(region->mutex);
    return region->region.Contains(x, y) ? TRUE : FALSE;
}

BOOL RectInRegion(HRGN hrgn, const RECT* lprect) {
    const auto region = FindRegion(hrgn);
    if (!region) return FALSE;
    if (lprect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return Guarded<BOOL>(FALSE, [&] { return CopyRegion(*region).Intersects(*lprect) ? TRUE : FALSE; });
}

// --- Bitmaps ----------------------------------------------------------------

HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    const auto dc = Find<Dc>(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (cx < 0 || cy < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    WORD bits = 32;
    if (cx == 0 || cy == 0) {
        cx = cy = 1;
        bits = 1;
    } else if (dc->kind == DcKind::Memory) {
        const std::lock_guard lock(dc->mutex);
        bits = static_cast<const Bitmap&>(*dc->state.bitmap.object).bitsPixel;
    }
    return Guarded<HBITMAP>(nullptr, [&]() -> HBITMAP {
        auto bitmap = Bitmap::Make(cx, cy, bits, false);
        return bitmap ? static_cast<HBITMAP>(InsertNew(std::move(bitmap))) : nullptr;
    });
}

HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits) {
    if (nWidth < 0 || nHeight < 0 || nPlanes != 1 || nBitCount > 32 || !ValidBitCount(static_cast<WORD>(nBitCount))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (nWidth == 0 || nHeight == 0) {
        nWidth = nHeight = 1;
        nBitCount = 1;
        lpBits = nullptr;
    }
    return Guarded<HBITMAP>(nullptr, [&]() -> HBITMAP {
        auto bitmap = Bitmap::Make(nWidth, nHeight, static_cast<WORD>(nBitCount), false);
        if (!bitmap) return nullptr;
        if (lpBits != nullptr) std::memcpy(bitmap->pixels.get(), lpBits, bitmap->bytes);
        return static_cast<HBITMAP>(InsertNew(std::move(bitmap)));
    });
}

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD offset) {
    (void)offset;
    if (ppvBits != nullptr) *ppvBits = nullptr;
    if (hdc != nullptr && !Find<Dc>(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (hSection != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (pbmi == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const BITMAPINFOHEADER& header = pbmi->bmiHeader;
    const WORD bits = header.biBitCount;
    const bool masks = header.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32);
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biHeight == INT32_MIN || header.biPlanes != 1 || !ValidBitCount(bits) ||
        (header.biCompression != BI_RGB && !masks) || (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Guarded<HBITMAP>(nullptr, [&]() -> HBITMAP {
        const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
        auto bitmap = Bitmap::Make(header.biWidth, height, bits, true);
        if (!bitmap) return nullptr;
        bitmap->topDown = header.biHeight < 0;
        bitmap->header = header;
        std::size_t entries = 0;
        if (masks) {
            entries = 3;
        } else if (bits <= 8) {
            entries = header.biClrUsed != 0 ? std::min<std::size_t>(header.biClrUsed, 1u << bits) : 1u << bits;
        }
        const auto* table = reinterpret_cast<const BYTE*>(pbmi) + header.biSize;
        bitmap->colors.resize(entries);
        if (entries != 0) std::memcpy(bitmap->colors.data(), table, entries * sizeof(RGBQUAD));
        void* pixels = bitmap->pixels.get();
        const HGDIOBJ handle = InsertNew(std::move(bitmap));
        if (handle != nullptr && ppvBits != nullptr) *ppvBits = pixels;
        return static_cast<HBITMAP>(handle);
    });
}

LONG GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits) {
    const auto bitmap = Find<Bitmap>(hbit);
    if (!bitmap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (lpvBits == nullptr) return static_cast<LONG>(bitmap->bytes);
    if (cb < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(cb), bitmap->bytes);
    std::memcpy(lpvBits, bitmap->pixels.get(), count);
    return static_cast<LONG>(count);
}

LONG SetBitmapBits(HBITMAP hbm, DWORD cb, const void* pvBits) {
    const auto bitmap = Find<Bitmap>(hbm);
    if (!bitmap || bitmap->stock) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (pvBits == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t count = std::min<std::size_t>(cb, bitmap->bytes);
    std::memcpy(bitmap->pixels.get(), pvBits, count);
    return static_cast<LONG>(count);
}

}  // extern "C"

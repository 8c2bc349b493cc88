// Device contexts: making and ending them (the display's for the window
// layer), their saved states, selections and attributes.
#include <algorithm>
#include <map>
#include <new>
#include <utility>

#include "platform/WinError.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/internal/Objects.h"
#include "platform/gdi/internal/WindowDc.h"

namespace vplatform::gdi {
namespace {

// The DCs of windows that are out, by window.
struct WindowDcs {
    std::mutex mutex;
    std::multimap<HWND, HDC> dcs;
};

WindowDcs& TheWindowDcs() {
    static auto* dcs = new WindowDcs;
    return *dcs;
}

void ForgetWindowDc(HWND window, HDC hdc) {
    WindowDcs& all = TheWindowDcs();
    const std::lock_guard lock(all.mutex);
    const auto [first, last] = all.dcs.equal_range(window);
    for (auto it = first; it != last; ++it) {
        if (it->second == hdc) {
            all.dcs.erase(it);
            return;
        }
    }
}

std::shared_ptr<Dc> FindDc(HDC hdc) {
    auto dc = Find<Dc>(hdc);
    if (!dc) SetLastError(ERROR_INVALID_HANDLE);
    return dc;
}

// Selects a bitmap into a memory DC; with SelectionLock() and the DC's lock
// held.
HGDIOBJ SelectBitmap(Dc& dc, HGDIOBJ handle, const std::shared_ptr<GdiObject>& object) {
    const auto& bitmap = static_cast<const Bitmap&>(*object);
    const bool deviceFormat = bitmap.dib || bitmap.bitsPixel == 1 || bitmap.bitsPixel == 32;
    const bool screenSurface = bitmap.stock && bitmap.bitsPixel == 32;
    if (dc.kind != DcKind::Memory || !deviceFormat || screenSurface) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (bitmap.selections > 0 && bitmap.selectedInto != &dc) {
        SetLastError(ERROR_BUSY);
        return nullptr;
    }
    return Reselect(dc.state.bitmap, handle, object, &dc);
}

// The DC attribute in `field` replaced by `value`; `failed` for a bad DC.
template <class T>
T SwapAttribute(HDC hdc, T DcState::*field, T value, T failed) {
    const auto dc = FindDc(hdc);
    if (!dc) return failed;
    const std::lock_guard lock(dc->mutex);
    const T previous = dc->state.*field;
    dc->state.*field = value;
    return previous;
}

template <class T>
T ReadAttribute(HDC hdc, T DcState::*field, T failed) {
    const auto dc = FindDc(hdc);
    if (!dc) return failed;
    const std::lock_guard lock(dc->mutex);
    return dc->state.*field;
}

}  // namespace

HDC MakeScreenDc(SurfaceOf surface) {
    return MakeDc(DcKind::Screen, nullptr, surface);
}

HDC MakeWindowDc(HWND window, SurfaceOf surface) {
    const HDC hdc = MakeDc(DcKind::Window, window, surface);
    if (hdc == nullptr) return nullptr;
    try {
        WindowDcs& all = TheWindowDcs();
        const std::lock_guard lock(all.mutex);
        all.dcs.emplace(window, hdc);
    } catch (const std::bad_alloc&) {
        CloseDc(hdc, Find<Dc>(hdc));
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return hdc;
}

int ReleaseDisplayDc(HWND window, HDC hdc) {
    const auto dc = FindDc(hdc);
    if (!dc) return 0;
    if (dc->kind == DcKind::Memory || dc->window != window) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!CloseDc(hdc, dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (dc->kind == DcKind::Window) ForgetWindowDc(window, hdc);
    return 1;
}

int ReleaseWindowDcs(HWND window) {
    std::multimap<HWND, HDC> gone;
    {
        WindowDcs& all = TheWindowDcs();
        const std::lock_guard lock(all.mutex);
        const auto [first, last] = all.dcs.equal_range(window);
        gone.insert(first, last);
        all.dcs.erase(first, last);
    }
    int released = 0;
    for (const auto& [hwnd, hdc] : gone) {
        if (const auto dc = Find<Dc>(hdc); dc && CloseDc(hdc, dc)) ++released;
    }
    return released;
}

}  // namespace vplatform::gdi

using namespace vplatform::gdi;
using vplatform::GdiHandles;

extern "C" {

HDC CreateCompatibleDC(HDC hdc) {
    if (hdc != nullptr && !FindDc(hdc)) return nullptr;
    return MakeDc(DcKind::Memory, nullptr);
}

BOOL DeleteDC(HDC hdc) {
    const auto dc = FindDc(hdc);
    if (!dc) return FALSE;
    if (dc->kind != DcKind::Memory) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!CloseDc(hdc, dc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

int SaveDC(HDC hdc) {
    const auto dc = FindDc(hdc);
    if (!dc) return 0;
    try {
        const std::lock_guard selection(SelectionLock());
        const std::lock_guard lock(dc->mutex);
        if (dc->closed) {
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        }
        dc->saved.push_back(dc->state);
        CountSelections(dc->saved.back());
        return static_cast<int>(dc->saved.size());
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

BOOL RestoreDC(HDC hdc, int nSavedDC) {
    const auto dc = FindDc(hdc);
    if (!dc) return FALSE;
    const std::lock_guard selection(SelectionLock());
    const std::lock_guard lock(dc->mutex);
    if (dc->closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const long long depth = static_cast<long long>(dc->saved.size());
    const long long target = nSavedDC > 0 ? nSavedDC : depth + 1 + nSavedDC;
    if (nSavedDC == 0 || target < 1 || target > depth) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Unselect(dc->state);
    for (long long i = target; i < depth; ++i) Unselect(dc->saved[static_cast<std::size_t>(i)]);
    // The saved state's selections become the current ones.
    dc->state = std::move(dc->saved[static_cast<std::size_t>(target - 1)]);
    dc->saved.resize(static_cast<std::size_t>(target - 1));
    dc->PublishFont();
    return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
    const auto dc = FindDc(hdc);
    if (!dc) return nullptr;
    auto object = std::dynamic_pointer_cast<GdiObject>(FindAny(h));
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (object->Kind() == OBJ_REGION) {
        const int type = SelectClipRgn(hdc, static_cast<HRGN>(h));
        return type == ERROR ? HGDI_ERROR : reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(type));
    }
    const std::lock_guard selection(SelectionLock());
    // Deleted since it was found: DeleteObject closes handles under this lock.
    if (!object->stock && !GdiHandles().Find<GdiObject>(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const std::lock_guard lock(dc->mutex);
    if (dc->closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    switch (object->Kind()) {
        case OBJ_FONT: {
            const HGDIOBJ previous = Reselect(dc->state.font, h, std::move(object), dc.get());
            dc->PublishFont();
            return previous;
        }
        case OBJ_BRUSH:
            return Reselect(dc->state.brush, h, std::move(object), dc.get());
        case OBJ_PEN:
            return Reselect(dc->state.pen, h, std::move(object), dc.get());
        default:
            return SelectBitmap(*dc, h, object);
    }
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
    const auto dc = FindDc(hdc);
    if (!dc) return nullptr;
    const std::lock_guard lock(dc->mutex);
    switch (type) {
        case OBJ_FONT:
            return dc->state.font.handle;
        case OBJ_BRUSH:
            return dc->state.brush.handle;
        case OBJ_PEN:
            return dc->state.pen.handle;
        case OBJ_BITMAP:
            return dc->state.bitmap.handle;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
}

int SetBkMode(HDC hdc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) {
        if (!FindDc(hdc)) return 0;
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return SwapAttribute(hdc, &DcState::bkMode, mode, 0);
}

int GetBkMode(HDC hdc) {
    return ReadAttribute(hdc, &DcState::bkMode, 0);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    return SwapAttribute(hdc, &DcState::textColor, color, CLR_INVALID);
}

COLORREF GetTextColor(HDC hdc) {
    return ReadAttribute(hdc, &DcState::textColor, CLR_INVALID);
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    return SwapAttribute(hdc, &DcState::bkColor, color, CLR_INVALID);
}

COLORREF GetBkColor(HDC hdc) {
    return ReadAttribute(hdc, &DcState::bkColor, CLR_INVALID);
}

int SetMapMode(HDC hdc, int mode) {
    const auto dc = FindDc(hdc);
    if (!dc) return 0;
    if (mode < MM_TEXT || mode > MM_ANISOTROPIC) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (mode != MM_TEXT) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    const std::lock_guard lock(dc->mutex);
    return std::exchange(dc->state.mapMode, mode);
}

int GetMapMode(HDC hdc) {
    return ReadAttribute(hdc, &DcState::mapMode, 0);
}

int GetDeviceCaps(HDC hdc, int index) {
    if (!FindDc(hdc)) return 0;
    switch (index) {
        case LOGPIXELSX:
        case LOGPIXELSY:
            return 96;
        case BITSPIXEL:
            return 32;
        case PLANES:
            return 1;
        case TECHNOLOGY:
            return DT_RASDISPLAY;
        case NUMCOLORS:
            return -1;
        default:
            return 0;
    }
}

int SelectClipRgn(HDC hdc, HRGN hrgn) {
    const auto dc = FindDc(hdc);
    if (!dc) return ERROR;
    if (hrgn == nullptr) {
        const std::lock_guard lock(dc->mutex);
        dc->state.clip.reset();
        return SIMPLEREGION;
    }
    const auto region = Find<RegionObject>(hrgn);
    if (!region) {
        SetLastError(ERROR_INVALID_HANDLE);
        return ERROR;
    }
    try {
        Region copy;
        {
            const std::lock_guard lock(region->mutex);
            copy = region->region;
        }
        const int type = copy.Type();
        const std::lock_guard lock(dc->mutex);
        dc->state.clip = std::move(copy);
        return type;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR;
    }
}

int GetClipBox(HDC hdc, LPRECT lprect) {
    const auto dc = FindDc(hdc);
    if (!dc) return ERROR;
    if (lprect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR;
    }
    // The surface, read without the DC's lock (a display DC's size comes
    // from the window layer).
    RECT surface{};
    switch (dc->kind) {
        case DcKind::Window:
        case DcKind::Screen:
            if (dc->surface != nullptr) surface = dc->surface(dc->window);
            break;
        case DcKind::Memory: {
            const std::lock_guard lock(dc->mutex);
            if (const auto* bitmap = static_cast<const Bitmap*>(dc->state.bitmap.object.get())) {
                surface = RECT{0, 0, bitmap->width, bitmap->height};
            }
            break;
        }
    }
    try {
        Region visible = Region::FromRect(surface.left, surface.top, surface.right, surface.bottom);
        {
            const std::lock_guard lock(dc->mutex);
            if (dc->state.clip) visible = Region::Combine(visible, *dc->state.clip, RGN_AND);
        }
        *lprect = visible.Box();
        return visible.Type();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return ERROR;
    }
}

int GetClipRgn(HDC hdc, HRGN hrgn) {
    const auto dc = FindDc(hdc);
    if (!dc) return -1;
    const auto region = Find<RegionObject>(hrgn);
    if (!region) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    try {
        Region clip;
        {
            const std::lock_guard lock(dc->mutex);
            if (!dc->state.clip) return 0;
            clip = *dc->state.clip;
        }
        const std::lock_guard lock(region->mutex);
        region->region = std::move(clip);
        return 1;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
}

}  // extern "C"

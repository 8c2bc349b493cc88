// Icons: copies of a mask and a colour bitmap behind a GDI-table handle.
#include <new>

#include "platform/WinError.h"
#include "platform/gdi/Icons.h"
#include "platform/gdi/internal/Objects.h"

namespace vplatform::gdi {
namespace {

std::shared_ptr<Icon> FindIcon(HICON hIcon) {
    auto icon = Find<Icon>(hIcon);
    if (!icon) SetLastError(ERROR_INVALID_CURSOR_HANDLE);
    return icon;
}

// A new handle for a copy of a bitmap; null with the last error set.
HBITMAP InsertCopy(const Bitmap& bitmap) {
    auto copy = bitmap.Copy();
    return copy ? static_cast<HBITMAP>(GdiHandles().Insert(std::move(copy))) : nullptr;
}

}  // namespace
}  // namespace vplatform::gdi

using namespace vplatform::gdi;
using vplatform::GdiHandles;

extern "C" {

HICON CreateIconIndirect(PICONINFO piconinfo) {
    if (piconinfo == nullptr || piconinfo->hbmMask == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto mask = Find<Bitmap>(piconinfo->hbmMask);
    const auto color = piconinfo->hbmColor != nullptr ? Find<Bitmap>(piconinfo->hbmColor) : nullptr;
    if (!mask || (piconinfo->hbmColor != nullptr && !color)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    try {
        auto icon = std::make_shared<Icon>();
        icon->mask = mask->Copy();
        if (!icon->mask) return nullptr;
        if (color) {
            icon->color = color->Copy();
            if (!icon->color) return nullptr;
        }
        icon->isIcon = piconinfo->fIcon != FALSE;
        const LONG height = color ? mask->height : mask->height / 2;
        icon->xHotspot = icon->isIcon ? static_cast<DWORD>(mask->width / 2) : piconinfo->xHotspot;
        icon->yHotspot = icon->isIcon ? static_cast<DWORD>(height / 2) : piconinfo->yHotspot;
        return static_cast<HICON>(GdiHandles().Insert(std::move(icon)));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HICON CopyIcon(HICON hIcon) {
    const auto icon = FindIcon(hIcon);
    if (!icon) return nullptr;
    try {
        auto copy = std::make_shared<Icon>();
        copy->isIcon = icon->isIcon;
        copy->xHotspot = icon->xHotspot;
        copy->yHotspot = icon->yHotspot;
        copy->mask = icon->mask->Copy();
        if (!copy->mask) return nullptr;
        if (icon->color) {
            copy->color = icon->color->Copy();
            if (!copy->color) return nullptr;
        }
        return static_cast<HICON>(GdiHandles().Insert(std::move(copy)));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

BOOL GetIconInfo(HICON hIcon, PICONINFO piconinfo) {
    const auto icon = FindIcon(hIcon);
    if (!icon) return FALSE;
    if (piconinfo == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        const HBITMAP mask = InsertCopy(*icon->mask);
        if (mask == nullptr) return FALSE;
        HBITMAP color = nullptr;
        if (icon->color) {
            color = InsertCopy(*icon->color);
            if (color == nullptr) {
                const DWORD error = GetLastError();
                DeleteObject(mask);
                SetLastError(error);
                return FALSE;
            }
        }
        *piconinfo = ICONINFO{icon->isIcon ? TRUE : FALSE, icon->xHotspot, icon->yHotspot, mask, color};
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

BOOL DestroyIcon(HICON hIcon) {
    if (!GdiHandles().Remove<Icon>(hIcon)) {
        SetLastError(ERROR_INVALID_CURSOR_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

// Reading a module's resources (see platform/kernel/Resource.h for how they
// are found): the raw bytes of a resource, a GDI+ bitmap or image decoded
// from one, and an icon of a given size.
//
// Names and types are wide strings or integer ids made with
// MAKEINTRESOURCEW.  Nothing logs or throws; a missing resource gives an
// empty result.
//
// Threads: the functions are stateless and may run on any thread; GDI+ must
// have been started (GdiplusStartup) before the bitmap functions decode.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "VLibExport.h"
#include "platform/WinTypes.h"
#include "platform/gdiplus/GdiPlus.h"

namespace VTools::Resource {

// The resource's bytes, unchanged; empty when the resource is missing,
// unreadable or empty.
VLIB_API std::vector<std::byte> GetFileFromResource(HINSTANCE module, LPCWSTR name, LPCWSTR type);

// A bitmap decoded (embedded colour profiles applied) from a copy of the
// resource's bytes in a memory stream; null, without touching GDI+, when the
// resource is missing or empty.  Bytes GDI+ cannot decode still give a
// bitmap, whose GetLastStatus tells the error.
VLIB_API std::unique_ptr<Gdiplus::Bitmap> GetBitmapFromResource(HINSTANCE module, LPCWSTR name, LPCWSTR type);
// GetBitmapFromResource as its Image base.
VLIB_API std::unique_ptr<Gdiplus::Image> GetImageFromResource(HINSTANCE module, LPCWSTR name, LPCWSTR type);

// The icon (RT_GROUP_ICON resource `name`) whose image fits `size` x `size`
// best, scaled to that size (LoadImageW with IMAGE_ICON); null when missing.
// The caller destroys it (DestroyIcon, or an IconOwner).
VLIB_API HICON LoadIconHandle(const HINSTANCE module, LPCWSTR name, int size);

}  // namespace VTools::Resource

// Owners of GDI handles: each holds one handle (HdcsOwner a window and its
// DC) and releases it when it is destroyed, so that drawing code cannot leak
// regions, bitmaps, memory DCs, icons or window DCs.
//
// Common rules: an empty owner holds null; the destructor releases a non-null
// handle; moving (construction or assignment) hands the handle over, the
// target releasing what it held first and the source left null, so that a
// handle is released exactly once; moving an owner into itself keeps the
// handle.  Owners cannot be copied.  Creation failures show as null handles
// (operator bool false, Create false); nothing here logs or throws.
//
// Threads: an owner belongs to one thread at a time; an HdcsOwner of a
// window to that window's thread.
#pragma once

#include "VLibExport.h"
#include "platform/WinTypes.h"
#include "platform/gdi/Gdi.h"
#include "platform/mfc/AfxGeometry.h"

// A rectangular region (CreateRectRgnIndirect, DeleteObject).
class VLIB_API ClipRegion {
public:
    ClipRegion() = default;
    // The rectangle's region; null for a null rectangle or on failure.
    explicit ClipRegion(const RECT* rect);
    ClipRegion(ClipRegion&& other) noexcept;
    ClipRegion& operator=(ClipRegion&& other) noexcept;
    ClipRegion(const ClipRegion&) = delete;
    ClipRegion& operator=(const ClipRegion&) = delete;
    ~ClipRegion();

    // Releases the region held, then creates the rectangle's: whether it was
    // created (if not, the owner is null).
    bool Create(const RECT* rect);
    void Release();
    HRGN GetHRGN() const { return m_region; }
    explicit operator bool() const { return m_region != nullptr; }

private:
    HRGN m_region = nullptr;
};

// A bitmap (CreateCompatibleBitmap or CreateDIBSection, DeleteObject).
class VLIB_API CompatibleBitmapOwner {
public:
    CompatibleBitmapOwner() = default;
    CompatibleBitmapOwner(HDC dc, int width, int height);
    CompatibleBitmapOwner(CompatibleBitmapOwner&& other) noexcept;
    CompatibleBitmapOwner& operator=(CompatibleBitmapOwner&& other) noexcept;
    CompatibleBitmapOwner(const CompatibleBitmapOwner&) = delete;
    CompatibleBitmapOwner& operator=(const CompatibleBitmapOwner&) = delete;
    ~CompatibleBitmapOwner();

    // Releases the bitmap held, then creates one compatible with `dc`.
    bool Create(HDC dc, int width, int height);
    // Releases the bitmap held, then creates a DIB section (DIB_RGB_COLORS,
    // no file mapping); its pixels are reached through the bitmap.
    bool CreateDIBSection(HDC dc, const BITMAPINFO* info);
    // The held bitmap's width and height (GetObjectW), (0, 0) without one;
    // nothing is stored.
    CSize CalculateBitmapSize() const;
    void Release();
    HBITMAP GetHBITMAP() const { return m_bitmap; }
    explicit operator bool() const { return m_bitmap != nullptr; }

private:
    HBITMAP m_bitmap = nullptr;
};

// A memory DC (CreateCompatibleDC, DeleteDC).
class VLIB_API CompatibleDC {
public:
    CompatibleDC() = default;
    explicit CompatibleDC(HDC dc);
    CompatibleDC(CompatibleDC&& other) noexcept;
    CompatibleDC& operator=(CompatibleDC&& other) noexcept;
    CompatibleDC(const CompatibleDC&) = delete;
    CompatibleDC& operator=(const CompatibleDC&) = delete;
    ~CompatibleDC();

    // Deletes the DC held, then creates one compatible with `dc`.
    bool Create(HDC dc);
    void Release();
    HDC GetHDC() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HDC m_dc = nullptr;
};

// An icon the holder may destroy (created or loaded unshared; DestroyIcon).
class VLIB_API IconOwner {
public:
    IconOwner() = default;
    IconOwner(IconOwner&& other) noexcept;
    IconOwner& operator=(IconOwner&& other) noexcept;
    IconOwner(const IconOwner&) = delete;
    IconOwner& operator=(const IconOwner&) = delete;
    ~IconOwner();

    // Destroys the held icon and holds `icon` (which may be null); given the
    // icon it holds already, does nothing.
    void Update(HICON icon);
    // Destroys the held icon and leaves the owner null.
    void Destroy();
    operator HICON() const { return m_icon; }
    explicit operator bool() const { return m_icon != nullptr; }

private:
    HICON m_icon = nullptr;
};

// The DC of a window, or of the screen for a null window (GetDC, ReleaseDC
// with the same window).
class VLIB_API HdcsOwner {
public:
    explicit HdcsOwner(HWND window);
    HdcsOwner(HdcsOwner&& other) noexcept;
    HdcsOwner& operator=(HdcsOwner&& other) noexcept;
    HdcsOwner(const HdcsOwner&) = delete;
    HdcsOwner& operator=(const HdcsOwner&) = delete;
    ~HdcsOwner();

    operator HDC() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    void Release();

    HWND m_window = nullptr;
    HDC m_dc = nullptr;
};

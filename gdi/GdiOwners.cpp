// The GDI handle owners.
#include "gdi/GdiOwners.h"

#include <utility>

#include "platform/gdi/Icons.h"
#include "platform/user/DisplayDc.h"

// --- ClipRegion ---------------------------------------------------------------

ClipRegion::ClipRegion(const RECT* rect) {
    Create(rect);
}

ClipRegion::ClipRegion(ClipRegion&& other) noexcept : m_region(std::exchange(other.m_region, nullptr)) {}

ClipRegion& ClipRegion::operator=(ClipRegion&& other) noexcept {
    if (this != &other) {
        Release();
        m_region = std::exchange(other.m_region, nullptr);
    }
    return *this;
}

ClipRegion::~ClipRegion() {
    Release();
}

bool ClipRegion::Create(const RECT* rect) {
    Release();
    if (rect != nullptr) m_region = CreateRectRgnIndirect(rect);
    return m_region != nullptr;
}

void ClipRegion::Release() {
    if (m_region != nullptr) DeleteObject(std::exchange(m_region, nullptr));
}

// --- CompatibleBitmapOwner ----------------------------------------------------

CompatibleBitmapOwner::CompatibleBitmapOwner(HDC dc, int width, int height) {
    Create(dc, width, height);
}

CompatibleBitmapOwner::CompatibleBitmapOwner(CompatibleBitmapOwner&& other) noexcept
    : m_bitmap(std::exchange(other.m_bitmap, nullptr)) {}

CompatibleBitmapOwner& CompatibleBitmapOwner::operator=(CompatibleBitmapOwner&& other) noexcept {
    if (this != &other) {
        Release();
        m_bitmap = std::exchange(other.m_bitmap, nullptr);
    }
    return *this;
}

CompatibleBitmapOwner::~CompatibleBitmapOwner() {
    Release();
}

bool CompatibleBitmapOwner::Create(HDC dc, int width, int height) {
    Release();
    m_bitmap = CreateCompatibleBitmap(dc, width, height);
    return m_bitmap != nullptr;
}

bool CompatibleBitmapOwner::CreateDIBSection(HDC dc, const BITMAPINFO* info) {
    Release();
    void* pixels = nullptr;
    m_bitmap = ::CreateDIBSection(dc, info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    return m_bitmap != nullptr;
}

CSize CompatibleBitmapOwner::CalculateBitmapSize() const {
    BITMAP description{};
    if (m_bitmap == nullptr || GetObjectW(m_bitmap, sizeof description, &description) != sizeof description) {
        return CSize(0, 0);
    }
    return CSize(description.bmWidth, description.bmHeight < 0 ? -description.bmHeight : description.bmHeight);
}

void CompatibleBitmapOwner::Release() {
    if (m_bitmap != nullptr) DeleteObject(std::exchange(m_bitmap, nullptr));
}

// --- CompatibleDC -------------------------------------------------------------

CompatibleDC::CompatibleDC(HDC dc) {
    Create(dc);
}

CompatibleDC::CompatibleDC(CompatibleDC&& other) noexcept : m_dc(std::exchange(other.m_dc, nullptr)) {}

CompatibleDC& CompatibleDC::operator=(CompatibleDC&& other) noexcept {
    if (this != &other) {
        Release();
        m_dc = std::exchange(other.m_dc, nullptr);
    }
    return *this;
}

CompatibleDC::~CompatibleDC() {
    Release();
}

bool CompatibleDC::Create(HDC dc) {
    Release();
    m_dc = CreateCompatibleDC(dc);
    return m_dc != nullptr;
}

void CompatibleDC::Release() {
    if (m_dc != nullptr) DeleteDC(std::exchange(m_dc, nullptr));
}

// --- IconOwner ----------------------------------------------------------------

IconOwner::IconOwner(IconOwner&& other) noexcept : m_icon(std::exchange(other.m_icon, nullptr)) {}

IconOwner& IconOwner::operator=(IconOwner&& other) noexcept {
    if (this != &other) {
        Destroy();
        m_icon = std::exchange(other.m_icon, nullptr);
    }
    return *this;
}

IconOwner::~IconOwner() {
    Destroy();
}

void IconOwner::Update(HICON icon) {
    if (icon == m_icon) return;  // destroying it would leave a destroyed handle held
    Destroy();
    m_icon = icon;
}

void IconOwner::Destroy() {
    if (m_icon != nullptr) DestroyIcon(std::exchange(m_icon, nullptr));
}

// --- HdcsOwner ----------------------------------------------------------------

HdcsOwner::HdcsOwner(HWND window) : m_window(window), m_dc(GetDC(window)) {}

HdcsOwner::HdcsOwner(HdcsOwner&& other) noexcept
    : m_window(std::exchange(other.m_window, nullptr)), m_dc(std::exchange(other.m_dc, nullptr)) {}

HdcsOwner& HdcsOwner::operator=(HdcsOwner&& other) noexcept {
    if (this != &other) {
        Release();
        m_window = std::exchange(other.m_window, nullptr);
        m_dc = std::exchange(other.m_dc, nullptr);
    }
    return *this;
}

HdcsOwner::~HdcsOwner() {
    Release();
}

void HdcsOwner::Release() {
    if (m_dc != nullptr) ReleaseDC(m_window, std::exchange(m_dc, nullptr));
    m_window = nullptr;
}

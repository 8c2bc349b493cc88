// The objects behind GDI handles: device contexts, fonts, bitmaps, brushes,
// pens, regions and icons, the stock objects, and the lookups every GDI
// function makes.
//
// Handles.  DCs and objects are entries of GdiHandles().  Stock objects are
// not: their handles carry the GDI table's tag with generation 0, which the
// table never gives out, so that they are permanent, shared by every thread
// and left out of the counts and the quota.  Find<T>() knows both.
//
// Selection.  An object records how many DC states (current and saved)
// select it, and a bitmap the DC it is selected into; both change only with
// SelectionLock() held, which DeleteObject takes too, so that an object
// cannot be deleted between a check and a selection.  Lock order:
// SelectionLock(), then a DC's lock, then the font engine's lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/PlatformExport.h"
#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/internal/FontEngine.h"
#include "platform/gdi/internal/Region.h"
#include "platform/gdi/internal/WindowDc.h"
#include "platform/internal/HandleTable.h"

namespace vplatform::gdi {

class Dc;

// Base of fonts, bitmaps, brushes, pens and regions (not of DCs and icons).
class VPLATFORM_API GdiObject : public HandleObject {
public:
    ~GdiObject() override;
    virtual DWORD Kind() const = 0;  // OBJ_FONT…
    bool stock = false;
    int selections = 0;  // DC states selecting it; under SelectionLock()
};

class Brush final : public GdiObject {
public:
    static constexpr ObjectType kType = ObjectType::Brush;
    explicit Brush(const LOGBRUSH& logbrush) : logbrush(logbrush) {}
    DWORD Kind() const override { return OBJ_BRUSH; }
    const LOGBRUSH logbrush;
};

class Pen final : public GdiObject {
public:
    static constexpr ObjectType kType = ObjectType::Pen;
    explicit Pen(const LOGPEN& logpen) : logpen(logpen) {}
    DWORD Kind() const override { return OBJ_PEN; }
    const LOGPEN logpen;
};

class RegionObject final : public GdiObject {
public:
    static constexpr ObjectType kType = ObjectType::Region;
    explicit RegionObject(Region region) : region(std::move(region)) {}
    DWORD Kind() const override { return OBJ_REGION; }
    std::mutex mutex;
    Region region;  // under mutex
};

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

class VPLATFORM_API Bitmap final : public GdiObject {
public:
    static constexpr ObjectType kType = ObjectType::Bitmap;
    DWORD Kind() const override { return OBJ_BITMAP; }

    // A zero-filled bitmap, or null with the last error set (bad size:
    // ERROR_INVALID_PARAMETER; no memory: ERROR_NOT_ENOUGH_MEMORY).  A DIB's
    // rows are padded to 4 bytes, a device bitmap's to 2.
    static std::shared_ptr<Bitmap> Make(LONG width, LONG height, WORD bitsPixel, bool dib);
    // A copy with the same format and pixels (never selected).
    std::shared_ptr<Bitmap> Copy() const;

    BITMAP Describe() const;

    LONG width = 0;
    LONG height = 0;  // rows; a top-down DIB was given a negative height
    WORD bitsPixel = 1;
    bool dib = false;
    bool topDown = false;
    std::size_t stride = 0;
    std::size_t bytes = 0;
    std::unique_ptr<BYTE[], FreeDeleter> pixels;
    BITMAPINFOHEADER header{};         // a DIB's header as given
    std::vector<RGBQUAD> colors;       // a DIB's colour table
    const Dc* selectedInto = nullptr;  // under SelectionLock()
};

class VPLATFORM_API Font final : public GdiObject {
public:
    static constexpr ObjectType kType = ObjectType::Font;
    explicit Font(const LOGFONTW& logfont) : logfont(logfont) {}
    DWORD Kind() const override { return OBJ_FONT; }

    // The realised font (made at the first call and kept while the font
    // lives), or null with the error in `*error`.
    FontInstance* Realize(unsigned long* error) const;

    const LOGFONTW logfont;

private:
    mutable std::mutex m_mutex;
    mutable std::shared_ptr<FontInstance> m_instance;  // under m_mutex until set
    mutable std::atomic<FontInstance*> m_ready{nullptr};
    mutable unsigned long m_error = 0;  // the failure, once realising failed
};

class Icon final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::Icon;
    bool isIcon = true;
    DWORD xHotspot = 0;
    DWORD yHotspot = 0;
    std::shared_ptr<Bitmap> mask;
    std::shared_ptr<Bitmap> color;
};

// A handle and the object it names, as a DC state holds them.
struct Selected {
    HGDIOBJ handle = nullptr;
    std::shared_ptr<GdiObject> object;
};

struct DcState {
    Selected font, brush, pen, bitmap;
    int bkMode = OPAQUE;
    COLORREF textColor = 0x000000;
    COLORREF bkColor = 0xFFFFFF;
    int mapMode = MM_TEXT;
    std::optional<Region> clip;
};

enum class DcKind { Screen, Window, Memory };

class VPLATFORM_API Dc final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::Dc;
    Dc(DcKind kind, HWND window, SurfaceOf surface) : kind(kind), window(window), surface(surface) {}

    const DcKind kind;
    const HWND window;        // the window of a window DC, null otherwise
    const SurfaceOf surface;  // of a display DC; null: an empty surface (and for a memory DC)
    std::mutex mutex;
    DcState state;               // under mutex
    std::vector<DcState> saved;  // SaveDC's stack, under mutex
    // Set (under mutex) once the handle is released or deleted, so that a
    // call that found the DC just before cannot select into it any more.
    bool closed = false;

    // The object of state.font, null once closed: what the measuring calls
    // compare their thread's cached font with, without the lock.  Stored
    // (PublishFont, under mutex) after every change of the font or closing.
    std::atomic<const GdiObject*> selectedFont{nullptr};
    void PublishFont() { selectedFont.store(closed ? nullptr : state.font.object.get(), std::memory_order_release); }
};

// The lock of every selection count.
VPLATFORM_API std::mutex& SelectionLock();

// A stock object's handle, or null for an index that names none.
HGDIOBJ StockHandle(int index);
// Internal stock objects: the 1x1 monochrome bitmap of fresh memory DCs and
// the 1x1 32-bit bitmap that stands for the screen's surface.
constexpr int kStockMonoBitmap = 20;
constexpr int kStockScreenBitmap = 21;

// Stock handles: the GDI table's tag (3, bits 28-30) with generation 0 (bits
// 14-27), which GdiHandles() never gives out, and the index in bits 0-13.
constexpr std::uintptr_t kStockTag = std::uintptr_t{3} << 28;
inline bool IsStockHandle(const void* handle) {
    return (reinterpret_cast<std::uintptr_t>(handle) & ~std::uintptr_t{0x3FFF}) == kStockTag;
}

// The object of a handle when it is live and of kind T (a stock object
// included), or null; sets no error.
VPLATFORM_API std::shared_ptr<HandleObject> FindAny(HGDIOBJ handle);
template <class T>
std::shared_ptr<T> Find(HGDIOBJ handle) {
    if constexpr (requires { T::kType; }) {
        // The table checks the kind itself.
        if (!IsStockHandle(handle)) return GdiHandles().Find<T>(handle);
    }
    return std::dynamic_pointer_cast<T>(FindAny(handle));
}

// A new DC of `kind` with the default attributes and objects, in the handle
// table; null with the last error set.
VPLATFORM_API HDC MakeDc(DcKind kind, HWND window, SurfaceOf surface = nullptr);
// Takes a DC's handle out of the table and ends its selections.  False when
// `hdc` is no live DC.
bool CloseDc(HDC hdc, const std::shared_ptr<Dc>& dc);

// The measuring calls (text extents, DrawTextW, metrics) keep, per thread,
// the DC they measured on last with its selected font and realised font, and
// use them again without the handle table or the DC's lock while the DC's
// selectedFont still names that font (so a closed DC, or one whose font has
// changed, is looked up again and fails as any stale handle does).  The cache
// holds references: a DC or font it names is destroyed once it is closed or
// deleted and the thread that measured with it last measures on something
// else, closes or deletes it itself (ForgetMeasured), or ends.
void ForgetMeasured(const HandleObject* object);

// Puts `object` (named `handle`) into `slot`, keeping the counts; with
// SelectionLock() and the DC's lock held.  Returns the handle it replaced.
HGDIOBJ Reselect(Selected& slot, HGDIOBJ handle, std::shared_ptr<GdiObject> object, const Dc* dc);
// Ends every selection of a state; with SelectionLock() held.
void Unselect(DcState& state);
// Counts a copy of a state (SaveDC); with SelectionLock() held.
void CountSelections(const DcState& state);

}  // namespace vplatform::gdi

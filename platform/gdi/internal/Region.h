// Regions as sets of pixels: a list of disjoint rectangles in bands (rows of
// equal top and bottom, sorted by top, then left), the form GDI keeps them
// in, so that two regions with the same pixels have the same list.
#pragma once

#include <vector>

#include "platform/WinTypes.h"

namespace vplatform::gdi {

class Region {
public:
    Region() = default;
    // The rectangle's pixels, its corners put in order; empty when it has
    // no width or no height.
    static Region FromRect(LONG left, LONG top, LONG right, LONG bottom);

    // NULLREGION, SIMPLEREGION or COMPLEXREGION.
    int Type() const;
    // The bounding box; all zero for the empty region.
    RECT Box() const;
    bool Contains(LONG x, LONG y) const;
    // True when any pixel of `rect` (corners put in order) is in the region.
    bool Intersects(const RECT& rect) const;
    // Moves the region; coordinates wrap as Windows' 32-bit ones.
    void Offset(LONG dx, LONG dy);
    const std::vector<RECT>& Rects() const { return m_rects; }

    // RGN_AND, RGN_OR, RGN_XOR or RGN_DIFF of two regions.
    static Region Combine(const Region& a, const Region& b, int mode);

    friend bool operator==(const Region& a, const Region& b);

private:
    std::vector<RECT> m_rects;
};

}  // namespace vplatform::gdi

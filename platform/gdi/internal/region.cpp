// Region arithmetic on rectangle lists.
#include "platform/gdi/internal/Region.h"

#include <algorithm>
#include <cstdint>

#include "platform/gdi/Gdi.h"

namespace vplatform::gdi {
namespace {

bool Inside(const std::vector<RECT>& rects, LONG x, LONG y) {
    for (const RECT& r : rects) {
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    }
    return false;
}

bool Keep(bool a, bool b, int mode) {
    switch (mode) {
        case RGN_AND:
            return a && b;
        case RGN_OR:
            return a || b;
        case RGN_XOR:
            return a != b;
        case RGN_DIFF:
            return a && !b;
        default:
            return false;
    }
}

}  // namespace

Region Region::FromRect(LONG left, LONG top, LONG right, LONG bottom) {
    Region region;
    if (left > right) std::swap(left, right);
    if (top > bottom) std::swap(top, bottom);
    if (left < right && top < bottom) region.m_rects.push_back(RECT{left, top, right, bottom});
    return region;
}

int Region::Type() const {
    if (m_rects.empty()) return NULLREGION;
    return m_rects.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

RECT Region::Box() const {
    if (m_rects.empty()) return RECT{0, 0, 0, 0};
    RECT box = m_rects.front();
    for (const RECT& r : m_rects) {
        box.left = std::min(box.left, r.left);
        box.top = std::min(box.top, r.top);
        box.right = std::max(box.right, r.right);
        box.bottom = std::max(box.bottom, r.bottom);
    }
    return box;
}

bool Region::Contains(LONG x, LONG y) const {
    return Inside(m_rects, x, y);
}

bool Region::Intersects(const RECT& rect) const {
    const Region other = FromRect(rect.left, rect.top, rect.right, rect.bottom);
    return !Combine(*this, other, RGN_AND).m_rects.empty();
}

void Region::Offset(LONG dx, LONG dy) {
    const auto add = [](LONG a, LONG b) {
        return static_cast<LONG>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
    };
    for (RECT& r : m_rects) {
        r = RECT{add(r.left, dx), add(r.top, dy), add(r.right, dx), add(r.bottom, dy)};
    }
}

// The plane is cut along every edge of both regions into cells; a cell
// belongs to the result when the mode keeps its membership in the two
// regions.  Cells are joined across each band, then bands with the same
// spans are joined downwards, which gives the canonical banded list.
Region Region::Combine(const Region& a, const Region& b, int mode) {
    std::vector<LONG> xs, ys;
    for (const auto* rects : {&a.m_rects, &b.m_rects}) {
        for (const RECT& r : *rects) {
            xs.insert(xs.end(), {r.left, r.right});
            ys.insert(ys.end(), {r.top, r.bottom});
        }
    }
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

    Region result;
    std::vector<RECT> previousBand;  // spans of the band just above, already in result
    std::size_t previousStart = 0;
    for (std::size_t j = 0; j + 1 < ys.size(); ++j) {
        std::vector<RECT> band;
        for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
            if (!Keep(Inside(a.m_rects, xs[i], ys[j]), Inside(b.m_rects, xs[i], ys[j]), mode)) continue;
            if (!band.empty() && band.back().right == xs[i]) {
                band.back().right = xs[i + 1];
            } else {
                band.push_back(RECT{xs[i], ys[j], xs[i + 1], ys[j + 1]});
            }
        }
        const bool sameSpans =
            !band.empty() && band.size() == previousBand.size() &&
            result.m_rects.size() - previousStart == band.size() &&
            std::equal(band.begin(), band.end(), previousBand.begin(), [&](const RECT& x, const RECT& y) {
                return x.left == y.left && x.right == y.right && y.bottom == x.top;
            });
        if (sameSpans) {
            for (std::size_t k = 0; k < band.size(); ++k) result.m_rects[previousStart + k].bottom = band[k].bottom;
            for (RECT& r : previousBand) r.bottom = band.front().bottom;
            continue;
        }
        previousStart = result.m_rects.size();
        result.m_rects.insert(result.m_rects.end(), band.begin(), band.end());
        previousBand = std::move(band);
    }
    return result;
}

bool operator==(const Region& a, const Region& b) {
    return a.m_rects.size() == b.m_rects.size() &&
           std::equal(a.m_rects.begin(), a.m_rects.end(), b.m_rects.begin(), [](const RECT& x, const RECT& y) {
               return x.left == y.left && x.top == y.top && x.right == y.right && x.bottom == y.bottom;
           });
}

}  // namespace vplatform::gdi

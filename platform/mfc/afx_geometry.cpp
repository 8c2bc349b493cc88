// CRect's intersection and union (the rest of the geometry classes is inline).
#include <algorithm>

#include "platform/mfc/AfxGeometry.h"

BOOL CRect::IntersectRect(const RECT* first, const RECT* second) noexcept {
    // Either argument may be this very rectangle: read both before writing.
    const CRect a(first), b(second);
    if (first == nullptr || second == nullptr || a.IsRectEmpty() || b.IsRectEmpty()) {
        SetRectEmpty();
        return FALSE;
    }
    const CRect result(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                       std::min(a.bottom, b.bottom));
    if (result.IsRectEmpty()) {
        SetRectEmpty();
        return FALSE;
    }
    *this = result;
    return TRUE;
}

BOOL CRect::UnionRect(const RECT* first, const RECT* second) noexcept {
    const CRect a(first), b(second);
    const bool useA = first != nullptr && !a.IsRectEmpty();
    const bool useB = second != nullptr && !b.IsRectEmpty();
    if (!useA && !useB) {
        SetRectEmpty();
        return FALSE;
    }
    if (!useB) {
        *this = a;
    } else if (!useA) {
        *this = b;
    } else {
        *this = CRect(std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                      std::max(a.bottom, b.bottom));
    }
    return TRUE;
}

// CPoint, CSize and CRect: the MFC value classes over POINT, SIZE and RECT.
//
// Each class derives from its Win32 structure, so an object can be passed
// wherever the structure (or a pointer to it) is expected, and adds the usual
// MFC constructors, members and operators.
//
// Arithmetic is done in 32-bit two's complement and wraps on overflow, as it
// does on Windows, instead of being undefined.  Rectangles follow Windows'
// conventions: the right and bottom edges are exclusive, a rectangle whose
// width or height is zero or negative is empty, and none of the members
// normalises a rectangle unless it says so.  Nothing here fails or throws;
// members that can find "no result" (IntersectRect, UnionRect) say so with a
// FALSE result and an all-zero rectangle.
//
// Threads: plain values: one object is used by one thread at a time (or read by
// several).
#pragma once

#include <cstdint>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

namespace vplatform::geometry {

// Wrapping 32-bit addition and subtraction (Windows' LONG arithmetic).
constexpr LONG Add(LONG a, LONG b) noexcept {
    return static_cast<LONG>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr LONG Sub(LONG a, LONG b) noexcept {
    return static_cast<LONG>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
constexpr LONG Neg(LONG a) noexcept {
    return Sub(0, a);
}

}  // namespace vplatform::geometry

class CSize;
class CRect;

// A point.  TopLeft()/BottomRight() of CRect hand out references to the
// corners of a rectangle as points, so the type may alias a RECT's members.
class VPLATFORM_API __attribute__((may_alias)) CPoint : public POINT {
public:
    constexpr CPoint() noexcept : POINT{0, 0} {}
    constexpr CPoint(int x, int y) noexcept : POINT{x, y} {}
    constexpr CPoint(POINT point) noexcept : POINT(point) {}
    constexpr CPoint(SIZE size) noexcept : POINT{size.cx, size.cy} {}
    // The low word as x, the high word as y (both sign-extended), as
    // MAKEPOINTS does with a message parameter.
    constexpr explicit CPoint(LPARAM packed) noexcept
        : POINT{static_cast<std::int16_t>(packed & 0xFFFF), static_cast<std::int16_t>((packed >> 16) & 0xFFFF)} {}

    constexpr void Offset(int dx, int dy) noexcept {
        x = vplatform::geometry::Add(x, dx);
        y = vplatform::geometry::Add(y, dy);
    }
    constexpr void Offset(POINT point) noexcept { Offset(point.x, point.y); }
    constexpr void Offset(SIZE size) noexcept { Offset(size.cx, size.cy); }
    constexpr void SetPoint(int newX, int newY) noexcept {
        x = newX;
        y = newY;
    }

    // Also compares with a POINT (converted); != follows from ==.
    friend constexpr bool operator==(const CPoint& a, const CPoint& b) noexcept { return a.x == b.x && a.y == b.y; }

    constexpr CPoint& operator+=(SIZE size) noexcept {
        Offset(size);
        return *this;
    }
    constexpr CPoint& operator-=(SIZE size) noexcept {
        Offset(vplatform::geometry::Neg(size.cx), vplatform::geometry::Neg(size.cy));
        return *this;
    }
    constexpr CPoint& operator+=(POINT point) noexcept {
        Offset(point);
        return *this;
    }
    constexpr CPoint& operator-=(POINT point) noexcept {
        Offset(vplatform::geometry::Neg(point.x), vplatform::geometry::Neg(point.y));
        return *this;
    }

    constexpr CPoint operator+(SIZE size) const noexcept { return CPoint(*this) += size; }
    constexpr CPoint operator-(SIZE size) const noexcept { return CPoint(*this) -= size; }
    constexpr CPoint operator+(POINT point) const noexcept { return CPoint(*this) += point; }
    constexpr CPoint operator-() const noexcept {
        return CPoint(vplatform::geometry::Neg(x), vplatform::geometry::Neg(y));
    }
    // The distance between two points.
    constexpr CSize operator-(POINT point) const noexcept;
    // The rectangle moved by this point.
    CRect operator+(const RECT* rect) const noexcept;
    CRect operator-(const RECT* rect) const noexcept;
};

class VPLATFORM_API CSize : public SIZE {
public:
    constexpr CSize() noexcept : SIZE{0, 0} {}
    constexpr CSize(int cx, int cy) noexcept : SIZE{cx, cy} {}
    constexpr CSize(SIZE size) noexcept : SIZE(size) {}
    constexpr CSize(POINT point) noexcept : SIZE{point.x, point.y} {}
    // The low word as cx, the high word as cy (both zero-extended).
    constexpr explicit CSize(DWORD packed) noexcept
        : SIZE{static_cast<LONG>(packed & 0xFFFF), static_cast<LONG>(packed >> 16)} {}

    constexpr void SetSize(int newCx, int newCy) noexcept {
        cx = newCx;
        cy = newCy;
    }

    // Also compares with a SIZE (converted); != follows from ==.
    friend constexpr bool operator==(const CSize& a, const CSize& b) noexcept { return a.cx == b.cx && a.cy == b.cy; }

    constexpr CSize& operator+=(SIZE size) noexcept {
        cx = vplatform::geometry::Add(cx, size.cx);
        cy = vplatform::geometry::Add(cy, size.cy);
        return *this;
    }
    constexpr CSize& operator-=(SIZE size) noexcept {
        cx = vplatform::geometry::Sub(cx, size.cx);
        cy = vplatform::geometry::Sub(cy, size.cy);
        return *this;
    }

    constexpr CSize operator+(SIZE size) const noexcept { return CSize(*this) += size; }
    constexpr CSize operator-(SIZE size) const noexcept { return CSize(*this) -= size; }
    constexpr CSize operator-() const noexcept {
        return CSize(vplatform::geometry::Neg(cx), vplatform::geometry::Neg(cy));
    }
    constexpr CPoint operator+(POINT point) const noexcept { return CPoint(point) += *this; }
    constexpr CPoint operator-(POINT point) const noexcept { return CPoint(*this) -= CSize(point); }
    CRect operator+(const RECT* rect) const noexcept;
    CRect operator-(const RECT* rect) const noexcept;
};

constexpr CSize CPoint::operator-(POINT point) const noexcept {
    return CSize(vplatform::geometry::Sub(x, point.x), vplatform::geometry::Sub(y, point.y));
}

class VPLATFORM_API CRect : public RECT {
public:
    constexpr CRect() noexcept : RECT{0, 0, 0, 0} {}
    constexpr CRect(int l, int t, int r, int b) noexcept : RECT{l, t, r, b} {}
    constexpr CRect(const RECT& rect) noexcept : RECT(rect) {}
    // A null pointer gives the all-zero rectangle.
    constexpr CRect(const RECT* rect) noexcept : RECT(rect ? *rect : RECT{0, 0, 0, 0}) {}
    constexpr CRect(POINT topLeft, SIZE size) noexcept
        : RECT{topLeft.x, topLeft.y, vplatform::geometry::Add(topLeft.x, size.cx),
               vplatform::geometry::Add(topLeft.y, size.cy)} {}
    constexpr CRect(POINT topLeft, POINT bottomRight) noexcept
        : RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y} {}

    // --- Queries ----------------------------------------------------------

    constexpr int Width() const noexcept { return vplatform::geometry::Sub(right, left); }
    constexpr int Height() const noexcept { return vplatform::geometry::Sub(bottom, top); }
    constexpr CSize Size() const noexcept { return CSize(Width(), Height()); }
    // References to the two corners, so that `rect.TopLeft() = point` moves
    // the corner.
    CPoint& TopLeft() noexcept { return *reinterpret_cast<CPoint*>(&left); }
    CPoint& BottomRight() noexcept { return *reinterpret_cast<CPoint*>(&right); }
    constexpr CPoint TopLeft() const noexcept { return CPoint(left, top); }
    constexpr CPoint BottomRight() const noexcept { return CPoint(right, bottom); }
    // The middle point, rounded toward zero; computed without overflow.
    constexpr CPoint CenterPoint() const noexcept {
        return CPoint(static_cast<LONG>((static_cast<std::int64_t>(left) + right) / 2),
                      static_cast<LONG>((static_cast<std::int64_t>(top) + bottom) / 2));
    }

    // Width or height zero or negative.
    constexpr bool IsRectEmpty() const noexcept { return right <= left || bottom <= top; }
    // All four coordinates zero.
    constexpr bool IsRectNull() const noexcept { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    // Inside when left <= x < right and top <= y < bottom.
    constexpr bool PtInRect(POINT point) const noexcept {
        return point.x >= left && point.x < right && point.y >= top && point.y < bottom;
    }
    // All four coordinates equal; a null pointer equals nothing.
    constexpr bool EqualRect(const RECT* rect) const noexcept {
        return rect != nullptr && left == rect->left && top == rect->top && right == rect->right &&
               bottom == rect->bottom;
    }

    operator RECT*() noexcept { return this; }
    operator const RECT*() const noexcept { return this; }

    // --- Changing ---------------------------------------------------------

    constexpr void SetRect(int l, int t, int r, int b) noexcept {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    constexpr void SetRect(POINT topLeft, POINT bottomRight) noexcept {
        SetRect(topLeft.x, topLeft.y, bottomRight.x, bottomRight.y);
    }
    constexpr void SetRectEmpty() noexcept { SetRect(0, 0, 0, 0); }
    // Copies `rect`; a null pointer changes nothing.
    constexpr void CopyRect(const RECT* rect) noexcept {
        if (rect) *static_cast<RECT*>(this) = *rect;
    }
    constexpr void SwapLeftRight() noexcept {
        const LONG l = left;
        left = right;
        right = l;
    }

    constexpr void OffsetRect(int dx, int dy) noexcept {
        left = vplatform::geometry::Add(left, dx);
        right = vplatform::geometry::Add(right, dx);
        top = vplatform::geometry::Add(top, dy);
        bottom = vplatform::geometry::Add(bottom, dy);
    }
    constexpr void OffsetRect(POINT point) noexcept { OffsetRect(point.x, point.y); }
    constexpr void OffsetRect(SIZE size) noexcept { OffsetRect(size.cx, size.cy); }
    // Moves the rectangle so that its top-left corner is at the point, keeping
    // its size.
    constexpr void MoveToX(int x) noexcept {
        right = vplatform::geometry::Add(x, Width());
        left = x;
    }
    constexpr void MoveToY(int y) noexcept {
        bottom = vplatform::geometry::Add(y, Height());
        top = y;
    }
    constexpr void MoveToXY(int x, int y) noexcept {
        MoveToX(x);
        MoveToY(y);
    }
    constexpr void MoveToXY(POINT point) noexcept { MoveToXY(point.x, point.y); }

    // Moves each side outward by the given amount (negative amounts move it
    // inward): left and top decrease, right and bottom increase.
    constexpr void InflateRect(int l, int t, int r, int b) noexcept {
        left = vplatform::geometry::Sub(left, l);
        top = vplatform::geometry::Sub(top, t);
        right = vplatform::geometry::Add(right, r);
        bottom = vplatform::geometry::Add(bottom, b);
    }
    constexpr void InflateRect(int x, int y) noexcept { InflateRect(x, y, x, y); }
    constexpr void InflateRect(SIZE size) noexcept { InflateRect(size.cx, size.cy); }
    // Each side by the matching member of `rect`; a null pointer changes
    // nothing.
    constexpr void InflateRect(const RECT* rect) noexcept {
        if (rect) InflateRect(rect->left, rect->top, rect->right, rect->bottom);
    }
    // The opposite of InflateRect.
    constexpr void DeflateRect(int l, int t, int r, int b) noexcept {
        InflateRect(vplatform::geometry::Neg(l), vplatform::geometry::Neg(t), vplatform::geometry::Neg(r),
                    vplatform::geometry::Neg(b));
    }
    constexpr void DeflateRect(int x, int y) noexcept { DeflateRect(x, y, x, y); }
    constexpr void DeflateRect(SIZE size) noexcept { DeflateRect(size.cx, size.cy); }
    constexpr void DeflateRect(const RECT* rect) noexcept {
        if (rect) DeflateRect(rect->left, rect->top, rect->right, rect->bottom);
    }
    // Swaps left/right and top/bottom where needed so that the width and the
    // height are not negative.
    constexpr void NormalizeRect() noexcept {
        if (left > right) SwapLeftRight();
        if (top > bottom) {
            const LONG t = top;
            top = bottom;
            bottom = t;
        }
    }

    // Sets this rectangle to the intersection of the two.  When they do not
    // overlap (or either is empty, or a pointer is null) it becomes the
    // all-zero rectangle and the result is FALSE.
    BOOL IntersectRect(const RECT* first, const RECT* second) noexcept;
    // Sets this rectangle to the smallest one that contains both; an empty
    // rectangle (or a null pointer) takes no part.  When both are empty it
    // becomes the all-zero rectangle and the result is FALSE.
    BOOL UnionRect(const RECT* first, const RECT* second) noexcept;

    // --- Operators --------------------------------------------------------

    // Also compares with a RECT (converted); != follows from ==.
    friend constexpr bool operator==(const CRect& a, const CRect& b) noexcept { return a.EqualRect(&b); }

    constexpr CRect& operator+=(POINT point) noexcept {
        OffsetRect(point);
        return *this;
    }
    constexpr CRect& operator+=(SIZE size) noexcept {
        OffsetRect(size);
        return *this;
    }
    // Inflates by each side of `rect`.
    constexpr CRect& operator+=(const RECT* rect) noexcept {
        InflateRect(rect);
        return *this;
    }
    constexpr CRect& operator-=(POINT point) noexcept {
        OffsetRect(vplatform::geometry::Neg(point.x), vplatform::geometry::Neg(point.y));
        return *this;
    }
    constexpr CRect& operator-=(SIZE size) noexcept {
        OffsetRect(vplatform::geometry::Neg(size.cx), vplatform::geometry::Neg(size.cy));
        return *this;
    }
    // Deflates by each side of `rect`.
    constexpr CRect& operator-=(const RECT* rect) noexcept {
        DeflateRect(rect);
        return *this;
    }
    CRect& operator&=(const RECT& rect) noexcept {
        IntersectRect(this, &rect);
        return *this;
    }
    CRect& operator|=(const RECT& rect) noexcept {
        UnionRect(this, &rect);
        return *this;
    }

    constexpr CRect operator+(POINT point) const noexcept { return CRect(*this) += point; }
    constexpr CRect operator+(SIZE size) const noexcept { return CRect(*this) += size; }
    constexpr CRect operator+(const RECT* rect) const noexcept { return CRect(*this) += rect; }
    constexpr CRect operator-(POINT point) const noexcept { return CRect(*this) -= point; }
    constexpr CRect operator-(SIZE size) const noexcept { return CRect(*this) -= size; }
    constexpr CRect operator-(const RECT* rect) const noexcept { return CRect(*this) -= rect; }
    // The intersection and the union, as IntersectRect and UnionRect.
    CRect operator&(const RECT& rect) const noexcept { return CRect(*this) &= rect; }
    CRect operator|(const RECT& rect) const noexcept { return CRect(*this) |= rect; }
};

inline CRect CPoint::operator+(const RECT* rect) const noexcept {
    return CRect(rect) + *this;
}
inline CRect CPoint::operator-(const RECT* rect) const noexcept {
    return CRect(rect) - *this;
}
inline CRect CSize::operator+(const RECT* rect) const noexcept {
    return CRect(rect) + *this;
}
inline CRect CSize::operator-(const RECT* rect) const noexcept {
    return CRect(rect) - *this;
}

static_assert(sizeof(CPoint) == sizeof(POINT) && sizeof(CSize) == sizeof(SIZE) && sizeof(CRect) == sizeof(RECT));

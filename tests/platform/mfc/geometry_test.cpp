// CPoint, CSize and CRect: Windows' rectangle conventions, the intersection
// and union against a pixel-by-pixel model, and wrapping arithmetic at the
// ends of the 32-bit range.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <utility>

#include "platform/mfc/AfxGeometry.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;

Pixels PixelsOf(const CRect& r) {
    Pixels pixels;
    for (int x = r.left; x < r.right; ++x) {
        for (int y = r.top; y < r.bottom; ++y) pixels.insert({x, y});
    }
    return pixels;
}

TEST(CRect, FollowsWindowsConventions) {
    const CRect r(10, 20, 110, 70);
    EXPECT_EQ(r.Size(), CSize(100, 50));
    EXPECT_EQ(r.CenterPoint(), CPoint(60, 45));
    EXPECT_EQ(CRect(-3, -3, 0, 0).CenterPoint(), CPoint(-1, -1));  // rounded toward zero
    EXPECT_EQ(CRect(INT_MAX - 1, 0, INT_MAX, 0).CenterPoint().x, INT_MAX - 1);
    // Right and bottom edges are outside; an inverted rectangle is empty, not null.
    EXPECT_TRUE(r.PtInRect(CPoint(10, 20)) && r.PtInRect(CPoint(109, 69)));
    EXPECT_FALSE(r.PtInRect(CPoint(110, 50)) || r.PtInRect(CPoint(50, 70)));
    EXPECT_TRUE(CRect(5, 5, 5, 10).IsRectEmpty() && CRect(5, 5, 4, 10).IsRectEmpty());
    EXPECT_FALSE(CRect(5, 5, 4, 10).IsRectNull());
    EXPECT_FALSE(r.EqualRect(nullptr));
    EXPECT_TRUE(r == (RECT{10, 20, 110, 70}));
    EXPECT_EQ(CRect(CPoint(1, 2), CSize(3, 4)), CRect(1, 2, 4, 6));
    EXPECT_EQ(CRect(static_cast<const RECT*>(nullptr)), CRect());
    CRect flipped(30, 40, 10, 20);
    flipped.NormalizeRect();
    EXPECT_EQ(flipped, CRect(10, 20, 30, 40));
    flipped.InflateRect(1, 2, 3, 4);
    const RECT sides{1, 2, 3, 4};
    flipped.DeflateRect(&sides);
    flipped.InflateRect(static_cast<const RECT*>(nullptr));
    EXPECT_EQ(flipped, CRect(10, 20, 30, 40));
    // The corners are references into the rectangle.
    flipped.TopLeft() = CPoint(-5, -6);
    flipped.BottomRight().Offset(10, 10);
    static_cast<RECT*>(flipped)->right = 7;
    EXPECT_EQ(flipped, CRect(-5, -6, 7, 50));
    // Adding a RECT inflates by its sides, subtracting one deflates.
    const RECT by{1, 1, 2, 2};
    EXPECT_EQ(r + CPoint(1, 2), CRect(11, 22, 111, 72));
    EXPECT_EQ(r + &by, CRect(9, 19, 112, 72));
    EXPECT_EQ(r - &by, CRect(11, 21, 108, 68));
    EXPECT_EQ(CSize(1, 1) - static_cast<const RECT*>(r), CRect(9, 19, 109, 69));
    EXPECT_EQ(CSize(5, 6) - CPoint(1, 1), CPoint(4, 5));
    EXPECT_EQ(CPoint(3, 4) - CPoint(1, 1), CSize(2, 3));
    // Packed coordinates are signed 16-bit halves.
    EXPECT_EQ(CPoint(static_cast<LPARAM>(0xFFFF0002)), CPoint(2, -1));
    EXPECT_EQ(CSize(static_cast<DWORD>(0x00030004)), CSize(4, 3));
}

TEST(CRect, IntersectionAndUnionMatchAPixelModel) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> coordinate(-4, 8);
    for (int i = 0; i < 3000; ++i) {
        const CRect a(coordinate(random), coordinate(random), coordinate(random), coordinate(random));
        const CRect b(coordinate(random), coordinate(random), coordinate(random), coordinate(random));
        const Pixels pa = PixelsOf(a), pb = PixelsOf(b);
        Pixels common, all = pa;
        for (const auto& p : pa) {
            if (pb.count(p)) common.insert(p);
        }
        all.insert(pb.begin(), pb.end());
        CRect meet, join;
        EXPECT_EQ(meet.IntersectRect(&a, &b), common.empty() ? FALSE : TRUE);
        EXPECT_EQ(PixelsOf(meet), common);
        EXPECT_TRUE(!common.empty() || meet.IsRectNull());
        EXPECT_EQ(a & b, meet);
        // The union is the smallest rectangle holding both pixel sets.
        EXPECT_EQ(join.UnionRect(&a, &b), all.empty() ? FALSE : TRUE);
        CRect bounds;
        if (!all.empty()) bounds = CRect(INT_MAX, INT_MAX, INT_MIN, INT_MIN);
        for (const auto& [x, y] : all) {
            bounds = CRect(std::min<LONG>(bounds.left, x), std::min<LONG>(bounds.top, y),
                           std::max<LONG>(bounds.right, x + 1), std::max<LONG>(bounds.bottom, y + 1));
        }
        EXPECT_EQ(join, bounds);
        EXPECT_EQ(a | b, join);
    }
    // The result may be one of the arguments.
    CRect r(0, 0, 10, 10);
    r &= CRect(5, 5, 20, 20);
    EXPECT_EQ(r, CRect(5, 5, 10, 10));
    EXPECT_FALSE(r.IntersectRect(&r, nullptr));
    EXPECT_TRUE(r.IsRectNull());
    EXPECT_TRUE(r.UnionRect(nullptr, CRect(1, 1, 2, 2)));
    EXPECT_EQ(r, CRect(1, 1, 2, 2));
}

// Windows' LONG arithmetic wraps; here it must not be undefined either (the
// sanitizer build checks).
TEST(CPointAndCSize, ArithmeticWrapsAtTheEndsOfTheRange) {
    CPoint p(INT_MAX, INT_MIN);
    p.Offset(1, -1);
    EXPECT_EQ(p, CPoint(INT_MIN, INT_MAX));
    EXPECT_EQ(-CPoint(INT_MIN, 0), CPoint(INT_MIN, 0));
    EXPECT_EQ(CRect(INT_MIN, 0, INT_MAX, 0).Width(), -1);
    CRect r(0, 0, INT_MAX, 1);
    r.InflateRect(1, 0);
    EXPECT_EQ(r, CRect(-1, 0, INT_MIN, 1));
    EXPECT_TRUE(r.IsRectEmpty());
}

}  // namespace

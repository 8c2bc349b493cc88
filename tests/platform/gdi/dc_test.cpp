// Device contexts and GDI objects: Windows' rules for selecting, deleting and
// releasing, handles that no longer name an object, bitmaps with real pixels,
// regions, icons, the quota, and the entry the window layer makes its DCs
// through.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/gdi/Icons.h"
#include "platform/gdi/internal/WindowDc.h"
#include "tests/support/GdiTest.h"
#include "tests/support/Rect.h"
#include "tests/support/Seam.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::FontScope;
using vlibtest::GdiObjectCount;
using vlibtest::ScreenDc;

class Dcs : public vlibtest::GdiTest {};

TEST_F(Dcs, AttributesAreCheckedAndAReleasedScreenDcComesBackAtNinetySixDpiWithDefaults) {
    const HFONT font = CreateFontW(-11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
    HDC first = GetDC(nullptr);
    EXPECT_EQ(GetObjectType(first), OBJ_DC);
    SelectObject(first, font);
    EXPECT_EQ(SetBkMode(first, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetTextColor(first, RGB(1, 2, 3)), RGB(0, 0, 0));
    SetBkColor(first, RGB(4, 5, 6));
    const HRGN clip = CreateRectRgn(0, 0, 5, 5);
    SelectClipRgn(first, clip);
    DeleteObject(clip);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return SetBkMode(first, 7) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_CALL_NOT_IMPLEMENTED, [&] { return SetMapMode(first, MM_HIENGLISH) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return SetMapMode(first, 99) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetCurrentObject(first, OBJ_REGION) != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [] { return SetTextColor(nullptr, 0) != CLR_INVALID; }));
    EXPECT_EQ(GetBkMode(first), TRANSPARENT);
    ASSERT_EQ(ReleaseDC(nullptr, first), 1);

    const ScreenDc again;
    const std::pair<int, int> caps[] = {{LOGPIXELSX, 96}, {LOGPIXELSY, 96}, {BITSPIXEL, 32},
                                        {PLANES, 1},      {TECHNOLOGY, 1},  {NUMCOLORS, -1}};
    for (const auto& [index, value] : caps) EXPECT_EQ(GetDeviceCaps(again, index), value) << index;
    EXPECT_EQ(GetCurrentObject(again, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetCurrentObject(again, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(GetCurrentObject(again, OBJ_PEN), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetBkMode(again), OPAQUE);
    EXPECT_EQ(GetTextColor(again), RGB(0, 0, 0));
    EXPECT_EQ(GetBkColor(again), RGB(255, 255, 255));
    EXPECT_EQ(GetMapMode(again), MM_TEXT);
    const HRGN probe = CreateRectRgn(0, 0, 1, 1);
    EXPECT_EQ(GetClipRgn(again, probe), 0);
    DeleteObject(probe);
    // The font was selected only into the released DC: it can go.
    EXPECT_TRUE(DeleteObject(font));
}

TEST_F(Dcs, ReleaseAndDeleteKeepToTheirOwnDcsAndWindowDcsEndWithTheirWindow) {
    HDC memory = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    // The entry the window layer makes its DCs through, for a window it names.
    const HWND window = reinterpret_cast<HWND>(std::uintptr_t{0x20004001});
    const HDC windowDc = vplatform::gdi::MakeWindowDc(window);
    const HDC leftOut = vplatform::gdi::MakeWindowDc(window);
    EXPECT_EQ(GetObjectType(memory), OBJ_MEMDC);
    EXPECT_EQ(GetObjectType(windowDc), OBJ_DC);
    EXPECT_EQ(GetDeviceCaps(windowDc, LOGPIXELSY), 96);
    const std::vector<std::function<bool()>> wrongOnes = {
        [&] { return ReleaseDC(nullptr, memory) != 0; },
        [&] { return DeleteDC(screen); },
        [&] { return ReleaseDC(reinterpret_cast<HWND>(8), screen) != 0; },
        [&] { return ReleaseDC(nullptr, windowDc) != 0; },
        [&] { return ReleaseDC(reinterpret_cast<HWND>(std::uintptr_t{0x20004002}), windowDc) != 0; },
    };
    for (std::size_t i = 0; i < wrongOnes.size(); ++i) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, wrongOnes[i])) << "wrong release " << i;
    }
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_TRUE(DeleteDC(memory));
    EXPECT_EQ(ReleaseDC(window, windowDc), 1);
    // Destroying the window ends the DCs still out.
    EXPECT_EQ(vplatform::gdi::ReleaseWindowDcs(window), 1);
    EXPECT_EQ(vplatform::gdi::ReleaseWindowDcs(window), 0);
    // Twice: the handles are gone.
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return ReleaseDC(nullptr, screen) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return DeleteDC(memory); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return ReleaseDC(window, leftOut) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_WINDOW_HANDLE, [&] { return GetDC(reinterpret_cast<HWND>(8)) != nullptr; }));
}

TEST_F(Dcs, DeleteObjectRefusesSelectedObjectsAndLeavesStockOnes) {
    const ScreenDc dc;
    const HFONT font = CreateFontW(-12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
    const HGDIOBJ previous = SelectObject(dc, font);
    EXPECT_EQ(previous, GetStockObject(SYSTEM_FONT));
    EXPECT_TRUE(FailsWith(ERROR_BUSY, [&] { return DeleteObject(font); }));
    EXPECT_EQ(GetObjectType(font), OBJ_FONT);  // still there
    EXPECT_EQ(SelectObject(dc, previous), font);
    EXPECT_TRUE(DeleteObject(font));
    // Stock objects stay, also when selected.
    EXPECT_TRUE(DeleteObject(GetStockObject(DEFAULT_GUI_FONT)));
    EXPECT_TRUE(DeleteObject(GetStockObject(SYSTEM_FONT)));
    EXPECT_EQ(GetObjectType(GetStockObject(DEFAULT_GUI_FONT)), OBJ_FONT);
}

TEST_F(Dcs, SavedStatesKeepTheirObjectsSelectedUntilRestored) {
    const ScreenDc dc;
    const HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    const HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    SelectObject(dc, red);
    SetTextColor(dc, RGB(9, 9, 9));
    EXPECT_EQ(SaveDC(dc), 1);
    SelectObject(dc, blue);
    SetTextColor(dc, RGB(7, 7, 7));
    EXPECT_EQ(SaveDC(dc), 2);
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(FailsWith(ERROR_BUSY, [&] { return DeleteObject(red); }));  // in saved state 1
    for (const int bad : {3, -3, 0})
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return RestoreDC(dc, bad); }));
    ASSERT_TRUE(RestoreDC(dc, 1));  // drops state 2 as well
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), red);
    EXPECT_EQ(GetTextColor(dc), RGB(9, 9, 9));
    EXPECT_TRUE(DeleteObject(blue));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return RestoreDC(dc, -1); }));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(DeleteObject(red));
}

TEST_F(Dcs, HandlesThatNameNothingFailWithoutReachingAnotherObject) {
    const ScreenDc dc;
    const HFONT deleted = CreateFontW(-11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial");
    ASSERT_TRUE(DeleteObject(deleted));
    // Objects made after it take other handles, never the old value.
    const FontScope fresh(L"Arial", -11);
    EXPECT_NE(static_cast<HFONT>(fresh), deleted);
    const HGDIOBJ forged = reinterpret_cast<HGDIOBJ>(std::uintptr_t{0x3FFFFFFF});
    const HICON icon = [] {
        const HBITMAP mask = CreateBitmap(2, 4, 1, 1, nullptr);
        ICONINFO info{TRUE, 0, 0, mask, nullptr};
        const HICON made = CreateIconIndirect(&info);
        DeleteObject(mask);
        return made;
    }();
    const std::vector<std::function<bool()>> misuses = {
        [&] { return SelectObject(dc, deleted) != nullptr; },
        [&] { return DeleteObject(deleted); },
        [&] { return GetObjectW(deleted, 0, nullptr) != 0; },
        [&] { return GetObjectType(deleted) != 0; },
        [&] { return DeleteObject(forged); },
        [&] { return SelectObject(dc, forged) != nullptr; },
        [&] { return DeleteObject(static_cast<HDC>(dc)); },  // a DC is no object to delete
        [&] { return SelectObject(dc, static_cast<HDC>(dc)) != nullptr; },
        [&] { return DeleteObject(icon); },  // nor is an icon
        [&] { return GetObjectType(icon) != 0; },
        [&] { return ReleaseDC(nullptr, reinterpret_cast<HDC>(static_cast<HFONT>(fresh))) != 0; },
        [&] { return GetBkMode(reinterpret_cast<HDC>(static_cast<HFONT>(fresh))) != 0; },
        [&] { return SaveDC(nullptr) != 0; },
    };
    for (std::size_t i = 0; i < misuses.size(); ++i) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, misuses[i])) << "misuse " << i;
    }
    EXPECT_EQ(GetObjectType(fresh), OBJ_FONT);
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_CURSOR_HANDLE, [&] { return DestroyIcon(icon); }));
}

TEST_F(Dcs, BitmapsFollowTheirDcsFormatAndHoldRealPixels) {
    const ScreenDc screen;
    HBITMAP colour = CreateCompatibleBitmap(screen, 3, 2);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP mono = CreateCompatibleBitmap(memory, 3, 2);  // a fresh memory DC holds a monochrome bitmap
    BITMAP description{};
    ASSERT_EQ(GetObjectW(colour, sizeof description, &description), static_cast<int>(sizeof description));
    EXPECT_EQ(description.bmBitsPixel, 32);
    EXPECT_EQ(description.bmWidthBytes, 12);
    EXPECT_EQ(description.bmBits, nullptr);
    GetObjectW(mono, sizeof description, &description);
    EXPECT_EQ(description.bmBitsPixel, 1);
    EXPECT_EQ(description.bmWidthBytes, 2);

    const std::uint32_t pixels[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(SetBitmapBits(colour, sizeof pixels, pixels), static_cast<LONG>(sizeof pixels));
    std::uint32_t back[6] = {};
    EXPECT_EQ(GetBitmapBits(colour, sizeof back, back), static_cast<LONG>(sizeof back));
    EXPECT_EQ(std::memcmp(pixels, back, sizeof back), 0);

    const HGDIOBJ original = SelectObject(memory, colour);
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(GetObjectType(original), OBJ_BITMAP);
    const HBITMAP like = CreateCompatibleBitmap(memory, 1, 1);  // now the DC's format is 32 bits
    GetObjectW(like, sizeof description, &description);
    EXPECT_EQ(description.bmBitsPixel, 32);
    // One memory DC at a time; never into a screen DC.
    HDC other = CreateCompatibleDC(nullptr);
    EXPECT_TRUE(FailsWith(ERROR_BUSY, [&] { return SelectObject(other, colour) != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return SelectObject(screen, mono) != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_BUSY, [&] { return DeleteObject(colour); }));
    ASSERT_TRUE(DeleteDC(memory));  // ends the selection
    EXPECT_NE(SelectObject(other, colour), nullptr);
    ASSERT_TRUE(DeleteDC(other));
    for (HBITMAP bitmap : {colour, mono, like}) EXPECT_TRUE(DeleteObject(bitmap));
}

TEST_F(Dcs, BitmapSizesAreCheckedInSixtyFourBits) {
    const ScreenDc dc;
    const std::pair<int, int> refused[] = {{-1, 5}, {5, -1}, {100000, 100000}, {0x7FFFFFFF, 2}, {40000, 40000}};
    for (const auto& [width, height] : refused) {
        EXPECT_TRUE(
            FailsWith(ERROR_INVALID_PARAMETER, [&] { return CreateCompatibleBitmap(dc, width, height) != nullptr; }))
            << width << "x" << height;
    }
    // 0 gives a 1x1 monochrome bitmap, as on Windows.
    const HBITMAP tiny = CreateCompatibleBitmap(dc, 0, 7);
    BITMAP description{};
    GetObjectW(tiny, sizeof description, &description);
    EXPECT_EQ(description.bmWidth, 1);
    EXPECT_EQ(description.bmBitsPixel, 1);
    DeleteObject(tiny);

    const vlibtest::SeamScope seam(
        [](auto& s) { s.calloc = [](std::size_t, std::size_t) -> void* { return nullptr; }; });
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_MEMORY, [&] { return CreateCompatibleBitmap(dc, 10, 10) != nullptr; }));
}

TEST_F(Dcs, DibSectionsHandTheirPixelsToTheCaller) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 3, -2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = reinterpret_cast<void*>(1);
    const HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    ASSERT_NE(bits, nullptr);
    std::memset(bits, 0xAB, 12 * 2);  // rows of 9 bytes padded to 12
    BITMAP description{};
    GetObjectW(dib, sizeof description, &description);
    EXPECT_EQ(description.bmBits, bits);
    EXPECT_EQ(description.bmWidthBytes, 12);
    EXPECT_EQ(description.bmHeight, -2);
    EXPECT_TRUE(DeleteObject(dib));

    const auto refuses = [&](BITMAPINFOHEADER header, HANDLE section, DWORD error) {
        BITMAPINFO bad{};
        bad.bmiHeader = header;
        return FailsWith(error, [&] {
            bits = reinterpret_cast<void*>(1);
            const HBITMAP made = CreateDIBSection(nullptr, &bad, DIB_RGB_COLORS, &bits, section, 0);
            return made != nullptr || bits != nullptr;
        });
    };
    // No width or height, 7 bits, two planes, JPEG data.
    for (void (*change)(BITMAPINFOHEADER&) :
         {+[](BITMAPINFOHEADER& h) { h.biWidth = 0; }, +[](BITMAPINFOHEADER& h) { h.biHeight = 0; },
          +[](BITMAPINFOHEADER& h) { h.biBitCount = 7; }, +[](BITMAPINFOHEADER& h) { h.biPlanes = 2; },
          +[](BITMAPINFOHEADER& h) { h.biCompression = 4; }}) {
        BITMAPINFOHEADER header = info.bmiHeader;
        change(header);
        EXPECT_TRUE(refuses(header, nullptr, ERROR_INVALID_PARAMETER));
    }
    EXPECT_TRUE(refuses(info.bmiHeader, reinterpret_cast<HANDLE>(4), ERROR_NOT_SUPPORTED));
}

TEST_F(Dcs, RegionsCombineAsSetsOfPixels) {
    const HRGN a = CreateRectRgn(0, 0, 10, 10);
    const HRGN b = CreateRectRgn(5, 5, 15, 15);
    const HRGN result = CreateRectRgn(0, 0, 0, 0);
    struct Case {
        int mode, type;
        RECT box;
        POINT inside, outside;
    };
    const Case cases[] = {
        {RGN_AND, SIMPLEREGION, {5, 5, 10, 10}, {5, 5}, {4, 4}},
        {RGN_OR, COMPLEXREGION, {0, 0, 15, 15}, {14, 14}, {14, 0}},
        {RGN_XOR, COMPLEXREGION, {0, 0, 15, 15}, {0, 0}, {7, 7}},
        {RGN_DIFF, COMPLEXREGION, {0, 0, 10, 10}, {9, 0}, {9, 9}},
        {RGN_COPY, SIMPLEREGION, {0, 0, 10, 10}, {9, 9}, {10, 10}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CombineRgn(result, a, b, c.mode), c.type) << c.mode;
        RECT box{};
        GetRgnBox(result, &box);
        EXPECT_EQ(box, c.box) << c.mode;
        EXPECT_TRUE(PtInRegion(result, c.inside.x, c.inside.y)) << c.mode;
        EXPECT_FALSE(PtInRegion(result, c.outside.x, c.outside.y)) << c.mode;
    }
    // (A - B) | (A & B) is A again, in the same bands.
    const HRGN part = CreateRectRgn(0, 0, 0, 0);
    CombineRgn(result, a, b, RGN_DIFF);
    CombineRgn(part, a, b, RGN_AND);
    EXPECT_EQ(CombineRgn(result, result, part, RGN_OR), SIMPLEREGION);
    EXPECT_TRUE(EqualRgn(result, a));
    EXPECT_EQ(CombineRgn(result, a, a, RGN_XOR), NULLREGION);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return CombineRgn(result, a, b, 9) != ERROR; }));
    for (HRGN region : {a, b, result, part}) DeleteObject(region);
}

TEST_F(Dcs, ClippingRegionsAreCopies) {
    const ScreenDc dc;
    const HRGN clip = CreateRectRgn(1, 2, 3, 4);
    const HRGN read = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(dc, read), 0);
    EXPECT_EQ(SelectClipRgn(dc, clip), SIMPLEREGION);
    EXPECT_TRUE(DeleteObject(clip));  // the DC keeps its own copy
    EXPECT_EQ(GetClipRgn(dc, read), 1);
    RECT box{};
    GetRgnBox(read, &box);
    EXPECT_EQ(box, (RECT{1, 2, 3, 4}));
    EXPECT_EQ(SelectClipRgn(dc, nullptr), SIMPLEREGION);
    EXPECT_EQ(GetClipRgn(dc, read), 0);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return SelectClipRgn(dc, clip) != ERROR; }));
    DeleteObject(read);
}

TEST_F(Dcs, IconsOwnCopiesOfTheirBitmaps) {
    const ScreenDc dc;
    const HBITMAP mask = CreateBitmap(16, 16, 1, 1, nullptr);
    const HBITMAP colour = CreateCompatibleBitmap(dc, 16, 16);
    const std::uint32_t pixel = 0x00FF8040;
    SetBitmapBits(colour, sizeof pixel, &pixel);
    ICONINFO info{TRUE, 99, 99, mask, colour};
    const HICON icon = CreateIconIndirect(&info);
    ASSERT_NE(icon, nullptr);
    // The caller's bitmaps stay the caller's.
    EXPECT_TRUE(DeleteObject(mask));
    EXPECT_TRUE(DeleteObject(colour));
    const HICON copy = CopyIcon(icon);
    ASSERT_TRUE(DestroyIcon(icon));
    ICONINFO read{};
    ASSERT_TRUE(GetIconInfo(copy, &read));
    EXPECT_EQ(read.xHotspot, 8u);  // an icon's hotspot is its centre
    std::uint32_t first = 0;
    GetBitmapBits(read.hbmColor, sizeof first, &first);
    EXPECT_EQ(first, pixel);
    EXPECT_TRUE(DeleteObject(read.hbmMask));
    EXPECT_TRUE(DeleteObject(read.hbmColor));
    EXPECT_TRUE(DestroyIcon(copy));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [] { return CreateIconIndirect(nullptr) != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_CURSOR_HANDLE, [&] { return GetIconInfo(copy, &read); }));
}

TEST_F(Dcs, QuotaOfTenThousandObjectsIsReachedCleanly) {
    const DWORD start = GdiObjectCount();
    std::vector<HGDIOBJ> made;
    for (;;) {
        SetLastError(0xdeadbeef);
        const HGDIOBJ brush = CreateSolidBrush(RGB(1, 2, 3));
        if (brush == nullptr) break;
        made.push_back(brush);
        ASSERT_LE(made.size(), 10'000u);
    }
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    EXPECT_EQ(GdiObjectCount(), 10'000u);
    EXPECT_EQ(made.size(), 10'000u - start);
    // Every creator and GetDC fail the same way, and nothing is half made.
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_QUOTA, [] { return GetDC(nullptr) != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_QUOTA, [] { return CreateCompatibleDC(nullptr) != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_QUOTA,
                          [] { return CreateFontW(-11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, L"Arial") != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_QUOTA, [] { return CreateRectRgn(0, 0, 1, 1) != nullptr; }));
    EXPECT_NE(GetStockObject(BLACK_BRUSH), nullptr);  // stock objects are not counted
    for (HGDIOBJ brush : made) EXPECT_TRUE(DeleteObject(brush));
    EXPECT_EQ(GdiObjectCount(), start);
    EXPECT_GE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS_PEAK), 10'000u);
}

}  // namespace

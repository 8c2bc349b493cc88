// LoadImageW over the test executable's icon (resources/app.ico: 16 red,
// 32 green, 48 blue, made into RT_ICON images and a group by vlib-rc).
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/gdi/LoadImage.h"
#include "platform/kernel/Module.h"
#include "platform/kernel/Resource.h"
#include "tests/support/GdiTest.h"
#include "tests/support/LastError.h"

namespace {

using vlibtest::FailsWith;

struct Loaded {
    LONG width = 0, height = 0;
    int dominant = -1;  // 0 blue, 1 green, 2 red: which image was taken
};

// The icon's size and the strongest channel of its rightmost column's middle
// pixel (the most opaque one), then the icon destroyed.
Loaded Inspect(HICON icon) {
    Loaded out;
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) return out;
    BITMAP color{};
    GetObjectW(info.hbmColor, sizeof color, &color);
    out.width = color.bmWidth;
    out.height = color.bmHeight;
    std::vector<BYTE> raw(static_cast<std::size_t>(color.bmWidthBytes) * color.bmHeight);
    GetBitmapBits(info.hbmColor, static_cast<LONG>(raw.size()), raw.data());
    const BYTE* pixel = raw.data() + (color.bmHeight / 2) * color.bmWidthBytes + (color.bmWidth - 1) * 4;
    out.dominant = pixel[0] >= pixel[1] && pixel[0] >= pixel[2] ? 0 : (pixel[1] >= pixel[2] ? 1 : 2);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    return out;
}

class LoadImageTest : public vlibtest::GdiTest {};

TEST_F(LoadImageTest, IconsTakeTheBestImageScaledToTheAskedSize) {
    struct Case {
        int cx, cy;
        UINT flags;
        LONG width, height;
        int dominant;
    };
    const Case cases[] = {
        {16, 16, 0, 16, 16, 2},
        {32, 32, 0, 32, 32, 1},
        {48, 48, 0, 48, 48, 0},
        {30, 30, 0, 30, 30, 1},
        {64, 64, 0, 64, 64, 0},
        {20, 40, 0, 20, 40, 1},
        {0, 0, LR_DEFAULTSIZE, 32, 32, 1},
    };
    for (const Case& c : cases) {
        const Loaded icon =
            Inspect(static_cast<HICON>(LoadImageW(nullptr, L"appicon", IMAGE_ICON, c.cx, c.cy, c.flags)));
        EXPECT_EQ(icon.width, c.width) << c.cx << "x" << c.cy;
        EXPECT_EQ(icon.height, c.height) << c.cx << "x" << c.cy;
        EXPECT_EQ(icon.dominant, c.dominant) << c.cx << "x" << c.cy;
    }
}

TEST_F(LoadImageTest, MissingIconsAndUnsupportedRequestsFail) {
    const auto load = [](LPCWSTR name, UINT type, int size, UINT flags) {
        return LoadImageW(nullptr, name, type, size, size, flags) != nullptr;
    };
    EXPECT_TRUE(FailsWith(ERROR_RESOURCE_NAME_NOT_FOUND, [&] { return load(L"NOWHERE", IMAGE_ICON, 32, 0); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return load(L"APPICON", IMAGE_ICON, -1, 0); }));
    EXPECT_TRUE(FailsWith(ERROR_NOT_SUPPORTED, [&] { return load(L"APPICON", IMAGE_BITMAP, 32, 0); }));
    EXPECT_TRUE(FailsWith(ERROR_NOT_SUPPORTED, [&] { return load(L"APPICON", IMAGE_ICON, 32, LR_SHARED); }));
    const HMODULE platform = GetModuleHandleW(L"libVLibPlatform.so");
    EXPECT_TRUE(FailsWith(ERROR_RESOURCE_DATA_NOT_FOUND,
                          [&] { return LoadImageW(platform, L"APPICON", IMAGE_ICON, 32, 32, 0) != nullptr; }));
}

}  // namespace

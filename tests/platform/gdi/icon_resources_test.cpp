// LookupIconIdFromDirectoryEx and CreateIconFromResourceEx over .ico files
// made by icotool from images PIL draws, and over hand-made DIBs of every
// colour depth.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/WinError.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/Icons.h"
#include "tests/support/GdiTest.h"
#include "tests/support/Peer.h"
#include "tests/support/TempDir.h"

namespace {

using vlibtest::TempDir;

// One image of an .ico file and the group-directory entry a resource
// compiler makes of it (id = index + 1).
struct IcoImage {
    int width = 0;
    std::vector<BYTE> data;
};

struct Ico {
    std::vector<IcoImage> images;
    std::vector<BYTE> group;  // RT_GROUP_ICON: header and 14-byte entries
};

Ico ParseIco(const std::string& file) {
    Ico ico;
    const auto* p = reinterpret_cast<const BYTE*>(file.data());
    const int count = p[4] | (p[5] << 8);
    ico.group.assign(p, p + 6);
    for (int i = 0; i < count; ++i) {
        const BYTE* e = p + 6 + i * 16;
        DWORD length = 0, offset = 0;
        std::memcpy(&length, e + 8, 4);
        std::memcpy(&offset, e + 12, 4);
        ico.images.push_back({e[0] != 0 ? e[0] : 256, std::vector<BYTE>(p + offset, p + offset + length)});
        ico.group.insert(ico.group.end(), e, e + 12);
        ico.group.push_back(static_cast<BYTE>(i + 1));
        ico.group.push_back(0);
    }
    return ico;
}

// Square images of 16, 32 and 48 pixels, each its own colour with a
// transparent top-left pixel, as an .ico of DIBs or of PNGs.
const char* const kMakeIcons = R"(
import sys, subprocess
from PIL import Image
folder, raw = sys.argv[1], sys.argv[2] == 'png'
names = []
for size, colour in ((16, (200, 10, 10, 255)), (32, (10, 200, 10, 255)), (48, (10, 10, 200, 255))):
    image = Image.new('RGBA', (size, size), colour)
    image.putpixel((0, 0), (0, 0, 0, 0))
    names.append('%s/%d.png' % (folder, size))
    image.save(names[-1])
inputs = ['--raw=' + name for name in names] if raw else names
subprocess.check_call(['icotool', '-c', '-o', folder + '/out.ico'] + inputs)
)";

Ico MakeIco(const TempDir& dir, bool png) {
    const auto script = dir.Write("make.py", kMakeIcons);
    if (!vlibtest::RunPeer({"/usr/bin/python3", script.string(), dir.Path().string(), png ? "png" : "dib"})) return {};
    return ParseIco(TempDir::Read(dir.Path() / "out.ico"));
}

// The icon's colour pixels (BGRA, top-down) and mask bits.
struct IconPixels {
    LONG width = 0, height = 0;
    std::vector<BYTE> bgra;
    std::vector<BYTE> mask;
    LONG maskStride = 0;
    BYTE At(LONG x, LONG y, int channel) const { return bgra[(static_cast<std::size_t>(y) * width + x) * 4 + channel]; }
    bool Transparent(LONG x, LONG y) const { return (mask[y * maskStride + x / 8] >> (7 - x % 8)) & 1; }
};

IconPixels ReadIcon(HICON icon) {
    IconPixels out;
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return out;
    BITMAP color{}, mask{};
    GetObjectW(info.hbmColor, sizeof color, &color);
    GetObjectW(info.hbmMask, sizeof mask, &mask);
    out.width = color.bmWidth;
    out.height = color.bmHeight;
    std::vector<BYTE> raw(static_cast<std::size_t>(color.bmWidthBytes) * color.bmHeight);
    GetBitmapBits(info.hbmColor, static_cast<LONG>(raw.size()), raw.data());
    for (LONG y = out.height - 1; y >= 0; --y) {  // the DIB runs bottom-up
        out.bgra.insert(out.bgra.end(), raw.begin() + y * color.bmWidthBytes,
                        raw.begin() + y * color.bmWidthBytes + out.width * 4);
    }
    out.maskStride = mask.bmWidthBytes;
    out.mask.resize(static_cast<std::size_t>(mask.bmWidthBytes) * mask.bmHeight);
    GetBitmapBits(info.hbmMask, static_cast<LONG>(out.mask.size()), out.mask.data());
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return out;
}

class IconResourcesTest : public vlibtest::GdiTest {
protected:
    TempDir m_dir;
};

TEST_F(IconResourcesTest, LookupPicksTheNearestSizePreferringTheLargerOnATie) {
    Ico ico = MakeIco(m_dir, false);
    ASSERT_EQ(ico.images.size(), 3u);
    const struct {
        int size;
        int id;
    } cases[] = {{16, 1}, {32, 2}, {48, 3}, {0, 2}, {20, 1}, {24, 2}, {40, 3}, {256, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(LookupIconIdFromDirectoryEx(ico.group.data(), TRUE, c.size, c.size, LR_DEFAULTCOLOR), c.id) << c.size;
    }
    SetLastError(0xdeadbeef);
    EXPECT_EQ(LookupIconIdFromDirectoryEx(ico.group.data(), FALSE, 32, 32, 0), 0);  // not a cursor group
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(IconResourcesTest, LookupPrefersTheScreenDepthThenTheDeepestBelowIt) {
    // Three 32 x 32 entries of 4, 32 and 8 bits (ids 1, 2, 3).
    std::vector<BYTE> group = {0, 0, 1, 0, 3, 0};
    for (int bits : {4, 32, 8}) {
        const BYTE entry[14] = {
            32, 32, 0, 0, 1, 0, static_cast<BYTE>(bits), 0, 0, 0, 0, 0, static_cast<BYTE>(group.size() / 14 + 1), 0};
        group.insert(group.end(), entry, entry + 14);
    }
    EXPECT_EQ(LookupIconIdFromDirectoryEx(group.data(), TRUE, 32, 32, LR_DEFAULTCOLOR), 2);
    EXPECT_EQ(LookupIconIdFromDirectoryEx(group.data(), TRUE, 32, 32, LR_MONOCHROME), 1);
}

TEST_F(IconResourcesTest, IconsFromIcotoolMatchTheirImagesAtTheirOwnOrTheAskedSize) {
    for (const bool png : {false, true}) {
        Ico ico = MakeIco(m_dir, png);
        ASSERT_EQ(ico.images.size(), 3u);
        const BYTE expected[3][3] = {{10, 10, 200}, {10, 200, 10}, {200, 10, 10}};  // B, G, R
        for (std::size_t i = 0; i < 3; ++i) {
            auto& image = ico.images[i];
            HICON icon = CreateIconFromResourceEx(image.data.data(), static_cast<DWORD>(image.data.size()), TRUE,
                                                  0x00030000, 0, 0, LR_DEFAULTCOLOR);
            ASSERT_NE(icon, nullptr) << png << " " << image.width;
            const IconPixels pixels = ReadIcon(icon);
            EXPECT_EQ(pixels.width, image.width);
            EXPECT_EQ(pixels.height, image.width);
            const LONG last = image.width - 1;
            for (int c = 0; c < 3; ++c) EXPECT_EQ(pixels.At(last, last, c), expected[i][c]) << png << " " << i;
            EXPECT_EQ(pixels.At(last, last, 3), 255);
            EXPECT_EQ(pixels.At(0, 0, 3), 0);
            EXPECT_TRUE(pixels.Transparent(0, 0));
            EXPECT_FALSE(pixels.Transparent(1, 0));
            EXPECT_TRUE(DestroyIcon(icon));
        }
        // The 48-pixel image scaled, at its own size, or at the default size.
        auto& big = ico.images[2].data;
        const struct {
            int cx, cy;
            UINT flags;
            LONG width, height;
        } sizes[] = {{24, 24, 0, 24, 24}, {0, 0, 0, 48, 48}, {0, 0, LR_DEFAULTSIZE, 32, 32}, {64, 16, 0, 64, 16}};
        for (const auto& c : sizes) {
            HICON icon = CreateIconFromResourceEx(big.data(), static_cast<DWORD>(big.size()), TRUE, 0x00030000, c.cx,
                                                  c.cy, c.flags);
            ASSERT_NE(icon, nullptr);
            const IconPixels pixels = ReadIcon(icon);
            EXPECT_EQ(pixels.width, c.width);
            EXPECT_EQ(pixels.height, c.height);
            EXPECT_EQ(pixels.At(c.width / 2, c.height / 2, 0), 200) << png << " " << c.cx;  // its blue
            EXPECT_TRUE(DestroyIcon(icon));
        }
    }
}

// A 4 x 2 icon DIB: columns alternate between palette entries 0 and 1 (or
// the two colours directly), the AND mask makes the first column of the top
// row transparent.
std::vector<BYTE> MakeDib(WORD bits) {
    const BYTE palette[2][4] = {{0, 0, 255, 0}, {255, 0, 0, 0}};  // red, blue
    const LONG width = 4, height = 2;
    const std::size_t xorRow = (width * bits + 31) / 32 * 4, andRow = 4;
    BITMAPINFOHEADER header{sizeof header, width, height * 2, 1, bits, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<BYTE> dib(sizeof header);
    std::memcpy(dib.data(), &header, sizeof header);
    if (bits <= 8) {
        for (std::size_t i = 0; i < (std::size_t{1} << bits); ++i) {
            dib.insert(dib.end(), palette[i % 2], palette[i % 2] + 4);
        }
    }
    for (LONG y = 0; y < height; ++y) {
        std::vector<BYTE> row(xorRow, 0);
        for (LONG x = 0; x < width; ++x) {
            const int index = x % 2;
            if (bits <= 8) {
                row[x * bits / 8] |= static_cast<BYTE>(index << (8 - bits - x * bits % 8));
            } else {
                std::memcpy(&row[x * bits / 8], palette[index], bits / 8);
                if (bits == 32) row[x * 4 + 3] = 0;  // no alpha: the mask decides
            }
        }
        dib.insert(dib.end(), row.begin(), row.end());
    }
    // AND mask, bottom row first: only the top row's first pixel is set.
    const BYTE mask[2][4] = {{0, 0, 0, 0}, {0x80, 0, 0, 0}};
    for (LONG y = 0; y < height; ++y) dib.insert(dib.end(), mask[y], mask[y] + andRow);
    return dib;
}

TEST_F(IconResourcesTest, DibsOfEveryDepthGiveTheirColoursAndMask) {
    for (const WORD bits : {1, 4, 8, 24, 32}) {
        auto dib = MakeDib(bits);
        HICON icon = CreateIconFromResourceEx(dib.data(), static_cast<DWORD>(dib.size()), TRUE, 0x00030000, 0, 0,
                                              LR_DEFAULTCOLOR);
        ASSERT_NE(icon, nullptr) << bits;
        const IconPixels pixels = ReadIcon(icon);
        ASSERT_EQ(pixels.width, 4);
        ASSERT_EQ(pixels.height, 2);
        for (LONG y = 0; y < 2; ++y) {
            for (LONG x = 0; x < 4; ++x) {
                const bool blue = x % 2 == 1;
                EXPECT_EQ(pixels.At(x, y, 0), blue ? 255 : 0) << bits << " " << x << "," << y;
                EXPECT_EQ(pixels.At(x, y, 2), blue ? 0 : 255) << bits << " " << x << "," << y;
                EXPECT_EQ(pixels.At(x, y, 3), x == 0 && y == 0 ? 0 : 255) << bits << " " << x << "," << y;
            }
        }
        EXPECT_TRUE(DestroyIcon(icon));
    }
}

TEST_F(IconResourcesTest, BadDataFailsWithoutAnIcon) {
    auto dib = MakeDib(8);
    auto huge = dib;
    const LONG width = 40000, height = 2 * 40000;  // 6 GB of pixels
    std::memcpy(huge.data() + 4, &width, 4);
    std::memcpy(huge.data() + 8, &height, 4);
    const struct {
        PBYTE data;
        DWORD size;
        DWORD version;
        DWORD error;
    } cases[] = {
        {dib.data(), static_cast<DWORD>(dib.size() - 9), 0x00030000, ERROR_INVALID_DATA},  // mask cut short
        {dib.data(), 30, 0x00030000, ERROR_INVALID_DATA},                                  // header cut short
        {dib.data(), static_cast<DWORD>(dib.size()), 0x00010000, ERROR_INVALID_PARAMETER},
        {nullptr, 0, 0x00030000, ERROR_INVALID_PARAMETER},
        {huge.data(), static_cast<DWORD>(huge.size()), 0x00030000, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto& c : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(CreateIconFromResourceEx(c.data, c.size, TRUE, c.version, 0, 0, 0), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(IconResourcesTest, CursorsKeepTheirHotspotScaled) {
    auto dib = MakeDib(24);
    std::vector<BYTE> cursor = {2, 0, 1, 0};  // hotspot (2, 1)
    cursor.insert(cursor.end(), dib.begin(), dib.end());
    HICON handle =
        CreateIconFromResourceEx(cursor.data(), static_cast<DWORD>(cursor.size()), FALSE, 0x00030000, 8, 4, 0);
    ASSERT_NE(handle, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(handle, &info));
    EXPECT_EQ(info.fIcon, FALSE);
    EXPECT_EQ(info.xHotspot, 4u);
    EXPECT_EQ(info.yHotspot, 2u);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_TRUE(DestroyIcon(handle));
}

}  // namespace

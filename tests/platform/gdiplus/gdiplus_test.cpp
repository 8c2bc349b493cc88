// GDI+ bitmaps from memory streams: every format's pixels against PIL's
// decoding of the same file, truncated and oversized images, colour
// management against Little CMS through PIL, locking and icons.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/gdi/Icons.h"
#include "platform/gdiplus/GdiPlus.h"
#include "platform/shell/ShlwApi.h"
#include "tests/support/GdiTest.h"
#include "tests/support/Peer.h"
#include "tests/support/TempDir.h"

namespace {

using namespace Gdiplus;
using vlibtest::TempDir;

// Writes one image per case into the folder and prints, per line, the file
// name, PIL's width and height and its RGBA pixels in hex.
const char* const kMakeImages = R"(
import sys, io
from PIL import Image, ImageCms
folder = sys.argv[1]
w, h = 13, 7
rgba = Image.new('RGBA', (w, h))
for y in range(h):
    for x in range(w):
        rgba.putpixel((x, y), (x * 19 % 256, y * 37 % 256, (x * y * 11) % 256, 255 if (x + y) % 3 else (x * 20) % 256))
rgb = rgba.convert('RGB')
cases = [
    ('rgba.png', rgba, {}),
    ('rgb.png', rgb, {}),
    ('palette.png', rgb.quantize(16), {}),
    ('gray.png', rgb.convert('L'), {}),
    ('la.png', rgba.convert('LA'), {}),
    ('rgb.jpg', rgb, {'quality': 95}),
    ('gray.jpg', rgb.convert('L'), {}),
    ('progressive.jpg', rgb, {'progressive': True}),
    ('palette.gif', rgb.quantize(32), {}),
    ('rgb.bmp', rgb, {}),
    ('palette.bmp', rgb.quantize(200), {}),
    ('mono.bmp', rgb.convert('1'), {}),
    ('rgb.tif', rgb, {}),
    ('lzw.tif', rgb, {'compression': 'tiff_lzw'}),
    ('rgba.ico', rgba.resize((32, 32)), {'sizes': [(16, 16), (32, 32)]}),
]
for name, image, options in cases:
    path = folder + '/' + name
    image.save(path, **options)
    decoded = Image.open(path)
    decoded.load()
    decoded = decoded.convert('RGBA')
    print(name, decoded.width, decoded.height, decoded.tobytes().hex())
if len(sys.argv) > 2:
    profile = open(sys.argv[2], 'rb').read()
    rgb.save(folder + '/icc.png', icc_profile=profile)
    source = ImageCms.ImageCmsProfile(io.BytesIO(profile))
    converted = ImageCms.profileToProfile(rgb, source, ImageCms.createProfile('sRGB'), renderingIntent=0)
    print('icc.png', w, h, converted.convert('RGBA').tobytes().hex())
)";

struct Expected {
    std::string name;
    UINT width = 0, height = 0;
    std::vector<BYTE> rgba;
};

std::vector<Expected> MakeImages(const TempDir& dir, const std::string& profile = {}) {
    const auto script = dir.Write("make.py", kMakeImages);
    std::vector<std::string> argv = {"/usr/bin/python3", script.string(), dir.Path().string()};
    if (!profile.empty()) argv.push_back(profile);
    const auto output = vlibtest::RunPeer(argv);
    std::vector<Expected> images;
    if (!output) return images;
    std::istringstream lines(*output);
    Expected e;
    std::string hex;
    while (lines >> e.name >> e.width >> e.height >> hex) {
        e.rgba.clear();
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            e.rgba.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        images.push_back(e);
    }
    return images;
}

struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};
using StreamPtr = std::unique_ptr<IStream, StreamRelease>;

StreamPtr MemoryStream(const std::string& bytes) {
    return StreamPtr(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
}

class GdiplusTest : public vlibtest::GdiTest {
protected:
    void SetUp() override {
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&m_token, &input, nullptr), Ok);
    }
    void TearDown() override { GdiplusShutdown(m_token); }

    // Decodes a file's bytes and compares every pixel with PIL's (straight
    // alpha; colour ignored where fully transparent).
    void ExpectPixels(const std::string& bytes, const Expected& e, bool icm, int tolerance) {
        auto stream = MemoryStream(bytes);
        Bitmap bitmap(stream.get(), icm ? TRUE : FALSE);
        ASSERT_EQ(bitmap.GetLastStatus(), Ok) << e.name;
        ASSERT_EQ(bitmap.GetWidth(), e.width) << e.name;
        ASSERT_EQ(bitmap.GetHeight(), e.height) << e.name;
        BitmapData data;
        ASSERT_EQ(bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat32bppARGB, &data), Ok);
        int worst = 0;
        for (UINT y = 0; y < e.height; ++y) {
            const auto* row = static_cast<const BYTE*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
            for (UINT x = 0; x < e.width; ++x) {
                const BYTE* want = &e.rgba[(y * e.width + x) * 4];
                const BYTE* got = row + x * 4;  // B, G, R, A
                const int alpha = std::abs(got[3] - want[3]);
                worst = std::max(worst, alpha);
                if (want[3] == 0) continue;
                for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(got[2 - c] - want[c]));
            }
        }
        EXPECT_LE(worst, tolerance) << e.name;
        EXPECT_EQ(bitmap.UnlockBits(&data), Ok);
    }

    TempDir m_dir;
    ULONG_PTR m_token = 0;
};

TEST_F(GdiplusTest, EveryFormatDecodesToPilsPixelsAndIsReportedAsTheSourceHasIt) {
    const auto images = MakeImages(m_dir);
    ASSERT_EQ(images.size(), 15u);
    for (const auto& e : images) {
        // JPEG: the same libjpeg, but PIL may pick another IDCT or upsampling.
        const int tolerance = e.name.ends_with(".jpg") ? 3 : 0;
        ExpectPixels(TempDir::Read(m_dir.Path() / e.name), e, false, tolerance);
    }
    const struct {
        const char* name;
        GUID raw;
        PixelFormat format;
    } cases[] = {
        {"rgba.png", ImageFormatPNG, PixelFormat32bppARGB},      {"rgb.jpg", ImageFormatJPEG, PixelFormat24bppRGB},
        {"palette.gif", ImageFormatGIF, PixelFormat8bppIndexed}, {"rgb.bmp", ImageFormatBMP, PixelFormat24bppRGB},
        {"mono.bmp", ImageFormatBMP, PixelFormat1bppIndexed},    {"rgb.tif", ImageFormatTIFF, PixelFormat24bppRGB},
        {"rgba.ico", ImageFormatIcon, PixelFormat32bppARGB},
    };
    for (const auto& c : cases) {
        auto stream = MemoryStream(TempDir::Read(m_dir.Path() / c.name));
        std::unique_ptr<Image> image(Image::FromStream(stream.get()));
        ASSERT_EQ(image->GetLastStatus(), Ok) << c.name;
        GUID raw{};
        EXPECT_EQ(image->GetRawFormat(&raw), Ok);
        EXPECT_TRUE(IsEqualGUID(raw, c.raw)) << c.name;
        EXPECT_EQ(image->GetPixelFormat(), c.format) << c.name;
        EXPECT_EQ(image->GetType(), ImageTypeBitmap);
    }
    // An icon made of a bitmap has the bitmap's size and goes with DestroyIcon.
    auto stream = MemoryStream(TempDir::Read(m_dir.Path() / "rgba.ico"));
    Bitmap bitmap(stream.get());
    HICON icon = nullptr;
    ASSERT_EQ(bitmap.GetHICON(&icon), Ok);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP color{};
    GetObjectW(info.hbmColor, sizeof color, &color);
    EXPECT_EQ(color.bmWidth, 32);
    EXPECT_EQ(color.bmHeight, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_TRUE(DestroyIcon(icon));
}

TEST_F(GdiplusTest, TruncatedOrDamagedImagesFailInsteadOfDecodingPartly) {
    const auto images = MakeImages(m_dir);
    ASSERT_FALSE(images.empty());
    for (const auto& e : images) {
        const std::string bytes = TempDir::Read(m_dir.Path() / e.name);
        for (const std::size_t cut : {bytes.size() * 2 / 3, std::size_t{40}, std::size_t{5}}) {
            auto stream = MemoryStream(bytes.substr(0, cut));
            Bitmap bitmap(stream.get());
            EXPECT_NE(bitmap.GetLastStatus(), Ok) << e.name << " cut at " << cut;
            EXPECT_EQ(bitmap.GetWidth(), 0u);
            EXPECT_EQ(bitmap.GetLastStatus(), InvalidParameter);
        }
    }
    auto noise = MemoryStream(std::string(300, '\x5a'));
    EXPECT_EQ(Bitmap(noise.get()).GetLastStatus(), UnknownImageFormat);
}

// A PNG whose header promises width x height, with one small IDAT chunk.
std::string PngHeader(std::uint32_t width, std::uint32_t height) {
    const char* const script = R"(
import sys, struct, zlib
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
w, h = int(sys.argv[1]), int(sys.argv[2])
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b'\0' * 1000)) + chunk(b'IEND', b'')
sys.stdout.write(png.hex())
)";
    const auto hex =
        vlibtest::RunPeer({"/usr/bin/python3", "-c", script, std::to_string(width), std::to_string(height)});
    std::string png;
    for (std::size_t i = 0; hex && i + 1 < hex->size(); i += 2) {
        png.push_back(static_cast<char>(std::stoi(hex->substr(i, 2), nullptr, 16)));
    }
    return png;
}

TEST_F(GdiplusTest, MoreThanAGibibyteOfPixelsIsOutOfMemory) {
    const struct {
        std::uint32_t width, height;
        Status status;
    } cases[] = {{20000, 20000, OutOfMemory}, {16384, 16385, OutOfMemory}, {1000000, 1, InvalidParameter}};
    for (const auto& c : cases) {
        auto stream = MemoryStream(PngHeader(c.width, c.height));
        EXPECT_EQ(Bitmap(stream.get()).GetLastStatus(), c.status) << c.width << "x" << c.height;
    }
}

TEST_F(GdiplusTest, ColourManagementConvertsAnEmbeddedProfileToSrgb) {
    // A linear-light RGB profile with the sRGB primaries: far from sRGB in
    // the mid-tones.
    cmsCIExyY white{0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    std::string bytes(length, '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(linear);
    const auto path = m_dir.Write("linear.icc", bytes);

    const auto images = MakeImages(m_dir, path.string());
    ASSERT_FALSE(images.empty());
    const Expected& converted = images.back();
    ASSERT_EQ(converted.name, "icc.png");
    const std::string png = TempDir::Read(m_dir.Path() / "icc.png");
    ExpectPixels(png, converted, true, 2);
    // Without colour management the stored values come back as they are.
    const Expected& plain = images[1];  // rgb.png holds the same pixels
    ExpectPixels(png, Expected{"icc.png", plain.width, plain.height, plain.rgba}, false, 0);
}

TEST_F(GdiplusTest, LockedDataConvertsAndWritesBack) {
    MakeImages(m_dir);
    auto stream = MemoryStream(TempDir::Read(m_dir.Path() / "rgba.png"));
    Bitmap bitmap(stream.get());
    ASSERT_EQ(bitmap.GetLastStatus(), Ok);
    Color before;
    ASSERT_EQ(bitmap.GetPixel(3, 2, &before), Ok);

    Rect rect(3, 2, 2, 2);
    BitmapData data;
    ASSERT_EQ(bitmap.LockBits(&rect, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB, &data), Ok);
    BitmapData second;
    EXPECT_EQ(bitmap.LockBits(&rect, ImageLockModeRead, PixelFormat32bppARGB, &second), WrongState);
    Color ignored;
    EXPECT_EQ(bitmap.GetPixel(0, 0, &ignored), WrongState);
    auto* bytes = static_cast<BYTE*>(data.Scan0);
    EXPECT_EQ(bytes[0], before.GetB());
    EXPECT_EQ(bytes[2], before.GetR());
    bytes[0] = 1;
    bytes[1] = 2;
    bytes[2] = 3;
    ASSERT_EQ(bitmap.UnlockBits(&data), Ok);
    EXPECT_EQ(bitmap.UnlockBits(&data), WrongState);

    Color after;
    ASSERT_EQ(bitmap.GetPixel(3, 2, &after), Ok);
    EXPECT_EQ(after.GetValue(), 0xFF030201u);
    Rect outside(10, 0, 4, 1);
    EXPECT_EQ(bitmap.LockBits(&outside, ImageLockModeRead, PixelFormat32bppARGB, &data), InvalidParameter);
    EXPECT_EQ(bitmap.LockBits(nullptr, ImageLockModeRead, PixelFormat8bppIndexed, &data), InvalidParameter);
    EXPECT_EQ(bitmap.GetPixel(13, 0, &after), InvalidParameter);
}

TEST_F(GdiplusTest, RunLengthBitmapsDecodeAndTheirTruncationFails) {
    // 4 x 2, 8-bit RLE: the bottom row one run of blue; the top row red, blue,
    // red in absolute mode and one blue.
    const std::vector<BYTE> runs = {4, 1, 0, 0, 0, 3, 0, 1, 0, 0, 1, 1, 0, 1};
    std::vector<BYTE> bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 14 + 40 + 8, 0, 0, 0};
    const BYTE header[40] = {
        40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0, 1, 0, 0, 0, static_cast<BYTE>(runs.size()),
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
    bmp.insert(bmp.end(), header, header + 40);
    const BYTE palette[8] = {0, 0, 255, 0, 255, 0, 0, 0};  // red, blue
    bmp.insert(bmp.end(), palette, palette + 8);
    bmp.insert(bmp.end(), runs.begin(), runs.end());
    const std::string bytes(bmp.begin(), bmp.end());
    auto stream = MemoryStream(bytes);
    Bitmap bitmap(stream.get());
    ASSERT_EQ(bitmap.GetLastStatus(), Ok);
    const ARGB red = 0xFFFF0000u, blue = 0xFF0000FFu;
    const ARGB expected[2][4] = {{red, blue, red, blue}, {blue, blue, blue, blue}};
    for (INT y = 0; y < 2; ++y) {
        for (INT x = 0; x < 4; ++x) {
            Color color;
            ASSERT_EQ(bitmap.GetPixel(x, y, &color), Ok);
            EXPECT_EQ(color.GetValue(), expected[y][x]) << x << "," << y;
        }
    }
    auto cut = MemoryStream(bytes.substr(0, bytes.size() - 5));
    EXPECT_EQ(Bitmap(cut.get()).GetLastStatus(), InvalidParameter);
}

TEST(GdiplusStartupTest, NothingWorksWithoutAStartupAndStartupsNest) {
    const std::string bmp = std::string("BM") + std::string(60, '\0');
    auto stream = MemoryStream(bmp);
    GpBitmap* bitmap = reinterpret_cast<GpBitmap*>(1);
    EXPECT_EQ(GdipCreateBitmapFromStream(stream.get(), &bitmap), GdiplusNotInitialized);
    EXPECT_EQ(bitmap, nullptr);

    GdiplusStartupInput input;
    ULONG_PTR first = 0, second = 0;
    ASSERT_EQ(GdiplusStartup(&first, &input, nullptr), Ok);
    ASSERT_EQ(GdiplusStartup(&second, &input, nullptr), Ok);
    EXPECT_NE(first, second);
    GdiplusShutdown(first);
    GdiplusShutdown(first);  // an unknown token now: ignored
    EXPECT_NE(GdipCreateBitmapFromStream(stream.get(), &bitmap), GdiplusNotInitialized);
    GdiplusShutdown(second);
    EXPECT_EQ(GdipCreateBitmapFromStream(stream.get(), &bitmap), GdiplusNotInitialized);

    input.GdiplusVersion = 4;
    EXPECT_EQ(GdiplusStartup(&first, &input, nullptr), UnsupportedGdiplusVersion);
    input.GdiplusVersion = 1;
    input.SuppressBackgroundThread = TRUE;
    EXPECT_EQ(GdiplusStartup(&first, &input, nullptr), InvalidParameter);
}

}  // namespace

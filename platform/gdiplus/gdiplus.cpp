// GDI+ bitmaps over the platform's image decoders.
#include "platform/gdiplus/GdiPlus.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <vector>

#include "platform/WinError.h"
#include "platform/gdi/Gdi.h"
#include "platform/gdi/Icons.h"
#include "platform/gdi/internal/ImageDecoder.h"

namespace Gdiplus {

class GpImage {
public:
    std::mutex mutex;
    vplatform::image::Image pixels;  // BGRA, top-down, stride width * 4
    PixelFormat format = PixelFormatUndefined;
    GUID raw = ImageFormatUndefined;
    // The current lock: its rectangle, mode and format, and the buffer
    // handed out when it is not the pixels themselves.
    bool locked = false;
    Rect lockRect;
    UINT lockFlags = 0;
    PixelFormat lockFormat = PixelFormatUndefined;
    std::vector<BYTE> lockBuffer;
};

}  // namespace Gdiplus

namespace {

using namespace Gdiplus;
namespace img = vplatform::image;

std::mutex g_startupMutex;
std::set<ULONG_PTR> g_tokens;  // under g_startupMutex
ULONG_PTR g_nextToken = 1;     // under g_startupMutex
std::atomic<int> g_startups{0};

Status NoHook(ULONG_PTR* token) {
    if (token != nullptr) *token = 0;
    return Ok;
}
void NoUnhook(ULONG_PTR) {}

bool ReadBlocks(IStream* stream, std::vector<BYTE>& bytes) {
    constexpr ULONG kBlock = 1 << 16;
    for (;;) {
        const std::size_t at = bytes.size();
        bytes.resize(at + kBlock);
        ULONG read = 0;
        if (FAILED(stream->Read(bytes.data() + at, kBlock, &read)) || read > kBlock) return false;
        bytes.resize(at + read);
        if (read == 0) return true;
    }
}

bool Adopt(const std::vector<BYTE>& from, std::unique_ptr<BYTE[]>& bytes, std::size_t& size) {
    bytes.reset(new BYTE[std::max<std::size_t>(from.size(), 1)]);
    std::copy(from.begin(), from.end(), bytes.get());
    size = from.size();
    return true;
}

// The whole rest of a stream, or false when a read fails.  A stream that
// tells its size and position is read in one call into a buffer of that
// size; others block by block.
bool ReadAll(IStream* stream, std::unique_ptr<BYTE[]>& bytes, std::size_t& size) {
    size = 0;
    STATSTG stat{};
    ULARGE_INTEGER position{};
    LARGE_INTEGER none{};
    if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && SUCCEEDED(stream->Seek(none, STREAM_SEEK_CUR, &position)) &&
        position.QuadPart <= stat.cbSize.QuadPart && stat.cbSize.QuadPart - position.QuadPart < ULONG{0xFFFFFFFF}) {
        const auto left = static_cast<ULONG>(stat.cbSize.QuadPart - position.QuadPart);
        bytes.reset(new BYTE[std::max<ULONG>(left, 1)]);
        ULONG read = 0;
        if (FAILED(stream->Read(bytes.get(), left, &read)) || read > left) return false;
        size = read;
        if (read < left) return true;  // the stream ended early: decode what there is
        BYTE probe = 0;
        if (FAILED(stream->Read(&probe, 1, &read))) return false;
        if (read == 0) return true;
        // The stream is longer than it said: read the rest in blocks.
        std::vector<BYTE> rest(bytes.get(), bytes.get() + size);
        rest.push_back(probe);
        return ReadBlocks(stream, rest) && Adopt(rest, bytes, size);
    }
    std::vector<BYTE> all;
    return ReadBlocks(stream, all) && Adopt(all, bytes, size);
}

PixelFormat FormatOf(const img::Image& image) {
    if (image.format == img::Format::Gif) return PixelFormat8bppIndexed;
    if (image.alpha) return PixelFormat32bppARGB;
    if (image.sourceBits <= 8 && image.indexed) {
        return image.sourceBits == 1   ? PixelFormat1bppIndexed
               : image.sourceBits <= 4 ? PixelFormat4bppIndexed
                                       : PixelFormat8bppIndexed;
    }
    if (image.format == img::Format::Bmp && image.sourceBits == 16) return PixelFormat16bppRGB555;
    if (image.format == img::Format::Bmp && image.sourceBits == 32) return PixelFormat32bppRGB;
    return PixelFormat24bppRGB;
}

GUID RawFormatOf(img::Format format) {
    switch (format) {
        case img::Format::Bmp:
            return ImageFormatBMP;
        case img::Format::Png:
            return ImageFormatPNG;
        case img::Format::Jpeg:
            return ImageFormatJPEG;
        case img::Format::Gif:
            return ImageFormatGIF;
        case img::Format::Tiff:
            return ImageFormatTIFF;
        case img::Format::Ico:
            return ImageFormatIcon;
        case img::Format::Unknown:
            break;
    }
    return ImageFormatUndefined;
}

Status StatusOf(img::Result result) {
    switch (result) {
        case img::Result::Ok:
            return Ok;
        case img::Result::UnknownFormat:
        case img::Result::Unsupported:
            return UnknownImageFormat;
        case img::Result::Corrupt:
            return InvalidParameter;
        case img::Result::TooLarge:
        case img::Result::NoMemory:
            return OutOfMemory;
    }
    return GenericError;
}

Status CreateFromStream(IStream* stream, GpImage** out, bool icm) {
    if (out == nullptr) return InvalidParameter;
    *out = nullptr;
    if (g_startups.load() == 0) return GdiplusNotInitialized;
    if (stream == nullptr) return InvalidParameter;
    try {
        std::unique_ptr<BYTE[]> bytes;
        std::size_t size = 0;
        if (!ReadAll(stream, bytes, size)) return InvalidParameter;
        auto image = std::make_unique<GpImage>();
        const img::Result result = img::Decode(bytes.get(), size, image->pixels);
        if (result != img::Result::Ok) return StatusOf(result);
        if (icm) img::ConvertToSrgb(image->pixels);
        image->format = FormatOf(image->pixels);
        image->raw = RawFormatOf(image->pixels.format);
        *out = image.release();
        return Ok;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

bool LockableFormat(PixelFormat format) {
    return format == PixelFormat32bppARGB || format == PixelFormat32bppPARGB || format == PixelFormat32bppRGB ||
           format == PixelFormat24bppRGB;
}

// Converts one row of BGRA pixels to `format` and back.
void RowOut(const BYTE* src, BYTE* dst, UINT width, PixelFormat format) {
    for (UINT x = 0; x < width; ++x, src += 4) {
        if (format == PixelFormat24bppRGB) {
            std::memcpy(dst + x * 3, src, 3);
        } else if (format == PixelFormat32bppPARGB) {
            const unsigned a = src[3];
            for (int c = 0; c < 3; ++c) dst[x * 4 + c] = static_cast<BYTE>((src[c] * a + 127) / 255);
            dst[x * 4 + 3] = src[3];
        } else {
            std::memcpy(dst + x * 4, src, 4);
            if (format == PixelFormat32bppRGB) dst[x * 4 + 3] = 255;
        }
    }
}

void RowIn(const BYTE* src, BYTE* dst, UINT width, PixelFormat format) {
    for (UINT x = 0; x < width; ++x, dst += 4) {
        if (format == PixelFormat24bppRGB) {
            std::memcpy(dst, src + x * 3, 3);
            dst[3] = 255;
        } else if (format == PixelFormat32bppPARGB) {
            const unsigned a = src[x * 4 + 3];
            for (int c = 0; c < 3; ++c) {
                dst[c] = a == 0 ? 0 : static_cast<BYTE>(std::min(255u, (src[x * 4 + c] * 255u + a / 2) / a));
            }
            dst[3] = static_cast<BYTE>(a);
        } else {
            std::memcpy(dst, src + x * 4, 4);
            if (format == PixelFormat32bppRGB) dst[3] = 255;
        }
    }
}

}  // namespace

namespace Gdiplus {
extern "C" {

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, GdiplusStartupOutput* output) {
    if (token == nullptr || input == nullptr) return InvalidParameter;
    if (input->GdiplusVersion < 1 || input->GdiplusVersion > 3) return UnsupportedGdiplusVersion;
    if (input->SuppressBackgroundThread && output == nullptr) return InvalidParameter;
    if (output != nullptr) *output = GdiplusStartupOutput{NoHook, NoUnhook};
    try {
        std::lock_guard lock(g_startupMutex);
        const ULONG_PTR issued = g_nextToken++;
        g_tokens.insert(issued);
        *token = issued;
        ++g_startups;
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
    std::lock_guard lock(g_startupMutex);
    if (g_tokens.erase(token) != 0) --g_startups;
}

Status GdipCreateBitmapFromStream(IStream* stream, GpBitmap** bitmap) {
    return CreateFromStream(stream, bitmap, false);
}

Status GdipCreateBitmapFromStreamICM(IStream* stream, GpBitmap** bitmap) {
    return CreateFromStream(stream, bitmap, true);
}

Status GdipLoadImageFromStream(IStream* stream, GpImage** image) {
    return CreateFromStream(stream, image, false);
}

Status GdipLoadImageFromStreamICM(IStream* stream, GpImage** image) {
    return CreateFromStream(stream, image, true);
}

Status GdipDisposeImage(GpImage* image) {
    delete image;
    return Ok;
}

Status GdipGetImageWidth(GpImage* image, UINT* width) {
    if (image == nullptr || width == nullptr) return InvalidParameter;
    *width = image->pixels.width;
    return Ok;
}

Status GdipGetImageHeight(GpImage* image, UINT* height) {
    if (image == nullptr || height == nullptr) return InvalidParameter;
    *height = image->pixels.height;
    return Ok;
}

Status GdipGetImagePixelFormat(GpImage* image, PixelFormat* format) {
    if (image == nullptr || format == nullptr) return InvalidParameter;
    *format = image->format;
    return Ok;
}

Status GdipGetImageType(GpImage* image, ImageType* type) {
    if (image == nullptr || type == nullptr) return InvalidParameter;
    *type = ImageTypeBitmap;
    return Ok;
}

Status GdipGetImageRawFormat(GpImage* image, GUID* format) {
    if (image == nullptr || format == nullptr) return InvalidParameter;
    *format = image->raw;
    return Ok;
}

Status GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, ARGB* color) {
    if (bitmap == nullptr || color == nullptr) return InvalidParameter;
    std::lock_guard lock(bitmap->mutex);
    const auto& pixels = bitmap->pixels;
    if (x < 0 || y < 0 || static_cast<UINT>(x) >= pixels.width || static_cast<UINT>(y) >= pixels.height) {
        return InvalidParameter;
    }
    if (bitmap->locked) return WrongState;
    const BYTE* p = pixels.pixels.get() + (static_cast<std::size_t>(y) * pixels.width + static_cast<UINT>(x)) * 4;
    *color = Color::MakeARGB(p[3], p[2], p[1], p[0]);
    return Ok;
}

Status GdipBitmapLockBits(GpBitmap* bitmap, const Rect* rect, UINT flags, PixelFormat format, BitmapData* lockedData) {
    if (bitmap == nullptr || lockedData == nullptr || !LockableFormat(format) ||
        (flags & (ImageLockModeRead | ImageLockModeWrite)) == 0) {
        return InvalidParameter;
    }
    std::lock_guard lock(bitmap->mutex);
    auto& pixels = bitmap->pixels;
    const Rect area =
        rect != nullptr ? *rect : Rect(0, 0, static_cast<INT>(pixels.width), static_cast<INT>(pixels.height));
    if (area.X < 0 || area.Y < 0 || area.Width <= 0 || area.Height <= 0 ||
        static_cast<std::uint64_t>(area.X) + static_cast<std::uint64_t>(area.Width) > pixels.width ||
        static_cast<std::uint64_t>(area.Y) + static_cast<std::uint64_t>(area.Height) > pixels.height) {
        return InvalidParameter;
    }
    if (bitmap->locked) return WrongState;
    const auto width = static_cast<UINT>(area.Width), height = static_cast<UINT>(area.Height);
    const std::size_t sourceStride = std::size_t{pixels.width} * 4;
    BYTE* first = pixels.pixels.get() + static_cast<std::size_t>(area.Y) * sourceStride + std::size_t{4} * area.X;
    const bool user = (flags & ImageLockModeUserInputBuf) != 0;
    if (user && lockedData->Scan0 == nullptr) return InvalidParameter;
    const std::size_t bytesPerPixel = format == PixelFormat24bppRGB ? 3 : 4;
    BYTE* target = nullptr;
    INT stride = 0;
    if (user) {
        target = static_cast<BYTE*>(lockedData->Scan0);
        stride = lockedData->Stride;
        if (static_cast<std::uint64_t>(stride < 0 ? -static_cast<std::int64_t>(stride) : stride) <
            width * bytesPerPixel) {
            return InvalidParameter;
        }
    } else if (format == PixelFormat32bppARGB) {
        // The pixels themselves: no copy.
        target = first;
        stride = static_cast<INT>(sourceStride);
    } else {
        const std::size_t rowBytes = (width * bytesPerPixel + 3) / 4 * 4;
        try {
            bitmap->lockBuffer.assign(rowBytes * height, 0);
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        }
        target = bitmap->lockBuffer.data();
        stride = static_cast<INT>(rowBytes);
    }
    if ((flags & ImageLockModeRead) != 0 && target != first) {
        for (UINT y = 0; y < height; ++y)
            RowOut(first + y * sourceStride, target + std::int64_t{stride} * y, width, format);
    }
    bitmap->locked = true;
    bitmap->lockRect = area;
    bitmap->lockFlags = flags;
    bitmap->lockFormat = format;
    lockedData->Width = width;
    lockedData->Height = height;
    lockedData->Stride = stride;
    lockedData->PixelFormat = format;
    lockedData->Scan0 = target;
    lockedData->Reserved = 0;
    return Ok;
}

Status GdipBitmapUnlockBits(GpBitmap* bitmap, BitmapData* lockedData) {
    if (bitmap == nullptr || lockedData == nullptr) return InvalidParameter;
    std::lock_guard lock(bitmap->mutex);
    if (!bitmap->locked) return WrongState;
    auto& pixels = bitmap->pixels;
    const std::size_t sourceStride = std::size_t{pixels.width} * 4;
    const Rect& area = bitmap->lockRect;
    BYTE* first = pixels.pixels.get() + static_cast<std::size_t>(area.Y) * sourceStride + std::size_t{4} * area.X;
    const auto* data = static_cast<const BYTE*>(lockedData->Scan0);
    if ((bitmap->lockFlags & ImageLockModeWrite) != 0 && data != first && data != nullptr) {
        for (UINT y = 0; y < static_cast<UINT>(area.Height); ++y) {
            RowIn(data + std::int64_t{lockedData->Stride} * y, first + y * sourceStride, static_cast<UINT>(area.Width),
                  bitmap->lockFormat);
        }
    }
    bitmap->locked = false;
    bitmap->lockBuffer.clear();
    bitmap->lockBuffer.shrink_to_fit();
    return Ok;
}

Status GdipCreateHICONFromBitmap(GpBitmap* bitmap, HICON* icon) {
    if (bitmap == nullptr || icon == nullptr) return InvalidParameter;
    *icon = nullptr;
    std::lock_guard lock(bitmap->mutex);
    const auto& pixels = bitmap->pixels;
    const auto width = static_cast<LONG>(pixels.width), height = static_cast<LONG>(pixels.height);
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP color = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (color == nullptr) return Win32Error;
    // Icon DIBs run from the bottom up.
    const std::size_t rowBytes = std::size_t{pixels.width} * 4;
    for (LONG y = 0; y < height; ++y) {
        std::memcpy(static_cast<BYTE*>(bits) + static_cast<std::size_t>(height - 1 - y) * rowBytes,
                    pixels.pixels.get() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
    // The AND mask: 1 where the pixel is transparent; rows of 2-byte units.
    const std::size_t maskStride = (static_cast<std::size_t>(width) + 15) / 16 * 2;
    std::vector<BYTE> maskBits;
    try {
        maskBits.assign(maskStride * static_cast<std::size_t>(height), 0);
    } catch (const std::bad_alloc&) {
        DeleteObject(color);
        return OutOfMemory;
    }
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            if (pixels.pixels[(static_cast<std::size_t>(y) * width + x) * 4 + 3] < 128) {
                maskBits[y * maskStride + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
            }
        }
    }
    HBITMAP mask = CreateBitmap(width, height, 1, 1, maskBits.data());
    if (mask == nullptr) {
        const DWORD error = GetLastError();
        DeleteObject(color);
        SetLastError(error);
        return Win32Error;
    }
    ICONINFO iconInfo{TRUE, 0, 0, mask, color};
    *icon = CreateIconIndirect(&iconInfo);
    const DWORD error = GetLastError();
    DeleteObject(mask);
    DeleteObject(color);
    if (*icon == nullptr) {
        SetLastError(error);
        return Win32Error;
    }
    return Ok;
}

}  // extern "C"
}  // namespace Gdiplus

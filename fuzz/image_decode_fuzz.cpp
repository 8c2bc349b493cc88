// Decodes arbitrary bytes as a GDI+ bitmap from a memory stream, with and
// without colour management, and reads every pixel of what decodes: a
// decoder may refuse the data but never read or write outside its buffers,
// and a bitmap that decodes has the pixels its size promises.
#include <cstdint>
#include <cstdlib>

#include "platform/gdiplus/GdiPlus.h"
#include "platform/shell/ShlwApi.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool started = [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    Check(started);
    IStream* stream = SHCreateMemStream(data, static_cast<UINT>(size));
    Check(stream != nullptr);
    const BOOL icm = size > 0 && (data[size - 1] & 1) != 0;
    {
        Gdiplus::Bitmap bitmap(stream, icm);
        if (bitmap.GetLastStatus() == Gdiplus::Ok) {
            const UINT width = bitmap.GetWidth(), height = bitmap.GetHeight();
            Check(width > 0 && height > 0);
            Gdiplus::BitmapData locked;
            Check(bitmap.LockBits(nullptr, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat32bppARGB, &locked) ==
                  Gdiplus::Ok);
            unsigned sum = 0;
            for (UINT y = 0; y < height; ++y) {
                const auto* row =
                    static_cast<const std::uint8_t*>(locked.Scan0) + static_cast<std::ptrdiff_t>(y) * locked.Stride;
                for (UINT x = 0; x < width * 4; ++x) sum += row[x];
            }
            Check(bitmap.UnlockBits(&locked) == Gdiplus::Ok);
            Gdiplus::Color color;
            Check(bitmap.GetPixel(static_cast<INT>(width - 1), static_cast<INT>(height - 1), &color) == Gdiplus::Ok);
            (void)sum;
        } else {
            Check(bitmap.GetWidth() == 0);
        }
    }
    stream->Release();
    return 0;
}

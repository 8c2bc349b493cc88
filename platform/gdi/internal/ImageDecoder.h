// Image decoding shared by the icon functions and GDI+: PNG (libpng), JPEG
// (libjpeg-turbo), GIF (giflib), TIFF (libtiff) and our own BMP, DIB and ICO
// readers, each into one 32-bit BGRA buffer with straight alpha, rows from
// the top down and no padding (stride = width * 4).
//
// Every decoder checks the image's size in 64 bits before it allocates: more
// than kMaxPixelBytes of pixels is TooLarge and nothing is allocated.  A file
// that ends early or whose data is damaged is Corrupt: no decoder hands out a
// partly filled image as a success.
//
// Threads: the decoders keep no state between calls and may run on any
// thread at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/PlatformExport.h"

namespace vplatform::image {

enum class Format { Unknown, Bmp, Png, Jpeg, Gif, Tiff, Ico };

enum class Result {
    Ok,
    UnknownFormat,  // no decoder recognises the data
    Corrupt,        // truncated or damaged
    Unsupported,    // recognised, but a variant we do not decode
    TooLarge,       // more pixels than kMaxPixelBytes
    NoMemory,
};

// The most pixel bytes (4 per pixel) an image may have.
inline constexpr std::uint64_t kMaxPixelBytes = std::uint64_t{1} << 30;

struct FreeBytes {
    void operator()(std::uint8_t* block) const { std::free(block); }
};
using PixelBuffer = std::unique_ptr<std::uint8_t[], FreeBytes>;

struct Image {
    Format format = Format::Unknown;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    PixelBuffer pixels;             // width * height * 4 bytes: B, G, R, A
    bool alpha = false;             // the source has an alpha channel or transparency
    bool indexed = false;           // the source stores palette indices
    unsigned sourceBits = 32;       // bits per pixel of the source
    std::vector<std::uint8_t> icc;  // the embedded colour profile, if any
};

// Allocates an uninitialised pixel buffer for width x height after checking
// the size (TooLarge, NoMemory); 0 x 0 is Corrupt.
VPLATFORM_API Result Allocate(Image& image, std::uint64_t width, std::uint64_t height);

VPLATFORM_API Format Sniff(const std::uint8_t* data, std::size_t size);

// Decodes any known format.
VPLATFORM_API Result Decode(const std::uint8_t* data, std::size_t size, Image& out);

Result DecodePng(const std::uint8_t* data, std::size_t size, Image& out);
Result DecodeJpeg(const std::uint8_t* data, std::size_t size, Image& out);
Result DecodeGif(const std::uint8_t* data, std::size_t size, Image& out);
Result DecodeTiff(const std::uint8_t* data, std::size_t size, Image& out);
Result DecodeBmp(const std::uint8_t* data, std::size_t size, Image& out);
Result DecodeIco(const std::uint8_t* data, std::size_t size, Image& out);

// An icon or cursor image as resources and .ico files store it: a DIB
// (header, colour table, XOR pixels) of twice the icon's height followed by
// the 1-bit AND mask.  32-bit pixels keep their alpha when any is set;
// otherwise the AND mask decides transparency.
VPLATFORM_API Result DecodeIconDib(const std::uint8_t* data, std::size_t size, Image& out);

// Converts the pixels from the embedded RGB profile to sRGB; false (pixels
// unchanged) without a profile or with one that cannot be used.
VPLATFORM_API bool ConvertToSrgb(Image& image);

// A copy scaled to width x height by area averaging (alpha-weighted); null
// pixels on failure.
VPLATFORM_API Result Scale(const Image& source, std::uint32_t width, std::uint32_t height, Image& out);

}  // namespace vplatform::image

// Format detection, allocation, scaling and our own BMP, DIB and ICO readers.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/gdi/internal/ImageDecoder.h"

namespace vplatform::image {
namespace {

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

// One colour channel of a bit-field mask: its shift and width, scaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    unsigned shift = 0;
    unsigned bits = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m) {
        if (m == 0) return;
        while (((m >> shift) & 1u) == 0) ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1u) != 0) ++bits;
    }
    std::uint8_t Get(std::uint32_t value) const {
        if (bits == 0) return 0;
        const std::uint32_t v = (value & mask) >> shift;
        if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
        return static_cast<std::uint8_t>((v * 255u + ((1u << bits) - 1) / 2) / ((1u << bits) - 1));
    }
};

// What a DIB header says, once read and checked.
struct DibLayout {
    std::int64_t width = 0;
    std::int64_t height = 0;  // rows of the XOR image (halved for icons)
    bool topDown = false;
    unsigned bits = 0;
    std::uint32_t compression = kBiRgb;
    Channel red, green, blue, alpha;
    bool masks = false;
    std::vector<std::uint8_t> palette;  // B, G, R, x per entry
    std::size_t afterHeader = 0;        // offset of the byte after header, masks and table
};

Result ReadDibHeader(const std::uint8_t* data, std::size_t size, bool icon, DibLayout& layout) {
    if (size < 12) return Result::Corrupt;
    const std::uint32_t headerSize = U32(data);
    bool core = false;
    if (headerSize == 12) {
        core = true;
        layout.width = U16(data + 4);
        layout.height = static_cast<std::int16_t>(U16(data + 6));
        if (U16(data + 8) != 1) return Result::Corrupt;
        layout.bits = U16(data + 10);
    } else {
        if (headerSize < 40 || headerSize > size) return Result::Corrupt;
        layout.width = static_cast<std::int32_t>(U32(data + 4));
        layout.height = static_cast<std::int32_t>(U32(data + 8));
        layout.bits = U16(data + 14);
        layout.compression = U32(data + 16);
    }
    if (headerSize > size) return Result::Corrupt;
    std::size_t offset = headerSize;
    if (layout.height < 0) {
        if (icon) return Result::Corrupt;
        layout.topDown = true;
        layout.height = -layout.height;
    }
    if (icon) layout.height /= 2;
    if (layout.width <= 0 || layout.height <= 0) return Result::Corrupt;
    switch (layout.bits) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return Result::Corrupt;
    }
    const std::uint32_t c = layout.compression;
    if (c == kBiBitfields || c == kBiAlphaBitfields) {
        if (layout.bits != 16 && layout.bits != 32) return Result::Corrupt;
        const std::size_t count = c == kBiAlphaBitfields ? 4 : 3;
        constexpr std::size_t at = 40;
        bool hasAlphaMask = headerSize >= 56;
        if (headerSize == 40) {
            hasAlphaMask = count == 4;
            if (size < offset + count * 4) return Result::Corrupt;
            offset += count * 4;
        } else if (headerSize < 52) {
            return Result::Corrupt;
        }
        layout.red = Channel(U32(data + at));
        layout.green = Channel(U32(data + at + 4));
        layout.blue = Channel(U32(data + at + 8));
        if (hasAlphaMask) layout.alpha = Channel(U32(data + at + 12));
        layout.masks = true;
    } else if (c == kBiRle8) {
        if (layout.bits != 8 || layout.topDown) return Result::Corrupt;
    } else if (c == kBiRle4) {
        if (layout.bits != 4 || layout.topDown) return Result::Corrupt;
    } else if (c != kBiRgb) {
        return Result::Unsupported;  // embedded JPEG or PNG, or unknown
    }
    if (!layout.masks && layout.bits == 16) {
        layout.red = Channel(0x7C00);
        layout.green = Channel(0x03E0);
        layout.blue = Channel(0x001F);
        layout.masks = true;
    }
    if (layout.bits <= 8) {
        std::size_t entries = std::size_t{1} << layout.bits;
        if (!core) {
            const std::uint32_t used = U32(data + 32);
            if (used != 0 && used < entries) entries = used;
        }
        const std::size_t entrySize = core ? 3 : 4;
        if (size - offset < entries * entrySize) return Result::Corrupt;
        layout.palette.assign(std::size_t{1} << layout.bits << 2, 0);
        for (std::size_t i = 0; i < entries; ++i) {
            std::memcpy(&layout.palette[i * 4], data + offset + i * entrySize, 3);
        }
        offset += entries * entrySize;
    }
    layout.afterHeader = offset;
    return Result::Ok;
}

std::size_t RowBytes(std::int64_t width, unsigned bits) {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4);
}

// Fills image rows from uncompressed DIB rows.  `hasAlpha` says whether the
// 32-bit data's fourth byte is alpha.
void ConvertRows(const DibLayout& l, const std::uint8_t* bits, Image& image, bool hasAlpha) {
    const std::size_t rowBytes = RowBytes(l.width, l.bits);
    const auto width = static_cast<std::size_t>(l.width);
    for (std::size_t y = 0; y < image.height; ++y) {
        const std::uint8_t* src = bits + (l.topDown ? y : image.height - 1 - y) * rowBytes;
        std::uint8_t* dst = image.pixels.get() + y * width * 4;
        for (std::size_t x = 0; x < width; ++x, dst += 4) {
            if (l.bits <= 8) {
                const unsigned shift = 8 - l.bits - (x * l.bits) % 8;
                const unsigned index = (src[x * l.bits / 8] >> shift) & ((1u << l.bits) - 1);
                std::memcpy(dst, &l.palette[index * 4], 3);
                dst[3] = 255;
            } else if (l.bits == 24) {
                std::memcpy(dst, src + x * 3, 3);
                dst[3] = 255;
            } else if (l.masks) {
                const std::uint32_t v = l.bits == 16 ? U16(src + x * 2) : U32(src + x * 4);
                dst[0] = l.blue.Get(v);
                dst[1] = l.green.Get(v);
                dst[2] = l.red.Get(v);
                dst[3] = l.alpha.bits != 0 ? l.alpha.Get(v) : 255;
            } else {
                std::memcpy(dst, src + x * 4, 4);
                if (!hasAlpha) dst[3] = 255;
            }
        }
    }
}

// Run-length encoded 8- and 4-bit rows (bottom-up); pixels not written stay
// the palette's first colour, as GDI leaves them.
Result DecodeRle(const DibLayout& l, const std::uint8_t* p, std::size_t size, Image& image) {
    const std::size_t width = image.width;
    const std::size_t height = image.height;
    std::vector<std::uint8_t> indices(width * height, 0);
    std::size_t x = 0, y = 0, i = 0;
    const bool four = l.bits == 4;
    auto put = [&](unsigned index) {
        if (x < width && y < height) indices[(height - 1 - y) * width + x] = static_cast<std::uint8_t>(index);
        ++x;
    };
    bool ended = false;
    while (!ended) {
        if (size - i < 2) return Result::Corrupt;
        const unsigned count = p[i], value = p[i + 1];
        i += 2;
        if (count != 0) {
            for (unsigned k = 0; k < count; ++k) put(four ? (k % 2 == 0 ? value >> 4 : value & 15) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            ended = true;
        } else if (value == 2) {
            if (size - i < 2) return Result::Corrupt;
            x += p[i];
            y += p[i + 1];
            i += 2;
        } else {
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            if (size - i < padded) return Result::Corrupt;
            for (unsigned k = 0; k < value; ++k) {
                put(four ? (k % 2 == 0 ? p[i + k / 2] >> 4 : p[i + k / 2] & 15) : p[i + k]);
            }
            i += padded;
        }
        if (y >= height && !ended) break;  // rows past the image end it
    }
    for (std::size_t k = 0; k < width * height; ++k) {
        std::uint8_t* dst = image.pixels.get() + k * 4;
        std::memcpy(dst, &l.palette[indices[k] * 4u], 3);
        dst[3] = 255;
    }
    return Result::Ok;
}

Result DecodeDibPixels(const DibLayout& l, const std::uint8_t* bits, std::size_t available, Image& out) {
    if (const Result r = Allocate(out, static_cast<std::uint64_t>(l.width), static_cast<std::uint64_t>(l.height));
        r != Result::Ok) {
        return r;
    }
    out.sourceBits = l.bits;
    out.indexed = l.bits <= 8;
    if (l.compression == kBiRle8 || l.compression == kBiRle4) return DecodeRle(l, bits, available, out);
    const std::uint64_t needed = static_cast<std::uint64_t>(RowBytes(l.width, l.bits)) * out.height;
    if (available < needed) return Result::Corrupt;
    out.alpha = l.masks && l.alpha.bits != 0;
    ConvertRows(l, bits, out, false);
    return Result::Ok;
}

bool IsPng(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

}  // namespace

Result Allocate(Image& image, std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0) return Result::Corrupt;
    if (width > kMaxPixelBytes || height > kMaxPixelBytes || width * height > kMaxPixelBytes / 4) {
        return Result::TooLarge;
    }
    image.pixels.reset(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(width * height * 4))));
    if (!image.pixels) return Result::NoMemory;
    image.width = static_cast<std::uint32_t>(width);
    image.height = static_cast<std::uint32_t>(height);
    return Result::Ok;
}

Format Sniff(const std::uint8_t* data, std::size_t size) {
    if (IsPng(data, size)) return Format::Png;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return Format::Jpeg;
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0)) return Format::Gif;
    if (size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0)) return Format::Tiff;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') return Format::Bmp;
    if (size >= 6 && U16(data) == 0 && (U16(data + 2) == 1 || U16(data + 2) == 2) && U16(data + 4) != 0) {
        return Format::Ico;
    }
    return Format::Unknown;
}

Result Decode(const std::uint8_t* data, std::size_t size, Image& out) {
    out = Image{};
    Result result = Result::UnknownFormat;
    try {
        switch (Sniff(data, size)) {
            case Format::Png:
                result = DecodePng(data, size, out);
                break;
            case Format::Jpeg:
                result = DecodeJpeg(data, size, out);
                break;
            case Format::Gif:
                result = DecodeGif(data, size, out);
                break;
            case Format::Tiff:
                result = DecodeTiff(data, size, out);
                break;
            case Format::Bmp:
                result = DecodeBmp(data, size, out);
                break;
            case Format::Ico:
                result = DecodeIco(data, size, out);
                break;
            case Format::Unknown:
                break;
        }
    } catch (const std::bad_alloc&) {
        result = Result::NoMemory;
    }
    if (result != Result::Ok) out = Image{};
    return result;
}

Result DecodeBmp(const std::uint8_t* data, std::size_t size, Image& out) {
    if (size < 14 + 12) return Result::Corrupt;
    const std::uint32_t pixelsAt = U32(data + 10);
    DibLayout layout;
    if (const Result r = ReadDibHeader(data + 14, size - 14, false, layout); r != Result::Ok) return r;
    if (pixelsAt < 14 + layout.afterHeader || pixelsAt > size) return Result::Corrupt;
    if (const Result r = DecodeDibPixels(layout, data + pixelsAt, size - pixelsAt, out); r != Result::Ok) return r;
    out.format = Format::Bmp;
    return Result::Ok;
}

Result DecodeIconDib(const std::uint8_t* data, std::size_t size, Image& out) {
    if (IsPng(data, size)) return DecodePng(data, size, out);
    DibLayout layout;
    if (const Result r = ReadDibHeader(data, size, true, layout); r != Result::Ok) return r;
    if (layout.compression != kBiRgb && !layout.masks) return Result::Unsupported;
    if (const Result r =
            Allocate(out, static_cast<std::uint64_t>(layout.width), static_cast<std::uint64_t>(layout.height));
        r != Result::Ok) {
        return r;
    }
    const std::size_t xorBytes = RowBytes(layout.width, layout.bits) * out.height;
    const std::size_t maskRow = RowBytes(layout.width, 1);
    const std::size_t available = size - layout.afterHeader;
    if (available < xorBytes) return Result::Corrupt;
    const bool hasMask = available - xorBytes >= maskRow * out.height;
    ConvertRows(layout, data + layout.afterHeader, out, layout.bits == 32);
    const std::size_t count = std::size_t{out.width} * out.height;
    bool anyAlpha = false;
    if (layout.bits == 32) {
        for (std::size_t i = 0; i < count && !anyAlpha; ++i) anyAlpha = out.pixels[i * 4 + 3] != 0;
    }
    if (!anyAlpha) {
        // Only a 32-bit image may leave its mask out, and then it is opaque.
        if (!hasMask && layout.bits != 32) return Result::Corrupt;
        const std::uint8_t* mask = data + layout.afterHeader + xorBytes;
        for (std::size_t y = 0; y < out.height; ++y) {
            const std::uint8_t* row = mask + (out.height - 1 - y) * maskRow;
            for (std::size_t x = 0; x < out.width; ++x) {
                const bool transparent = hasMask && ((row[x / 8] >> (7 - x % 8)) & 1) != 0;
                out.pixels[(y * out.width + x) * 4 + 3] = transparent ? 0 : 255;
            }
        }
    }
    out.alpha = true;
    out.sourceBits = layout.bits;
    out.format = Format::Ico;
    return Result::Ok;
}

Result DecodeIco(const std::uint8_t* data, std::size_t size, Image& out) {
    if (size < 6) return Result::Corrupt;
    const std::size_t count = U16(data + 4);
    if (count == 0 || size < 6 + count * 16) return Result::Corrupt;
    // The largest image, then the deepest colour.
    std::size_t best = count;
    std::uint64_t bestScore = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = data + 6 + i * 16;
        const std::uint64_t w = e[0] != 0 ? e[0] : 256, h = e[1] != 0 ? e[1] : 256;
        const std::uint64_t score = (w * h << 8) | std::min<unsigned>(U16(e + 6), 255);
        if (best == count || score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    const std::uint8_t* e = data + 6 + best * 16;
    const std::uint32_t length = U32(e + 8), offset = U32(e + 12);
    if (offset > size || length > size - offset) return Result::Corrupt;
    Image image;
    const Result r = IsPng(data + offset, length) ? DecodePng(data + offset, length, image)
                                                  : DecodeIconDib(data + offset, length, image);
    if (r != Result::Ok) return r;
    out = std::move(image);
    out.format = Format::Ico;
    out.alpha = true;
    return Result::Ok;
}

Result Scale(const Image& source, std::uint32_t width, std::uint32_t height, Image& out) {
    if (const Result r = Allocate(out, width, height); r != Result::Ok) return r;
    out.format = source.format;
    out.alpha = source.alpha;
    out.sourceBits = source.sourceBits;
    const double sx = static_cast<double>(source.width) / width;
    const double sy = static_cast<double>(source.height) / height;
    for (std::uint32_t y = 0; y < height; ++y) {
        const double y0 = y * sy, y1 = (y + 1) * sy;
        for (std::uint32_t x = 0; x < width; ++x) {
            const double x0 = x * sx, x1 = (x + 1) * sx;
            double sum[4] = {0, 0, 0, 0}, total = 0;
            for (auto iy = static_cast<std::uint32_t>(y0); iy < source.height && iy < y1; ++iy) {
                const double wy = std::min<double>(iy + 1, y1) - std::max<double>(iy, y0);
                for (auto ix = static_cast<std::uint32_t>(x0); ix < source.width && ix < x1; ++ix) {
                    const double w = wy * (std::min<double>(ix + 1, x1) - std::max<double>(ix, x0));
                    if (w <= 0) continue;
                    const std::uint8_t* p = source.pixels.get() + (std::size_t{iy} * source.width + ix) * 4;
                    const double a = p[3] * w;
                    sum[0] += p[0] * a;
                    sum[1] += p[1] * a;
                    sum[2] += p[2] * a;
                    sum[3] += a;
                    total += w;
                }
            }
            std::uint8_t* d = out.pixels.get() + (std::size_t{y} * width + x) * 4;
            for (int c = 0; c < 3; ++c) d[c] = sum[3] > 0 ? static_cast<std::uint8_t>(sum[c] / sum[3] + 0.5) : 0;
            d[3] = total > 0 ? static_cast<std::uint8_t>(sum[3] / total + 0.5) : 0;
        }
    }
    return Result::Ok;
}

}  // namespace vplatform::image

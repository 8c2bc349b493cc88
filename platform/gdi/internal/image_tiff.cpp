// TIFF through libtiff's RGBA interface: the first directory, any photometric
// interpretation libtiff converts, read from memory.
#include <tiffio.h>

#include <cstdarg>
#include <cstring>

#include "platform/gdi/internal/ImageDecoder.h"

namespace vplatform::image {
namespace {

struct TiffInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

tmsize_t ReadBytes(thandle_t handle, void* out, tmsize_t length) {
    auto* input = static_cast<TiffInput*>(handle);
    if (length < 0) return -1;
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(length), input->size - input->position);
    std::memcpy(out, input->data + input->position, count);
    input->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t WriteBytes(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t SeekTo(thandle_t handle, toff_t offset, int whence) {
    auto* input = static_cast<TiffInput*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = input->position;
    if (whence == SEEK_END) base = input->size;
    const std::uint64_t target = base + offset;
    if (target < base || target > input->size) return static_cast<toff_t>(-1);
    input->position = static_cast<std::size_t>(target);
    return target;
}

int CloseInput(thandle_t) {
    return 0;
}

toff_t SizeOf(thandle_t handle) {
    return static_cast<TiffInput*>(handle)->size;
}

int Quiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;  // handled: libtiff prints nothing
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

}  // namespace

Result DecodeTiff(const std::uint8_t* data, std::size_t size, Image& out) {
    TiffInput input{data, size, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return Result::NoMemory;
    // libtiff's own buffers (strips, tiles) stay below the pixel limit too.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(kMaxPixelBytes));
    TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
    std::unique_ptr<TIFF, TiffCloser> tiff(TIFFClientOpenExt("memory", "rm", &input, ReadBytes, WriteBytes, SeekTo,
                                                             CloseInput, SizeOf, nullptr, nullptr, options));
    TIFFOpenOptionsFree(options);
    if (!tiff) return Result::Corrupt;
    std::uint32_t width = 0, height = 0;
    std::uint16_t samples = 1, bits = 1, extra = 0;
    std::uint16_t* extraTypes = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1) {
        return Result::Corrupt;
    }
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_EXTRASAMPLES, &extra, &extraTypes);
    char message[1024];
    if (TIFFRGBAImageOK(tiff.get(), message) != 1) return Result::Unsupported;
    if (const Result r = Allocate(out, width, height); r != Result::Ok) return r;
    auto* raster = reinterpret_cast<std::uint32_t*>(out.pixels.get());
    if (TIFFReadRGBAImageOriented(tiff.get(), width, height, raster, ORIENTATION_TOPLEFT, 1) != 1) {
        return Result::Corrupt;
    }
    std::uint32_t profileLength = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &profileLength, &profile) == 1 && profile != nullptr) {
        const auto* bytes = static_cast<const std::uint8_t*>(profile);
        out.icc.assign(bytes, bytes + profileLength);
    }
    // libtiff gives R, G, B, A bytes with alpha premultiplied.
    out.alpha = extra > 0;
    std::uint8_t* p = out.pixels.get();
    for (std::size_t i = 0; i < std::size_t{width} * height; ++i, p += 4) {
        std::swap(p[0], p[2]);
        const unsigned a = p[3];
        if (a != 255 && a != 0) {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(std::min(255u, (p[c] * 255u + a / 2) / a));
        }
    }
    out.sourceBits = static_cast<unsigned>(samples * bits);
    out.indexed = false;
    out.format = Format::Tiff;
    return Result::Ok;
}

}  // namespace vplatform::image

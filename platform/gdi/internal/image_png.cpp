// PNG through libpng: every colour type and depth expanded to 8-bit BGRA.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "platform/gdi/internal/ImageDecoder.h"

namespace vplatform::image {
namespace {

struct PngInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
    Result failure = Result::Corrupt;
    std::vector<png_bytep> rows;
};

void ReadBytes(png_structp png, png_bytep out, png_size_t length) {
    auto* input = static_cast<PngInput*>(png_get_io_ptr(png));
    if (length > input->size - input->position) png_error(png, "truncated");
    std::memcpy(out, input->data + input->position, length);
    input->position += length;
}

[[noreturn]] void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// The libpng calls; only trivially destructible locals live here, so that a
// longjmp from libpng's error handler skips no destructor.
Result ReadPng(png_structp png, png_infop info, PngInput& input, Image& out) {
    if (setjmp(png_jmpbuf(png)) != 0) return input.failure;
    png_set_read_fn(png, &input, ReadBytes);
    // Every chunk's CRC already covers the compressed data: zlib's own
    // checksum over the inflated bytes adds nothing but time.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    out.alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || transparency;
    out.indexed = colorType == PNG_COLOR_TYPE_PALETTE;
    out.sourceBits = static_cast<unsigned>(depth * png_get_channels(png, info));
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) != 0 && profile != nullptr) {
        out.icc.assign(profile, profile + profileLength);
    }

    png_set_expand(png);
    if (depth == 16) png_set_strip_16(png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!out.alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4) return Result::Corrupt;

    input.failure = Allocate(out, width, height);
    if (input.failure != Result::Ok) return input.failure;
    input.rows.resize(height);
    input.failure = Result::Corrupt;
    for (png_uint_32 y = 0; y < height; ++y) input.rows[y] = out.pixels.get() + std::size_t{y} * width * 4;
    png_read_image(png, input.rows.data());
    return Result::Ok;
}

}  // namespace

Result DecodePng(const std::uint8_t* data, std::size_t size, Image& out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (png == nullptr) return Result::NoMemory;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return Result::NoMemory;
    }
    PngInput input{data, size, 0, Result::Corrupt, {}};
    Result result = Result::Corrupt;
    try {
        result = ReadPng(png, info, input, out);
    } catch (...) {
        result = Result::NoMemory;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    if (result == Result::Ok) out.format = Format::Png;
    return result;
}

}  // namespace vplatform::image

// JPEG through libjpeg-turbo, decoded straight into BGRA.
#include <cstdio>  // jpeglib.h needs FILE
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <cstring>

#include "platform/gdi/internal/ImageDecoder.h"

namespace vplatform::image {
namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

// libjpeg reports a file that ends early or damaged entropy data as a
// warning and fills the rest of the image with grey; such an image is
// corrupt, not a success.
void OnMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_MUST_RESYNC:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_TOO_MUCH_DATA:
            OnError(info);
        default:
            break;
    }
}

// The libjpeg calls; only trivially destructible locals (see image_png.cpp).
Result ReadJpeg(jpeg_decompress_struct& info, JpegErrors& errors, const std::uint8_t* data, std::size_t size,
                Image& out, Result& failure) {
    if (setjmp(errors.jump) != 0) return failure;
    jpeg_create_decompress(&info);
    // A progressive image keeps all its coefficients: bound them like pixels.
    info.mem->max_memory_to_use = static_cast<long>(kMaxPixelBytes);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return Result::Corrupt;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    failure = Allocate(out, info.image_width, info.image_height);
    if (failure != Result::Ok) return failure;
    failure = Result::Corrupt;
    out.sourceBits = static_cast<unsigned>(info.num_components * 8);
    JOCTET* profile = nullptr;
    unsigned profileLength = 0;
    if (jpeg_read_icc_profile(&info, &profile, &profileLength) && profile != nullptr) {
        try {
            out.icc.assign(profile, profile + profileLength);
        } catch (...) {
            std::free(profile);
            throw;
        }
        std::free(profile);
    }
    jpeg_start_decompress(&info);
    if (info.output_components != 4) return Result::Corrupt;
    const std::size_t stride = std::size_t{out.width} * 4;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.pixels.get() + std::size_t{info.output_scanline} * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    if (cmyk) {
        // Adobe's inverted CMYK, as every JPEG writer stores it.
        std::uint8_t* p = out.pixels.get();
        for (std::size_t i = 0; i < std::size_t{out.width} * out.height; ++i, p += 4) {
            const unsigned c = p[0], m = p[1], y = p[2], k = p[3];
            p[0] = static_cast<std::uint8_t>(y * k / 255);
            p[1] = static_cast<std::uint8_t>(m * k / 255);
            p[2] = static_cast<std::uint8_t>(c * k / 255);
            p[3] = 255;
        }
    }
    return Result::Ok;
}

}  // namespace

Result DecodeJpeg(const std::uint8_t* data, std::size_t size, Image& out) {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = OnError;
    errors.manager.emit_message = OnMessage;
    errors.manager.output_message = [](j_common_ptr) {};
    Result failure = Result::Corrupt;
    Result result = Result::NoMemory;
    try {
        result = ReadJpeg(info, errors, data, size, out, failure);
    } catch (...) {
    }
    jpeg_destroy_decompress(&info);
    if (result == Result::Ok) out.format = Format::Jpeg;
    return result;
}

}  // namespace vplatform::image

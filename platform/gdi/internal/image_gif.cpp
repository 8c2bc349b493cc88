// GIF through giflib: the first frame on the logical screen, areas outside
// the frame and the transparent colour left transparent.
#include <gif_lib.h>

#include <cstring>
#include <vector>

#include "platform/gdi/internal/ImageDecoder.h"

namespace vplatform::image {
namespace {

struct GifInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position;
};

int ReadBytes(GifFileType* gif, GifByteType* out, int length) {
    auto* input = static_cast<GifInput*>(gif->UserData);
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(length), input->size - input->position);
    std::memcpy(out, input->data + input->position, count);
    input->position += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

Result ReadFrame(GifFileType* gif, int transparent, Image& out) {
    if (DGifGetImageDesc(gif) != GIF_OK) return Result::Corrupt;
    const GifImageDesc& desc = gif->Image;
    const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr || desc.Width <= 0 || desc.Height <= 0) return Result::Corrupt;
    std::uint64_t screenWidth = static_cast<std::uint64_t>(gif->SWidth);
    std::uint64_t screenHeight = static_cast<std::uint64_t>(gif->SHeight);
    if (screenWidth == 0 || screenHeight == 0) {
        screenWidth = static_cast<std::uint64_t>(desc.Left) + desc.Width;
        screenHeight = static_cast<std::uint64_t>(desc.Top) + desc.Height;
    }
    if (const Result r = Allocate(out, screenWidth, screenHeight); r != Result::Ok) return r;
    std::memset(out.pixels.get(), 0, std::size_t{out.width} * out.height * 4);
    std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
    // Interlaced frames send rows 0, 8, 16… then 4, 12… then 2, 6… then 1, 3….
    static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = desc.Interlace ? kStart[pass] : 0;
        const int step = desc.Interlace ? kStep[pass] : 1;
        for (int row = start; row < desc.Height; row += step) {
            if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) return Result::Corrupt;
            const std::uint64_t y = static_cast<std::uint64_t>(desc.Top) + row;
            if (y >= out.height) continue;
            for (int x = 0; x < desc.Width; ++x) {
                const std::uint64_t px = static_cast<std::uint64_t>(desc.Left) + x;
                if (px >= out.width || line[static_cast<std::size_t>(x)] == transparent) continue;
                std::uint8_t* d = out.pixels.get() + (y * out.width + px) * 4;
                const int index = line[static_cast<std::size_t>(x)];
                if (index < map->ColorCount) {
                    const GifColorType& c = map->Colors[index];
                    d[0] = c.Blue;
                    d[1] = c.Green;
                    d[2] = c.Red;
                }
                d[3] = 255;
            }
        }
    }
    return Result::Ok;
}

}  // namespace

Result DecodeGif(const std::uint8_t* data, std::size_t size, Image& out) {
    GifInput input{data, size, 0};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, ReadBytes, &error));
    if (!gif) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? Result::NoMemory : Result::Corrupt;
    int transparent = -1;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) != GIF_OK) return Result::Corrupt;
        if (record == IMAGE_DESC_RECORD_TYPE) {
            const Result r = ReadFrame(gif.get(), transparent, out);
            if (r != Result::Ok) return r;
            out.format = Format::Gif;
            out.indexed = true;
            out.sourceBits = 8;
            out.alpha = transparent >= 0;
            return Result::Ok;
        }
        if (record == TERMINATE_RECORD_TYPE) return Result::Corrupt;  // no image at all
        if (record != EXTENSION_RECORD_TYPE) return Result::Corrupt;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) return Result::Corrupt;
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4) {
            transparent = (block[1] & 1) != 0 ? block[4] : -1;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) return Result::Corrupt;
        }
    }
}

}  // namespace vplatform::image

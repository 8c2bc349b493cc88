// Image decoding: a 1024 x 768 PNG and JPEG (a photo-like picture of smooth
// shades and noise, encoded in memory by stb_image_write) decoded by GDI+
// (Bitmap from a memory stream, then LockBits in 32bppARGB, whose BGRA rows
// are the bitmap's own) beside libpng and libjpeg-turbo alone writing the
// same BGRA layout into one buffer, and beside stb_image (RGBA, its only
// order).
//
// Before timing, the plain decoders' pixels are compared with ours; the
// ratio rows follow (CPU time: medians of the repetitions, with ranges).
#include <benchmark/benchmark.h>
#include <png.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "MedianReporter.h"
#include "platform/gdiplus/GdiPlus.h"
#include "platform/shell/ShlwApi.h"

namespace {

constexpr int kWidth = 1024, kHeight = 768;

std::vector<unsigned char> Picture() {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(7);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            unsigned char* p = &rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3];
            const int noise = static_cast<int>(random() % 9) - 4;
            p[0] = static_cast<unsigned char>(std::clamp(x * 255 / kWidth + noise, 0, 255));
            p[1] = static_cast<unsigned char>(std::clamp(y * 255 / kHeight + noise, 0, 255));
            p[2] = static_cast<unsigned char>(std::clamp(((x ^ y) & 255) / 2 + 64 + noise, 0, 255));
        }
    }
    return rgb;
}

void Append(void* context, void* data, int size) {
    auto* out = static_cast<std::string*>(context);
    out->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

const std::string& Png() {
    static const std::string png = [] {
        std::string out;
        const auto rgb = Picture();
        stbi_write_png_to_func(Append, &out, kWidth, kHeight, 3, rgb.data(), kWidth * 3);
        return out;
    }();
    return png;
}

const std::string& Jpeg() {
    static const std::string jpeg = [] {
        std::string out;
        const auto rgb = Picture();
        stbi_write_jpg_to_func(Append, &out, kWidth, kHeight, 3, rgb.data(), 90);
        return out;
    }();
    return jpeg;
}

std::vector<unsigned char>& Buffer() {
    static std::vector<unsigned char> buffer(static_cast<std::size_t>(kWidth) * kHeight * 4);
    return buffer;
}

// libpng alone, with the same transformations to BGRA.
struct PngRead {
    const std::string* data;
    std::size_t at;
};

bool LibpngDecode(const std::string& data, unsigned char* out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    PngRead input{&data, 0};
    std::vector<png_bytep> rows(kHeight);
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &input, [](png_structp p, png_bytep bytes, png_size_t length) {
        auto* in = static_cast<PngRead*>(png_get_io_ptr(p));
        if (length > in->data->size() - in->at) png_error(p, "truncated");
        std::memcpy(bytes, in->data->data() + in->at, length);
        in->at += length;
    });
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    for (int y = 0; y < kHeight; ++y)
        rows[static_cast<std::size_t>(y)] = out + static_cast<std::size_t>(y) * kWidth * 4;
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// libjpeg-turbo alone, straight into BGRA.
bool LibjpegDecode(const std::string& data, unsigned char* out) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()), data.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out + static_cast<std::size_t>(info.output_scanline) * kWidth * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// GDI+: a bitmap from a memory stream and its pixels through LockBits, read
// in place (a caller needs no copy); `out` gets a copy only when asked for.
bool GdiplusDecode(const std::string& data, unsigned char* out, bool copy) {
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(data.data()), static_cast<UINT>(data.size()));
    bool ok = false;
    {
        Gdiplus::Bitmap bitmap(stream);
        Gdiplus::BitmapData locked;
        if (bitmap.GetLastStatus() == Gdiplus::Ok &&
            bitmap.LockBits(nullptr, Gdiplus::ImageLockModeRead, Gdiplus::PixelFormat32bppARGB, &locked) ==
                Gdiplus::Ok) {
            if (copy) std::memcpy(out, locked.Scan0, static_cast<std::size_t>(kWidth) * kHeight * 4);
            benchmark::DoNotOptimize(*static_cast<volatile unsigned char*>(locked.Scan0));
            bitmap.UnlockBits(&locked);
            ok = true;
        }
    }
    stream->Release();
    return ok;
}

bool GdiplusInPlace(const std::string& data, unsigned char* out) {
    return GdiplusDecode(data, out, false);
}

bool GdiplusCopy(const std::string& data, unsigned char* out) {
    return GdiplusDecode(data, out, true);
}

bool StbDecode(const std::string& data, unsigned char* out) {
    int w = 0, h = 0, channels = 0;
    unsigned char* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(data.data()),
                                                  static_cast<int>(data.size()), &w, &h, &channels, 4);
    if (pixels == nullptr) return false;
    std::memcpy(out, pixels, static_cast<std::size_t>(w) * h * 4);
    stbi_image_free(pixels);
    return true;
}

template <bool (*Decode)(const std::string&, unsigned char*)>
void Run(benchmark::State& state, const std::string& data) {
    auto& buffer = Buffer();
    for (auto _ : state) {
        if (!Decode(data, buffer.data())) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kWidth * kHeight * 4);
}

bool SamePixels(bool (*a)(const std::string&, unsigned char*), bool (*b)(const std::string&, unsigned char*),
                const std::string& data) {
    std::vector<unsigned char> x(Buffer().size()), y(Buffer().size());
    return a(data, x.data()) && b(data, y.data()) && x == y;
}

}  // namespace

int main(int argc, char** argv) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    std::printf("PNG %zu bytes, JPEG %zu bytes, %dx%d\n", Png().size(), Jpeg().size(), kWidth, kHeight);
    if (!SamePixels(GdiplusCopy, LibpngDecode, Png()) || !SamePixels(GdiplusCopy, LibjpegDecode, Jpeg())) {
        std::fprintf(stderr, "GDI+ pixels differ from the plain decoders'\n");
        return 1;
    }
    benchmark::RegisterBenchmark("png/GDI+", Run<GdiplusInPlace>, Png())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("png/libpng", Run<LibpngDecode>, Png())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("png/stb_image", Run<StbDecode>, Png())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("jpeg/GDI+", Run<GdiplusInPlace>, Jpeg())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("jpeg/libjpeg-turbo", Run<LibjpegDecode>, Jpeg())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("jpeg/stb_image", Run<StbDecode>, Jpeg())->Unit(benchmark::kMillisecond);
    vbench::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const struct {
        const char* ours;
        const char* peer;
        const char* goal;
    } rows[] = {{"png/GDI+", "png/libpng", "<= 1.1"},
                {"png/GDI+", "png/stb_image", "<= 1.0"},
                {"jpeg/GDI+", "jpeg/libjpeg-turbo", "<= 1.1"},
                {"jpeg/GDI+", "jpeg/stb_image", "<= 1.0"}};
    for (const auto& row : rows) {
        const std::string peer = row.peer;
        vbench::Report("Image decoding (1024 x 768)",
                       peer.substr(0, peer.find('/')) + " vs " + peer.substr(peer.find('/') + 1), row.ours,
                       reporter.Figures(row.ours), row.peer, reporter.Figures(row.peer), "ms CPU", row.goal);
    }
    benchmark::Shutdown();
    Gdiplus::GdiplusShutdown(token);
    return 0;
}

// vtools image: decodes an image file with GDI+ and shows its format, size,
// pixel format and a few pixels.
#include <cstdio>
#include <memory>
#include <sstream>

#include "Command.h"
#include "platform/gdiplus/GdiPlus.h"
#include "platform/shell/ShlwApi.h"

namespace vtools {
namespace {

using namespace Gdiplus;

const char* FormatName(const GUID& raw) {
    const struct {
        const GUID* id;
        const char* name;
    } names[] = {{&ImageFormatPNG, "PNG"}, {&ImageFormatJPEG, "JPEG"}, {&ImageFormatGIF, "GIF"},
                 {&ImageFormatBMP, "BMP"}, {&ImageFormatTIFF, "TIFF"}, {&ImageFormatIcon, "ICO"}};
    for (const auto& n : names) {
        if (IsEqualGUID(*n.id, raw)) return n.name;
    }
    return "unknown";
}

const char* PixelFormatName(PixelFormat format) {
    switch (format) {
        case PixelFormat1bppIndexed:
            return "1bppIndexed";
        case PixelFormat4bppIndexed:
            return "4bppIndexed";
        case PixelFormat8bppIndexed:
            return "8bppIndexed";
        case PixelFormat16bppRGB555:
            return "16bppRGB555";
        case PixelFormat24bppRGB:
            return "24bppRGB";
        case PixelFormat32bppRGB:
            return "32bppRGB";
        case PixelFormat32bppARGB:
            return "32bppARGB";
        default:
            return "other";
    }
}

const char* StatusName(Status status) {
    switch (status) {
        case InvalidParameter:
            return "InvalidParameter (truncated or damaged image)";
        case OutOfMemory:
            return "OutOfMemory (too large)";
        case UnknownImageFormat:
            return "UnknownImageFormat";
        default:
            return "error";
    }
}

struct Startup {
    Startup() {
        GdiplusStartupInput input;
        GdiplusStartup(&token, &input, nullptr);
    }
    ~Startup() { GdiplusShutdown(token); }
    ULONG_PTR token = 0;
};

struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};

int Image(const std::vector<std::string>& args) {
    bool icm = false;
    std::string file;
    for (const auto& arg : args) {
        if (arg == "--icm") {
            icm = true;
        } else if (file.empty()) {
            file = arg;
        } else {
            throw UsageError("expected one FILE");
        }
    }
    if (file.empty()) throw UsageError("expected FILE");
    const std::string bytes = ReadInput(file);
    const Startup startup;
    std::unique_ptr<IStream, StreamRelease> stream(
        SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
    if (!stream) throw InputError("out of memory");
    Bitmap bitmap(stream.get(), icm ? TRUE : FALSE);
    const Status status = bitmap.GetLastStatus();
    if (status != Ok) {
        throw InputError(file + ": " + StatusName(status) + " (status " + std::to_string(static_cast<int>(status)) +
                         ")");
    }
    GUID raw{};
    bitmap.GetRawFormat(&raw);
    const UINT width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::ostringstream out;
    out << "format: " << FormatName(raw) << "\n";
    out << "size: " << width << "x" << height << "\n";
    out << "pixel format: " << PixelFormatName(bitmap.GetPixelFormat()) << "\n";
    // The corners and the centre, as ARGB.
    const INT points[][2] = {{0, 0},
                             {static_cast<INT>(width) - 1, 0},
                             {0, static_cast<INT>(height) - 1},
                             {static_cast<INT>(width) - 1, static_cast<INT>(height) - 1},
                             {static_cast<INT>(width / 2), static_cast<INT>(height / 2)}};
    for (const auto& p : points) {
        Color color;
        bitmap.GetPixel(p[0], p[1], &color);
        char text[64];
        std::snprintf(text, sizeof text, "pixel %d,%d: #%08X\n", p[0], p[1], static_cast<unsigned>(color.GetValue()));
        out << text;
    }
    WriteOutput(out.str());
    return 0;
}

const Registration registration{{
    "image",
    "decode an image file and show its format, size and pixels",
    "usage: vtools image [--icm] FILE\n\n"
    "Decodes FILE (PNG, JPEG, GIF, BMP, TIFF or ICO; - for standard input) as\n"
    "a GDI+ bitmap and prints its format, size, pixel format and the ARGB\n"
    "values of its corners and centre.  --icm converts an embedded colour\n"
    "profile to sRGB.  A truncated, damaged or unknown image is an error.\n",
    Image,
}};

}  // namespace
}  // namespace vtools

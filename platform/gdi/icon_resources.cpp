// Icons from resource data: choosing a group directory's image and building
// an icon from one image's DIB or PNG bytes.
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/WinError.h"
#include "platform/gdi/Icons.h"
#include "platform/gdi/internal/ImageDecoder.h"
#include "platform/gdi/internal/Objects.h"

namespace vplatform::gdi {
namespace {

namespace img = vplatform::image;

constexpr int kScreenDepth = 32;

struct DirectoryEntry {
    int width = 0;
    int height = 0;
    int bits = 0;
    int id = 0;
};

// One 14-byte entry of a group directory.  Icons store BYTE sizes (0 is 256)
// and a colour count; cursors store WORD sizes with the height doubled.
DirectoryEntry ReadEntry(const BYTE* e, bool icon) {
    auto word = [e](int at) { return static_cast<int>(e[at] | (e[at + 1] << 8)); };
    DirectoryEntry entry;
    if (icon) {
        entry.width = e[0] != 0 ? e[0] : 256;
        entry.height = e[1] != 0 ? e[1] : 256;
        entry.bits = word(6);
        if (entry.bits == 0) {
            const int colors = e[2];
            entry.bits = colors == 0 ? 8 : colors <= 2 ? 1 : colors <= 16 ? 4 : 8;
        }
    } else {
        entry.width = word(0);
        entry.height = word(2) / 2;
        entry.bits = word(6);
    }
    entry.id = word(12);
    return entry;
}

// Builds the icon's bitmaps from straight-alpha BGRA pixels (top-down).
HICON MakeIcon(const img::Image& image, bool isIcon, DWORD xHotspot, DWORD yHotspot, bool monochrome) {
    const auto width = static_cast<LONG>(image.width);
    const auto height = static_cast<LONG>(image.height);
    auto icon = std::make_shared<Icon>();
    icon->isIcon = isIcon;
    icon->xHotspot = isIcon ? static_cast<DWORD>(width / 2) : xHotspot;
    icon->yHotspot = isIcon ? static_cast<DWORD>(height / 2) : yHotspot;
    // The AND mask: 1 where the icon is transparent.  A monochrome icon
    // keeps its XOR image (1 = white) under the mask in the same bitmap.
    icon->mask = Bitmap::Make(width, monochrome ? height * 2 : height, 1, false);
    if (!icon->mask) return nullptr;
    const std::size_t stride = icon->mask->stride;
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const BYTE* p = image.pixels.get() + (static_cast<std::size_t>(y) * width + x) * 4;
            BYTE* andRow = icon->mask->pixels.get() + static_cast<std::size_t>(y) * stride;
            const BYTE bit = static_cast<BYTE>(0x80 >> (x % 8));
            if (p[3] < 128) {
                andRow[x / 8] |= bit;
            } else if (monochrome && p[0] * 114 + p[1] * 587 + p[2] * 299 >= 128 * 1000) {
                andRow[static_cast<std::size_t>(height) * stride + x / 8] |= bit;
            }
        }
    }
    if (!monochrome) {
        icon->color = Bitmap::Make(width, height, 32, true);
        if (!icon->color) return nullptr;
        icon->color->header = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        // A DIB's rows run from the bottom up.
        for (LONG y = 0; y < height; ++y) {
            std::memcpy(icon->color->pixels.get() + static_cast<std::size_t>(height - 1 - y) * icon->color->stride,
                        image.pixels.get() + static_cast<std::size_t>(y) * width * 4,
                        static_cast<std::size_t>(width) * 4);
        }
    }
    return static_cast<HICON>(GdiHandles().Insert(std::move(icon)));
}

}  // namespace
}  // namespace vplatform::gdi

using namespace vplatform::gdi;

extern "C" {

int LookupIconIdFromDirectoryEx(PBYTE presbits, BOOL fIcon, int cxDesired, int cyDesired, UINT Flags) {
    if (presbits == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int type = presbits[2] | (presbits[3] << 8);
    const int count = presbits[4] | (presbits[5] << 8);
    if (presbits[0] != 0 || presbits[1] != 0 || type != (fIcon ? 1 : 2) || count == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool icon = fIcon != FALSE;
    const int width = cxDesired != 0 ? cxDesired : kDefaultIconSize;
    const int height = cyDesired != 0 ? cyDesired : kDefaultIconSize;
    const int depth = (Flags & LR_MONOCHROME) != 0 ? 1 : kScreenDepth;
    int best = -1;
    long bestDistance = 0;
    long bestArea = 0;
    int bestColor = 0;
    for (int i = 0; i < count; ++i) {
        const DirectoryEntry e = ReadEntry(presbits + 6 + i * 14, icon);
        const long distance =
            std::labs(static_cast<long>(e.width) - width) + std::labs(static_cast<long>(e.height) - height);
        const long area = static_cast<long>(e.width) * e.height;
        // Depths up to the screen's count by how much they fall short;
        // deeper ones only after all of those.
        const int color = e.bits <= depth ? depth - e.bits : 64 + e.bits - depth;
        const bool better = best < 0 || distance < bestDistance ||
                            (distance == bestDistance && (area > bestArea || (area == bestArea && color < bestColor)));
        if (better) {
            best = e.id;
            bestDistance = distance;
            bestArea = area;
            bestColor = color;
        }
    }
    return best;
}

HICON CreateIconFromResourceEx(PBYTE presbits, DWORD dwResSize, BOOL fIcon, DWORD dwVer, int cxDesired, int cyDesired,
                               UINT Flags) {
    if (presbits == nullptr || (dwVer != 0x00030000 && dwVer != 0x00020000) || cxDesired < 0 || cyDesired < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool icon = fIcon != FALSE;
    DWORD xHotspot = 0, yHotspot = 0;
    const BYTE* data = presbits;
    std::size_t size = dwResSize;
    if (!icon) {
        if (size < 4) {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
        xHotspot = static_cast<DWORD>(data[0] | (data[1] << 8));
        yHotspot = static_cast<DWORD>(data[2] | (data[3] << 8));
        data += 4;
        size -= 4;
    }
    try {
        img::Image image;
        const img::Result result = img::DecodeIconDib(data, size, image);
        if (result != img::Result::Ok) {
            SetLastError(result == img::Result::TooLarge || result == img::Result::NoMemory ? ERROR_NOT_ENOUGH_MEMORY
                                                                                            : ERROR_INVALID_DATA);
            return nullptr;
        }
        const bool defaultSize = (Flags & LR_DEFAULTSIZE) != 0;
        const std::uint32_t width = cxDesired != 0 ? static_cast<std::uint32_t>(cxDesired)
                                    : defaultSize  ? kDefaultIconSize
                                                   : image.width;
        const std::uint32_t height = cyDesired != 0 ? static_cast<std::uint32_t>(cyDesired)
                                     : defaultSize  ? kDefaultIconSize
                                                    : image.height;
        if (width != image.width || height != image.height) {
            img::Image scaled;
            const img::Result scaling = img::Scale(image, width, height, scaled);
            if (scaling != img::Result::Ok) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            if (!icon) {
                xHotspot = static_cast<DWORD>(std::uint64_t{xHotspot} * width / image.width);
                yHotspot = static_cast<DWORD>(std::uint64_t{yHotspot} * height / image.height);
            }
            image = std::move(scaled);
        }
        return MakeIcon(image, icon, xHotspot, yHotspot, (Flags & LR_MONOCHROME) != 0);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

}  // extern "C"

// Icon resource data: the first byte chooses the call and the size asked
// for, the rest is an icon or cursor image (CreateIconFromResourceEx) or a
// group directory (LookupIconIdFromDirectoryEx).  A made icon has the size
// asked for and is destroyed; no icon or bitmap stays alive.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/gdi/Icons.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Threads.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

DWORD Objects() {
    return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t control = data[0];
    std::vector<BYTE> bytes(data + 1, data + size);
    const DWORD before = Objects();
    if ((control & 2) != 0) {
        // The directory must hold the entries its count announces.
        if (bytes.size() >= 6 && bytes.size() >= 6 + 14u * (bytes[4] | (bytes[5] << 8))) {
            const int id = LookupIconIdFromDirectoryEx(bytes.data(), control & 1, (control >> 2) & 63, 0, control >> 7);
            (void)id;
        }
        return 0;
    }
    const int cx = (control >> 2) & 63;
    const UINT flags = (control & 0x80) != 0 ? LR_MONOCHROME : LR_DEFAULTCOLOR;
    HICON icon = CreateIconFromResourceEx(bytes.empty() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size()),
                                          control & 1, 0x00030000, cx, cx, flags);
    if (icon != nullptr) {
        ICONINFO info{};
        Check(GetIconInfo(icon, &info) == TRUE);
        BITMAP mask{};
        Check(GetObjectW(info.hbmMask, sizeof mask, &mask) != 0);
        if (cx != 0) Check(mask.bmWidth == cx);
        DeleteObject(info.hbmMask);
        if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
        Check(DestroyIcon(icon) == TRUE);
    }
    Check(Objects() == before);
    return 0;
}

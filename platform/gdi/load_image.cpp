// LoadImageW over the module's resources and the icon functions.
#include "platform/gdi/LoadImage.h"

#include "platform/WinError.h"
#include "platform/kernel/Resource.h"

namespace {

// The bytes of a resource, or null with the last error set.
PBYTE ResourceBytes(HINSTANCE module, LPCWSTR name, LPCWSTR type, DWORD& size) {
    const HRSRC resource = FindResourceW(module, name, type);
    if (resource == nullptr) return nullptr;
    size = SizeofResource(module, resource);
    return static_cast<PBYTE>(LockResource(LoadResource(module, resource)));
}

}  // namespace

extern "C" {

HANDLE LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    if (type != IMAGE_ICON || (fuLoad & (LR_LOADFROMFILE | LR_SHARED)) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (cx < 0 || cy < 0 || name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DWORD groupSize = 0;
    const PBYTE group = ResourceBytes(hInst, name, RT_GROUP_ICON, groupSize);
    if (group == nullptr) return nullptr;
    // The directory must hold the entries its header counts.
    if (groupSize < 6 || groupSize < 6 + 14u * (group[4] | group[5] << 8)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    const int id = LookupIconIdFromDirectoryEx(group, TRUE, cx, cy, fuLoad & LR_MONOCHROME);
    if (id <= 0 || id > 0xFFFF) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    DWORD imageSize = 0;
    const PBYTE image = ResourceBytes(hInst, MAKEINTRESOURCEW(id), RT_ICON, imageSize);
    if (image == nullptr) return nullptr;
    return CreateIconFromResourceEx(image, imageSize, TRUE, 0x00030000, cx, cy,
                                    fuLoad & (LR_MONOCHROME | LR_DEFAULTSIZE));
}
}

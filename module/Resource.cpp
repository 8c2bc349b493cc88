#include "module/Resource.h"

#include <cstring>

#include "platform/com/ObjIdl.h"
#include "platform/gdi/LoadImage.h"
#include "platform/kernel/Resource.h"
#include "platform/shell/ShlwApi.h"

namespace VTools::Resource {

std::vector<std::byte> GetFileFromResource(HINSTANCE module, LPCWSTR name, LPCWSTR type) {
    const HRSRC resource = FindResourceW(module, name, type);
    if (resource == nullptr) return {};
    const HGLOBAL loaded = LoadResource(module, resource);
    const DWORD size = SizeofResource(module, resource);
    const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    if (bytes == nullptr || size == 0) return {};
    std::vector<std::byte> out(size);
    std::memcpy(out.data(), bytes, size);
    return out;
}

namespace {

// A memory stream over a copy of the resource's bytes; null when the
// resource is missing or empty.
struct StreamRelease {
    void operator()(IStream* stream) const { stream->Release(); }
};
using Stream = std::unique_ptr<IStream, StreamRelease>;

Stream ResourceStream(HINSTANCE module, LPCWSTR name, LPCWSTR type) {
    const HRSRC resource = FindResourceW(module, name, type);
    if (resource == nullptr) return nullptr;
    const HGLOBAL loaded = LoadResource(module, resource);
    const DWORD size = SizeofResource(module, resource);
    const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
    if (bytes == nullptr || size == 0) return nullptr;
    return Stream(SHCreateMemStream(static_cast<const BYTE*>(bytes), size));
}

}  // namespace

std::unique_ptr<Gdiplus::Bitmap> GetBitmapFromResource(HINSTANCE module, LPCWSTR name, LPCWSTR type) {
    const Stream stream = ResourceStream(module, name, type);
    if (stream == nullptr) return nullptr;
    // The bitmap keeps its own reference to the stream.
    return std::unique_ptr<Gdiplus::Bitmap>(Gdiplus::Bitmap::FromStream(stream.get(), TRUE));
}

std::unique_ptr<Gdiplus::Image> GetImageFromResource(HINSTANCE module, LPCWSTR name, LPCWSTR type) {
    return GetBitmapFromResource(module, name, type);
}

HICON LoadIconHandle(const HINSTANCE module, LPCWSTR name, int size) {
    return static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, size, size, 0));
}

}  // namespace VTools::Resource

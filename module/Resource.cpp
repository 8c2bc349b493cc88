#include "module/Resource.h"

#include <cstring>

#include "platform/kernel/Resource.h"

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

}  // namespace VTools::Resource

// Opens arbitrary bytes as a data-file module (LoadLibraryExW with
// LOAD_LIBRARY_AS_DATAFILE) and, when they are accepted, enumerates every
// type and name and reads every resource's bytes: a file either fails with
// ERROR_BAD_EXE_FORMAT or gives lookups that stay inside its mapping.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/kernel/Module.h"
#include "platform/kernel/Resource.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

struct Walk {
    HMODULE module;
    std::size_t fileSize;
    std::vector<std::wstring> types;  // "#n" for ids
};

std::wstring Text(LPCWSTR key) {
    return IS_INTRESOURCE(key) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(key)) : std::wstring(key);
}

BOOL CALLBACK OnName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    const auto& walk = *reinterpret_cast<const Walk*>(context);
    const HRSRC resource = FindResourceW(module, name, type);
    Check(resource != nullptr);
    const DWORD size = SizeofResource(module, resource);
    Check(size <= walk.fileSize);
    const auto* bytes = static_cast<const volatile std::uint8_t*>(LockResource(LoadResource(module, resource)));
    Check(bytes != nullptr);
    unsigned sum = 0;
    for (DWORD i = 0; i < size; ++i) sum += bytes[i];
    (void)sum;
    // The same resource by its text form ("#n" or the name itself).
    Check(FindResourceW(module, Text(name).c_str(), Text(type).c_str()) != nullptr);
    return TRUE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/vlib_datafile_fuzz_" + std::to_string(getpid()) + ".so";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const std::wstring wide(path.begin(), path.end());
    SetLastError(0);
    const HMODULE module = LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        Check(GetLastError() == ERROR_BAD_EXE_FORMAT);
        return 0;
    }
    Walk walk{module, size, {}};
    EnumResourceTypesW(
        module,
        [](HMODULE, LPWSTR type, LONG_PTR context) -> BOOL {
            reinterpret_cast<Walk*>(context)->types.push_back(Text(type));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&walk));
    for (const std::wstring& type : walk.types) {
        Check(EnumResourceNamesW(module, type.c_str(), OnName, reinterpret_cast<LONG_PTR>(&walk)));
    }
    Check(FreeLibrary(module));
    return 0;
}

// Loaded modules: the executable and shared libraries found through the
// dynamic loader's list of loaded objects.
#include "platform/kernel/Module.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/LoadedModules.h"
#include "platform/nls/internal/utf.h"

namespace vplatform {

// The address of the object's ELF header: the segment loaded from file
// offset 0 (or the lowest one) shifted by the load bias.
std::uintptr_t ImageStart(const dl_phdr_info& info) {
    const ElfW(Phdr)* first = nullptr;
    for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info.dlpi_phdr[i];
        if (segment.p_type == PT_LOAD && (first == nullptr || segment.p_offset < first->p_offset)) first = &segment;
    }
    if (first == nullptr) return 0;
    return static_cast<std::uintptr_t>(info.dlpi_addr + first->p_vaddr - first->p_offset);
}

}  // namespace vplatform

namespace {

using vplatform::ImageStart;

// One loaded object: its image start and its file.
struct LoadedModule {
    std::uintptr_t base = 0;
    std::string file;  // "" for the executable
    bool executable = false;
};

std::vector<LoadedModule> LoadedModules() {
    std::vector<LoadedModule> modules;
    vplatform::Sys().dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& list = *static_cast<std::vector<LoadedModule>*>(data);
            LoadedModule module;
            module.base = ImageStart(*info);
            // The loader lists the executable first, with an empty name.
            module.executable = list.empty();
            if (!module.executable && info->dlpi_name != nullptr) module.file = info->dlpi_name;
            if (module.base != 0 && (module.executable || !module.file.empty())) list.push_back(std::move(module));
            return 0;
        },
        &modules);
    return modules;
}

// The executable's file; empty, with the last error set, when the kernel does
// not tell it.
std::string ExecutableFile() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = vplatform::Sys().readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            vplatform::SetLastErrorFromErrno(errno);
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// The module's file as an absolute path.
std::string ModuleFile(const LoadedModule& module) {
    if (module.executable) return ExecutableFile();
    if (!module.file.empty() && module.file[0] == '/') return module.file;
    char* resolved = vplatform::Sys().realpath(module.file.c_str(), nullptr);
    if (resolved == nullptr) return module.file;
    std::string file(resolved);
    free(resolved);
    return file;
}

std::wstring Widen(const std::string& text) {
    std::wstring wide(vplatform::internal::Utf8ToUtf16Length(text.data(), text.size()), L'\0');
    vplatform::internal::Utf8ToUtf16(text.data(), text.size(), wide.data(), wide.size());
    return wide;
}

std::string Narrow(LPCWSTR text) {
    const std::size_t length = std::wcslen(text);
    std::string narrow(vplatform::internal::Utf16ToUtf8Length(text, length), '\0');
    vplatform::internal::Utf16ToUtf8(text, length, narrow.data(), narrow.size());
    return narrow;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct statx first {
    }, second{};
    const auto& sys = vplatform::Sys();
    return sys.statx(AT_FDCWD, a.c_str(), 0, STATX_INO, &first) == 0 &&
           sys.statx(AT_FDCWD, b.c_str(), 0, STATX_INO, &second) == 0 && first.stx_dev_major == second.stx_dev_major &&
           first.stx_dev_minor == second.stx_dev_minor && first.stx_ino == second.stx_ino;
}

// "libz.so.1" matches "libz.so.1" and "libz.so" (version suffix left off).
bool NameMatches(std::string_view file, std::string_view name) {
    const std::size_t slash = file.rfind('/');
    const std::string_view base = slash == std::string_view::npos ? file : file.substr(slash + 1);
    if (base == name) return true;
    if (base.size() <= name.size() || base.substr(0, name.size()) != name || base[name.size()] != '.') return false;
    const std::string_view suffix = base.substr(name.size() + 1);
    return !suffix.empty() && suffix.find_first_not_of("0123456789.") == std::string_view::npos;
}

HMODULE Handle(std::uintptr_t base) {
    return reinterpret_cast<HMODULE>(base);
}

// The references that LoadLibrary and GetModuleHandleEx took: the loader's
// handles by module, one per reference.
struct References {
    std::mutex lock;
    std::unordered_multimap<std::uintptr_t, void*> handles;
};

References& LibraryReferences() {
    static References references;
    return references;
}

void AddReference(std::uintptr_t base, void* handle) {
    References& references = LibraryReferences();
    std::lock_guard guard(references.lock);
    references.handles.emplace(base, handle);
}

// The image start of the library the loader's handle stands for; 0 if the
// loader does not list it.
std::uintptr_t BaseOfLoaderHandle(void* handle) {
    struct link_map* map = nullptr;
    if (vplatform::Sys().dlinfo_linkmap(handle, &map) != 0 || map == nullptr) return 0;
    struct Search {
        const struct link_map* map;
        std::uintptr_t base = 0;
    } search{map, 0};
    vplatform::Sys().dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& s = *static_cast<Search*>(data);
            if (info->dlpi_addr != s.map->l_addr || info->dlpi_name != s.map->l_name) return 0;
            s.base = ImageStart(*info);
            return 1;
        },
        &search);
    return search.base;
}

// The loaded module whose segments hold `address`.
const LoadedModule* ModuleHolding(const std::vector<LoadedModule>& modules, const void* address) {
    struct Search {
        std::uintptr_t address;
        std::uintptr_t base = 0;
    } search{reinterpret_cast<std::uintptr_t>(address), 0};
    vplatform::Sys().dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& s = *static_cast<Search*>(data);
            for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                if (segment.p_type == PT_LOAD && s.address >= start && s.address - start < segment.p_memsz) {
                    s.base = ImageStart(*info);
                    return 1;
                }
            }
            return 0;
        },
        &search);
    for (const LoadedModule& module : modules) {
        if (search.base != 0 && module.base == search.base) return &module;
    }
    return nullptr;
}

}  // namespace

extern "C" {

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    if (lpFilename == nullptr && nSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string file;
    bool found = false;
    for (const LoadedModule& module : LoadedModules()) {
        if ((hModule == nullptr && module.executable) || Handle(module.base) == hModule) {
            found = true;
            file = ModuleFile(module);
            if (file.empty()) return 0;  // the last error tells why
            break;
        }
    }
    if (!found) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    const std::wstring wide = Widen(file);
    if (wide.size() >= nSize) {
        if (nSize != 0) {
            std::memcpy(lpFilename, wide.data(), (nSize - 1) * sizeof(wchar_t));
            lpFilename[nSize - 1] = L'\0';
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(wide.size());
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
    const std::vector<LoadedModule> modules = LoadedModules();
    if (lpModuleName == nullptr) {
        if (!modules.empty() && modules.front().executable) return Handle(modules.front().base);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string name = Narrow(lpModuleName);
    const bool isPath = name.find_first_of("/\\") != std::string::npos;
    if (isPath) {
        for (char& c : name) {
            if (c == '\\') c = '/';
        }
    }
    for (const LoadedModule& module : modules) {
        const std::string file = ModuleFile(module);
        if (file.empty()) continue;
        if (isPath ? SameFile(file, name) : NameMatches(file, name)) return Handle(module.base);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
    constexpr DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (phModule != nullptr) *phModule = nullptr;
    if (phModule == nullptr || (dwFlags & ~known) != 0 ||
        ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) && (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::vector<LoadedModule> modules = LoadedModules();
    const LoadedModule* module = nullptr;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        module = ModuleHolding(modules, lpModuleName);
    } else {
        const HMODULE handle = GetModuleHandleW(lpModuleName);
        for (const LoadedModule& candidate : modules) {
            if (handle != nullptr && Handle(candidate.base) == handle) module = &candidate;
        }
    }
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (!module->executable &&
        !(dwFlags & (GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
        void* handle = vplatform::Sys().dlopen(module->file.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        AddReference(module->base, handle);
    }
    *phModule = Handle(module->base);
    return TRUE;
}

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (lpLibFileName == nullptr || hFile != nullptr || lpLibFileName[0] == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string file = Narrow(lpLibFileName);
    const bool isPath = file.find_first_of("/\\") != std::string::npos;
    for (char& c : file) {
        if (c == '\\') c = '/';
    }
    if (dwFlags & (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
        return vplatform::OpenDataFileModule(file);
    }
    const auto& sys = vplatform::Sys();
    void* handle = sys.dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // The loader tells why only in words: a file that is there but was
        // refused is no loadable object.
        struct statx info {};
        const bool exists = isPath && sys.statx(AT_FDCWD, file.c_str(), 0, STATX_TYPE, &info) == 0;
        SetLastError(exists ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const std::uintptr_t base = BaseOfLoaderHandle(handle);
    if (base == 0) {
        sys.dlclose(handle);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    AddReference(base, handle);
    return Handle(base);
}

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
    return LoadLibraryExW(lpLibFileName, nullptr, 0);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    if (vplatform::IsDataFileHandle(hLibModule)) {
        if (vplatform::CloseDataFileModule(hLibModule)) return TRUE;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    void* handle = nullptr;
    {
        References& references = LibraryReferences();
        std::lock_guard guard(references.lock);
        const auto found = references.handles.find(reinterpret_cast<std::uintptr_t>(hLibModule));
        if (found != references.handles.end()) {
            handle = found->second;
            references.handles.erase(found);
        }
    }
    // Unloading runs the library's destructors, which may load or free
    // libraries themselves: no lock is held meanwhile.
    if (handle != nullptr) {
        vplatform::Sys().dlclose(handle);
        return TRUE;
    }
    for (const LoadedModule& module : LoadedModules()) {
        if (hLibModule != nullptr && Handle(module.base) == hLibModule) return TRUE;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}
}

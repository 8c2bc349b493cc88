// Module resources: the block that vlib-rc compiles into a module, found
// through the module's ELF note in a loaded image or in a file mapped as data.
//
// Every block is checked once, when its module is first asked (a loaded
// module) or when it is mapped (a data file); lookups then trust it.  The
// blocks of loaded modules are cached per handle; the cache is dropped
// whenever the loader's counts of loaded and unloaded objects change, so that
// a library loaded where an unloaded one was is looked at anew.
#include "platform/kernel/Resource.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/internal/ErrnoMap.h"
#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/LoadedModules.h"
#include "platform/kernel/internal/ResourceFormat.h"

namespace {

namespace fmt = vplatform::resources;

// A checked block.
struct Directory {
    const std::byte* block = nullptr;
    std::uint32_t size = 0;
    const fmt::Entry* entries = nullptr;
    std::uint32_t count = 0;
};

// The string at `offset` of a checked block.
fmt::Key StringKey(const Directory& dir, std::uint32_t offset) {
    fmt::Key key;
    std::uint16_t length = 0;
    std::memcpy(&length, dir.block + offset, sizeof length);
    key.units = reinterpret_cast<const std::uint16_t*>(dir.block + offset + 2);
    key.length = length;
    return key;
}

fmt::Key TypeKey(const Directory& dir, const fmt::Entry& entry) {
    if (entry.typeString != 0) return StringKey(dir, entry.typeString);
    fmt::Key key;
    key.id = static_cast<std::uint16_t>(entry.typeId);
    return key;
}

fmt::Key NameKey(const Directory& dir, const fmt::Entry& entry) {
    if (entry.nameString != 0) return StringKey(dir, entry.nameString);
    fmt::Key key;
    key.id = static_cast<std::uint16_t>(entry.nameId);
    return key;
}

// True when the id or string reference of an entry is well formed.
bool CheckReference(std::uint32_t id, std::uint32_t string, std::uint32_t total) {
    if (string == 0) return id >= 1 && id <= 0xFFFF;
    if (id != 0 || string % 2 != 0 || string > total - 2u) return false;
    return true;
}

// A string that lookups can find: inside the block, not empty, upper-cased,
// without NUL, not "#123".
bool CheckString(const std::byte* block, std::uint32_t string, std::uint32_t total) {
    if (string == 0) return true;
    std::uint16_t length = 0;
    std::memcpy(&length, block + string, sizeof length);
    if (length == 0 || std::uint64_t{string} + 2 + 2 * std::uint64_t{length} > total) return false;
    const auto* units = reinterpret_cast<const std::uint16_t*>(block + string + 2);
    for (std::uint16_t i = 0; i < length; ++i) {
        if (units[i] == 0 || fmt::UpperUnit(units[i]) != units[i]) return false;
    }
    return fmt::HashId(units, length) == 0;
}

// Checks a block that starts at `block`, of which `available` bytes are
// readable: every entry, string and data range inside the block, entries in
// strictly increasing order.
bool CheckBlock(const std::byte* block, std::uint64_t available, Directory& out) {
    if (available < sizeof(fmt::BlockHeader) || reinterpret_cast<std::uintptr_t>(block) % alignof(fmt::Entry) != 0) {
        return false;
    }
    fmt::BlockHeader header;
    std::memcpy(&header, block, sizeof header);
    if (header.magic != fmt::kMagic || header.version != fmt::kVersion || header.totalSize < sizeof header ||
        header.totalSize > available) {
        return false;
    }
    const std::uint32_t total = header.totalSize;
    if (header.entryCount > (total - sizeof header) / sizeof(fmt::Entry)) return false;
    Directory dir;
    dir.block = block;
    dir.size = total;
    dir.entries = reinterpret_cast<const fmt::Entry*>(block + sizeof header);
    dir.count = header.entryCount;
    for (std::uint32_t i = 0; i < dir.count; ++i) {
        const fmt::Entry& e = dir.entries[i];
        if (!CheckReference(e.typeId, e.typeString, total) || !CheckReference(e.nameId, e.nameString, total) ||
            !CheckString(block, e.typeString, total) || !CheckString(block, e.nameString, total) ||
            e.language > 0xFFFF || e.dataOffset > total || e.dataSize > total - e.dataOffset) {
            return false;
        }
        if (i > 0) {
            const fmt::Entry& p = dir.entries[i - 1];
            int order = fmt::CompareKeys(TypeKey(dir, p), TypeKey(dir, e));
            if (order == 0) order = fmt::CompareKeys(NameKey(dir, p), NameKey(dir, e));
            if (order == 0) order = p.language < e.language ? -1 : (p.language == e.language ? 0 : 1);
            if (order >= 0) return false;
        }
    }
    out = dir;
    return true;
}

// Finds the resource note among `length` bytes of notes at `notes`; the
// offset of its descriptor, or -1.
std::int64_t FindNote(const std::byte* notes, std::uint64_t length) {
    std::uint64_t at = 0;
    while (length - at >= 12) {
        std::uint32_t nameSize = 0, descSize = 0, type = 0;
        std::memcpy(&nameSize, notes + at, 4);
        std::memcpy(&descSize, notes + at + 4, 4);
        std::memcpy(&type, notes + at + 8, 4);
        const std::uint64_t nameStart = at + 12;
        const std::uint64_t descStart = nameStart + ((std::uint64_t{nameSize} + 3) & ~std::uint64_t{3});
        const std::uint64_t next = descStart + ((std::uint64_t{descSize} + 3) & ~std::uint64_t{3});
        if (next > length) return -1;
        if (type == fmt::kNoteType && nameSize == sizeof fmt::kNoteName && descSize == 8 &&
            std::memcmp(notes + nameStart, fmt::kNoteName, sizeof fmt::kNoteName) == 0) {
            return static_cast<std::int64_t>(descStart);
        }
        at = next;
    }
    return -1;
}

// --- Loaded modules -------------------------------------------------------

// A module as the cache keeps it: whether the handle is a loaded module,
// and its block if it has one.
struct ModuleResources {
    bool loaded = false;
    bool hasBlock = false;
    Directory dir;
};

struct LoaderCounts {
    unsigned long long adds = 0;
    unsigned long long subs = 0;
    bool operator==(const LoaderCounts&) const = default;
};

LoaderCounts CurrentLoaderCounts() {
    LoaderCounts counts;
    vplatform::Sys().dl_iterate_phdr(
        [](dl_phdr_info* info, size_t size, void* data) -> int {
            if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs) {
                auto* out = static_cast<LoaderCounts*>(data);
                out->adds = info->dlpi_adds;
                out->subs = info->dlpi_subs;
            }
            return 1;  // the first object tells
        },
        &counts);
    return counts;
}

// Looks the module up in the loader's list.
ModuleResources ScanModule(HMODULE module) {
    struct Search {
        std::uintptr_t wanted;
        bool executable;
        bool first = true;
        ModuleResources result;
    } search{reinterpret_cast<std::uintptr_t>(module), module == nullptr, true, {}};
    vplatform::Sys().dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& s = *static_cast<Search*>(data);
            const bool first = s.first;
            s.first = false;
            if (s.executable ? !first : vplatform::ImageStart(*info) != s.wanted) return 0;
            s.result.loaded = true;
            for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& note = info->dlpi_phdr[i];
                if (note.p_type != PT_NOTE) continue;
                const auto* notes = reinterpret_cast<const std::byte*>(info->dlpi_addr + note.p_vaddr);
                const std::int64_t desc = FindNote(notes, note.p_memsz);
                if (desc < 0) continue;
                std::int64_t delta = 0;
                std::memcpy(&delta, notes + desc, sizeof delta);
                const std::uintptr_t block = reinterpret_cast<std::uintptr_t>(notes + desc) + delta;
                // The block must lie in one loaded segment.
                for (ElfW(Half) j = 0; j < info->dlpi_phnum; ++j) {
                    const ElfW(Phdr)& load = info->dlpi_phdr[j];
                    const std::uintptr_t start = info->dlpi_addr + load.p_vaddr;
                    if (load.p_type != PT_LOAD || block < start || block - start >= load.p_memsz) continue;
                    s.result.hasBlock = CheckBlock(reinterpret_cast<const std::byte*>(block),
                                                   load.p_memsz - (block - start), s.result.dir);
                    break;
                }
                break;
            }
            return 1;
        },
        &search);
    return search.result;
}

struct ModuleCache {
    std::shared_mutex lock;
    LoaderCounts counts;
    std::vector<std::pair<HMODULE, ModuleResources>> modules;
};

ModuleCache& Cache() {
    static ModuleCache cache;
    return cache;
}

ModuleResources LoadedModuleResources(HMODULE module) {
    ModuleCache& cache = Cache();
    const LoaderCounts counts = CurrentLoaderCounts();
    {
        std::shared_lock shared(cache.lock);
        if (cache.counts == counts) {
            for (const auto& [handle, resources] : cache.modules) {
                if (handle == module) return resources;
            }
        }
    }
    ModuleResources resources = ScanModule(module);
    if (!resources.loaded) return resources;  // only modules are kept
    std::unique_lock exclusive(cache.lock);
    if (!(cache.counts == counts)) {
        cache.modules.clear();
        cache.counts = counts;
    }
    const bool known = std::any_of(cache.modules.begin(), cache.modules.end(),
                                   [&](const auto& cached) { return cached.first == module; });
    if (!known) cache.modules.emplace_back(module, resources);
    return resources;
}

// --- Data-file modules ----------------------------------------------------

struct DataFile {
    void* mapping = nullptr;
    std::size_t length = 0;
    bool hasBlock = false;
    Directory dir;
};

struct DataFiles {
    std::mutex lock;
    std::unordered_map<std::uintptr_t, DataFile> files;
};

DataFiles& OpenDataFiles() {
    static DataFiles files;
    return files;
}

// Checks the ELF headers of a mapped file and finds its block.  False for a
// malformed file; true with `file.hasBlock` false for a file without
// resources.
bool ParseDataFile(DataFile& file) {
    const auto* bytes = static_cast<const std::byte*>(file.mapping);
    const std::uint64_t size = file.length;
    Elf64_Ehdr header;
    if (size < sizeof header) return false;
    std::memcpy(&header, bytes, sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phoff > size ||
        std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr) > size - header.e_phoff) {
        return false;
    }
    // A file without program headers has no notes: no resources.
    if (header.e_phnum == 0) return true;
    std::vector<Elf64_Phdr> segments(header.e_phnum);
    std::memcpy(segments.data(), bytes + header.e_phoff, segments.size() * sizeof(Elf64_Phdr));
    for (const Elf64_Phdr& segment : segments) {
        if ((segment.p_type == PT_NOTE || segment.p_type == PT_LOAD) &&
            (segment.p_offset > size || segment.p_filesz > size - segment.p_offset)) {
            return false;
        }
    }
    for (const Elf64_Phdr& note : segments) {
        if (note.p_type != PT_NOTE) continue;
        const std::int64_t desc = FindNote(bytes + note.p_offset, note.p_filesz);
        if (desc < 0) continue;
        std::int64_t delta = 0;
        std::memcpy(&delta, bytes + note.p_offset + desc, sizeof delta);
        const std::uint64_t address =
            note.p_vaddr + static_cast<std::uint64_t>(desc) + static_cast<std::uint64_t>(delta);
        for (const Elf64_Phdr& load : segments) {
            if (load.p_type != PT_LOAD || address < load.p_vaddr || address - load.p_vaddr >= load.p_filesz) continue;
            const std::uint64_t inSegment = address - load.p_vaddr;
            file.hasBlock = CheckBlock(bytes + load.p_offset + inSegment, load.p_filesz - inSegment, file.dir);
            return file.hasBlock;
        }
        return false;  // a note that points at no bytes of the file
    }
    return true;
}

// The resources of any module handle; false with the last error set when the
// handle is no module or the module has no resources.
bool ModuleDirectory(HMODULE module, Directory& dir) {
    if (vplatform::IsDataFileHandle(module)) {
        DataFiles& files = OpenDataFiles();
        std::lock_guard guard(files.lock);
        const auto found = files.files.find(reinterpret_cast<std::uintptr_t>(module));
        if (found == files.files.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return false;
        }
        if (!found->second.hasBlock) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return false;
        }
        dir = found->second.dir;
        return true;
    }
    const ModuleResources resources = LoadedModuleResources(module);
    if (!resources.loaded || !resources.hasBlock) {
        SetLastError(resources.loaded ? ERROR_RESOURCE_DATA_NOT_FOUND : ERROR_MOD_NOT_FOUND);
        return false;
    }
    dir = resources.dir;
    return true;
}

// --- Lookups --------------------------------------------------------------

// A name or type given by the caller, as the directory compares it.
class CallerKey {
public:
    explicit CallerKey(LPCWSTR text) {
        if (IS_INTRESOURCE(text)) {
            m_key.id = static_cast<std::uint16_t>(reinterpret_cast<ULONG_PTR>(text));
            return;
        }
        std::size_t length = 0;
        while (text[length] != L'\0') ++length;
        m_units.resize(length);
        for (std::size_t i = 0; i < length; ++i) {
            m_units[i] = fmt::UpperUnit(static_cast<std::uint16_t>(text[i]));
        }
        m_key.units = m_units.data();
        m_key.length = length;
        m_valid = length > 0 && length <= 0xFFFF;
        if (const std::uint16_t id = fmt::HashId(text, length); id != 0) {
            m_key = fmt::Key{};
            m_key.id = id;
        }
    }
    const fmt::Key& Key() const { return m_key; }
    // False for keys no entry can have (id 0, "").
    bool Valid() const { return m_valid && (m_key.id != 0 || m_key.length != 0); }

private:
    fmt::Key m_key;
    std::basic_string<std::uint16_t> m_units;
    bool m_valid = true;
};

struct Range {
    const fmt::Entry* first;
    const fmt::Entry* last;
};

Range TypeRange(const Directory& dir, const fmt::Key& type) {
    const fmt::Entry* begin = dir.entries;
    const fmt::Entry* end = dir.entries + dir.count;
    const fmt::Entry* first = std::partition_point(
        begin, end, [&](const fmt::Entry& e) { return fmt::CompareKeys(TypeKey(dir, e), type) < 0; });
    const fmt::Entry* last = std::partition_point(
        first, end, [&](const fmt::Entry& e) { return fmt::CompareKeys(TypeKey(dir, e), type) == 0; });
    return {first, last};
}

Range NameRange(const Directory& dir, Range type, const fmt::Key& name) {
    const fmt::Entry* first = std::partition_point(
        type.first, type.last, [&](const fmt::Entry& e) { return fmt::CompareKeys(NameKey(dir, e), name) < 0; });
    const fmt::Entry* last = std::partition_point(
        first, type.last, [&](const fmt::Entry& e) { return fmt::CompareKeys(NameKey(dir, e), name) == 0; });
    return {first, last};
}

HRSRC AsHandle(const fmt::Entry* entry) {
    return reinterpret_cast<HRSRC>(const_cast<fmt::Entry*>(entry));
}

HRSRC Find(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, bool anyLanguage) {
    if (type == nullptr || name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Directory dir;
    if (!ModuleDirectory(module, dir)) return nullptr;
    const CallerKey typeKey(type);
    const Range types = typeKey.Valid() ? TypeRange(dir, typeKey.Key()) : Range{nullptr, nullptr};
    if (types.first == types.last) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    const CallerKey nameKey(name);
    const Range names = nameKey.Valid() ? NameRange(dir, types, nameKey.Key()) : Range{nullptr, nullptr};
    if (names.first == names.last) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    // Languages are sorted: a neutral resource (0) comes first.
    for (const fmt::Entry* e = names.first; e != names.last; ++e) {
        if (e->language == language) return AsHandle(e);
    }
    if (names.first->language == 0) return AsHandle(names.first);
    if (anyLanguage) return AsHandle(names.first);
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return nullptr;
}

// The entry of `resource` if it belongs to the module's directory.
const fmt::Entry* EntryOf(HMODULE module, HRSRC resource) {
    Directory dir;
    if (!ModuleDirectory(module, dir)) return nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(resource);
    const auto first = reinterpret_cast<std::uintptr_t>(dir.entries);
    if (address < first || address >= first + std::uintptr_t{dir.count} * sizeof(fmt::Entry) ||
        (address - first) % sizeof(fmt::Entry) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<const fmt::Entry*>(resource);
}

// The key as the callbacks get it: an id, or a NUL-terminated string.
LPWSTR KeyArgument(const fmt::Key& key, std::wstring& storage) {
    if (key.id != 0) return MAKEINTRESOURCEW(key.id);
    storage.assign(key.units, key.units + key.length);
    return storage.data();
}

}  // namespace

namespace vplatform {

HMODULE OpenDataFileModule(const std::string& path) {
    const auto& sys = Sys();
    const int fd = sys.open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        SetLastError(error == ENOENT || error == ENOTDIR ? ERROR_MOD_NOT_FOUND : ErrorFromErrno(error));
        return nullptr;
    }
    struct statx info {};
    if (sys.statx(fd, "", AT_EMPTY_PATH, STATX_SIZE | STATX_TYPE, &info) != 0) {
        const int error = errno;
        sys.close(fd);
        SetLastError(ErrorFromErrno(error));
        return nullptr;
    }
    if (!S_ISREG(info.stx_mode) || info.stx_size < sizeof(Elf64_Ehdr)) {
        sys.close(fd);
        SetLastError(S_ISDIR(info.stx_mode) ? ERROR_ACCESS_DENIED : ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    DataFile file;
    file.length = static_cast<std::size_t>(info.stx_size);
    file.mapping = sys.mmap(nullptr, file.length, PROT_READ, MAP_PRIVATE, fd, 0);
    const int mapError = errno;
    sys.close(fd);
    if (file.mapping == MAP_FAILED) {
        SetLastError(ErrorFromErrno(mapError));
        return nullptr;
    }
    if (!ParseDataFile(file)) {
        sys.munmap(file.mapping, file.length);
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    const std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(file.mapping) | 1;
    DataFiles& files = OpenDataFiles();
    std::lock_guard guard(files.lock);
    files.files[handle] = file;
    return reinterpret_cast<HMODULE>(handle);
}

bool CloseDataFileModule(HMODULE module) {
    DataFile file;
    {
        DataFiles& files = OpenDataFiles();
        std::lock_guard guard(files.lock);
        const auto found = files.files.find(reinterpret_cast<std::uintptr_t>(module));
        if (found == files.files.end()) return false;
        file = found->second;
        files.files.erase(found);
    }
    Sys().munmap(file.mapping, file.length);
    return true;
}

}  // namespace vplatform

extern "C" {

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    return Find(hModule, lpType, lpName, 0, true);
}

HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage) {
    return Find(hModule, lpType, lpName, wLanguage, PRIMARYLANGID(wLanguage) == LANG_NEUTRAL);
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
    if (hResInfo == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Directory dir;
    const fmt::Entry* entry = EntryOf(hModule, hResInfo);
    if (entry == nullptr || !ModuleDirectory(hModule, dir)) return nullptr;
    return const_cast<std::byte*>(dir.block + entry->dataOffset);
}

LPVOID LockResource(HGLOBAL hResData) {
    return hResData;
}

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    if (hResInfo == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const fmt::Entry* entry = EntryOf(hModule, hResInfo);
    return entry == nullptr ? 0 : entry->dataSize;
}

BOOL FreeResource(HGLOBAL) {
    return FALSE;
}

BOOL EnumResourceTypesW(HMODULE hModule, ENUMRESTYPEPROCW lpEnumFunc, LONG_PTR lParam) {
    Directory dir;
    if (lpEnumFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ModuleDirectory(hModule, dir)) return FALSE;
    std::wstring storage;
    for (std::uint32_t i = 0; i < dir.count; ++i) {
        if (i > 0 && fmt::CompareKeys(TypeKey(dir, dir.entries[i - 1]), TypeKey(dir, dir.entries[i])) == 0) continue;
        if (!lpEnumFunc(hModule, KeyArgument(TypeKey(dir, dir.entries[i]), storage), lParam)) {
            SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL EnumResourceNamesW(HMODULE hModule, LPCWSTR lpType, ENUMRESNAMEPROCW lpEnumFunc, LONG_PTR lParam) {
    Directory dir;
    if (lpEnumFunc == nullptr || lpType == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ModuleDirectory(hModule, dir)) return FALSE;
    const CallerKey typeKey(lpType);
    const Range types = typeKey.Valid() ? TypeRange(dir, typeKey.Key()) : Range{nullptr, nullptr};
    if (types.first == types.last) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    std::wstring typeStorage, nameStorage;
    LPWSTR type = KeyArgument(TypeKey(dir, *types.first), typeStorage);
    for (const fmt::Entry* e = types.first; e != types.last; ++e) {
        if (e != types.first && fmt::CompareKeys(NameKey(dir, e[-1]), NameKey(dir, *e)) == 0) continue;
        if (!lpEnumFunc(hModule, type, KeyArgument(NameKey(dir, *e), nameStorage), lParam)) {
            SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
            return FALSE;
        }
    }
    return TRUE;
}
}

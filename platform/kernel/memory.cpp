// Local memory blocks: malloc'ed memory, with a table of the live blocks so
// that LocalFree and LocalSize can tell a block of theirs from any other
// pointer without reading memory around it.  Global memory blocks: movable
// ones are objects of a handle table of their own, fixed ones (the handle is
// the address) live in a registry of addresses.
#include "platform/kernel/Memory.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>

#include "platform/internal/HandleTable.h"
#include "platform/kernel/internal/GlobalMemory.h"

namespace {

class Blocks {
public:
    bool Add(void* block, SIZE_T size) {
        try {
            const std::lock_guard lock(m_mutex);
            m_sizes.emplace(block, size);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    bool Remove(void* block) {
        const std::lock_guard lock(m_mutex);
        return m_sizes.erase(block) == 1;
    }
    bool Size(void* block, SIZE_T& size) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_sizes.find(block);
        if (it == m_sizes.end()) return false;
        size = it->second;
        return true;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<void*, SIZE_T> m_sizes;
};

// Never destroyed: blocks may be freed during static destruction.
Blocks& LiveBlocks() {
    static Blocks* blocks = new Blocks;
    return *blocks;
}

// The table of global memory blocks (tag 5): kernel-style values.
vplatform::HandleTable& GlobalBlocks() {
    static auto* table = new vplatform::HandleTable({.tag = 5,
                                                     .indexShift = 2,
                                                     .indexBits = 24,
                                                     .generationShift = 32,
                                                     .generationBits = 31,
                                                     .quota = (1u << 24) - 1,
                                                     .reuseDelay = 256,
                                                     .invalidError = ERROR_INVALID_HANDLE,
                                                     .quotaError = ERROR_NOT_ENOUGH_MEMORY});
    return *table;
}

// The addresses of the global blocks: a fixed block's address is its handle
// and the registry holds the block; a movable block's address leads back to
// its handle (GlobalHandle).  A value that is not a live block's address is
// found here without reading any memory.
class GlobalAddresses {
public:
    struct Entry {
        HGLOBAL handle;
        std::shared_ptr<vplatform::GlobalBlock> fixed;  // null for a movable block
    };

    bool Add(const void* address, Entry entry) {
        try {
            const std::lock_guard lock(m_mutex);
            m_entries.emplace(address, std::move(entry));
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    std::optional<Entry> Find(const void* address) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(address);
        if (it == m_entries.end()) return std::nullopt;
        return it->second;
    }
    // The fixed block whose handle is `handle`, taken out of the registry.
    std::shared_ptr<vplatform::GlobalBlock> RemoveFixed(const void* handle) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(handle);
        if (it == m_entries.end() || !it->second.fixed) return nullptr;
        auto block = std::move(it->second.fixed);
        m_entries.erase(it);
        return block;
    }
    void Remove(const void* address) {
        const std::lock_guard lock(m_mutex);
        m_entries.erase(address);
    }

private:
    std::mutex m_mutex;
    std::unordered_map<const void*, Entry> m_entries;
};

// Never destroyed, as the table: blocks may be freed during static destruction.
GlobalAddresses& TheGlobalAddresses() {
    static auto* addresses = new GlobalAddresses;
    return *addresses;
}

// The fixed block whose handle (address) is `handle`, else null.
std::shared_ptr<vplatform::GlobalBlock> FixedBlock(HGLOBAL handle) {
    if (handle == nullptr) return nullptr;
    auto entry = TheGlobalAddresses().Find(handle);
    return entry ? std::move(entry->fixed) : nullptr;
}

}  // namespace

namespace vplatform {

std::shared_ptr<GlobalBlock> LookupGlobalBlock(HGLOBAL handle) {
    if (auto fixed = FixedBlock(handle)) return fixed;
    return GlobalBlocks().Lookup<GlobalBlock>(handle);
}

HGLOBAL AdoptGlobalBlock(MallocBytes bytes, SIZE_T size, bool fixed) {
    try {
        auto block = std::make_shared<GlobalBlock>(size, std::move(bytes), fixed);
        const void* address = block->Data();
        if (fixed) {
            if (!TheGlobalAddresses().Add(address, {block->Data(), block})) throw std::bad_alloc();
            return block->Data();
        }
        const HGLOBAL handle = GlobalBlocks().Insert(block);
        if (handle != nullptr && !TheGlobalAddresses().Add(address, {handle, nullptr})) {
            GlobalBlocks().Close(handle);
            throw std::bad_alloc();
        }
        return handle;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

bool FreeGlobalBlock(HGLOBAL handle) {
    if (handle == nullptr) return false;
    if (TheGlobalAddresses().RemoveFixed(handle)) return true;
    const auto block = GlobalBlocks().Lookup<GlobalBlock>(handle);
    if (!block || !GlobalBlocks().Close(handle)) return false;
    TheGlobalAddresses().Remove(block->Data());
    return true;
}

}  // namespace vplatform

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if ((uFlags & ~LPTR) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // One byte at least, so that every block has its own address.
    const SIZE_T size = uBytes == 0 ? 1 : uBytes;
    void* block = (uFlags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr || !LiveBlocks().Add(block, uBytes)) {
        std::free(block);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
    if (hMem == nullptr) return nullptr;
    if (!LiveBlocks().Remove(hMem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    std::free(hMem);
    return nullptr;
}

SIZE_T LocalSize(HLOCAL hMem) {
    SIZE_T size = 0;
    if (hMem == nullptr || !LiveBlocks().Size(hMem, size)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return size;
}

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    if ((uFlags & ~(GHND | GMEM_SHARE)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // One byte at least, so that every block has an address of its own.
    const SIZE_T size = dwBytes == 0 ? 1 : dwBytes;
    vplatform::MallocBytes bytes(
        static_cast<std::byte*>((uFlags & GMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size)));
    if (!bytes) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return vplatform::AdoptGlobalBlock(std::move(bytes), dwBytes, (uFlags & GMEM_MOVEABLE) == 0);
}

LPVOID GlobalLock(HGLOBAL hMem) {
    const auto block = vplatform::LookupGlobalBlock(hMem);
    if (!block) return nullptr;
    if (!block->Fixed()) ++block->locks;  // a fixed block has no lock count
    return block->Data();
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    const auto block = vplatform::LookupGlobalBlock(hMem);
    if (!block) return FALSE;
    if (block->Fixed()) return TRUE;
    DWORD count = block->locks.load();
    do {
        if (count == 0) {
            SetLastError(ERROR_NOT_LOCKED);
            return FALSE;
        }
    } while (!block->locks.compare_exchange_weak(count, count - 1));
    if (count > 1) return TRUE;
    SetLastError(ERROR_SUCCESS);
    return FALSE;
}

SIZE_T GlobalSize(HGLOBAL hMem) {
    const auto block = vplatform::LookupGlobalBlock(hMem);
    return block ? block->Size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    if (hMem == nullptr) return nullptr;
    const auto block = vplatform::LookupGlobalBlock(hMem);
    if (!block || block->system) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    if (!vplatform::FreeGlobalBlock(hMem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    return nullptr;
}

HGLOBAL GlobalHandle(LPCVOID pMem) {
    const auto entry = pMem != nullptr ? TheGlobalAddresses().Find(pMem) : std::nullopt;
    if (!entry) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return entry->handle;
}
}

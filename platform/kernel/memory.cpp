// Local memory blocks: malloc'ed memory, with a table of the live blocks so
// that LocalFree and LocalSize can tell a block of theirs from any other
// pointer without reading memory around it.  Global memory blocks: objects
// of a handle table of their own.
#include "platform/kernel/Memory.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
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

}  // namespace

namespace vplatform {

std::shared_ptr<GlobalBlock> LookupGlobalBlock(HGLOBAL handle) {
    return GlobalBlocks().Lookup<GlobalBlock>(handle);
}

HGLOBAL AdoptGlobalBlock(MallocBytes bytes, SIZE_T size) {
    try {
        return GlobalBlocks().Insert(std::make_shared<GlobalBlock>(size, std::move(bytes)));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

bool FreeGlobalBlock(HGLOBAL handle) {
    return GlobalBlocks().Close(handle);
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
    if ((uFlags & GMEM_MOVEABLE) == 0 || (uFlags & ~(GHND | GMEM_SHARE)) != 0) {
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
    return vplatform::AdoptGlobalBlock(std::move(bytes), dwBytes);
}

LPVOID GlobalLock(HGLOBAL hMem) {
    const auto block = vplatform::LookupGlobalBlock(hMem);
    if (!block) return nullptr;
    ++block->locks;
    return block->Data();
}

BOOL GlobalUnlock(HGLOBAL hMem) {
    const auto block = vplatform::LookupGlobalBlock(hMem);
    if (!block) return FALSE;
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
    return vplatform::FreeGlobalBlock(hMem) ? nullptr : hMem;
}
}

// Local memory blocks: malloc'ed memory, with a table of the live blocks so
// that LocalFree and LocalSize can tell a block of theirs from any other
// pointer without reading memory around it.
#include "platform/kernel/Memory.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_map>

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

}  // namespace

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
}

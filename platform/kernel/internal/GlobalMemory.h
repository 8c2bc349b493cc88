// The global memory blocks of memory.cpp, as the clipboard uses them.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "platform/WinTypes.h"
#include "platform/internal/HandleTable.h"
#include "platform/nls/internal/WideText.h"

namespace vplatform {

// A global block.  Its bytes live as long as the object; the handle table
// (a movable block) or the registry of fixed blocks, and every lookup, hold it.
class GlobalBlock final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::GlobalMemory;

    GlobalBlock(SIZE_T size, MallocBytes bytes, bool fixed) : m_size(size), m_bytes(std::move(bytes)), m_fixed(fixed) {}

    std::byte* Data() const { return m_bytes.get(); }
    SIZE_T Size() const { return m_size; }
    // A fixed block: its handle is its address, it has no lock count.
    bool Fixed() const { return m_fixed; }
    // Locks held by GlobalLock.
    std::atomic<DWORD> locks{0};
    // Set while the block belongs to the clipboard.
    std::atomic<bool> system{false};

private:
    const SIZE_T m_size;
    const MallocBytes m_bytes;
    const bool m_fixed;
};

// The block of `handle` (a movable block's handle or a fixed block's
// address), or null with ERROR_INVALID_HANDLE.
std::shared_ptr<GlobalBlock> LookupGlobalBlock(HGLOBAL handle);
// A new block of the `size` bytes at `bytes` (malloc'ed, at least one),
// which it owns from now on: movable (a handle of the table) or fixed (the
// handle is the address); null with ERROR_NOT_ENOUGH_MEMORY (the bytes are
// freed) when the table is full.
HGLOBAL AdoptGlobalBlock(MallocBytes bytes, SIZE_T size, bool fixed = false);
// Frees a block whatever its owner (the clipboard freeing its own); false
// for a bad handle.
bool FreeGlobalBlock(HGLOBAL handle);

}  // namespace vplatform

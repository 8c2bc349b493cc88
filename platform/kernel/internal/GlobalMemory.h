// The global memory blocks of memory.cpp, as the clipboard uses them.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "platform/WinTypes.h"
#include "platform/internal/HandleTable.h"

namespace vplatform {

// A movable block.  Its bytes live as long as the object; the handle table
// and every lookup hold it.
class GlobalBlock final : public HandleObject {
public:
    static constexpr ObjectType kType = ObjectType::GlobalMemory;

    explicit GlobalBlock(SIZE_T size, std::unique_ptr<std::byte[]> bytes) : m_size(size), m_bytes(std::move(bytes)) {}

    std::byte* Data() const { return m_bytes.get(); }
    SIZE_T Size() const { return m_size; }
    // Locks held by GlobalLock.
    std::atomic<DWORD> locks{0};
    // Set while the block belongs to the clipboard.
    std::atomic<bool> system{false};

private:
    const SIZE_T m_size;
    const std::unique_ptr<std::byte[]> m_bytes;
};

// The block of `handle`, or null with ERROR_INVALID_HANDLE.
std::shared_ptr<GlobalBlock> LookupGlobalBlock(HGLOBAL handle);
// Frees a block whatever its owner (the clipboard freeing its own); false
// for a bad handle.
bool FreeGlobalBlock(HGLOBAL handle);

}  // namespace vplatform

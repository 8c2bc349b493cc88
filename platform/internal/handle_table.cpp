// The handle tables: slots with generations, type tags and a FIFO free list.
#include "platform/internal/HandleTable.h"

#include <cstdlib>
#include <new>

#include "platform/WinError.h"

namespace vplatform {
namespace {

constexpr unsigned kTagShift = 28;
constexpr std::uintptr_t kTagMask = 7;

constexpr std::uintptr_t Ones(unsigned bits) {
    return bits >= 64 ? ~std::uintptr_t{0} : (std::uintptr_t{1} << bits) - 1;
}

// The bits a value of `config` may have set; aborts on a layout whose fields
// overlap or reach the sign bit of either width (a fault of the platform's
// own code, found by every test run).
std::uintptr_t FieldMask(const HandleTableConfig& config) {
    const std::uintptr_t tag = kTagMask << kTagShift;
    const std::uintptr_t index = Ones(config.indexBits) << config.indexShift;
    const std::uintptr_t generation = Ones(config.generationBits) << config.generationShift;
    const std::uintptr_t signs = (std::uintptr_t{1} << 31) | (std::uintptr_t{1} << 63);
    if (config.tag == 0 || config.tag > kTagMask || config.indexBits == 0 || config.indexBits > 24 ||
        config.generationBits == 0 || config.generationBits > 31 || (tag & index) != 0 || (tag & generation) != 0 ||
        (index & generation) != 0 || ((tag | index | generation) & signs) != 0 ||
        config.ignoredBits > config.indexShift) {
        std::abort();
    }
    return tag | index | generation;
}

}  // namespace

HandleObject::~HandleObject() = default;

HandleTable::HandleTable(const HandleTableConfig& config) : m_config(config), m_fieldMask(FieldMask(config)) {}

void HandleTable::SetError(DWORD error) {
    SetLastError(error);
}

HandleValue HandleTable::InsertObject(std::shared_ptr<HandleObject> object, ObjectType type) {
    if (!object || type == ObjectType::Any || static_cast<std::size_t>(type) >= kObjectTypeLimit) {
        SetError(ERROR_INVALID_PARAMETER);
        return {};
    }
    DWORD error = ERROR_SUCCESS;
    std::uintptr_t value = 0;
    {
        const std::lock_guard lock(m_mutex);
        const std::size_t maxSlots = std::size_t{1} << m_config.indexBits;
        std::uint32_t index = 0;
        if (m_live >= m_config.quota) {
            error = m_config.quotaError;
        } else if (!m_free.empty() && (m_free.size() > m_config.reuseDelay || m_slots.size() >= maxSlots)) {
            index = m_free.front();
            m_free.pop_front();
        } else if (m_slots.size() < maxSlots) {
            try {
                m_slots.emplace_back();
                index = static_cast<std::uint32_t>(m_slots.size() - 1);
            } catch (const std::bad_alloc&) {
                error = ERROR_NOT_ENOUGH_MEMORY;
            }
        } else {
            error = m_config.quotaError;
        }
        if (error == ERROR_SUCCESS) {
            Slot& slot = m_slots[index];
            ++m_counts[static_cast<std::uint16_t>(type)];
            slot.object = std::move(object);
            slot.type = type;
            ++m_live;
            if (m_live > m_peak) m_peak = m_live;
            value = (std::uintptr_t{m_config.tag} << kTagShift) | (std::uintptr_t{index} << m_config.indexShift) |
                    (std::uintptr_t{slot.generation} << m_config.generationShift);
        }
    }
    // A refused object is released here, outside the lock.
    if (error != ERROR_SUCCESS) {
        SetError(error);
        return {};
    }
    return HandleValue(value);
}

std::uintptr_t HandleTable::Significant(HandleValue handle) const {
    std::uintptr_t value = handle.Value();
    if (m_config.low32Only) {
        value = static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value & 0xFFFFFFFFu)));
    }
    return value & ~Ones(m_config.ignoredBits);
}

const HandleTable::Slot* HandleTable::LiveSlot(HandleValue handle, ObjectType type, std::uint32_t& index) const {
    const std::uintptr_t value = Significant(handle);
    if ((value & ~m_fieldMask) != 0 || ((value >> kTagShift) & kTagMask) != m_config.tag) return nullptr;
    index = static_cast<std::uint32_t>((value >> m_config.indexShift) & Ones(m_config.indexBits));
    const auto generation =
        static_cast<std::uint32_t>((value >> m_config.generationShift) & Ones(m_config.generationBits));
    if (index >= m_slots.size()) return nullptr;
    const Slot& slot = m_slots[index];
    if (!slot.object || slot.generation != generation) return nullptr;
    if (type != ObjectType::Any && slot.type != type) return nullptr;
    return &slot;
}

std::shared_ptr<HandleObject> HandleTable::FindObject(HandleValue handle, ObjectType type) const {
    const std::lock_guard lock(m_mutex);
    std::uint32_t index = 0;
    const Slot* slot = LiveSlot(handle, type, index);
    return slot == nullptr ? nullptr : slot->object;
}

std::shared_ptr<HandleObject> HandleTable::RemoveObject(HandleValue handle, ObjectType type) {
    const std::lock_guard lock(m_mutex);
    std::uint32_t index = 0;
    if (LiveSlot(handle, type, index) == nullptr) return nullptr;
    Slot& slot = m_slots[index];
    auto object = std::move(slot.object);
    slot.object.reset();
    --m_counts[static_cast<std::uint16_t>(slot.type)];
    --m_live;
    slot.type = ObjectType::Any;
    // The next handle of this slot differs from every recent one.
    slot.generation = static_cast<std::uint32_t>((slot.generation + 1) & Ones(m_config.generationBits));
    if (slot.generation == 0) slot.generation = 1;
    try {
        m_free.push_back(index);
    } catch (const std::bad_alloc&) {
        // The slot is never reused: safe, if a little wasteful.
    }
    // Destroyed by the caller, after the lock is released.
    return object;
}

bool HandleTable::Close(HandleValue handle, DWORD error) {
    auto object = RemoveObject(handle, ObjectType::Any);
    if (!object) {
        SetError(error);
        return false;
    }
    object.reset();
    return true;
}

bool HandleTable::Owns(HandleValue handle) const {
    const std::uintptr_t value = Significant(handle);
    return (value & ~m_fieldMask) == 0 && ((value >> kTagShift) & kTagMask) == m_config.tag;
}

std::size_t HandleTable::Count() const {
    const std::lock_guard lock(m_mutex);
    return m_live;
}

std::size_t HandleTable::Count(ObjectType type) const {
    const std::lock_guard lock(m_mutex);
    const auto kind = static_cast<std::size_t>(type);
    return kind < kObjectTypeLimit ? m_counts[kind] : 0;
}

std::size_t HandleTable::Peak() const {
    const std::lock_guard lock(m_mutex);
    return m_peak;
}

HandleTable& KernelHandles() {
    static auto* table = new HandleTable({.tag = 1,
                                          .indexShift = 2,
                                          .indexBits = 18,
                                          .generationShift = 20,
                                          .generationBits = 8,
                                          .quota = (std::size_t{1} << 18) - 1,
                                          .reuseDelay = 256,
                                          .invalidError = ERROR_INVALID_HANDLE,
                                          .quotaError = ERROR_NO_SYSTEM_RESOURCES,
                                          .ignoredBits = 2,
                                          .low32Only = true});
    return *table;
}

HandleTable& UserHandles() {
    static auto* table = new HandleTable({.tag = 2,
                                          .indexShift = 0,
                                          .indexBits = 14,
                                          .generationShift = 14,
                                          .generationBits = 14,
                                          .quota = 10'000,
                                          .reuseDelay = 1024,
                                          .invalidError = ERROR_INVALID_WINDOW_HANDLE,
                                          .quotaError = ERROR_NOT_ENOUGH_QUOTA});
    return *table;
}

HandleTable& GdiHandles() {
    static auto* table = new HandleTable({.tag = 3,
                                          .indexShift = 0,
                                          .indexBits = 14,
                                          .generationShift = 14,
                                          .generationBits = 14,
                                          .quota = 10'000,
                                          .reuseDelay = 1024,
                                          .invalidError = ERROR_INVALID_HANDLE,
                                          .quotaError = ERROR_NOT_ENOUGH_QUOTA});
    return *table;
}

}  // namespace vplatform

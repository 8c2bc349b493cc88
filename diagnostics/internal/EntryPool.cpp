#include "diagnostics/internal/EntryPool.h"

#include <mutex>

namespace VTools::internal {

namespace {
// Entries kept after ReclaimAll, and the largest text buffer kept for reuse.
constexpr std::size_t kReserve = 256;
constexpr std::size_t kLargestKeptText = 16 * 1024;
}  // namespace

LogEntry* EntryPool::Acquire() {
    {
        std::lock_guard lock(m_lock);
        if (!m_free.empty()) {
            LogEntry* entry = m_free.back();
            m_free.pop_back();
            entry->text.clear();
            return entry;
        }
    }
    auto entry = std::make_unique<LogEntry>();
    std::lock_guard lock(m_lock);
    // Room in the free list for every entry, so that Release never allocates;
    // grown geometrically, as the list of all entries is.
    if (m_free.capacity() < m_all.size() + 1) m_free.reserve(2 * (m_all.size() + 1));
    m_all.push_back(std::move(entry));
    return m_all.back().get();
}

void EntryPool::Release(LogEntry* entry) noexcept {
    if (entry->text.capacity() > kLargestKeptText) std::string().swap(entry->text);
    std::lock_guard lock(m_lock);
    m_free.push_back(entry);
}

void EntryPool::ReclaimAll() noexcept {
    std::lock_guard lock(m_lock);
    if (m_all.size() > kReserve) m_all.resize(kReserve);
    m_free.clear();
    for (const auto& entry : m_all) m_free.push_back(entry.get());
}

}  // namespace VTools::internal

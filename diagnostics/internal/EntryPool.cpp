#include "diagnostics/internal/EntryPool.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace VTools::internal {

namespace {
// Entries kept after ReclaimAll, and the largest text buffer kept for reuse.
constexpr std::size_t kReserve = 256;
constexpr std::size_t kLargestKeptText = 16 * 1024;

std::atomic<std::size_t> g_nextStripe{0};

// Under the stripe's lock: appends the chain first..last (linked by next,
// last->next null) to the stripe's free list.
void Append(EntryPool::Stripe& stripe, LogEntry* first, LogEntry* last) noexcept {
    (stripe.lastFree != nullptr ? stripe.lastFree->next : stripe.free) = first;
    stripe.lastFree = last;
}

void TrimText(LogEntry* entry) noexcept {
    if (entry->text.capacity() > kLargestKeptText) std::string().swap(entry->text);
}
}  // namespace

EntryPool::~EntryPool() {
    while (m_all != nullptr) delete std::exchange(m_all, m_all->nextOfAll);
}

EntryPool::Stripe& EntryPool::ThisThreadsStripe() noexcept {
    // Threads take the stripes in turn as they first write.
    thread_local const std::size_t stripe = g_nextStripe.fetch_add(1, std::memory_order_relaxed) % kStripes;
    return m_stripes[stripe];
}

LogEntry* EntryPool::Acquire(Stripe& stripe) {
    {
        std::lock_guard lock(stripe.lock);
        if (LogEntry* entry = stripe.free; entry != nullptr) {
            stripe.free = entry->next;
            if (LogEntry* next = stripe.free; next != nullptr) {
                // The entries taken next have been out of every cache the
                // longest: start loading the next one's text (its own
                // bookkeeping was asked for by the previous call) and the
                // bookkeeping of the one after.
                const char* text = next->text.data();
                for (std::size_t at = 0; at < std::min<std::size_t>(next->text.capacity(), 256); at += 64) {
                    __builtin_prefetch(text + at, 1);
                }
                __builtin_prefetch(next->next, 1);
            } else {
                stripe.lastFree = nullptr;
            }
            entry->text.clear();
            return entry;
        }
    }
    auto* entry = new LogEntry;
    entry->stripe = static_cast<std::size_t>(&stripe - m_stripes.data());
    std::lock_guard lock(m_allLock);
    entry->nextOfAll = m_all;
    m_all = entry;
    return entry;
}

void EntryPool::Release(LogEntry* entry) noexcept {
    TrimText(entry);
    entry->next = nullptr;
    Stripe& stripe = m_stripes[entry->stripe];
    std::lock_guard lock(stripe.lock);
    Append(stripe, entry, entry);
}

void EntryPool::ReleaseFromWriter(LogEntry* entry) noexcept {
    TrimText(entry);
    Returning& returning = m_returning[entry->stripe];
    entry->next = nullptr;
    (returning.last != nullptr ? returning.last->next : returning.first) = entry;
    returning.last = entry;
    if (++returning.count < kWriterBatch) return;
    Stripe& stripe = m_stripes[entry->stripe];
    {
        std::lock_guard lock(stripe.lock);
        Append(stripe, returning.first, returning.last);
    }
    returning = Returning();
}

bool EntryPool::WritesInFlight() const noexcept {
    for (const Stripe& stripe : m_stripes) {
        if (stripe.inFlight.load() != 0) return true;
    }
    return false;
}

void EntryPool::ReclaimAll() noexcept {
    std::lock_guard allLock(m_allLock);
    m_returning = {};
    for (Stripe& stripe : m_stripes) {
        std::lock_guard lock(stripe.lock);
        stripe.free = stripe.lastFree = nullptr;
    }
    std::size_t kept = 0;
    for (LogEntry** link = &m_all; *link != nullptr;) {
        LogEntry* entry = *link;
        if (kept == kReserve) {
            *link = entry->nextOfAll;
            delete entry;
            continue;
        }
        ++kept;
        entry->next = nullptr;
        Stripe& stripe = m_stripes[entry->stripe];
        std::lock_guard lock(stripe.lock);
        Append(stripe, entry, entry);
        link = &entry->nextOfAll;
    }
}

}  // namespace VTools::internal

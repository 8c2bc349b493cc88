// Recycles the text buffers of log entries, so that a caller of Log::Write
// formats into memory that an earlier entry already used instead of
// allocating: a writer thread that frees what callers allocate makes every
// caller's allocation contend with it for the allocator's lock.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace VTools::internal {

// A lock for critical sections of a few instructions: waiting in the kernel
// would cost far more than the section itself.
class SpinLock {
public:
    void lock() noexcept {
        for (unsigned spins = 0; m_locked.exchange(true, std::memory_order_acquire); ++spins) {
            if (spins > 64) std::this_thread::yield();
        }
    }
    void unlock() noexcept { m_locked.store(false, std::memory_order_release); }

private:
    std::atomic<bool> m_locked{false};
};

struct LogEntry {
    std::string text;
};

class EntryPool {
public:
    // A free entry (its text cleared, its capacity kept), or a new one.
    // Throws std::bad_alloc.
    LogEntry* Acquire();
    // Gives an entry back after it has been written.
    void Release(LogEntry* entry) noexcept;
    // Takes every entry back, also those of tasks that were discarded, and
    // frees what a burst left beyond a small reserve.  Only while no task
    // holds an entry (the writer stopped and its queue emptied).
    void ReclaimAll() noexcept;

private:
    SpinLock m_lock;
    std::vector<std::unique_ptr<LogEntry>> m_all;
    std::vector<LogEntry*> m_free;
};

}  // namespace VTools::internal

// Recycles the text buffers of log entries, so that a caller of Log::Write
// formats into memory that an earlier entry already used instead of
// allocating: a writer thread that frees what callers allocate makes every
// caller's allocation contend with it for the allocator's lock.
//
// The pool is split into stripes, one cache line of bookkeeping each; a
// thread always uses the same stripe, and threads are spread over the
// stripes, so that callers on different threads do not take turns at one
// lock.  The writer gives entries back in small batches, so that a caller
// seldom finds its stripe's line in the writer's cache.  Each stripe also
// counts the Write calls of its threads that are under way.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

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
    LogEntry* next = nullptr;       // in a free list, or the writer's batch
    LogEntry* nextOfAll = nullptr;  // in the list of every entry
    std::size_t stripe = 0;         // the stripe it goes back to
};

class EntryPool {
public:
    static constexpr std::size_t kStripes = 8;

    struct alignas(64) Stripe {
        SpinLock lock;
        // Write calls of this stripe's threads that found the log running
        // and have not finished.
        std::atomic<int> inFlight{0};
        // Free entries, taken from the front and given back at the back:
        // the entry taken is the one the writer let go of longest ago, whose
        // memory has most likely left the writer's cache.
        LogEntry* free = nullptr;
        LogEntry* lastFree = nullptr;
    };

    EntryPool() = default;
    EntryPool(const EntryPool&) = delete;
    EntryPool& operator=(const EntryPool&) = delete;
    ~EntryPool();

    // The calling thread's stripe.
    Stripe& ThisThreadsStripe() noexcept;

    // A free entry of `stripe` (its text cleared, its capacity kept), or a
    // new one.  Throws std::bad_alloc.
    LogEntry* Acquire(Stripe& stripe);
    // Gives an entry back at once (any thread).
    void Release(LogEntry* entry) noexcept;
    // Gives an entry back from the writer thread, which alone calls this:
    // entries are handed back to their stripe a few at a time.
    void ReleaseFromWriter(LogEntry* entry) noexcept;
    // True while a Write call of any stripe is under way.
    bool WritesInFlight() const noexcept;
    // Takes every entry back, also those of tasks that were discarded and
    // those the writer has not handed back yet, and frees what a burst left
    // beyond a small reserve.  Only while no task holds an entry (the writer
    // stopped and its queue emptied) and no Write is under way.
    void ReclaimAll() noexcept;

private:
    struct Returning {
        LogEntry* first = nullptr;
        LogEntry* last = nullptr;
        std::size_t count = 0;
    };
    static constexpr std::size_t kWriterBatch = 16;

    std::array<Stripe, kStripes> m_stripes;
    // Every entry, owned, linked by nextOfAll; guarded by m_allLock.
    std::mutex m_allLock;
    LogEntry* m_all = nullptr;
    // Entries written but not yet handed back, per stripe (the writer's own).
    std::array<Returning, kStripes> m_returning;
};

}  // namespace VTools::internal

// The one work queue of the library's executors: a FIFO of items under a
// mutex, a condition variable that wakes one worker thread, and a running
// flag.  TaskExecutor queues tasks, BufferParser byte chunks.
//
// Start runs the worker: it installs the crash reporter for itself, takes the
// queue's name as its thread name, and hands each item, in order, to the
// handler outside the lock (so a handler may add items).  Stop clears the
// running flag, lets the item in progress finish, joins the worker and
// discards what is still queued (outside the lock: an item's destructor may
// call back into its owner).  Items added while stopped wait for the next
// Start.
//
// The producers' side is kept short, since every Write of the log goes
// through it:
// - Items live in blocks of a few kilobytes that are recycled, not in
//   allocations of their own: a producer allocates only when the queue
//   outgrows every block it has had, and never frees what the worker used.
//   Whenever the worker runs out of work it keeps as many free blocks as
//   were in use at once since it last did (a few at least) and frees the
//   rest, so that a burst's memory is kept for the next burst of that size
//   and given back once the queue is used lightly again.
// - The worker takes everything queued at once (one lock for a whole batch,
//   not one per item) and runs the batch under a lock of its own, which the
//   producers never take; ClearTasks and Size take both.  The running flag is
//   still tested before every item.
// - A producer signals the condition variable only when the worker waits on
//   it: a worker that is awake finds the item anyway when it next looks.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "multithreading/internal/WorkerThread.h"

namespace Multithreading::internal {

template <class Item>
class WorkQueue {
    static_assert(std::is_nothrow_move_constructible_v<Item> && std::is_nothrow_move_assignable_v<Item>,
                  "items are moved while locks are held");

public:
    explicit WorkQueue(std::string name) : m_name(std::move(name)) {}
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;
    // An owner that forgot to stop would otherwise end the process (a
    // joinable std::thread cannot be destroyed): stop here instead.
    ~WorkQueue() {
        if (m_worker.joinable()) StopQuietly([this] { Stop(); });
        Clear();
        ReleaseBlocks();
    }

    // Starts the worker with `handler` (called as handler(Item&)).  Ignored
    // while a worker thread is still joinable.  Throws std::system_error when
    // the thread cannot be created.
    template <class Handler>
    void Start(Handler handler) {
        if (m_worker.joinable()) return;
        StartWorker(m_worker, m_mutex, m_running, m_name, [this, handler = std::move(handler)]() mutable {
            Item item;
            while (Next(item)) {
                handler(item);
                item = Item();
            }
        });
    }

    // Throws std::system_error (resource deadlock) when called from the
    // worker itself.
    void Stop() {
        StopWorker(m_worker, m_mutex, m_wake, m_running);
        Clear();
        ReleaseBlocks();
    }

    // Throws std::bad_alloc (nothing queued then).
    void Push(Item item) {
        std::unique_lock lock(m_mutex);
        if (m_queue.tail == nullptr || m_queue.tail->last == Block::kCapacity) {
            Block* block = TakeFreeBlock();
            if (block == nullptr) {
                lock.unlock();
                block = new Block;
                lock.lock();
            }
            // Another producer may have started a block meanwhile.
            if (m_queue.tail != nullptr && m_queue.tail->last < Block::kCapacity) {
                KeepFreeBlock(block);
            } else {
                m_queue.Append(block);
                m_peakInUse = std::max(m_peakInUse, ++m_inUse);
            }
        }
        Block* tail = m_queue.tail;
        ::new (tail->Raw(tail->last)) Item(std::move(item));
        ++tail->last;
        // The slots ahead, and the block after this one, have most likely
        // left every cache: start loading them before they are needed.
        if (tail->last + kPrefetchAhead < Block::kCapacity) {
            __builtin_prefetch(tail->Raw(tail->last + kPrefetchAhead), 1);
        } else if (tail->last + kPrefetchAhead == Block::kCapacity && m_free != nullptr) {
            __builtin_prefetch(m_free, 1);
        }
        const bool wake = std::exchange(m_waiting, false);
        lock.unlock();
        if (wake) m_wake.notify_one();
    }

    void Clear() {
        Chain queued, batch;
        {
            std::lock_guard lock(m_mutex);
            queued = std::exchange(m_queue, Chain());
            std::lock_guard batchLock(m_batchMutex);
            batch = std::exchange(m_batch, Chain());
        }
        // Outside the locks: a destructor may add items to this queue.
        batch.DestroyItems();
        queued.DestroyItems();
        queued.Splice(batch);
        std::lock_guard lock(m_mutex);
        Recycle(queued.head);
    }

    std::size_t Size() const {
        std::lock_guard lock(m_mutex);
        std::lock_guard batchLock(m_batchMutex);
        return m_queue.Count() + m_batch.Count();
    }

    bool Running() const { return m_running; }

private:
    // Items [first, last) of a block are queued; the worker takes them from
    // `first`, producers add them at `last`.
    struct Block {
        static constexpr std::size_t kBytes = 8192;
        static constexpr std::size_t kCapacity = std::max<std::size_t>(16, (kBytes - 3 * sizeof(void*)) / sizeof(Item));
        Block* next = nullptr;
        std::size_t first = 0;
        std::size_t last = 0;
        alignas(Item) unsigned char storage[kCapacity * sizeof(Item)];

        void* Raw(std::size_t index) noexcept { return storage + index * sizeof(Item); }
        Item* Slot(std::size_t index) noexcept { return std::launder(static_cast<Item*>(Raw(index))); }
    };

    struct Chain {
        Block* head = nullptr;
        Block* tail = nullptr;

        void Append(Block* block) noexcept {
            block->next = nullptr;
            (tail != nullptr ? tail->next : head) = block;
            tail = block;
        }
        void Splice(Chain& other) noexcept {
            if (other.head == nullptr) return;
            (tail != nullptr ? tail->next : head) = other.head;
            tail = other.tail;
            other = Chain();
        }
        void DestroyItems() noexcept {
            for (Block* block = head; block != nullptr; block = block->next) {
                for (; block->first < block->last; ++block->first) block->Slot(block->first)->~Item();
            }
        }
        std::size_t Count() const noexcept {
            std::size_t count = 0;
            for (const Block* block = head; block != nullptr; block = block->next) count += block->last - block->first;
            return count;
        }
    };

    // How many slots ahead of the last item a producer asks for memory.
    static constexpr std::size_t kPrefetchAhead = std::max<std::size_t>(1, 256 / sizeof(Item));
    // Free blocks kept however lightly the queue is used.
    static constexpr std::size_t kKeptBlocks = 4;

    // Waits for the next item; false once the queue is stopped.
    bool Next(Item& item) {
        for (;;) {
            {
                std::lock_guard batchLock(m_batchMutex);
                while (m_batch.head != nullptr && m_batch.head->first == m_batch.head->last) {
                    Block* spent = m_batch.head;
                    m_batch.head = spent->next;
                    if (m_batch.head == nullptr) m_batch.tail = nullptr;
                    spent->next = m_spent;
                    m_spent = spent;
                }
                if (m_batch.head != nullptr) {
                    if (!m_running) return false;
                    Block* block = m_batch.head;
                    Item* slot = block->Slot(block->first++);
                    item = std::move(*slot);
                    slot->~Item();
                    return true;
                }
            }
            // The batch is done: its blocks go back for reuse, and everything
            // queued since becomes the next batch.
            std::unique_lock lock(m_mutex);
            Recycle(std::exchange(m_spent, nullptr));
            if (m_queue.head == nullptr && m_running) {
                // Out of work: free what the last busy spell did not need.
                Block* excess = Trim(std::max(kKeptBlocks, m_peakInUse));
                m_peakInUse = m_inUse;
                if (excess != nullptr) {
                    lock.unlock();
                    DeleteBlocks(excess);
                    lock.lock();
                }
            }
            while (m_queue.head == nullptr && m_running) {
                m_waiting = true;
                m_wake.wait(lock);
            }
            m_waiting = false;
            if (!m_running) return false;
            std::lock_guard batchLock(m_batchMutex);
            m_batch = std::exchange(m_queue, Chain());
        }
    }

    // Under m_mutex.  Free blocks are taken from the front and given back at
    // the back: the block taken is the one the worker emptied longest ago,
    // whose memory has most likely left the worker's cache.
    Block* TakeFreeBlock() noexcept {
        Block* block = m_free;
        if (block != nullptr) {
            m_free = block->next;
            if (m_free == nullptr) m_lastFree = nullptr;
            --m_freeCount;
        }
        return block;
    }

    // Under m_mutex; `block` holds no items.
    void KeepFreeBlock(Block* block) noexcept {
        block->first = block->last = 0;
        block->next = nullptr;
        (m_lastFree != nullptr ? m_lastFree->next : m_free) = block;
        m_lastFree = block;
        ++m_freeCount;
    }

    // Under m_mutex: puts the blocks of a list (linked by `next`, holding no
    // items) back for reuse.
    void Recycle(Block* blocks) noexcept {
        while (blocks != nullptr) {
            Block* block = blocks;
            blocks = block->next;
            KeepFreeBlock(block);
            --m_inUse;
        }
    }

    // Under m_mutex: takes the free blocks beyond `kept` out of the list, to
    // be deleted outside the lock.
    Block* Trim(std::size_t kept) noexcept {
        Block* excess = nullptr;
        while (m_freeCount > kept) {
            Block* block = TakeFreeBlock();
            block->next = excess;
            excess = block;
        }
        return excess;
    }

    static void DeleteBlocks(Block* blocks) noexcept {
        while (blocks != nullptr) delete std::exchange(blocks, blocks->next);
    }

    // Frees every block (the queue is stopped and empty, the worker joined).
    void ReleaseBlocks() noexcept {
        Block* free = nullptr;
        {
            std::lock_guard lock(m_mutex);
            Recycle(std::exchange(m_spent, nullptr));
            free = std::exchange(m_free, nullptr);
            m_lastFree = nullptr;
            m_freeCount = 0;
            m_peakInUse = m_inUse;
        }
        DeleteBlocks(free);
    }

    std::atomic<bool> m_running{false};
    // Guards m_queue, the free blocks and m_waiting.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_worker;
    Chain m_queue;
    Block* m_free = nullptr;
    Block* m_lastFree = nullptr;
    std::size_t m_freeCount = 0;
    std::size_t m_inUse = 0;      // blocks outside the free list
    std::size_t m_peakInUse = 0;  // the most in use since the worker last ran out of work
    bool m_waiting = false;       // the worker waits, or is about to, on m_wake
    // Guards m_batch, the items the worker has taken and not yet started.
    mutable std::mutex m_batchMutex;
    Chain m_batch;
    Block* m_spent = nullptr;  // the worker's emptied blocks (the worker's own)
    std::string m_name;
};

}  // namespace Multithreading::internal

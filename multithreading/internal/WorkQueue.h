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
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "multithreading/internal/WorkerThread.h"

namespace Multithreading::internal {

template <class Item>
class WorkQueue {
public:
    explicit WorkQueue(std::string name) : m_name(std::move(name)) {}
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;
    // An owner that forgot to stop would otherwise end the process (a
    // joinable std::thread cannot be destroyed): stop here instead.
    ~WorkQueue() {
        if (m_worker.joinable()) StopQuietly([this] { Stop(); });
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
    }

    void Push(Item item) {
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(item));
        }
        m_wake.notify_one();
    }

    void Clear() {
        std::deque<Item> discarded;
        std::lock_guard lock(m_mutex);
        discarded.swap(m_queue);
    }

    std::size_t Size() const {
        std::lock_guard lock(m_mutex);
        return m_queue.size();
    }

    bool Running() const { return m_running; }

private:
    // Waits for the next item; false once the queue is stopped.
    bool Next(Item& item) {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return !m_queue.empty() || !m_running; });
        if (!m_running) return false;
        item = std::move(m_queue.front());
        m_queue.pop_front();
        return true;
    }

    std::atomic<bool> m_running{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_worker;
    std::deque<Item> m_queue;
    std::string m_name;
};

}  // namespace Multithreading::internal

// Starting and stopping the one worker thread of an executor, the same for
// every executor that owns a queue, a lock, a wake-up and a running flag.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "multithreading/Thread.h"
#include "multithreading/internal/Hooks.h"

namespace Multithreading::internal {

// Sets `running` and starts `worker`, which installs the crash reporter for
// itself, takes `name` as its thread name and runs `loop`.  The lock is held
// while the thread object is assigned; a loop that takes the lock first thus
// sees its executor complete.  Throws std::system_error (running cleared)
// when the thread cannot be created.
template <class Loop>
void StartWorker(std::thread& worker, std::mutex& mutex, std::atomic<bool>& running, const std::string& name,
                 Loop loop) {
    std::lock_guard lock(mutex);
    running = true;
    try {
        worker = std::thread([&name, loop = std::move(loop)]() mutable {
            ThreadGuard crashGuard;
            VTools::Thread::SetThreadName(name);
            loop();
        });
    } catch (...) {
        running = false;
        throw;
    }
}

// Throws the resource-deadlock error when called from `worker` itself, which
// cannot join itself.
inline void RefuseSelfJoin(const std::thread& worker) {
    if (worker.get_id() == std::this_thread::get_id()) {
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
}

// Clears `running` under the lock, wakes the worker and joins it.
inline void StopWorker(std::thread& worker, std::mutex& mutex, std::condition_variable& wake,
                       std::atomic<bool>& running) {
    {
        std::lock_guard lock(mutex);
        running = false;
    }
    wake.notify_all();
    RefuseSelfJoin(worker);
    if (worker.joinable()) worker.join();
}

// Runs a stop from a destructor, which must not throw.
template <class Stop>
void StopQuietly(Stop stop) noexcept {
    try {
        stop();
    } catch (...) {
        // Only a stop from the worker itself fails; nothing more can be done.
    }
}

}  // namespace Multithreading::internal

// The process's send pool: the queue of background sends and the workers
// that run them.
#pragma once

#include <memory>
#include <string>

#include "platform/WinTypes.h"
#include "platform/mail/internal/State.h"

namespace vplatform::mail {

class SendPool {
public:
    // The pool, created on first use (the first mail object); destroyed at
    // process exit, where it drops waiting sends and aborts running ones
    // after a grace period.
    static SendPool& Instance();

    SendPool(const SendPool&) = delete;
    SendPool& operator=(const SendPool&) = delete;

    // Queues `task`: ERROR_SUCCESS, or the error code with `reason` (UTF-8).
    DWORD Submit(const std::shared_ptr<TaskState>& task, std::string& reason);
    // Marks a waiting or running task cancelled and aborts its session.
    // True when it was waiting or running.
    static bool Cancel(TaskState& task);
    // Waits until no send waits or runs; false when `milliseconds` pass first.
    bool Drain(DWORD milliseconds);

private:
    struct Core;

    SendPool();
    ~SendPool();
    static void Work(std::shared_ptr<Core> core);

    std::shared_ptr<Core> m_core;
};

}  // namespace vplatform::mail

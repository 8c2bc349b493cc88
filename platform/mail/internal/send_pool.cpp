// The send pool: at most VPLATFORM_MAIL_MAX_RUNNING named workers, each with
// its own SMTP session, taking sends from one bounded queue.
#include "platform/mail/internal/SendPool.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/Threads.h"
#include "platform/mail/internal/SmtpSession.h"

namespace vplatform::mail {
namespace {

// A worker without work for this long ends its session and its thread.
constexpr auto kIdleLimit = std::chrono::seconds(30);
// At process exit: how long running sends may still finish, then how long
// aborted ones get to return.
constexpr auto kExitGrace = std::chrono::seconds(2);
constexpr auto kExitAbortWait = std::chrono::seconds(3);

// What a send asks of its task while it runs.
class TaskControl : public SendControl {
public:
    explicit TaskControl(TaskState& task) : m_task(task) {}
    bool ShouldAbort() override { return m_task.cancelled.load() || m_task.abandoned.load(); }
    bool AbortCheck() override { return m_task.callbacks->AbortCheck(); }
    bool PercentDone(int percent) override { return m_task.callbacks->PercentDone(percent); }
    void Info(const char* name, const char* value) override { m_task.callbacks->ProgressInfo(name, value); }

private:
    TaskState& m_task;
};

void RunTask(SmtpSession& session, const std::shared_ptr<TaskState>& task) {
    std::shared_ptr<const EmailData> email;
    std::shared_ptr<const SmtpSettings> settings;
    {
        std::lock_guard guard(task->lock);
        email = task->email;
        settings = task->settings;
        task->stage = TaskState::Stage::Running;
        task->session = &session;
    }
    SendResult result;
    if (task->cancelled.load() || task->abandoned.load()) {
        result.error = "The message was not sent: the send was cancelled.";
    } else {
        try {
            const std::string mime = ComposeMime(*email);
            TaskControl control(*task);
            result = session.Send(*email, mime, settings, control);
        } catch (const std::exception& e) {
            result.error = std::string("The message was not sent: ") + e.what();
            session.Abort();
            session.Close();
        }
    }
    {
        std::lock_guard guard(task->lock);
        task->session = nullptr;
    }
    email.reset();
    settings.reset();
    task->Finish(result.delivered, std::move(result.error));
    if (!task->abandoned.load()) task->callbacks->TaskCompleted(task);
}

}  // namespace

struct SendPool::Core {
    std::mutex lock;
    std::condition_variable work;  // a send waits, or the pool stops
    std::condition_variable idle;  // a send ended, or a thread ended
    std::deque<std::shared_ptr<TaskState>> waiting;
    std::vector<std::shared_ptr<TaskState>> running;
    std::vector<SmtpSession*> sessions;
    int workers = 0;      // threads taking sends
    int idleWorkers = 0;  // of those, waiting for one
    int alive = 0;        // threads not yet ended
    int busy = 0;         // sends queued and not yet completed (callback included)
    bool stopping = false;
};

SendPool& SendPool::Instance() {
    static SendPool pool;
    return pool;
}

SendPool::SendPool() : m_core(std::make_shared<Core>()) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

SendPool::~SendPool() {
    Core& core = *m_core;
    std::deque<std::shared_ptr<TaskState>> dropped;
    {
        std::lock_guard guard(core.lock);
        core.stopping = true;
        dropped.swap(core.waiting);
        core.busy -= static_cast<int>(dropped.size());
    }
    core.work.notify_all();
    for (const auto& task : dropped) {
        task->abandoned.store(true);
        task->Finish(false, "The message was not sent: the process is ending.");
    }
    std::unique_lock lock(core.lock);
    if (core.idle.wait_for(lock, kExitGrace, [&] { return core.alive == 0; })) return;
    for (const auto& task : core.running) task->abandoned.store(true);
    for (SmtpSession* session : core.sessions) session->Abort();
    // Threads that still do not return keep the core alive; they touch
    // nothing else.
    core.idle.wait_for(lock, kExitAbortWait, [&] { return core.alive == 0; });
}

DWORD SendPool::Submit(const std::shared_ptr<TaskState>& task, std::string& reason) {
    {
        std::lock_guard guard(task->lock);
        if (task->stage != TaskState::Stage::Created) {
            reason = "The task was already started.";
            return ERROR_INVALID_FUNCTION;
        }
        task->stage = TaskState::Stage::Waiting;
    }
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard guard(m_core->lock);
        Core& core = *m_core;
        if (core.stopping) {
            reason = "The process is ending.";
            error = ERROR_SHUTDOWN_IN_PROGRESS;
        } else if (core.waiting.size() >= static_cast<std::size_t>(VPLATFORM_MAIL_MAX_WAITING)) {
            reason = "The send queue is full: " + std::to_string(VPLATFORM_MAIL_MAX_WAITING) + " sends wait.";
            error = ERROR_BUSY;
        } else {
            core.waiting.push_back(task);
            ++core.busy;
            if (core.waiting.size() > static_cast<std::size_t>(core.idleWorkers) &&
                core.workers < VPLATFORM_MAIL_MAX_RUNNING) {
                try {
                    std::thread(Work, m_core).detach();
                    ++core.workers;
                    ++core.alive;
                } catch (const std::exception&) {
                    if (core.workers == 0) {
                        core.waiting.pop_back();
                        --core.busy;
                        reason = "No worker thread can be started.";
                        error = ERROR_NOT_ENOUGH_MEMORY;
                    }
                }
            }
        }
    }
    if (error != ERROR_SUCCESS) {
        task->Finish(false, "The message was not sent: " + reason);
        return error;
    }
    m_core->work.notify_one();
    return ERROR_SUCCESS;
}

bool SendPool::Cancel(TaskState& task) {
    std::lock_guard guard(task.lock);
    if (task.stage != TaskState::Stage::Waiting && task.stage != TaskState::Stage::Running) return false;
    task.cancelled.store(true);
    if (task.session != nullptr) task.session->Abort();
    return true;
}

bool SendPool::Drain(DWORD milliseconds) {
    Core& core = *m_core;
    std::unique_lock lock(core.lock);
    const auto done = [&] { return core.busy == 0; };
    if (milliseconds == INFINITE) {
        core.idle.wait(lock, done);
        return true;
    }
    return core.idle.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
}

void SendPool::Work(std::shared_ptr<Core> core) {
    SetThreadDescription(GetCurrentThread(), L"MailSend");
    SmtpSession session;
    std::unique_lock lock(core->lock);
    core->sessions.push_back(&session);
    for (;;) {
        if (core->waiting.empty()) {
            if (core->stopping) break;
            ++core->idleWorkers;
            const bool woken =
                core->work.wait_for(lock, kIdleLimit, [&] { return !core->waiting.empty() || core->stopping; });
            --core->idleWorkers;
            if (!woken) break;
            continue;
        }
        std::shared_ptr<TaskState> task = std::move(core->waiting.front());
        core->waiting.pop_front();
        core->running.push_back(task);
        lock.unlock();
        RunTask(session, task);
        lock.lock();
        std::erase(core->running, task);
        if (--core->busy == 0) core->idle.notify_all();
    }
    // This thread takes no more sends; a send queued from now on starts
    // another one.
    --core->workers;
    lock.unlock();
    session.Close();
    lock.lock();
    std::erase(core->sessions, &session);
    --core->alive;
    core->idle.notify_all();
}

}  // namespace vplatform::mail

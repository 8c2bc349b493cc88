// The send pool: at most VPLATFORM_MAIL_MAX_RUNNING named workers, each with
// its own SMTP session, taking sends from one bounded queue.
#include "platform/mail/internal/SendPool.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

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
    std::shared_ptr<const RawEmail> email;
    std::shared_ptr<const SmtpSettings> settings;
    std::shared_ptr<CallbackSlot> callbacks;
    {
        std::lock_guard guard(task->lock);
        email = task->email;
        settings = std::shared_ptr<const SmtpSettings>(task->context, &task->context->settings);
        callbacks = task->context->callbacks;
        task->stage = TaskState::Stage::Running;
        task->session = &session;
    }
    SendResult result;
    if (task->cancelled.load() || task->abandoned.load()) {
        result.error = "The message was not sent: the send was cancelled.";
    } else {
        try {
            // The message's texts become UTF-8 here, off the caller's thread.
            const EmailData data = Decode(*email);
            const std::string mime = ComposeMime(data);
            TaskControl control(*task);
            result = session.Send(data, mime, settings, control);
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
    if (!task->abandoned.load()) callbacks->TaskCompleted(task);
}

}  // namespace

// A worker thread as the pool sees it.
struct Worker {
    std::condition_variable wake;
    // A send handed to the worker while it waits.
    std::shared_ptr<TaskState> assigned;
    // The settings of the session it keeps, if any.
    std::shared_ptr<const SmtpSettings> session;
};

struct SendPool::Core {
    std::mutex lock;
    std::condition_variable ended;  // a send ended, or a thread ended
    std::deque<std::shared_ptr<TaskState>> waiting;
    std::vector<std::shared_ptr<TaskState>> running;
    std::vector<SmtpSession*> sessions;
    // Workers waiting for a send, the one that waited least last.
    std::vector<Worker*> idle;
    int workers = 0;  // threads taking sends
    int alive = 0;    // threads not yet ended
    int busy = 0;     // sends queued and not yet completed (callback included)
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
        for (Worker* worker : core.idle) worker->wake.notify_one();
    }
    for (const auto& task : dropped) {
        task->abandoned.store(true);
        task->Finish(false, "The message was not sent: the process is ending.");
    }
    std::unique_lock lock(core.lock);
    if (core.ended.wait_for(lock, kExitGrace, [&] { return core.alive == 0; })) return;
    for (const auto& task : core.running) task->abandoned.store(true);
    for (SmtpSession* session : core.sessions) session->Abort();
    // Threads that still do not return keep the core alive; they touch
    // nothing else.
    core.ended.wait_for(lock, kExitAbortWait, [&] { return core.alive == 0; });
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
        } else if (!core.idle.empty()) {
            // A waiting worker whose kept session fits the send takes it;
            // else the one that waited least, whose session is likeliest to
            // still be open.
            auto chosen = std::find_if(core.idle.rbegin(), core.idle.rend(), [&](Worker* worker) {
                return worker->session && worker->session->SameSession(task->context->settings);
            });
            if (chosen == core.idle.rend()) chosen = core.idle.rbegin();
            Worker* worker = *chosen;
            core.idle.erase(std::next(chosen).base());
            worker->assigned = task;
            ++core.busy;
            worker->wake.notify_one();
        } else if (core.waiting.size() >= static_cast<std::size_t>(VPLATFORM_MAIL_MAX_WAITING)) {
            reason = "The send queue is full: " + std::to_string(VPLATFORM_MAIL_MAX_WAITING) + " sends wait.";
            error = ERROR_BUSY;
        } else {
            core.waiting.push_back(task);
            ++core.busy;
            if (core.workers < VPLATFORM_MAIL_MAX_RUNNING) {
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
    if (error != ERROR_SUCCESS) task->Finish(false, "The message was not sent: " + reason);
    return error;
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
        core.ended.wait(lock, done);
        return true;
    }
    return core.ended.wait_for(lock, std::chrono::milliseconds(milliseconds), done);
}

void SendPool::Work(std::shared_ptr<Core> core) {
    SetThreadDescription(GetCurrentThread(), L"MailSend");
    SmtpSession session;
    Worker me;
    std::unique_lock lock(core->lock);
    core->sessions.push_back(&session);
    for (;;) {
        std::shared_ptr<TaskState> task;
        if (!core->waiting.empty()) {
            task = std::move(core->waiting.front());
            core->waiting.pop_front();
        } else {
            if (core->stopping) break;
            core->idle.push_back(&me);
            me.wake.wait_for(lock, kIdleLimit, [&] { return me.assigned || core->stopping; });
            if (!me.assigned) {
                // Idle too long, or the pool stops: no send can reach this
                // worker once it has left the idle list.
                std::erase(core->idle, &me);
                break;
            }
            task = std::move(me.assigned);
        }
        core->running.push_back(task);
        lock.unlock();
        RunTask(session, task);
        std::shared_ptr<const SmtpSettings> kept = session.Settings();
        lock.lock();
        me.session = std::move(kept);
        std::erase(core->running, task);
        if (--core->busy == 0) core->ended.notify_all();
    }
    // This thread takes no more sends; a send queued from now on starts
    // another one.
    --core->workers;
    lock.unlock();
    session.Close();
    // OpenSSL's state of this thread (random generators, error queue) goes
    // now rather than when the thread has ended, which at process exit may
    // be after the pool has stopped waiting for it.
    OPENSSL_thread_stop();
    lock.lock();
    std::erase(core->sessions, &session);
    --core->alive;
    core->ended.notify_all();
}

}  // namespace vplatform::mail

// Progress objects and their registrations with mail objects.
#include <algorithm>

#include "platform/mail/Mail.h"
#include "platform/mail/internal/State.h"

namespace vplatform::mail {
namespace {

// The slots whose callbacks the current thread is inside (a callback may
// unregister its own object without waiting for itself).
thread_local std::vector<const CallbackSlot*> t_inside;

}  // namespace

void CallbackSlot::WaitForOtherThreads(std::unique_lock<std::mutex>& lock) {
    const auto mine = static_cast<int>(std::count(t_inside.begin(), t_inside.end(), this));
    m_idle.wait(lock, [&] { return m_active <= mine; });
}

void CallbackSlot::Set(CkBaseProgress* progress) {
    CkBaseProgress* previous;
    {
        std::unique_lock lock(m_lock);
        previous = m_target;
        m_target = progress;
        WaitForOtherThreads(lock);
    }
    if (previous == progress) return;
    if (previous != nullptr) {
        std::lock_guard guard(previous->m_progress->lock);
        auto& slots = previous->m_progress->slots;
        std::erase_if(slots, [this](const std::weak_ptr<CallbackSlot>& slot) {
            const auto locked = slot.lock();
            return !locked || locked.get() == this;
        });
    }
    if (progress != nullptr) {
        std::lock_guard guard(progress->m_progress->lock);
        progress->m_progress->slots.push_back(weak_from_this());
    }
}

void CallbackSlot::Forget(CkBaseProgress* progress) {
    std::unique_lock lock(m_lock);
    if (m_target != progress) return;
    m_target = nullptr;
    WaitForOtherThreads(lock);
}

void CallbackSlot::ForgetEverywhere(CkBaseProgress* progress) {
    std::vector<std::weak_ptr<CallbackSlot>> slots;
    {
        std::lock_guard guard(progress->m_progress->lock);
        slots.swap(progress->m_progress->slots);
    }
    for (const auto& weak : slots) {
        if (const auto slot = weak.lock()) slot->Forget(progress);
    }
}

template <class Call>
bool CallbackSlot::Invoke(Call call) {
    CkBaseProgress* target;
    {
        std::lock_guard guard(m_lock);
        target = m_target;
        if (target == nullptr) return false;
        ++m_active;
    }
    t_inside.push_back(this);
    bool result = false;
    try {
        result = call(*target);
    } catch (...) {
        // A callback's failure is its own; the send goes on.
    }
    t_inside.pop_back();
    {
        std::lock_guard guard(m_lock);
        --m_active;
    }
    m_idle.notify_all();
    return result;
}

bool CallbackSlot::AbortCheck() {
    return Invoke([](CkBaseProgress& progress) { return progress.AbortCheck(); });
}

bool CallbackSlot::PercentDone(int percent) {
    return Invoke([percent](CkBaseProgress& progress) { return progress.PercentDone(percent); });
}

void CallbackSlot::ProgressInfo(const char* name, const char* value) {
    Invoke([=](CkBaseProgress& progress) {
        progress.ProgressInfo(name, value);
        return false;
    });
}

void CallbackSlot::TaskCompleted(const std::shared_ptr<TaskState>& task) {
    Invoke([&](CkBaseProgress& progress) {
        CkTask view(task, {});
        progress.TaskCompleted(view);
        return false;
    });
}

}  // namespace vplatform::mail

CkBaseProgress::CkBaseProgress() : m_progress(std::make_unique<vplatform::mail::ProgressState>()) {}

CkBaseProgress::~CkBaseProgress() {
    vplatform::mail::CallbackSlot::ForgetEverywhere(this);
}

CkMailManProgress::CkMailManProgress() = default;
CkMailManProgress::~CkMailManProgress() = default;

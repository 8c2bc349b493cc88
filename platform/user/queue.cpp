// Thread message queues: posting, retrieval in Windows' order, waits that
// include the queue, dispatching.
#include "platform/user/internal/Queue.h"

#include <algorithm>
#include <array>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/Threads.h"
#include "platform/kernel/Time.h"
#include "platform/kernel/internal/ThreadControl.h"
#include "platform/user/internal/DisplayDriver.h"
#include "platform/user/internal/WindowObject.h"

namespace vplatform::user {
namespace {

constexpr std::size_t kQuota = 10'000;

class QueueRegistry {
public:
    void Add(std::shared_ptr<MessageQueue> queue) {
        const std::lock_guard lock(m_mutex);
        m_queues[queue->ThreadId()] = std::move(queue);
    }
    std::shared_ptr<MessageQueue> Find(DWORD threadId) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_queues.find(threadId);
        return it == m_queues.end() ? nullptr : it->second;
    }
    std::shared_ptr<MessageQueue> Remove(DWORD threadId) {
        const std::lock_guard lock(m_mutex);
        const auto it = m_queues.find(threadId);
        if (it == m_queues.end()) return nullptr;
        auto queue = std::move(it->second);
        m_queues.erase(it);
        return queue;
    }

private:
    PlatformMutex m_mutex;
    std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> m_queues;
};

QueueRegistry& Queues() {
    static auto* registry = new QueueRegistry;  // never destroyed: threads end after static destruction
    return *registry;
}

// The calling thread's queue.  A plain pointer (the registry holds the
// queue), so that it is still there when the thread's end hook runs after
// the C++ thread_local destructors.
thread_local MessageQueue* t_queue = nullptr;

void MakeQueueAtStart() {
    CurrentQueue();
}

void TearDownAtEnd() {
    if (t_queue == nullptr) return;
    const auto queue = Queues().Remove(t_queue->ThreadId());
    t_queue = nullptr;
    if (queue) queue->TearDown();
}

const ThreadHookRegistration kQueueHooks{MakeQueueAtStart, TearDownAtEnd};

// Milliseconds since boot: GetTickCount, whose coarse monotonic clock costs
// a fraction of the precise one, and every post reads it.
DWORD TickCount() {
    return GetTickCount();
}

// Whether a waiting thread may look for its input before it sleeps: never
// on a single processor.
bool MaySpin() {
    static const bool several = std::thread::hardware_concurrency() > 1;
    return several;
}

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

bool RangeMatches(UINT message, UINT first, UINT last) {
    if ((first == 0 && last == 0) || message == WM_QUIT) return true;
    return first <= last ? first <= message && message <= last : message >= first || message <= last;
}

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));

// True when `child` is `ancestor` or below it.
bool IsWithin(HWND ancestor, HWND child) {
    for (HWND at = child;;) {
        if (at == ancestor) return true;
        const auto window = UserHandles().Find<Window>(at);
        if (!window || !window->child) return false;
        at = window->parent;
    }
}

bool WindowMatches(HWND hwnd, HWND filter) {
    if (filter == nullptr) return true;
    if (filter == kThreadMessagesOnly) return hwnd == nullptr;
    return hwnd == filter || (hwnd != nullptr && IsWithin(filter, hwnd));
}

// The messages sent to the calling thread that it is handling, innermost
// first (InSendMessage, ReplyMessage).
struct SendFrame {
    SentMessage* message;
    bool replied;
    SendFrame* outer;
};
thread_local SendFrame* t_sendFrame = nullptr;

void Deliver(SentMessage& sent) {
    SendFrame frame{&sent, false, t_sendFrame};
    t_sendFrame = &frame;
    struct Restore {
        SendFrame& frame;
        ~Restore() {
            t_sendFrame = frame.outer;
            // A procedure that threw still answers, or its sender would wait
            // for good.
            if (!frame.replied) MessageQueue::Reply(*frame.message, 0);
        }
    } restore{frame};
    const LRESULT result = CallWindow(sent.hwnd, sent.message, sent.wParam, sent.lParam);
    if (!frame.replied) {
        frame.replied = true;
        MessageQueue::Reply(sent, result);
    }
}

// The window filter of GetMessageW and PeekMessageW: ERROR_SUCCESS or the
// error of a filter naming a bad window or one of another thread.
DWORD CheckFilter(HWND filter) {
    if (filter == nullptr || filter == kThreadMessagesOnly) return ERROR_SUCCESS;
    const auto window = UserHandles().Find<Window>(filter);
    if (!window) return ERROR_INVALID_WINDOW_HANDLE;
    return window->threadId == GetCurrentThreadId() && !window->foreign ? ERROR_SUCCESS : ERROR_WINDOW_OF_OTHER_THREAD;
}

}  // namespace

void MessageQueue::Ring::Push(const MSG& msg) {
    if (count == slots.size()) {
        std::vector<MSG> grown(std::max<std::size_t>(64, slots.size() * 2));
        for (std::size_t i = 0; i < count; ++i) grown[i] = At(i);
        slots.swap(grown);
        head = 0;
    }
    slots[(head + count) & (slots.size() - 1)] = msg;
    ++count;
}

void MessageQueue::Ring::Erase(std::size_t i) {
    if (i == 0) {
        head = (head + 1) & (slots.size() - 1);
    } else {
        for (std::size_t j = i; j + 1 < count; ++j) At(j) = At(j + 1);
    }
    --count;
}

MessageQueue::MessageQueue(DWORD threadId) : m_threadId(threadId) {}

MessageQueue::~MessageQueue() = default;

void MessageQueue::RecordPoster() {
    const int cpu = Sys().sched_getcpu();
    if (m_posterCpu.load(std::memory_order_relaxed) != cpu) m_posterCpu.store(cpu, std::memory_order_relaxed);
}

DWORD MessageQueue::Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const MSG msg{hwnd, message, wParam, lParam, TickCount(), {0, 0}};
    {
        const std::lock_guard lock(m_mutex);
        if (m_dead) return ERROR_INVALID_THREAD_ID;
        if (m_posted.count >= kQuota) return ERROR_NOT_ENOUGH_QUOTA;
        try {
            m_posted.Push(msg);
        } catch (const std::bad_alloc&) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        RecordPoster();
        // Changed only under the lock: a read first spares the write.
        if ((m_haveBits.load(std::memory_order_relaxed) & QS_POSTMESSAGE) == 0) {
            m_haveBits.fetch_or(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE, std::memory_order_seq_cst);
        }
    }
    Notify(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE);
    return ERROR_SUCCESS;
}

bool MessageQueue::Send(SentMessage& message) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_dead) return false;
        m_sent.push_back(&message);
        RecordPoster();
        m_haveBits.fetch_or(QS_SENDMESSAGE, std::memory_order_seq_cst);
    }
    Notify(QS_SENDMESSAGE);
    return true;
}

void MessageQueue::Reply(SentMessage& message, LRESULT result) {
    // The sender may leave as soon as `done` is set: nothing of the message
    // is touched afterwards.
    const std::shared_ptr<MessageQueue> sender = message.replyTo;
    message.result = result;
    // Sequentially consistent with Notify's look at the reply bit and the
    // sender's ClearReply and look at `done`: when Notify finds a bit left
    // from an earlier reply and wakes nobody, the sender's next look after
    // clearing it sees `done`.  A release store could still sit in this
    // core's store buffer then, and the sender would sleep for good.
    message.done.store(true, std::memory_order_seq_cst);
    sender->Notify(kReplyBit);
}

void MessageQueue::Notify(unsigned bits) {
    // Bits already set tell that the owner has not looked since an earlier
    // input, whose own Notify woke it if needed: it will find this input too.
    if ((m_newBits.load(std::memory_order_seq_cst) & bits) == bits) return;
    m_newBits.fetch_or(bits, std::memory_order_seq_cst);
    // Sequentially consistent with the owner's announcement of its sleep
    // and its look at the bits after it: either the owner sees the bits, or
    // this sees it asleep.
    unsigned sleep = m_sleep.load(std::memory_order_seq_cst);
    if (sleep == kFutexSleep) {
        // One poster wakes it; the word is the owner's futex.
        if (m_sleep.compare_exchange_strong(sleep, kWoken, std::memory_order_seq_cst)) {
            Sys().futex_wake(reinterpret_cast<const unsigned*>(&m_sleep), 1);
            return;
        }
    }
    if (sleep == kObjectSleep) {
        const auto lock = LockWaits();
        Signalled();
    }
}

bool MessageQueue::InputReady(unsigned mask, bool inputAvailable) const {
    if ((m_newBits.load(std::memory_order_seq_cst) & mask) != 0) return true;
    return inputAvailable && (m_haveBits.load(std::memory_order_seq_cst) & mask) != 0;
}

bool MessageQueue::IsSignalled(const ThreadRecord&) const {
    return InputReady(m_waitMask, m_waitInputAvailable);
}

void MessageQueue::DeliverSent() {
    // The owner looks at the sent messages here, not in Retrieve: a sender
    // whose Notify finds the bit still set wakes nobody, so the bit may only
    // be cleared before the look that will find its message.  The present
    // bit is set under the lock with every message sent; a message arriving
    // after this look is delivered at the next one (its Notify wakes the
    // owner).
    if ((m_newBits.load(std::memory_order_seq_cst) & QS_SENDMESSAGE) != 0) {
        m_newBits.fetch_and(~static_cast<unsigned>(QS_SENDMESSAGE), std::memory_order_seq_cst);
    }
    if ((m_haveBits.load(std::memory_order_seq_cst) & QS_SENDMESSAGE) == 0) return;
    for (;;) {
        SentMessage* sent = nullptr;
        {
            const std::lock_guard lock(m_mutex);
            if (m_sent.empty()) {
                m_haveBits.fetch_and(~QS_SENDMESSAGE, std::memory_order_seq_cst);
                return;
            }
            sent = m_sent.front();
            m_sent.erase(m_sent.begin());
        }
        Deliver(*sent);
    }
}

bool MessageQueue::Retrieve(MSG& msg, HWND filter, UINT first, UINT last, bool remove) {
    // The owner looks now: input arriving from here on is new.
    Looked();
    const std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_posted.count; ++i) {
        const MSG& posted = m_posted.At(i);
        if (!RangeMatches(posted.message, first, last) || !WindowMatches(posted.hwnd, filter)) continue;
        msg = posted;
        if (remove) {
            m_posted.Erase(i);
            if (m_posted.count == 0 && !m_quit) {
                m_haveBits.fetch_and(~(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE), std::memory_order_seq_cst);
            }
        }
        return true;
    }
    if (m_quit) {
        msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(m_quitCode), 0, TickCount(), {0, 0}};
        if (remove) {
            m_quit = false;
            if (m_posted.count == 0) {
                m_haveBits.fetch_and(~(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE), std::memory_order_seq_cst);
            }
        }
        return true;
    }
    if (m_timers.empty() || !RangeMatches(WM_TIMER, first, last)) return false;
    const auto now = Clock::now();
    Timer* earliest = nullptr;
    for (Timer& timer : m_timers) {
        if (timer.due > now || !WindowMatches(timer.hwnd, filter)) continue;
        if (earliest == nullptr || timer.due < earliest->due) earliest = &timer;
    }
    if (earliest == nullptr) return false;
    msg = MSG{earliest->hwnd, WM_TIMER, earliest->id, reinterpret_cast<LPARAM>(earliest->proc), TickCount(), {0, 0}};
    if (remove) {
        // One WM_TIMER at most: the periods missed meanwhile are skipped.
        const auto period = std::chrono::milliseconds(earliest->elapse);
        earliest->due += period;
        if (earliest->due <= now) earliest->due += (now - earliest->due) / period * period + period;
    }
    return true;
}

void MessageQueue::PostQuit(int exitCode) {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
        m_quitCode = exitCode;
        m_haveBits.fetch_or(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE, std::memory_order_seq_cst);
    }
    Notify(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE);
}

bool MessageQueue::NextDue(Clock::time_point& due) const {
    if (m_timerCount.load(std::memory_order_relaxed) == 0) return false;
    const std::lock_guard lock(m_mutex);
    if (m_timers.empty()) return false;
    due = std::min_element(m_timers.begin(), m_timers.end(), [](const Timer& a, const Timer& b) {
              return a.due < b.due;
          })->due;
    return true;
}

// A waiting thread looks for its input before it sleeps only while the
// thread expected to produce it (its partner) may answer soon: the window
// adapts, growing while looks catch the input, as when the two threads run
// on two processors and answer each other at once, and shrinking while the
// thread has to sleep anyway.  The most is about the cost of one sleep and
// wake-up here.
bool MessageQueue::Spin(unsigned mask, bool inputAvailable, const MessageQueue* partner) {
    const int cpu = Sys().sched_getcpu();
    m_cpu.store(cpu, std::memory_order_relaxed);
    const bool probe = (++m_looks & (m_probeEvery - 1)) == 0;
    if (partner == nullptr) {
        // No partner: a thread posting a stream of messages runs (it just
        // posted) and may post again at once, unless it ran on this
        // thread's own processor, where it cannot run while this one looks.
        const int poster = m_posterCpu.load(std::memory_order_relaxed);
        if (poster < 0 || poster == cpu) return false;
    } else {
        // A partner last seen on this thread's own processor cannot run
        // while this thread looks (a wake-up often puts the woken thread on
        // its waker's processor).
        if (cpu >= 0 && partner->m_cpu.load(std::memory_order_relaxed) == cpu) return false;
        // A partner that runs may answer at once: look for the window.  One
        // woken but not yet running answers after its wake-up, which costs
        // about what this thread's own sleep would: only a probe looks that
        // long, now and then, since two threads that answer each other stay
        // awake (and spare both sleeps) only once one of them waited for the
        // other.  A partner asleep answers nothing before something wakes it.
        const unsigned state = partner->m_sleep.load(std::memory_order_relaxed);
        if (state != kAwake && !(state == kWoken && probe)) return false;
    }
    const long window = probe ? kMostSpinNs : m_spinNs;
    const auto until = Clock::now() + std::chrono::nanoseconds(window);
    for (unsigned i = 1;; ++i) {
        if (InputReady(mask, inputAvailable)) {
            m_spinNs = std::min(window * 2, kMostSpinNs);
            if (probe) m_probeEvery = kLeastProbeEvery;
            return true;
        }
        if ((i & 15) == 0) {
            const unsigned now = partner != nullptr ? partner->m_sleep.load(std::memory_order_relaxed) : kAwake;
            if (now == kFutexSleep || now == kObjectSleep) return false;
            if (Clock::now() >= until) {
                m_spinNs = std::max(m_spinNs / 2, kLeastSpinNs);
                if (probe) m_probeEvery = std::min(m_probeEvery * 2, kMostProbeEvery);
                return false;
            }
        }
        Pause();
    }
}

void MessageQueue::SleepAlone(unsigned mask, bool inputAvailable, DWORD timeout) {
    // Announced before the last look at the bits (see Notify).
    m_sleep.store(kFutexSleep, std::memory_order_seq_cst);
    if (!InputReady(mask, inputAvailable)) {
        timespec relative{};
        if (timeout != INFINITE) {
            relative.tv_sec = static_cast<time_t>(timeout / 1000);
            relative.tv_nsec = static_cast<long>(timeout % 1000) * 1'000'000;
        }
        // Returns at once when a poster has set kWoken meanwhile; a signal
        // (a suspension) or a late wake-up ends it early, which the caller's
        // loop stands.
        Sys().futex_wait(reinterpret_cast<const unsigned*>(&m_sleep), kFutexSleep,
                         timeout == INFINITE ? nullptr : &relative);
    }
    m_sleep.store(kAwake, std::memory_order_relaxed);
    m_cpu.store(Sys().sched_getcpu(), std::memory_order_relaxed);
}

DWORD MessageQueue::Wait(std::span<Waitable* const> objects, bool waitAll, DWORD milliseconds, unsigned mask,
                         bool inputAvailable, bool look, const MessageQueue* partner) {
    const auto input = static_cast<DWORD>(WAIT_OBJECT_0 + objects.size());
    if (objects.size() >= MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    if (!waitAll && InputReady(mask, inputAvailable)) return input;
    if (partner == nullptr) partner = m_lastTarget.get();
    if (partner == this) partner = nullptr;
    if (look && objects.empty() && MaySpin() && Spin(mask, inputAvailable, partner)) {
        return input;
    }
    std::array<Waitable*, MAXIMUM_WAIT_OBJECTS> all{};
    std::copy(objects.begin(), objects.end(), all.begin());
    std::size_t count = objects.size();
    all[count++] = this;
    std::shared_ptr<Waitable> source;
    if (DisplayDriver* driver = CurrentDisplayDriver()) source = driver->InputSource();
    if (source && count < all.size()) all[count++] = source.get();
    // The queue alone: its own futex, without the wait lock.
    const bool alone = count == 1;
    std::optional<Clock::time_point> deadline;
    if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        std::optional<Clock::time_point> wakeAt = deadline;
        Clock::time_point due;
        if ((mask & QS_TIMER) != 0 && !waitAll && NextDue(due)) {
            if (due <= Clock::now()) return input;
            if (!wakeAt || due < *wakeAt) wakeAt = due;
        }
        DWORD timeout = INFINITE;
        if (wakeAt) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - Clock::now()).count();
            timeout = static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
        }
        if (alone) {
            SleepAlone(mask, inputAvailable, timeout);
            if (InputReady(mask, inputAvailable)) return input;
            if (deadline && Clock::now() >= *deadline) return WAIT_TIMEOUT;
            continue;
        }
        m_waitMask = mask;
        m_waitInputAvailable = inputAvailable;
        m_sleep.store(kObjectSleep, std::memory_order_seq_cst);
        const DWORD result = WaitForObjects({all.data(), count}, waitAll, timeout);
        m_sleep.store(kAwake, std::memory_order_relaxed);
        if (result == WAIT_FAILED) return result;
        if (result == WAIT_TIMEOUT) {
            if (deadline && Clock::now() >= *deadline) return WAIT_TIMEOUT;
            continue;
        }
        if (waitAll) return result;
        const DWORD index = result >= WAIT_ABANDONED_0 ? result - WAIT_ABANDONED_0 : result - WAIT_OBJECT_0;
        if (index == objects.size()) return input;
        // The driver's source has moved its events into the queues.
        if (index > objects.size()) continue;
        return result;
    }
}

UINT_PTR MessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    static std::atomic<UINT_PTR> s_nextThreadTimer{1};
    elapse = std::clamp(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    const auto due = Clock::now() + std::chrono::milliseconds(elapse);
    const std::lock_guard lock(m_mutex);
    const auto same = [&](const Timer& timer) { return timer.hwnd == hwnd && timer.id == id; };
    if (hwnd != nullptr || id != 0) {
        const auto it = std::find_if(m_timers.begin(), m_timers.end(), same);
        if (it != m_timers.end()) {
            *it = Timer{hwnd, id, elapse, proc, due};
            return hwnd != nullptr && id == 0 ? 1 : id;
        }
    }
    if (hwnd == nullptr) {
        // A new id, unused among the thread's timers.
        do {
            id = s_nextThreadTimer.fetch_add(1, std::memory_order_relaxed);
        } while (id == 0 || std::any_of(m_timers.begin(), m_timers.end(), same));
    }
    m_timers.push_back(Timer{hwnd, id, elapse, proc, due});
    m_timerCount.store(m_timers.size(), std::memory_order_relaxed);
    return hwnd != nullptr && id == 0 ? 1 : id;
}

bool MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
    const std::lock_guard lock(m_mutex);
    const bool killed =
        std::erase_if(m_timers, [&](const Timer& timer) { return timer.hwnd == hwnd && timer.id == id; }) != 0;
    m_timerCount.store(m_timers.size(), std::memory_order_relaxed);
    return killed;
}

TIMERPROC MessageQueue::TimerProc(HWND hwnd, UINT_PTR id, LPARAM proc) {
    const std::lock_guard lock(m_mutex);
    for (const Timer& timer : m_timers) {
        if (timer.hwnd == hwnd && timer.id == id && timer.proc != nullptr &&
            reinterpret_cast<LPARAM>(timer.proc) == proc) {
            return timer.proc;
        }
    }
    return nullptr;
}

DWORD MessageQueue::PostTo(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    // The queue posted to last, kept by the poster's own queue: a thread that
    // posts to one thread again and again looks it up once.  A cached queue
    // whose thread has ended refuses the post; the id is then looked up
    // again, as Linux may have given it to a new thread.
    if (m_lastTarget && m_lastTarget->ThreadId() == threadId) {
        const DWORD error = m_lastTarget->Post(nullptr, message, wParam, lParam);
        if (error != ERROR_INVALID_THREAD_ID) return error;
    }
    m_lastTarget = FindQueue(threadId);
    return m_lastTarget ? m_lastTarget->Post(nullptr, message, wParam, lParam) : ERROR_INVALID_THREAD_ID;
}

void MessageQueue::AddWindow(HWND hwnd) {
    const std::lock_guard lock(m_mutex);
    m_windows.push_back(hwnd);
}

void MessageQueue::RemoveWindow(HWND hwnd) {
    std::vector<SentMessage*> orphans;
    {
        const std::lock_guard lock(m_mutex);
        std::erase(m_windows, hwnd);
        std::erase_if(m_timers, [&](const Timer& timer) { return timer.hwnd == hwnd; });
        m_timerCount.store(m_timers.size(), std::memory_order_relaxed);
        for (std::size_t i = 0; i < m_posted.count;) {
            if (m_posted.At(i).hwnd == hwnd) {
                m_posted.Erase(i);
            } else {
                ++i;
            }
        }
        if (m_posted.count == 0 && !m_quit) {
            m_haveBits.fetch_and(~(QS_POSTMESSAGE | QS_ALLPOSTMESSAGE), std::memory_order_seq_cst);
        }
        for (auto it = m_sent.begin(); it != m_sent.end();) {
            if ((*it)->hwnd == hwnd) {
                orphans.push_back(*it);
                it = m_sent.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (SentMessage* sent : orphans) Reply(*sent, 0);
}

void MessageQueue::TearDown() {
    std::vector<SentMessage*> orphans;
    std::vector<HWND> windows;
    {
        const std::lock_guard lock(m_mutex);
        m_dead = true;
        orphans.swap(m_sent);
        windows.swap(m_windows);
        m_posted.Clear();
        m_posted.slots.clear();
        m_timers.clear();
        m_timerCount.store(0, std::memory_order_relaxed);
        m_quit = false;
        m_haveBits.store(0, std::memory_order_seq_cst);
    }
    for (SentMessage* sent : orphans) Reply(*sent, 0);
    // Two threads that posted to each other would otherwise keep their
    // queues alive for good.
    m_lastTarget.reset();
    // Newest first, so children go before the windows they were made in.
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) DestroyWithoutMessages(*it);
}

MessageQueue& CurrentQueue() {
    if (t_queue != nullptr) return *t_queue;
    auto queue = std::make_shared<MessageQueue>(GetCurrentThreadId());
    Queues().Add(queue);
    t_queue = queue.get();
    return *t_queue;
}

std::shared_ptr<MessageQueue> CurrentQueueShared() {
    return Queues().Find(CurrentQueue().ThreadId());
}

std::shared_ptr<MessageQueue> FindQueue(DWORD threadId) {
    return Queues().Find(threadId);
}

bool SyncOnly(UINT message) {
    switch (message) {
        case WM_CREATE:
        case WM_SETTEXT:
        case WM_GETTEXT:
        case WM_GETMINMAXINFO:
        case WM_WINDOWPOSCHANGING:
        case WM_WINDOWPOSCHANGED:
        case WM_STYLECHANGING:
        case WM_STYLECHANGED:
        case WM_NCCREATE:
        case WM_NCCALCSIZE:
            return true;
        default:
            return false;
    }
}

bool InSendFrame() {
    return t_sendFrame != nullptr;
}

bool ReplyInFrame(LRESULT result) {
    if (t_sendFrame == nullptr || t_sendFrame->replied) return false;
    t_sendFrame->replied = true;
    MessageQueue::Reply(*t_sendFrame->message, result);
    return true;
}

}  // namespace vplatform::user

using namespace vplatform;
using namespace vplatform::user;

extern "C" {

BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (const DWORD error = CheckFilter(hWnd)) {
        SetLastError(error);
        return FALSE;
    }
    MessageQueue& queue = CurrentQueue();
    queue.DeliverSent();
    return queue.Retrieve(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    if (const DWORD error = CheckFilter(hWnd)) {
        SetLastError(error);
        return -1;
    }
    MessageQueue& queue = CurrentQueue();
    for (;;) {
        queue.DeliverSent();
        if (queue.Retrieve(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true)) {
            return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        }
        if (queue.Wait({}, false, INFINITE, QS_ALLINPUT, false, true) == WAIT_FAILED) return -1;
    }
}

BOOL WaitMessage() {
    return CurrentQueue().Wait({}, false, INFINITE, QS_ALLINPUT, false, false) == WAIT_FAILED ? FALSE : TRUE;
}

BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (SyncOnly(Msg)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    const DWORD error = CurrentQueue().PostTo(idThread, Msg, wParam, lParam);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == nullptr) return PostThreadMessageW(CurrentQueue().ThreadId(), Msg, wParam, lParam);
    const auto window = LookupWindow(hWnd);
    if (!window) return FALSE;
    if (SyncOnly(Msg)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    if (window->foreign) {
        DisplayDriver* driver = CurrentDisplayDriver();
        if (driver != nullptr) return driver->PostForeign(hWnd, Msg, wParam, lParam);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const DWORD error = window->queue->Post(hWnd, Msg, wParam, lParam);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

void PostQuitMessage(int nExitCode) {
    CurrentQueue().PostQuit(nExitCode);
}

BOOL TranslateMessage(const MSG* lpMsg) {
    if (lpMsg == nullptr) return FALSE;
    const UINT message = lpMsg->message;
    if (message != WM_KEYDOWN && message != WM_KEYUP && message != WM_SYSKEYDOWN && message != WM_SYSKEYUP) {
        return FALSE;
    }
    DisplayDriver* driver = CurrentDisplayDriver();
    std::wstring characters;
    if ((message == WM_KEYDOWN || message == WM_SYSKEYDOWN) && driver != nullptr &&
        driver->TranslateKey(*lpMsg, characters)) {
        const UINT character = message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
        for (const wchar_t unit : characters) {
            PostMessageW(lpMsg->hwnd, character, static_cast<WPARAM>(unit), lpMsg->lParam);
        }
    }
    return TRUE;
}

LRESULT DispatchMessageW(const MSG* lpMsg) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
        if (const TIMERPROC proc = CurrentQueue().TimerProc(lpMsg->hwnd, lpMsg->wParam, lpMsg->lParam)) {
            proc(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, TickCount());
            return 0;
        }
    }
    if (lpMsg->hwnd == nullptr) return 0;
    const auto window = LookupWindow(lpMsg->hwnd);
    if (!window) return 0;
    if (window->foreign || window->queue.get() != &CurrentQueue()) {
        SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
        return 0;
    }
    if (lpMsg->message >= 0xC000 && lpMsg->message == DriverMessage()) {
        CurrentDisplayDriver()->Deliver(*lpMsg);
        return 0;
    }
    return CallWindow(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask,
                                  DWORD dwFlags) {
    if (nCount >= MAXIMUM_WAIT_OBJECTS || (nCount > 0 && pHandles == nullptr) ||
        (dwFlags & ~(MWMO_WAITALL | MWMO_ALERTABLE | MWMO_INPUTAVAILABLE)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Waitable>> held;
    std::vector<Waitable*> objects;
    held.reserve(nCount);
    objects.reserve(nCount);
    for (DWORD i = 0; i < nCount; ++i) {
        auto object = KernelHandles().Lookup<Waitable>(pHandles[i]);
        if (!object) return WAIT_FAILED;
        objects.push_back(object.get());
        held.push_back(std::move(object));
    }
    const bool waitAll = (dwFlags & MWMO_WAITALL) != 0;
    if (waitAll) {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (std::find(objects.begin(), objects.begin() + static_cast<std::ptrdiff_t>(i), objects[i]) !=
                objects.begin() + static_cast<std::ptrdiff_t>(i)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return WAIT_FAILED;
            }
        }
    }
    return CurrentQueue().Wait(objects, waitAll, dwMilliseconds, dwWakeMask & QS_ALLINPUT,
                               (dwFlags & MWMO_INPUTAVAILABLE) != 0, false);
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                DWORD dwWakeMask) {
    return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask, fWaitAll ? MWMO_WAITALL : 0);
}
}

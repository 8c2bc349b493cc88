// A thread's message queue: posted messages, messages sent by other threads,
// the quit request, timers, and the windows of the thread.
//
// Every thread that makes a message call gets one; it is kept in a registry
// by thread id (for PostThreadMessageW and for the windows' messages) and
// torn down by the thread's end (ThreadControl.h's end hook): it then refuses
// posts, answers the senders still waiting with 0 and destroys the thread's
// windows without messages.
//
// Locks: the queue's own platform lock guards its contents; it is never held
// while a window procedure runs, nor together with a window's lock or the
// window tree lock.  Input arriving sets bits of the kinds of input (QS_*)
// in two atomic words (`new since the owner last looked` and `present`).
// The owner's wait for its queue alone sleeps on a futex word of its own,
// which a poster wakes only when the owner really sleeps there; a wait that
// includes other objects (or the display's input) tests the bits under the
// wait lock, as a Waitable.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/internal/PlatformLock.h"
#include "platform/kernel/internal/Waitable.h"
#include "platform/user/Messages.h"

namespace vplatform::user {

class MessageQueue;

// A message sent by another thread, in the sender's frame until answered.
struct SentMessage {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::shared_ptr<MessageQueue> replyTo;  // the sender's queue
    LRESULT result = 0;
    std::atomic<bool> done{false};  // the sender may leave once it is set
};

// The input kind of a reply to SendMessageW; never in QS_ALLINPUT.
constexpr unsigned kReplyBit = 0x8000;

using Clock = std::chrono::steady_clock;

struct Timer {
    HWND hwnd;  // null for a thread timer
    UINT_PTR id;
    UINT elapse;  // milliseconds
    TIMERPROC proc;
    Clock::time_point due;
};

class MessageQueue final : public Waitable {
public:
    explicit MessageQueue(DWORD threadId);
    ~MessageQueue() override;

    DWORD ThreadId() const { return m_threadId; }

    // Any thread.  ERROR_SUCCESS, ERROR_NOT_ENOUGH_QUOTA, or
    // ERROR_INVALID_THREAD_ID for a queue whose thread has ended.
    DWORD Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Queues a message sent by another thread; false once the thread ended.
    bool Send(SentMessage& message);
    // Answers `message` (once): the sender runs on.
    static void Reply(SentMessage& message, LRESULT result);
    // Sets `bits` as input new since the owner last looked and wakes its
    // wait.  With no lock held.
    void Notify(unsigned bits);

    // The owner thread only.
    // Delivers the messages other threads sent, until none is left.
    void DeliverSent();
    // PeekMessageW's work after the window filter was checked.
    bool Retrieve(MSG& msg, HWND filter, UINT first, UINT last, bool remove);
    void PostQuit(int exitCode);
    // Posts a thread message to thread `threadId` (as Post does).
    DWORD PostTo(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
    // Waits until input of `mask` arrives (with `inputAvailable`: or is
    // present), or one of `objects` is signalled, or `milliseconds` pass:
    // WAIT_OBJECT_0 + objects.size() for input; otherwise as
    // WaitForObjects.  `look`: the wait may look for the input for a few
    // microseconds before sleeping, when the thread expected to produce it
    // may answer soon: `partner` (the queue of that thread), else the thread
    // the owner posted to last, else the thread that posted last.
    DWORD Wait(std::span<Waitable* const> objects, bool waitAll, DWORD milliseconds, unsigned mask, bool inputAvailable,
               bool look, const MessageQueue* partner = nullptr);
    // Clears the `new` bits of posted input: the owner has looked.  The
    // sent-message bit is DeliverSent's, the reply bit the sender's.
    void Looked() {
        constexpr unsigned kKept = kReplyBit | QS_SENDMESSAGE;
        if ((m_newBits.load(std::memory_order_seq_cst) & ~kKept) != 0) {
            m_newBits.fetch_and(kKept, std::memory_order_seq_cst);
        }
    }
    void ClearReply() { m_newBits.fetch_and(~kReplyBit, std::memory_order_seq_cst); }

    UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
    bool KillTimer(HWND hwnd, UINT_PTR id);
    // The procedure of timer (hwnd, id) when it is `proc`, else null: only a
    // live timer's own procedure is called for a WM_TIMER.
    TIMERPROC TimerProc(HWND hwnd, UINT_PTR id, LPARAM proc);

    // The thread's windows (the owner, or the window code on its behalf).
    void AddWindow(HWND hwnd);
    // Forgets a destroyed window: its timers and posted messages go, the
    // messages sent to it are answered with 0.
    void RemoveWindow(HWND hwnd);

    // The end of the owner thread.
    void TearDown();

    // Waitable (wait lock held).
    bool IsSignalled(const ThreadRecord& thread) const override;

private:
    // A ring of posted messages; grows to the quota.
    struct Ring {
        std::vector<MSG> slots;
        std::size_t head = 0;
        std::size_t count = 0;
        MSG& At(std::size_t i) { return slots[(head + i) & (slots.size() - 1)]; }
        void Push(const MSG& msg);
        void Erase(std::size_t i);
        void Clear() {
            head = 0;
            count = 0;
        }
    };

    // Next due time of the timers of the filter, when any (lock held).
    bool NextDue(Clock::time_point& due) const;
    bool InputReady(unsigned mask, bool inputAvailable) const;
    // Notes the processor of the posting or sending thread (lock held).
    void RecordPoster();
    // Looks for the input for a while when `partner`'s thread (or, without
    // one, the last poster) may answer soon; true when it arrived.
    bool Spin(unsigned mask, bool inputAvailable, const MessageQueue* partner);
    // Sleeps on m_sleep until Notify wakes it, the input is there, or
    // `timeout` milliseconds (INFINITE: none) pass.
    void SleepAlone(unsigned mask, bool inputAvailable, DWORD timeout);

    const DWORD m_threadId;
    mutable PlatformMutex m_mutex;
    // Under m_mutex.
    Ring m_posted;
    std::vector<SentMessage*> m_sent;  // oldest first
    bool m_quit = false;
    int m_quitCode = 0;
    std::vector<Timer> m_timers;
    std::atomic<std::size_t> m_timerCount{0};  // m_timers.size(), for a look without the lock
    std::vector<HWND> m_windows;
    bool m_dead = false;
    // Input kinds: arrived since the owner last looked, and present now.
    std::atomic<unsigned> m_newBits{0};
    std::atomic<unsigned> m_haveBits{0};
    // Whether and how the owner sleeps in Wait: kAwake (it runs);
    // kFutexSleep, on this word as a futex (Notify sets kWoken and wakes it);
    // kWoken, woken so but not yet running again; kObjectSleep, in
    // WaitForObjects (Notify signals through the wait lock).
    enum : unsigned { kAwake = 0, kFutexSleep = 1, kObjectSleep = 2, kWoken = 3 };
    std::atomic<unsigned> m_sleep{kAwake};
    // The processor the owner ran on when it last woke or looked, and the
    // one the last poster or sender ran on when it posted, or -1.
    std::atomic<int> m_cpu{-1};
    std::atomic<int> m_posterCpu{-1};
    // The owner's wait in progress (written by the owner, read under the
    // wait lock).
    unsigned m_waitMask = 0;
    bool m_waitInputAvailable = false;
    // The owner's look for input before it sleeps (Spin), in nanoseconds:
    // the window doubles when the look catches the input and halves when it
    // does not, within these bounds.  One look in m_probeEvery (a power of
    // two within its bounds) is a probe, which takes the most: reset when a
    // probe catches the input, doubled when it does not.
    static constexpr long kLeastSpinNs = 500;
    static constexpr long kMostSpinNs = 8000;
    static constexpr unsigned kLeastProbeEvery = 16;
    static constexpr unsigned kMostProbeEvery = 1024;
    long m_spinNs = kMostSpinNs;
    unsigned m_probeEvery = kLeastProbeEvery;
    unsigned m_looks = 0;
    // The queue the owner posted a thread message to last (the owner's).
    std::shared_ptr<MessageQueue> m_lastTarget;
};

// The calling thread's queue, made at its first use.
MessageQueue& CurrentQueue();
std::shared_ptr<MessageQueue> CurrentQueueShared();
// The queue of thread `threadId` of this process, or null.
std::shared_ptr<MessageQueue> FindQueue(DWORD threadId);

// Whether a message's parameters carry pointers, which only SendMessageW
// can pass (ERROR_MESSAGE_SYNC_ONLY for the posts).
bool SyncOnly(UINT message);

// Calls a window's procedure for a message delivered to the calling thread
// (sent or dispatched); 0 when the window is gone.
LRESULT CallWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The message sent by another thread that the calling thread is handling:
// whether there is one, and answering it early (false when there is none
// or it was answered).
bool InSendFrame();
bool ReplyInFrame(LRESULT result);

}  // namespace vplatform::user

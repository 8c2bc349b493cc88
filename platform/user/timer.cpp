// Timers of windows and threads, kept in the owner thread's queue: a due
// timer gives WM_TIMER when the queue is read and wakes the queue's wait.
#include "platform/user/internal/Queue.h"
#include "platform/user/internal/WindowObject.h"

using namespace vplatform;
using namespace vplatform::user;

namespace {

// The calling thread's queue when `hwnd` is null or one of its windows;
// null with the last error otherwise.
MessageQueue* OwnQueue(HWND hwnd) {
    MessageQueue& own = CurrentQueue();
    if (hwnd == nullptr) return &own;
    const auto window = LookupWindow(hwnd);
    if (!window) return nullptr;
    if (window->foreign || window->queue.get() != &own) {
        SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
        return nullptr;
    }
    return &own;
}

}  // namespace

extern "C" {

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    MessageQueue* queue = OwnQueue(hWnd);
    return queue == nullptr ? 0 : queue->SetTimer(hWnd, nIDEvent, uElapse, lpTimerFunc);
}

BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    MessageQueue* queue = OwnQueue(hWnd);
    if (queue == nullptr) return FALSE;
    if (!queue->KillTimer(hWnd, uIDEvent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
}

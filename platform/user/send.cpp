// SendMessageW: a window procedure called on its own thread, the sender
// waiting and serving the messages sent to it meanwhile.
#include "platform/user/internal/DisplayDriver.h"
#include "platform/user/internal/Queue.h"
#include "platform/user/internal/WindowObject.h"

using namespace vplatform;
using namespace vplatform::user;

extern "C" {

LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<MessageQueue> target;
    {
        const auto window = LookupWindow(hWnd);
        if (!window) return 0;
        if (window->foreign) {
            if (DisplayDriver* driver = CurrentDisplayDriver()) return driver->SendForeign(hWnd, Msg, wParam, lParam);
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        target = window->queue;
    }
    MessageQueue& own = CurrentQueue();
    if (target.get() == &own) return CallWindow(hWnd, Msg, wParam, lParam);
    SentMessage sent;
    sent.hwnd = hWnd;
    sent.message = Msg;
    sent.wParam = wParam;
    sent.lParam = lParam;
    sent.replyTo = CurrentQueueShared();
    // The window's thread has ended meanwhile: the window is gone with it.
    if (!target->Send(sent)) return 0;
    for (;;) {
        own.ClearReply();
        if (sent.done.load(std::memory_order_seq_cst)) break;
        own.DeliverSent();
        if (sent.done.load(std::memory_order_seq_cst)) break;
        // The message stays in the target's queue until answered, so the
        // sender cannot leave before: a failed wait is only tried again.
        own.Wait({}, false, INFINITE, QS_SENDMESSAGE | kReplyBit, true, true, target.get());
    }
    return sent.result;
}

BOOL InSendMessage() {
    return InSendFrame() ? TRUE : FALSE;
}

BOOL ReplyMessage(LRESULT lResult) {
    return ReplyInFrame(lResult) ? TRUE : FALSE;
}
}

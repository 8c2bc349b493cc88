// Thread message queues: posting, sending and retrieving messages, timers,
// waits that include the queue, and registered message numbers.
//
// Queues.  A thread's queue is made by its first message call (any function
// of this header or of platform/user/Window.h), or at its start-up for a
// thread of CreateThread, and goes with the thread, together with its
// windows and timers: a message posted to an ended thread's id fails, also
// when Linux has given the id to a new thread.  A queue holds at most 10,000
// posted messages (then ERROR_NOT_ENOUGH_QUOTA).
//
// Retrieval order, as on Windows: messages sent from other threads are
// delivered first, inside GetMessageW, PeekMessageW and WaitMessage, and
// while a SendMessageW of the thread waits (they are never returned);
// then posted messages in the order posted; then the quit request of
// PostQuitMessage; then WM_TIMER of a timer that is due.  A timer has at most
// one WM_TIMER pending, however long the thread leaves it: retrieving it
// starts the timer's next period, counted on from the period that was due.
//
// Waiting.  A thread that waits in GetMessageW or SendMessageW first looks
// for its input a while (only on a machine with more than one processor; at
// most some fifty microseconds, less while looking does not pay), then
// sleeps on the platform's wait (platform/kernel/Sync.h) until a message
// arrives or its next timer is due; no thread polls.
//
// Sending.  SendMessageW to a window of another thread queues the message
// for that thread and waits until it has been handled there (the owner must
// retrieve messages); meanwhile the sender handles messages sent to its own
// windows, so two threads that send to each other never deadlock.  A window
// destroyed, or a thread ended, before handling the message gives 0.
//
// Registered messages.  RegisterWindowMessageW gives every name one number
// in 0xC000-0xFFFF, the same in all processes of the user: record i of the
// table file "vlib-window-messages" is 0xC000 + i.  The file lives in
// $XDG_RUNTIME_DIR, or, when that is unset, in /tmp/vlib-<uid>, made with
// mode 0700, or, when another user has made that name first, in the user's
// private fallback folder (a mkdtemp folder whose path the user's processes
// find in ~/.cache/vlibincludes/state-folder).  The folder must be the
// user's own, not a symbolic link, and open to nobody else (mode 0700 or
// stricter); the file likewise (0600).  Records are read and appended at
// their offsets under flock, waiting at most two seconds for the lock; a
// child forked from a process that had the file open opens it anew at its
// first registration.  Names compare without case (simple Unicode upper
// case).  Numbers are kept per process, so a name costs one file access.
// When the table cannot be used (no safe folder, the lock not had in time, a
// damaged file, 16,384 names), the process switches for good to a table of
// its own, which keeps the numbers it has given and gives new names numbers
// of their own, and says so once on standard error.
//
// Threads: PostMessageW, PostThreadMessageW, SendMessageW,
// RegisterWindowMessageW and the waits may be called from any thread.
// GetMessageW, PeekMessageW, WaitMessage, PostQuitMessage, SetTimer and
// KillTimer act on the calling thread's own queue (timers of a window only
// from the window's thread); DispatchMessageW only dispatches messages of
// the calling thread's windows.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Sync.h"

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;  // milliseconds since boot when posted, as GetTickCount counts
    POINT pt;    // the cursor position; (0, 0) without a display
};
using PMSG = MSG*;
using LPMSG = MSG*;

using WNDPROC = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void(CALLBACK*)(HWND, UINT, UINT_PTR, DWORD);

// Window messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_WINDOWPOSCHANGING = 0x0046;
constexpr UINT WM_WINDOWPOSCHANGED = 0x0047;
constexpr UINT WM_STYLECHANGING = 0x007C;
constexpr UINT WM_STYLECHANGED = 0x007D;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_NCCALCSIZE = 0x0083;
constexpr UINT WM_NCMOUSEMOVE = 0x00A0;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCHAR = 0x0106;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_PARENTNOTIFY = 0x0210;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// PeekMessageW.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

// Kinds of input (MsgWaitForMultipleObjects, GetQueueStatus).
constexpr DWORD QS_KEY = 0x0001;
constexpr DWORD QS_MOUSEMOVE = 0x0002;
constexpr DWORD QS_MOUSEBUTTON = 0x0004;
constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_TIMER = 0x0010;
constexpr DWORD QS_PAINT = 0x0020;
constexpr DWORD QS_SENDMESSAGE = 0x0040;
constexpr DWORD QS_HOTKEY = 0x0080;
constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
constexpr DWORD QS_RAWINPUT = 0x0400;
constexpr DWORD QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
constexpr DWORD QS_INPUT = QS_MOUSE | QS_KEY | QS_RAWINPUT;
constexpr DWORD QS_ALLEVENTS = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY;
constexpr DWORD QS_ALLINPUT = QS_ALLEVENTS | QS_SENDMESSAGE;

constexpr DWORD MWMO_WAITALL = 0x0001;
constexpr DWORD MWMO_ALERTABLE = 0x0002;
constexpr DWORD MWMO_INPUTAVAILABLE = 0x0004;

constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

extern "C" {

// Retrieves the next message of the calling thread (the order above),
// waiting for one.  `hWnd`: null for every message of the thread,
// (HWND)-1 for thread messages only (those without a window), else the
// messages of that window and its children.  `wMsgFilterMin` and
// `wMsgFilterMax` both 0: every message; else messages in that range
// (wrapping when min > max).  WM_QUIT passes every filter.  Returns 0 for
// WM_QUIT, -1 with ERROR_INVALID_WINDOW_HANDLE for a bad window,
// ERROR_WINDOW_OF_OTHER_THREAD for a window of another thread,
// ERROR_INVALID_PARAMETER for a null `lpMsg`; otherwise nonzero.
VPLATFORM_API BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
// As GetMessageW without waiting: TRUE when a message was retrieved (and
// removed with PM_REMOVE; PM_NOREMOVE leaves it, also the quit request).
// FALSE when there is none, or with the errors of GetMessageW.
VPLATFORM_API BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
// Waits until a message arrives that the thread has not yet looked at with
// GetMessageW or PeekMessageW.
VPLATFORM_API BOOL WaitMessage();

// Posts a message to the window's thread (null `hWnd`: to the calling
// thread, as PostThreadMessageW).  FALSE with ERROR_INVALID_WINDOW_HANDLE,
// ERROR_NOT_ENOUGH_QUOTA when the queue is full, ERROR_MESSAGE_SYNC_ONLY for
// a message whose parameters carry pointers (WM_SETTEXT, WM_CREATE…).
VPLATFORM_API BOOL PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Posts a thread message (no window).  FALSE with ERROR_INVALID_THREAD_ID
// for a thread without a queue (yet, or any more) or of another process,
// ERROR_NOT_ENOUGH_QUOTA, ERROR_MESSAGE_SYNC_ONLY.
VPLATFORM_API BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
// Asks the calling thread's message loop to end: once no posted message
// passes the filter, GetMessageW returns 0 with WM_QUIT, wParam `nExitCode`.
VPLATFORM_API void PostQuitMessage(int nExitCode);

// Calls the window procedure of `hWnd` and returns its result: directly for
// a window of the calling thread, else on the window's thread (see above).
// 0 with ERROR_INVALID_WINDOW_HANDLE for a bad window.
VPLATFORM_API LRESULT SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// TRUE while the calling thread handles a message sent by another thread.
VPLATFORM_API BOOL InSendMessage();
// Answers the message sent by another thread that the calling thread is
// handling, so the sender runs on; the procedure's own result is then
// dropped.  FALSE when there is none to answer.
VPLATFORM_API BOOL ReplyMessage(LRESULT lResult);

// For a key message, posts the characters the window backend gives for it
// (none without one) and returns nonzero; 0 for other messages.
VPLATFORM_API BOOL TranslateMessage(const MSG* lpMsg);
// Calls the window procedure of the message's window (a WM_TIMER whose
// lParam is the timer's TIMERPROC calls that instead) and returns its
// result.  0 with ERROR_INVALID_WINDOW_HANDLE for a bad window,
// ERROR_WINDOW_OF_OTHER_THREAD for a window of another thread.
VPLATFORM_API LRESULT DispatchMessageW(const MSG* lpMsg);

// Waits for `nCount` (0-63) objects as WaitForMultipleObjects does, and for
// input in the calling thread's queue of the kinds in `dwWakeMask` that
// arrived since the thread last looked (GetMessageW, PeekMessageW):
// WAIT_OBJECT_0 + nCount for input.  A due timer counts as input (QS_TIMER)
// when not waiting for all.
VPLATFORM_API DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                              DWORD dwWakeMask);
// As above; MWMO_WAITALL waits for all, MWMO_INPUTAVAILABLE counts input
// already in the queue too.  MWMO_ALERTABLE is accepted (there are no APCs).
VPLATFORM_API DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds,
                                                DWORD dwWakeMask, DWORD dwFlags);

// Starts or replaces a timer.  With a window (of the calling thread): the
// timer (hWnd, nIDEvent), WM_TIMER to that window; returns nonzero.  Without:
// a thread timer of the calling thread, whose id the platform picks unless
// `nIDEvent` names a thread timer of the calling thread, which is replaced;
// returns the id.  Periods below USER_TIMER_MINIMUM (10 ms) become 10 ms.
// With `lpTimerFunc`, DispatchMessageW calls it for the timer's WM_TIMER.
// 0 with ERROR_INVALID_WINDOW_HANDLE, ERROR_WINDOW_OF_OTHER_THREAD.
VPLATFORM_API UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
// Ends a timer of the calling thread; a WM_TIMER of it not yet retrieved is
// gone too.  FALSE with ERROR_INVALID_PARAMETER for no such timer, or the
// window errors of SetTimer.
VPLATFORM_API BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// The number for the name (see above); 0 with ERROR_INVALID_PARAMETER for a
// null or empty name or one longer than 255 units, ERROR_NOT_ENOUGH_MEMORY
// when this process has given out all 16,384 numbers.
VPLATFORM_API UINT RegisterWindowMessageW(LPCWSTR lpString);

// Where registered numbers come from: TRUE with the table file's path (cut
// to `size` units with its NUL) while the shared table is used; FALSE once
// the process uses a table of its own.
VPLATFORM_API BOOL vplatformGetMessageTableFile(LPWSTR path, DWORD size);
}

// MFC's threads: CWinThread with MFC's message loop, AfxBeginThread, and the
// per-thread MFC state (AfxGetThreadState()->m_msgCur, AfxGetThread).
//
// CreateThread starts the thread held (CREATE_SUSPENDED), stores m_hThread
// and m_nThreadID, and then releases it unless the caller asked for
// CREATE_SUSPENDED; the thread's message queue exists before CreateThread
// returns (platform/kernel/Threads.h), so a message posted at once is not
// lost.  The thread runs its worker function (m_pfnThreadProc) or, for a
// user-interface thread, InitInstance and then Run (ExitInstance when
// InitInstance returns FALSE); then Delete, which deletes the object when
// m_bAutoDelete is TRUE.  The destructor closes m_hThread.
//
// Run is MFC's loop: while no message is waiting it calls OnIdle with a
// growing count until OnIdle returns FALSE; then it pumps messages
// (PumpMessage: GetMessageW, PreTranslateMessage, TranslateMessage and
// DispatchMessageW) until the queue is empty, starting the idle calls again
// after a message that IsIdleMessage counts; WM_QUIT ends it with
// ExitInstance, whose result (the quit message's wParam) is the exit code.
// PreTranslateMessage dispatches thread messages (no window) through the
// thread's message map (ON_THREAD_MESSAGE, ON_REGISTERED_THREAD_MESSAGE);
// a dispatched message is not translated or dispatched further.
//
// Threads: CreateThread, SuspendThread, ResumeThread, SetThreadPriority,
// PostThreadMessageW may be called from any thread; InitInstance, Run,
// PumpMessage, OnIdle, PreTranslateMessage and ExitInstance run on the
// thread itself.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Threads.h"
#include "platform/mfc/AfxCmdTarget.h"
#include "platform/user/Messages.h"

class CWnd;
class CWinThread;

using AFX_THREADPROC = UINT (*)(LPVOID);

// MFC's per-thread state, as far as message loops use it.
struct _AFX_THREAD_STATE {
    MSG m_msgCur;                     // the message being handled
    POINT m_ptCursorLast;             // IsIdleMessage's last mouse position
    UINT m_nMsgLast;                  // and message
    CWinThread* m_pCurrentWinThread;  // the CWinThread running on this thread
};

// The calling thread's state (never null).
VPLATFORM_API _AFX_THREAD_STATE* AfxGetThreadState();
// The CWinThread running on the calling thread, or null.
VPLATFORM_API CWinThread* AfxGetThread();

// WM_KICKIDLE: posted to restart idle processing; never dispatched.
constexpr UINT WM_KICKIDLE = 0x036A;

class VPLATFORM_API CWinThread : public CCmdTarget {
    DECLARE_DYNAMIC(CWinThread)

public:
    CWinThread();
    // A worker thread running `pfnThreadProc(pParam)`.
    CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam);
    ~CWinThread() override;

    // FALSE when the object already has a thread or none can be started.
    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

    operator HANDLE() const { return m_hThread; }
    int GetThreadPriority();
    BOOL SetThreadPriority(int nPriority);
    DWORD SuspendThread();
    DWORD ResumeThread();
    BOOL PostThreadMessageW(UINT message, WPARAM wParam, LPARAM lParam);

    virtual BOOL InitInstance();
    virtual int Run();
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    virtual BOOL PumpMessage();
    virtual BOOL OnIdle(LONG lCount);
    virtual BOOL IsIdleMessage(MSG* pMsg);
    virtual int ExitInstance();
    virtual CWnd* GetMainWnd();
    // Deletes the object when m_bAutoDelete is TRUE.
    virtual void Delete();

    // Calls the message-map entry for a thread message; FALSE when there is none.
    BOOL DispatchThreadMessageEx(MSG* msg);

    CWnd* m_pMainWnd = nullptr;
    CWnd* m_pActiveWnd = nullptr;
    BOOL m_bAutoDelete = TRUE;
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    LPVOID m_pThreadParams = nullptr;
    AFX_THREADPROC m_pfnThreadProc = nullptr;

    DECLARE_MESSAGE_MAP()
};

// Makes a CWinThread (auto-deleting) for the worker function, or of the
// DYNCREATE class `pThreadClass`, starts it held, sets its priority and
// releases it unless `dwCreateFlags` has CREATE_SUSPENDED.  Null when the
// thread cannot be started (the object is deleted) or the class cannot be
// made.
VPLATFORM_API CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                                         int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                                         DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
VPLATFORM_API CWinThread* AfxBeginThread(CRuntimeClass* pThreadClass, int nPriority = THREAD_PRIORITY_NORMAL,
                                         UINT nStackSize = 0, DWORD dwCreateFlags = 0,
                                         LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

// CWinThread: thread start-up, MFC's message loop, AfxBeginThread.
#include "platform/mfc/AfxThread.h"

#include "platform/kernel/Handles.h"

namespace {

thread_local _AFX_THREAD_STATE t_state{};

DWORD WINAPI ThreadEntry(LPVOID parameter) {
    auto* thread = static_cast<CWinThread*>(parameter);
    _AFX_THREAD_STATE* state = AfxGetThreadState();
    state->m_pCurrentWinThread = thread;
    int result = 0;
    if (thread->m_pfnThreadProc != nullptr) {
        result = static_cast<int>(thread->m_pfnThreadProc(thread->m_pThreadParams));
    } else if (!thread->InitInstance()) {
        result = thread->ExitInstance();
    } else {
        result = thread->Run();
    }
    // The last use of the object: it may delete itself here (and still finds
    // itself the thread's CWinThread while it does).
    thread->Delete();
    state->m_pCurrentWinThread = nullptr;
    return static_cast<DWORD>(result);
}

// Starts `thread` as AfxBeginThread does; deletes it on failure.
CWinThread* Begin(CWinThread* thread, int priority, UINT stackSize, DWORD flags, LPSECURITY_ATTRIBUTES attributes) {
    if (!thread->CreateThread(flags | CREATE_SUSPENDED, stackSize, attributes)) {
        thread->Delete();
        return nullptr;
    }
    thread->SetThreadPriority(priority);
    if ((flags & CREATE_SUSPENDED) == 0) thread->ResumeThread();
    return thread;
}

}  // namespace

_AFX_THREAD_STATE* AfxGetThreadState() {
    return &t_state;
}

CWinThread* AfxGetThread() {
    return t_state.m_pCurrentWinThread;
}

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

BEGIN_MESSAGE_MAP(CWinThread, CCmdTarget)
END_MESSAGE_MAP()

CWinThread::CWinThread() = default;

CWinThread::CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam)
    : m_pThreadParams(pParam), m_pfnThreadProc(pfnThreadProc) {}

CWinThread::~CWinThread() {
    if (m_hThread != nullptr) CloseHandle(m_hThread);
    if (t_state.m_pCurrentWinThread == this) t_state.m_pCurrentWinThread = nullptr;
}

BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize, LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (m_hThread != nullptr) return FALSE;
    DWORD id = 0;
    // Held until the members are stored, so the thread sees them.
    const HANDLE handle =
        ::CreateThread(lpSecurityAttrs, nStackSize, ThreadEntry, this, dwCreateFlags | CREATE_SUSPENDED, &id);
    if (handle == nullptr) return FALSE;
    m_hThread = handle;
    m_nThreadID = id;
    if ((dwCreateFlags & CREATE_SUSPENDED) == 0) ::ResumeThread(handle);
    return TRUE;
}

int CWinThread::GetThreadPriority() {
    return ::GetThreadPriority(m_hThread);
}

BOOL CWinThread::SetThreadPriority(int nPriority) {
    return ::SetThreadPriority(m_hThread, nPriority);
}

DWORD CWinThread::SuspendThread() {
    return ::SuspendThread(m_hThread);
}

DWORD CWinThread::ResumeThread() {
    return ::ResumeThread(m_hThread);
}

BOOL CWinThread::PostThreadMessageW(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostThreadMessageW(m_nThreadID, message, wParam, lParam);
}

BOOL CWinThread::InitInstance() {
    return FALSE;
}

int CWinThread::Run() {
    _AFX_THREAD_STATE* state = AfxGetThreadState();
    BOOL idle = TRUE;
    LONG idleCount = 0;
    for (;;) {
        while (idle && !::PeekMessageW(&state->m_msgCur, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!OnIdle(idleCount++)) idle = FALSE;
        }
        do {
            if (!PumpMessage()) return ExitInstance();
            if (IsIdleMessage(&state->m_msgCur)) {
                idle = TRUE;
                idleCount = 0;
            }
        } while (::PeekMessageW(&state->m_msgCur, nullptr, 0, 0, PM_NOREMOVE));
    }
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg) {
    return pMsg->hwnd == nullptr && DispatchThreadMessageEx(pMsg);
}

BOOL CWinThread::PumpMessage() {
    _AFX_THREAD_STATE* state = AfxGetThreadState();
    if (!::GetMessageW(&state->m_msgCur, nullptr, 0, 0)) return FALSE;
    if (state->m_msgCur.message != WM_KICKIDLE && !PreTranslateMessage(&state->m_msgCur)) {
        ::TranslateMessage(&state->m_msgCur);
        ::DispatchMessageW(&state->m_msgCur);
    }
    return TRUE;
}

BOOL CWinThread::OnIdle(LONG lCount) {
    // Nothing to free or update here: one round, then wait for messages.
    return lCount < 0;
}

BOOL CWinThread::IsIdleMessage(MSG* pMsg) {
    _AFX_THREAD_STATE* state = AfxGetThreadState();
    if (pMsg->message == WM_MOUSEMOVE || pMsg->message == WM_NCMOUSEMOVE) {
        // A mouse that has not moved starts no idle processing.
        if (state->m_nMsgLast == pMsg->message && state->m_ptCursorLast.x == pMsg->pt.x &&
            state->m_ptCursorLast.y == pMsg->pt.y) {
            return FALSE;
        }
        state->m_ptCursorLast = pMsg->pt;
        state->m_nMsgLast = pMsg->message;
        return TRUE;
    }
    constexpr UINT kSystemTimer = 0x0118;
    return pMsg->message != WM_PAINT && pMsg->message != kSystemTimer;
}

int CWinThread::ExitInstance() {
    return static_cast<int>(AfxGetThreadState()->m_msgCur.wParam);
}

CWnd* CWinThread::GetMainWnd() {
    return m_pMainWnd;
}

void CWinThread::Delete() {
    if (m_bAutoDelete) delete this;
}

BOOL CWinThread::DispatchThreadMessageEx(MSG* msg) {
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(msg->message);
    if (entry == nullptr || (entry->nMessage != 0xC000 && entry->nSig != AfxSig_vwl)) return FALSE;
    reinterpret_cast<AFX_THREADMSG_FN>(entry->pfn)(this, msg->wParam, msg->lParam);
    return TRUE;
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    return Begin(new CWinThread(pfnThreadProc, pParam), nPriority, nStackSize, dwCreateFlags, lpSecurityAttrs);
}

CWinThread* AfxBeginThread(CRuntimeClass* pThreadClass, int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (pThreadClass == nullptr || !pThreadClass->IsDerivedFrom(RUNTIME_CLASS(CWinThread))) return nullptr;
    auto* thread = static_cast<CWinThread*>(pThreadClass->CreateObject());
    if (thread == nullptr) return nullptr;
    thread->m_pThreadParams = nullptr;
    return Begin(thread, nPriority, nStackSize, dwCreateFlags, lpSecurityAttrs);
}

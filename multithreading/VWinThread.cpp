#include "multithreading/VWinThread.h"

#include "multithreading/Thread.h"
#include "multithreading/internal/Hooks.h"
#include "platform/kernel/Handles.h"
#include "platform/mfc/AfxException.h"

VWinThread::VWinThread(const char* name) : m_exitEvent(FALSE, FALSE), m_name(name != nullptr ? name : "") {
    m_bAutoDelete = FALSE;
}

VWinThread::~VWinThread() {
    StopAndWait();
}

bool VWinThread::OnOwnThread() const {
    return AfxGetThread() == this;
}

bool VWinThread::CreateInternal(std::int32_t priority, std::uint32_t flags) {
    if (m_hThread != nullptr || m_stopping) return false;
    m_pThreadParams = nullptr;
    if (!CreateThread(flags | CREATE_SUSPENDED, 0, nullptr)) {
        Delete();
        return false;
    }
    SetThreadPriority(priority);
    if ((flags & CREATE_SUSPENDED) != 0) return true;
    if (ResumeThread() == static_cast<DWORD>(-1)) AfxThrowInvalidArgException();
    return true;
}

void VWinThread::Destroy() {
    if (OnOwnThread()) {
        // The thread's entry deletes the object once Run has returned.
        m_stopping = true;
        m_bAutoDelete = TRUE;
        return;
    }
    StopAndWait();
    delete this;
}

void VWinThread::Stop() {
    if (OnOwnThread()) {
        m_stopping = true;
        return;
    }
    std::lock_guard lock(m_stopMutex);
    if (m_hThread == nullptr || m_stopping.exchange(true)) return;
    if (::TerminateThread(m_hThread, 0)) {
        // Held since CreateInternal: it ends without having run.
        ::WaitForSingleObject(m_hThread, INFINITE);
    } else {
        // When the quit cannot be posted (the queue is full), stopping ends
        // the loop after its current message.
        ::PostThreadMessageW(m_nThreadID, WM_QUIT, 0, 0);
        VTools::Thread::WaitForEndThread(m_hThread);
        ::WaitForSingleObject(m_exitEvent, 1000);
    }
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

void VWinThread::StopAndWait() {
    if (OnOwnThread()) return;
    Stop();
    std::lock_guard lock(m_stopMutex);
    if (m_hThread == nullptr) return;
    // Stopping was set by a quit posted through PostThreadMessageW.
    VTools::Thread::WaitForEndThread(m_hThread);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

std::int32_t VWinThread::PostThreadMessageW(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam) {
    if (message == WM_QUIT) m_stopping = true;
    return ::PostThreadMessageW(m_nThreadID, message, wParam, lParam);
}

std::int32_t VWinThread::PostThreadMessageW(std::uint32_t message) {
    return PostThreadMessageW(message, 0, 0);
}

void VWinThread::SetTimer(std::uint64_t timerId, std::uint32_t period, std::uint64_t& handle) const {
    if (handle != 0) {
        ::KillTimer(nullptr, handle);
        handle = 0;
    }
    handle = ::SetTimer(nullptr, timerId, period, nullptr);
}

void VWinThread::KillTimer(std::uint64_t& handle) const {
    if (handle == 0) return;
    ::KillTimer(nullptr, handle);
    handle = 0;
}

bool VWinThread::IsWorking() const {
    return !m_stopping;
}

std::uint32_t VWinThread::GetThreadId() const {
    return m_nThreadID;
}

int VWinThread::Run() {
    int exitCode = 0;
    {
        Multithreading::internal::ThreadGuard crashGuard;
        VTools::Thread::SetThreadName(m_name);
        _AFX_THREAD_STATE* state = AfxGetThreadState();
        while (!m_stopping) {
            try {
                if (!PumpMessage() || m_stopping) break;
                ProcessProperMessages(state->m_msgCur);
            } catch (CException* e) {
                e->Delete();
            } catch (...) {
                // Message handling may throw anything; the thread goes on.
            }
            MSG next;
            ::PeekMessageW(&next, nullptr, 0, 0, PM_NOREMOVE);
        }
        exitCode = ExitInstance();
    }
    return exitCode;
}

int VWinThread::ExitInstance() {
    const int result = CWinThread::ExitInstance();
    m_exitEvent.SetEvent();
    return result;
}

bool VWinThread::ProcessMessage(const MSG&) {
    return false;
}

BOOL VWinThread::ProcessProperMessages(const MSG& msg) {
    return m_stopping ? FALSE : (ProcessMessage(msg) ? TRUE : FALSE);
}

// MFC's synchronisation classes over the platform's events and mutexes:
// CSyncObject, CEvent, CMutex and CSingleLock, with MFC's signatures.
//
// A CSyncObject owns its handle (m_hObject) and closes it when destroyed.
// The constructors of CEvent and CMutex throw CResourceException (MFC's
// AfxThrowResourceException) when the object cannot be created, so also for
// a name no event or mutex can have or one the other kind holds (see
// platform/kernel/Sync.h).
//
// Threads: the objects' members may be called from any thread, as the
// Windows calls behind them; a CSingleLock belongs to one thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Sync.h"

using LPLONG = LONG*;

class VPLATFORM_API CSyncObject {
public:
    // `pstrName` is ignored here; the derived classes pass it to the object.
    explicit CSyncObject(LPCWSTR pstrName);
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;
    virtual ~CSyncObject();

    operator HANDLE() const { return m_hObject; }

    // Waits for the object: TRUE when it was signalled (or a mutex abandoned)
    // within `dwTimeout` milliseconds, FALSE on a timeout or failure.
    virtual BOOL Lock(DWORD dwTimeout = INFINITE);
    virtual BOOL Unlock() = 0;
    virtual BOOL Unlock(LONG /*lCount*/, LPLONG /*lpPrevCount*/ = nullptr) { return TRUE; }

    HANDLE m_hObject = nullptr;
};

class VPLATFORM_API CEvent : public CSyncObject {
public:
    // `bInitiallyOwn`: created signalled; `bManualReset`: stays signalled
    // until ResetEvent (else a satisfied Lock resets it).
    explicit CEvent(BOOL bInitiallyOwn = FALSE, BOOL bManualReset = FALSE, LPCWSTR lpszName = nullptr,
                    LPSECURITY_ATTRIBUTES lpsaAttribute = nullptr);

    BOOL SetEvent();
    BOOL PulseEvent();
    BOOL ResetEvent();
    // Does nothing: an event is not owned.  TRUE.
    BOOL Unlock() override;
    using CSyncObject::Unlock;
};

class VPLATFORM_API CMutex : public CSyncObject {
public:
    explicit CMutex(BOOL bInitiallyOwn = FALSE, LPCWSTR lpszName = nullptr,
                    LPSECURITY_ATTRIBUTES lpsaAttribute = nullptr);

    // ReleaseMutex: FALSE (ERROR_NOT_OWNER) when the calling thread does not
    // own the mutex.
    BOOL Unlock() override;
    using CSyncObject::Unlock;
};

// Locks one object for a scope: unlocks it when destroyed if it holds it.
class VPLATFORM_API CSingleLock {
public:
    explicit CSingleLock(CSyncObject* pObject, BOOL bInitialLock = FALSE);
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;
    ~CSingleLock() { Unlock(); }

    // The object's Lock; FALSE also when this lock holds it already.
    BOOL Lock(DWORD dwTimeOut = INFINITE);
    // Gives the object back when this lock holds it; TRUE when it no longer does.
    BOOL Unlock();
    BOOL Unlock(LONG lCount, LPLONG lPrevCount = nullptr);
    BOOL IsLocked() const { return m_bAcquired; }

protected:
    CSyncObject* m_pObject;
    HANDLE m_hObject;
    BOOL m_bAcquired = FALSE;
};

// MFC's CEvent, CMutex and CSingleLock over the platform's events and mutexes.
#include "platform/mfc/AfxSync.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/mfc/AfxException.h"
#include "tests/platform/kernel/HandleCounts.h"

namespace {

class AfxSync : public vlibtest::HandleCountTest {};

BOOL LockedElsewhere(CSyncObject& object) {
    BOOL locked = FALSE;
    std::thread([&] {
        locked = object.Lock(0);
        if (locked) object.Unlock();
    }).join();
    return locked;
}

TEST_F(AfxSync, EventsAreAutoResetUnlessAskedAndOwnTheirHandle) {
    DWORD open = 0;
    {
        CEvent automatic;
        CEvent manual(TRUE, TRUE);
        GetProcessHandleCount(GetCurrentProcess(), &open);
        EXPECT_FALSE(automatic.Lock(0));
        EXPECT_TRUE(automatic.SetEvent());
        EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);  // operator HANDLE
        EXPECT_FALSE(automatic.Lock(0));
        EXPECT_TRUE(manual.Lock(0));
        EXPECT_TRUE(manual.Lock(0));
        EXPECT_TRUE(manual.ResetEvent());
        EXPECT_FALSE(manual.Lock(0));
        EXPECT_TRUE(manual.PulseEvent());
        EXPECT_FALSE(manual.Lock(0));
        EXPECT_TRUE(manual.Unlock());
    }
    DWORD after = 0;
    GetProcessHandleCount(GetCurrentProcess(), &after);
    EXPECT_EQ(after + 2, open);
}

TEST_F(AfxSync, ASingleLockHoldsAMutexForItsScope) {
    CMutex mutex;
    {
        CSingleLock lock(&mutex, TRUE);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_FALSE(LockedElsewhere(mutex));
        EXPECT_FALSE(lock.Lock(0));  // held already
        EXPECT_TRUE(lock.Unlock());
        EXPECT_FALSE(lock.IsLocked());
        EXPECT_TRUE(LockedElsewhere(mutex));
        EXPECT_TRUE(lock.Lock(0));
    }
    EXPECT_TRUE(LockedElsewhere(mutex));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(mutex.Unlock());
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
    CMutex owned(TRUE);
    EXPECT_FALSE(LockedElsewhere(owned));
    EXPECT_TRUE(owned.Unlock());
}

TEST_F(AfxSync, NamedObjectsThrowAResourceException) {
    for (int kind = 0; kind < 2; ++kind) {
        try {
            if (kind == 0) CEvent named(FALSE, FALSE, L"quotes");
            if (kind == 1) CMutex named(FALSE, L"quotes");
            ADD_FAILURE() << "no exception";
        } catch (CException* e) {
            EXPECT_NE(dynamic_cast<CResourceException*>(e), nullptr);
            e->Delete();
        }
    }
}

}  // namespace

// MFC's CEvent, CMutex and CSingleLock over the platform's events and mutexes.
#include "platform/mfc/AfxSync.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/mfc/AfxException.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/EnvScope.h"
#include "tests/support/TempDir.h"

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

TEST_F(AfxSync, EventsAreAutoResetUnlessAskedOtherwise) {
    CEvent automatic;
    CEvent manual(TRUE, TRUE);
    EXPECT_FALSE(automatic.Lock(0));
    EXPECT_TRUE(automatic.SetEvent());
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);  // through operator HANDLE
    EXPECT_FALSE(automatic.Lock(0));
    EXPECT_TRUE(manual.Lock(0) && manual.Lock(0) && manual.Unlock());
    EXPECT_TRUE(manual.ResetEvent());
    EXPECT_FALSE(manual.Lock(0));
}

TEST_F(AfxSync, ASingleLockHoldsAMutexForItsScope) {
    CMutex mutex;
    {
        CSingleLock lock(&mutex, TRUE);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_FALSE(LockedElsewhere(mutex));
        EXPECT_FALSE(lock.Lock(0));  // held already
        EXPECT_TRUE(lock.Unlock());
        EXPECT_TRUE(LockedElsewhere(mutex));
        EXPECT_TRUE(lock.Lock(0));
    }
    EXPECT_TRUE(LockedElsewhere(mutex));
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_NOT_OWNER, [&] { return mutex.Unlock(); }));
    CMutex owned(TRUE);
    EXPECT_FALSE(LockedElsewhere(owned));
    EXPECT_TRUE(owned.Unlock());
}

TEST_F(AfxSync, ImpossibleNamesAndNamesOfTheOtherKindThrowAResourceException) {
    const vlibtest::TempDir runtime;
    const vlibtest::EnvScope environment("XDG_RUNTIME_DIR", runtime.Path().c_str());
    const CEvent named(FALSE, FALSE, L"quotes");
    EXPECT_THROW(CMutex(FALSE, L"quotes"), CResourceException*);
    EXPECT_THROW(CEvent(FALSE, FALSE, L"a\\b"), CResourceException*);
    EXPECT_THROW(CMutex(FALSE, L"a\\b"), CResourceException*);
}

}  // namespace

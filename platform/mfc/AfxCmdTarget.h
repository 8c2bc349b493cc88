// MFC's command targets and message maps: CCmdTarget, DECLARE_MESSAGE_MAP,
// BEGIN_MESSAGE_MAP / END_MESSAGE_MAP, and the thread-message entries
// ON_THREAD_MESSAGE and ON_REGISTERED_THREAD_MESSAGE.
//
//     class CQuotesThread : public CWinThread {
//         DECLARE_MESSAGE_MAP()
//         void OnQuote(WPARAM wParam, LPARAM lParam);
//         void OnRefresh(WPARAM wParam, LPARAM lParam);
//     };
//     static UINT s_refresh = RegisterWindowMessageW(L"Quotes_Refresh");
//     BEGIN_MESSAGE_MAP(CQuotesThread, CWinThread)
//         ON_THREAD_MESSAGE(WM_APP + 1, &CQuotesThread::OnQuote)
//         ON_REGISTERED_THREAD_MESSAGE(s_refresh, &CQuotesThread::OnRefresh)
//     END_MESSAGE_MAP()
//
// A map lists entries and names its base class's map; lookups walk from the
// object's class to CCmdTarget.  An entry holds a small function made for
// its member (no casts between member pointer types): `pfn` is that function
// and `nSig` (AfxSig) says how to call it.  A registered-message entry has
// nMessage 0xC000 and holds in `nSig` the address of the UINT variable with
// the registered number, read at each dispatch (so the number may be
// registered after the map was built).  Window-message entries (ON_MESSAGE,
// ON_WM_…) follow the same pattern with the signatures the window classes
// add.
//
// Threads: maps are built at their first use (thread-safe) and immutable.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxObject.h"

class CCmdTarget;

// How an entry's function is called.
enum AfxSig : UINT_PTR {
    AfxSig_end = 0,
    // void (CCmdTarget* target, WPARAM, LPARAM): thread messages.
    AfxSig_vwl,
    // LRESULT (CCmdTarget* target, WPARAM, LPARAM): window messages (ON_MESSAGE).
    AfxSig_lwl,
};

// An entry's function, called through the type its AfxSig names.
using AFX_PMSG = void (*)();
using AFX_THREADMSG_FN = void (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);
using AFX_WNDMSG_FN = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // 0xC000 for a registered message
    UINT nCode;
    UINT nID;
    UINT nLastID;
    UINT_PTR nSig;  // AfxSig, or the address of the registered number's UINT
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// The first entry from `lpEntry` on for `nMsg` (not a registered-message
// entry), or null at the map's end.
VPLATFORM_API const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP_ENTRY* lpEntry, UINT nMsg, UINT nCode,
                                                          UINT nID);

template <class Target, auto Member>
AFX_PMSG AfxThreadMessageFunction() {
    AFX_THREADMSG_FN call = [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) {
        (static_cast<Target*>(target)->*Member)(wParam, lParam);
    };
    return reinterpret_cast<AFX_PMSG>(call);
}

template <class Target, auto Member>
AFX_PMSG AfxWindowMessageFunction() {
    AFX_WNDMSG_FN call = [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) -> LRESULT {
        return (static_cast<Target*>(target)->*Member)(wParam, lParam);
    };
    return reinterpret_cast<AFX_PMSG>(call);
}

inline UINT_PTR AfxRegisteredMessageEntry(const UINT& number) {
    return reinterpret_cast<UINT_PTR>(&number);
}

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        using ThisClass [[maybe_unused]] = theClass;    \
        using TheBaseClass = baseClass;                 \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                         \
    { 0, 0, 0, 0, AfxSig_end, nullptr }                                                           \
    }                                                                                             \
    ;                                                                                             \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
    return &messageMap;                                                                           \
    }

// `memberFxn`: void (WPARAM, LPARAM), e.g. &CMyThread::OnQuote.
#define ON_THREAD_MESSAGE(message, memberFxn) \
    {static_cast<UINT>(message), 0, 0, 0, AfxSig_vwl, AfxThreadMessageFunction<ThisClass, memberFxn>()},

// `nMessageVariable`: a UINT holding the registered number.
#define ON_REGISTERED_THREAD_MESSAGE(nMessageVariable, memberFxn) \
    {0xC000, 0, 0, 0, AfxRegisteredMessageEntry(nMessageVariable), AfxThreadMessageFunction<ThisClass, memberFxn>()},

// `memberFxn`: LRESULT (WPARAM, LPARAM), for window classes.
#define ON_MESSAGE(message, memberFxn) \
    {static_cast<UINT>(message), 0, 0, 0, AfxSig_lwl, AfxWindowMessageFunction<ThisClass, memberFxn>()},

#define ON_REGISTERED_MESSAGE(nMessageVariable, memberFxn) \
    {0xC000, 0, 0, 0, AfxRegisteredMessageEntry(nMessageVariable), AfxWindowMessageFunction<ThisClass, memberFxn>()},

class VPLATFORM_API CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)

public:
    CCmdTarget();
    ~CCmdTarget() override;

    // The entry of this object's maps (from its class up) for `message`: an
    // entry for the number itself, or for a registered message whose
    // variable holds it; null when none.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT message) const;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

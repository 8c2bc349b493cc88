// CObject and run-time class information.
#include "platform/mfc/AfxObject.h"

CObject* CRuntimeClass::CreateObject() {
    return m_pfnCreateObject != nullptr ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
    for (const CRuntimeClass* at = this; at != nullptr;
         at = at->m_pfnGetBaseClass != nullptr ? at->m_pfnGetBaseClass() : nullptr) {
        if (at == pBaseClass) return TRUE;
    }
    return FALSE;
}

CObject::~CObject() = default;

CRuntimeClass* CObject::GetThisClass() {
    static CRuntimeClass runtimeClass{"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF, nullptr, nullptr};
    return &runtimeClass;
}

CRuntimeClass* CObject::GetRuntimeClass() const {
    return GetThisClass();
}

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
    return GetRuntimeClass()->IsDerivedFrom(pClass);
}

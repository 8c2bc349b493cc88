// MFC's object root: CObject with run-time class information
// (CRuntimeClass, RUNTIME_CLASS, DECLARE_DYNAMIC / IMPLEMENT_DYNAMIC,
// DECLARE_DYNCREATE / IMPLEMENT_DYNCREATE), as far as the window and thread
// classes and AfxBeginThread use it.
//
// A class with DECLARE_DYNAMIC(Name) in its declaration and
// IMPLEMENT_DYNAMIC(Name, Base) in one source file answers
// GetRuntimeClass() and IsKindOf(RUNTIME_CLASS(Name)); with the DYNCREATE
// pair it can also be made by CRuntimeClass::CreateObject (with new, through
// its default constructor).  Serialization schemas are not kept.
//
// Threads: run-time class information is immutable and may be read from any
// thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

class CObject;

struct VPLATFORM_API CRuntimeClass {
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;                         // 0xFFFF: not serializable
    CObject* (*m_pfnCreateObject)();        // null unless DYNCREATE
    CRuntimeClass* (*m_pfnGetBaseClass)();  // null for CObject

    // A new object of the class; null (and no exception) for a class
    // without DYNCREATE.
    CObject* CreateObject();
    // TRUE when this class is `pBaseClass` or derives from it.
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())

#define DECLARE_DYNAMIC(class_name)       \
public:                                   \
    static CRuntimeClass* GetThisClass(); \
    CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
    DECLARE_DYNAMIC(class_name)       \
    static CObject* CreateObject();

#define VPLATFORM_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, create)                                \
    CRuntimeClass* class_name::GetThisClass() {                                                              \
        static CRuntimeClass runtimeClass{#class_name, static_cast<int>(sizeof(class_name)), 0xFFFF, create, \
                                          &base_class_name::GetThisClass};                                   \
        return &runtimeClass;                                                                                \
    }                                                                                                        \
    CRuntimeClass* class_name::GetRuntimeClass() const {                                                     \
        return class_name::GetThisClass();                                                                   \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name) \
    VPLATFORM_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name) \
    CObject* class_name::CreateObject() {                \
        return new class_name;                           \
    }                                                    \
    VPLATFORM_IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, &class_name::CreateObject)

class VPLATFORM_API CObject {
public:
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
    virtual ~CObject();

    static CRuntimeClass* GetThisClass();
    virtual CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* pClass) const;

protected:
    CObject() = default;
};

// The objects behind kernel HANDLEs (files, threads, and later processes,
// mutexes, events…).  A real handle is a pointer to a heap-allocated
// KernelObject; CloseHandle destroys it.  Pseudo handles (GetCurrentThread,
// GetCurrentProcess) are small negative values that are never dereferenced.
#pragma once

#include "platform/WinTypes.h"

namespace vplatform {

class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject();
};

// The object of `handle` when it is a real handle of type T, else null (the
// caller then fails with ERROR_INVALID_HANDLE).
template <class T>
T* HandleObject(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || reinterpret_cast<LONG_PTR>(handle) < 0) return nullptr;
    return dynamic_cast<T*>(static_cast<KernelObject*>(handle));
}

inline HANDLE MakeHandle(KernelObject* object) {
    return static_cast<HANDLE>(object);
}

}  // namespace vplatform

// Closing kernel handles.
#include "platform/kernel/Handles.h"

#include "platform/internal/KernelObject.h"
#include "platform/kernel/WinError.h"

namespace vplatform {
KernelObject::~KernelObject() = default;
}

extern "C" BOOL CloseHandle(HANDLE handle) {
    auto* object = vplatform::HandleObject<vplatform::KernelObject>(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete object;
    return TRUE;
}

// The text of a caught MFC exception pointer, after which the exception is
// released with its Delete (which frees it only when it is marked for
// automatic deletion), also when describing it fails.
#pragma once

#include <string>

#include "diagnostics/WindowsError.h"
#include "platform/mfc/AfxException.h"

namespace VTools::internal {

// ExceptionToString of `exception` (ANSI code page); `exception` is released
// before the function returns or throws.
inline std::string DescribeAndRelease(CException* exception) {
    struct Release {
        CException* exception;
        ~Release() {
            if (exception != nullptr) exception->Delete();
        }
    } release{exception};
    return WindowsError::ExceptionToString(exception);
}

}  // namespace VTools::internal

// Test hooks of the registered-message table (platform/user/Messages.h).
// Exported for the test binaries; not installed.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

namespace vplatform::test {

// How long RegisterWindowMessageW waits for the table file's lock before the
// process switches to a table of its own (two seconds unless set).
VPLATFORM_API void SetMessageTableLockTimeout(DWORD milliseconds);

}  // namespace vplatform::test

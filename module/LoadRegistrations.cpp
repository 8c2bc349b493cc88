// What the library registers while it is being loaded, before any of its
// functions can be called: the two messages of the task loop executor.
#include "multithreading/TaskLoopExecutor.h"
#include "multithreading/UniqueMessage.h"

namespace Multithreading {

const UniqueMessage TaskLoopExecutor::m_executeOneTaskMessage{L"TaskLoopExecutor_ExecuteOneTask_PostSend"};
const UniqueMessage TaskLoopExecutor::m_stopLoopMessage{L"TaskLoopExecutor_StopLoopTask_PostSend"};

}  // namespace Multithreading

// The DLL entry runs after the registrations above (DllMain.cpp).
#include "module/internal/DllEntry.h"
#include "platform/kernel/DllEntry.h"

VPLATFORM_DLL_ENTRY(vlib::module::LibraryDllMain)

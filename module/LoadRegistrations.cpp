// What the library registers while it is being loaded, before any of its
// functions can be called: the two messages of the task loop executor.
#include "multithreading/TaskLoopExecutor.h"
#include "multithreading/UniqueMessage.h"

namespace Multithreading {

const UniqueMessage TaskLoopExecutor::m_executeOneTaskMessage{L"TaskLoopExecutor_ExecuteOneTask_PostSend"};
const UniqueMessage TaskLoopExecutor::m_stopLoopMessage{L"TaskLoopExecutor_StopLoopTask_PostSend"};

}  // namespace Multithreading

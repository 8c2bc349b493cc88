#include "multithreading/Thread.h"

#include <string>

#include "multithreading/internal/Hooks.h"
#include "platform/kernel/Threads.h"
#include "text/Converter.h"
#include "text/StringConversion.h"

namespace VTools::Thread {

void SetThreadName(std::string_view name) {
    ConverterMultiByteToWideChar converter(CP_ACP);
    const HRESULT result = SetThreadDescription(GetCurrentThread(), converter.Convert(name));
    if (FAILED(result)) {
        std::string message = "Executor: ";
        message.append(name.data(), name.size()).append(", MESSAGE: ");
        message += String::Utf8ToAnsi("Nie uda\xC5\x82o si\xC4\x99 ustawi\xC4\x87 nazwy w\xC4\x85tkowi");
        message += ": ";
        Multithreading::internal::WriteReport("VTools::Thread::SetThreadName", __LINE__, message);
    }
}

void WaitForEndThread(HANDLE thread) {
    if (thread == nullptr) return;
    constexpr DWORD kPollMilliseconds = 100;
    DWORD wait = WaitForSingleObject(thread, kPollMilliseconds);
    while (wait == WAIT_TIMEOUT) {
        // Bring the suspend count down to zero so that the thread can end.
        DWORD previous = ResumeThread(thread);
        while (previous != static_cast<DWORD>(-1) && previous > 1) previous = ResumeThread(thread);
        wait = WaitForSingleObject(thread, kPollMilliseconds);
    }
}

}  // namespace VTools::Thread

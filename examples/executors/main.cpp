// Executors and message loops: a named worker thread running queued tasks,
// and a worker running a Windows message loop.
#include <VLibIncludes.h>

#include <atomic>
#include <iostream>

int main() {
    // The worker's name shows in the log and in debuggers.
    Multithreading::TaskExecutor worker("Quotes");
    worker.StartExecute();

    // Tasks run one after the other on the worker; an event tells the main
    // thread that the last one has run.
    std::atomic<int> sum{0};
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int i = 1; i <= 10; ++i) worker.AddTask([&sum, i] { sum += i; });
    worker.AddTask([done] { SetEvent(done); });
    WaitForSingleObject(done, INFINITE);
    CloseHandle(done);
    std::cout << "sum computed on the worker: " << sum << "\n";

    // StopExecute ends the worker (tasks still queued are dropped).
    worker.StopExecute();

    // A message loop: tasks run on a thread with a Windows message queue, so
    // they may own windows and post thread messages to themselves.
    Multithreading::TaskLoopExecutor loop("Quotes loop");
    loop.StartLoopExecute();
    DWORD loopThread = 0;
    loop.AddTask([&loopThread] {
        loopThread = GetCurrentThreadId();
        MSG message{};
        // The loop's queue is this thread's message queue.
        PostThreadMessageW(loopThread, WM_APP, 7, 0);
        if (PeekMessageW(&message, nullptr, WM_APP, WM_APP, PM_REMOVE)) {
            std::cout << "message " << message.wParam << " seen on the loop thread\n";
        }
    });
    // StopLoopExecute returns once every task added before it has run.
    loop.StopLoopExecute();
    std::cout << "loop thread " << (loopThread != 0 && loopThread != GetCurrentThreadId() ? "ran the task" : "FAILED")
              << "\n";
}

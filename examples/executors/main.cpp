// Executors: a named worker thread running queued tasks, and a timer.
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
}

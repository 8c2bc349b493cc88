// vtools message: registered window message numbers; the demo's message
// loops (the task loop executor, a window on its thread, a VWinThread).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

std::string Number(UINT number) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%04X %5u", number, number);
    return text;
}

std::string Table() {
    std::vector<wchar_t> path(4096);
    if (!vplatformGetMessageTableFile(path.data(), static_cast<DWORD>(path.size()))) return "process-local";
    return "shared " + ToTerminal(path.data());
}

int Message(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "register") throw UsageError("expected 'register NAME...'");
    if (args.size() < 2) throw UsageError("expected at least one NAME");
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::wstring name = FromTerminal(args[i]);
        const UINT number = RegisterWindowMessageW(name.c_str());
        if (number == 0) {
            throw InputError("'" + args[i] + "' cannot be registered (empty or longer than 255 UTF-16 units)");
        }
        std::cout << Number(number) << "  " << args[i] << "\n";
    }
    std::cout << "table: " << Table() << "\n";
    return 0;
}

std::string Label(const std::string& text) {
    return "  " + text + std::string(text.size() < 20 ? 20 - text.size() : 1, ' ');
}

LRESULT CALLBACK Doubling(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) return static_cast<LRESULT>(wParam * 2);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Counts its messages, starts a 10 ms timer with the first, and signals
// once the timer has ticked three times.
class DemoThread : public VWinThread {
public:
    explicit DemoThread(HANDLE done) : VWinThread("DemoWinThread"), m_done(done) {}
    BOOL InitInstance() override { return TRUE; }
    bool ProcessMessage(const MSG& msg) override {
        if (msg.message == WM_APP) {
            ++messages;
            if (m_timer == 0) SetTimer(1, 10, m_timer);
        } else if (msg.message == WM_TIMER && msg.wParam == m_timer && ++ticks == 3) {
            KillTimer(m_timer);
            SetEvent(m_done);
        }
        return true;
    }
    std::atomic<int> messages{0};
    std::atomic<int> ticks{0};

private:
    HANDLE m_done;
    std::uint64_t m_timer = 0;
};

void Demo(std::ostream& out) {
    out << "== concurrency: registered messages and message loops\n";
    for (const UniqueMessage* message : {&Multithreading::TaskLoopExecutor::m_executeOneTaskMessage,
                                         &Multithreading::TaskLoopExecutor::m_stopLoopMessage}) {
        out << Label(message == &Multithreading::TaskLoopExecutor::m_stopLoopMessage ? "stop message"
                                                                                     : "execute message")
            << Number(message->Id()) << "  " << ToTerminal(message->MessageName()) << "\n";
    }
    out << Label("message table") << Table() << "\n";

    Multithreading::TaskLoopExecutor loop("DemoLoop");
    loop.StartLoopExecute();
    std::vector<int> ran;
    std::atomic<DWORD> loopThread{0};
    for (int i = 1; i <= 3; ++i) {
        loop.AddTask([&ran, &loopThread, i] {
            ran.push_back(i);
            loopThread = GetCurrentThreadId();
        });
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Doubling;
    wc.lpszClassName = L"VtoolsDemoDoubling";
    RegisterClassExW(&wc);
    std::atomic<HWND> window{nullptr};
    const HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    loop.AddTask([&] {
        window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetEvent(made);
    });
    WaitForSingleObject(made, 5000);
    const LRESULT answer = SendMessageW(window, WM_APP, 21, 0);
    DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    loop.AddTask([&] { DestroyWindow(window); });
    loop.StopLoopExecute();
    CloseHandle(made);
    UnregisterClassW(wc.lpszClassName, nullptr);
    out << Label("task loop") << ran.size() << " tasks ran in order on its thread"
        << (loopThread != 0 && loopThread != GetCurrentThreadId() ? "" : " (not its own?)") << "\n";
    out << Label("window on the loop") << "SendMessageW(WM_APP, 21) = " << answer << " from "
        << (windowThread == loopThread ? "the loop thread" : "another thread") << "\n";

    const HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto* thread = new DemoThread(done);
    if (thread->CreateInternal(THREAD_PRIORITY_NORMAL, 0)) {
        for (int i = 0; i < 3; ++i) thread->PostThreadMessageW(WM_APP);
        const bool ticked = WaitForSingleObject(done, 5000) == WAIT_OBJECT_0;
        const auto start = std::chrono::steady_clock::now();
        thread->Stop();
        const auto took =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        out << Label("VWinThread") << thread->messages << " messages, " << thread->ticks << " timer ticks"
            << (ticked ? "" : " (timer late)") << ", Stop took " << took.count() / 1000.0 << " ms\n";
    }
    thread->Destroy();
    CloseHandle(done);
}

const Registration registration{{
    "message",
    "register window message names",
    "usage: vtools message register NAME...\n\n"
    "Registers each NAME as a window message and prints its number (hexadecimal\n"
    "and decimal) and the name.  Every process of the user gets the same number\n"
    "for a name, whatever its case, from the table file shown last (\"shared\n"
    "PATH\"); \"process-local\" when that table cannot be used and this process\n"
    "numbers names by itself.\n",
    Message,
}};

const DemoRegistration demo(40, Demo);

}  // namespace
}  // namespace vtools

// Helpers of the USER tests: a thread that pumps messages and runs calls
// for the test, and a window class whose procedure records what it gets.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Threads.h"
#include "platform/user/Messages.h"
#include "platform/user/Window.h"
#include "tests/support/Wait.h"

namespace vlibtest {

// A thread with a message loop (GetMessageW, DispatchMessageW) that also
// runs the calls the test gives it, between messages.
class PumpThread {
public:
    PumpThread() : m_thread([this] { Loop(); }) {
        WaitFor([this] { return m_id.load() != 0; });
    }
    ~PumpThread() { Stop(); }
    PumpThread(const PumpThread&) = delete;
    PumpThread& operator=(const PumpThread&) = delete;

    DWORD Id() const { return m_id; }

    // Runs `call` on the thread and returns its result.
    template <class Call>
    auto Run(Call call) {
        using Result = decltype(call());
        std::packaged_task<Result()> task(std::move(call));
        auto result = task.get_future();
        std::function<void()> job = [&task] { task(); };
        EXPECT_TRUE(PostThreadMessageW(m_id, kRunMessage, 0, reinterpret_cast<LPARAM>(&job)));
        return result.get();
    }

    void Stop() {
        if (!m_thread.joinable()) return;
        PostThreadMessageW(m_id, WM_QUIT, 0, 0);
        m_thread.join();
    }

private:
    static constexpr UINT kRunMessage = WM_APP + 0x3F0;

    void Loop() {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        m_id = GetCurrentThreadId();
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.hwnd == nullptr && msg.message == kRunMessage) {
                (*reinterpret_cast<std::function<void()>*>(msg.lParam))();
                continue;
            }
            DispatchMessageW(&msg);
        }
    }

    std::atomic<DWORD> m_id{0};
    std::thread m_thread;
};

// What a recording window got, in order; `onMessage` may answer a message
// (returning true with the result set), else DefWindowProcW does.
struct Recorder {
    std::mutex mutex;
    std::vector<UINT> messages;
    std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT&)> onMessage;

    std::vector<UINT> Take() {
        std::lock_guard lock(mutex);
        return std::exchange(messages, {});
    }
};

// The recording class: pass a Recorder* as CreateWindowExW's lpParam.
inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (recorder != nullptr) {
        {
            std::lock_guard lock(recorder->mutex);
            recorder->messages.push_back(message);
        }
        LRESULT result = 0;
        if (recorder->onMessage && recorder->onMessage(hwnd, message, wParam, lParam, result)) return result;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

inline const wchar_t* RecordingClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = RecordingProc;
        wc.cbWndExtra = 16;
        wc.lpszClassName = L"VlibTestRecorder";
        return RegisterClassExW(&wc);
    }();
    EXPECT_NE(atom, 0);
    return L"VlibTestRecorder";
}

inline HWND MakeWindow(Recorder* recorder, DWORD style = 0, HWND parent = nullptr, const wchar_t* title = L"t") {
    return CreateWindowExW(0, RecordingClass(), title, style, 10, 20, 100, 50, parent, nullptr, nullptr, recorder);
}

}  // namespace vlibtest

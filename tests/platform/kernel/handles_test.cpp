// The handle tables: misused handles of every kind fail with Windows' error
// and never reach an object, slots are reused late and under a new
// generation, the three tables keep their values apart and count them, and a
// handle closed while another thread uses it lets that use finish.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/internal/HandleTable.h"
#include "platform/kernel/Files.h"
#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/HandleCounts.h"
#include "tests/support/TempDir.h"

namespace {

using vplatform::HandleObject;
using vplatform::HandleTable;
using vplatform::ObjectType;

constexpr DWORD kSentinel = 0xdeadbeef;

struct Widget final : HandleObject {
    static constexpr ObjectType kType = static_cast<ObjectType>(0x3F0);
};

std::uintptr_t Value(HANDLE h) {
    return reinterpret_cast<std::uintptr_t>(h);
}

class Handles : public vlibtest::HandleCountTest {
protected:
    HANDLE OpenFile(const std::string& name, DWORD access, DWORD disposition) {
        const auto path = (m_dir.Path() / name).wstring();
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, 0, nullptr);
    }
    vlibtest::TempDir m_dir;
};

// Every kernel call refuses every kind of bad handle with
// ERROR_INVALID_HANDLE, and none of them disturbs a live object.
TEST_F(Handles, BadHandlesFailEveryCallWithInvalidHandle) {
    const HANDLE live = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    const HANDLE file = OpenFile("f", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    const HANDLE closedFile = OpenFile("g", GENERIC_WRITE, CREATE_NEW);
    ASSERT_TRUE(CloseHandle(closedFile));
    const HWND window = vplatform::UserHandles().Insert(std::make_shared<Widget>());
    const struct {
        const char* what;
        HANDLE h;
    } bad[] = {
        {"null", nullptr},
        {"process pseudo handle", GetCurrentProcess()},
        {"closed event", closed},
        {"closed file", closedFile},
        {"truncated to 32 bits", reinterpret_cast<HANDLE>(Value(live) & 0xFFFFFFFFu)},
        {"next generation", reinterpret_cast<HANDLE>(Value(live) + (std::uintptr_t{1} << 32))},
        {"slot never used", reinterpret_cast<HANDLE>(Value(live) | (std::uintptr_t{0xFFFFFF} << 2))},
        {"misaligned", reinterpret_cast<HANDLE>(Value(live) + 1)},
        {"negative", reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-7))},
        {"a window", reinterpret_cast<HANDLE>(window)},
        {"a pointer", reinterpret_cast<HANDLE>(&m_dir)},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.what);
        char byte = 0;
        DWORD count = 1;
        LARGE_INTEGER size{};
        SetLastError(kSentinel);
        EXPECT_FALSE(CloseHandle(c.h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(kSentinel);
        EXPECT_FALSE(ReadFile(c.h, &byte, 1, &count, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_EQ(count, 0u);
        SetLastError(kSentinel);
        EXPECT_FALSE(GetFileSizeEx(c.h, &size));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(kSentinel);
        EXPECT_FALSE(SetEvent(c.h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(kSentinel);
        EXPECT_FALSE(ReleaseMutex(c.h));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(kSentinel);
        EXPECT_EQ(WaitForSingleObject(c.h, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(kSentinel);
        EXPECT_EQ(GetThreadId(c.h), 0u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(WaitForSingleObject(live, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(vplatform::UserHandles().Close(window));
    EXPECT_TRUE(CloseHandle(live));
    EXPECT_TRUE(CloseHandle(file));
}

// An event is no file and a file no event: each call takes only its own
// kind, and the object of the other kind stays as it was.
TEST_F(Handles, HandlesOfAnotherKindFailWithInvalidHandle) {
    const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    const HANDLE file = OpenFile("f", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
    char byte = 'x';
    DWORD count = 0;
    const struct {
        const char* what;
        std::function<bool()> call;
    } cases[] = {
        {"ReadFile(event)", [&] { return ReadFile(event, &byte, 1, &count, nullptr) != FALSE; }},
        {"WriteFile(mutex)", [&] { return WriteFile(mutex, &byte, 1, &count, nullptr) != FALSE; }},
        {"FlushFileBuffers(thread)", [&] { return FlushFileBuffers(thread) != FALSE; }},
        {"SetEvent(file)", [&] { return SetEvent(file) != FALSE; }},
        {"ResetEvent(mutex)", [&] { return ResetEvent(mutex) != FALSE; }},
        {"ReleaseMutex(event)", [&] { return ReleaseMutex(event) != FALSE; }},
        {"GetThreadId(event)", [&] { return GetThreadId(event) != 0; }},
        {"WaitForSingleObject(file)", [&] { return WaitForSingleObject(file, 0) != WAIT_FAILED; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(kSentinel);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(WriteFile(file, "ab", 2, &count, nullptr));
    for (HANDLE h : {event, mutex, file, thread}) EXPECT_TRUE(CloseHandle(h));
}

// A closed slot is reused only after the free list has filled, and then
// under a new generation: the old handle fails while the new one works.
TEST_F(Handles, AReusedSlotRefusesItsOldHandles) {
    const HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(first));
    const auto slotOf = [](HANDLE h) { return Value(h) & 0x03FFFFFCu; };
    std::vector<HANDLE> later;
    HANDLE reused = nullptr;
    for (int i = 0; i < 2000 && reused == nullptr; ++i) {
        const HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(h, nullptr);
        if (slotOf(h) == slotOf(first)) reused = h;
        later.push_back(h);
        ASSERT_TRUE(CloseHandle(h));
    }
    ASSERT_NE(reused, nullptr);
    EXPECT_GE(later.size(), 256u) << "a closed slot came back before the free list had filled";
    EXPECT_NE(reused, first);
    const HANDLE live = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE stale : {first, reused}) {
        SetLastError(kSentinel);
        EXPECT_FALSE(SetEvent(stale));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(SetEvent(live));
    EXPECT_TRUE(CloseHandle(live));
}

// Kernel, USER and GDI values differ in their tag, USER and GDI values fit
// in 31 bits, and each table refuses the others' handles with its error.
TEST_F(Handles, TheThreeTablesKeepTheirHandlesApart) {
    HandleTable& kernel = vplatform::KernelHandles();
    HandleTable& user = vplatform::UserHandles();
    HandleTable& gdi = vplatform::GdiHandles();
    const HANDLE k = kernel.Insert(std::make_shared<Widget>());
    const HWND u = user.Insert(std::make_shared<Widget>());
    const HGDIOBJ g = gdi.Insert(std::make_shared<Widget>());
    ASSERT_TRUE(k != nullptr && u != nullptr && g != nullptr);
    EXPECT_EQ(Value(k) % 4, 0u);
    for (std::uintptr_t v : {Value(u), Value(g)}) EXPECT_LT(v, std::uintptr_t{1} << 31);
    const struct {
        HandleTable& table;
        void* own;
        void* foreign[2];
        DWORD error;
    } cases[] = {
        {kernel, k, {u, g}, ERROR_INVALID_HANDLE},
        {user, u, {k, g}, ERROR_INVALID_WINDOW_HANDLE},
        {gdi, g, {k, u}, ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.table.Find<Widget>(c.own));
        EXPECT_TRUE(c.table.Owns(c.own));
        for (void* other : c.foreign) {
            EXPECT_FALSE(c.table.Owns(other));
            SetLastError(kSentinel);
            EXPECT_FALSE(c.table.Lookup<Widget>(other));
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
    SetLastError(kSentinel);
    EXPECT_FALSE(user.Lookup<Widget>(g, ERROR_INVALID_MONITOR_HANDLE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_MONITOR_HANDLE);
    EXPECT_TRUE(kernel.Close(k) && user.Close(u) && gdi.Close(g));
}

// USER and GDI objects stop at 10,000 per process, as on Windows, and the
// counts of GetGuiResources follow them, peak included.
TEST_F(Handles, UserAndGdiHandlesStopAtTheirQuota) {
    const struct {
        HandleTable& table;
        DWORD flag, peakFlag;
    } cases[] = {{vplatform::UserHandles(), GR_USEROBJECTS, GR_USEROBJECTS_PEAK},
                 {vplatform::GdiHandles(), GR_GDIOBJECTS, GR_GDIOBJECTS_PEAK}};
    for (const auto& c : cases) {
        std::vector<void*> handles;
        for (DWORD n = GetGuiResources(GetCurrentProcess(), c.flag); n < 10'000; ++n) {
            handles.push_back(c.table.Insert(std::make_shared<Widget>()));
            ASSERT_NE(handles.back(), nullptr);
        }
        EXPECT_EQ(GetGuiResources(GetCurrentProcess(), c.flag), 10'000u);
        EXPECT_EQ(c.table.Count(Widget::kType), handles.size());
        SetLastError(kSentinel);
        EXPECT_FALSE(c.table.Insert(std::make_shared<Widget>()));
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
        for (void* h : handles) ASSERT_TRUE(c.table.Close(h));
        EXPECT_EQ(GetGuiResources(GetCurrentProcess(), c.peakFlag), 10'000u);
    }
}

TEST_F(Handles, CountsFollowOpeningAndClosing) {
    DWORD before = 0, during = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    const HANDLE handles[] = {CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateMutexW(nullptr, FALSE, nullptr),
                              OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()),
                              OpenFile("f", GENERIC_WRITE, CREATE_NEW)};
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &during));
    EXPECT_EQ(during, before + 4);
    EXPECT_EQ(vplatform::KernelHandles().Count(ObjectType::Thread), 1u);
    for (HANDLE h : handles) EXPECT_TRUE(CloseHandle(h));

    SetLastError(kSentinel);
    EXPECT_FALSE(GetProcessHandleCount(GetCurrentThread(), &during));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(kSentinel);
    EXPECT_FALSE(GetProcessHandleCount(GetCurrentProcess(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(kSentinel);
    EXPECT_EQ(GetGuiResources(GetCurrentProcess(), 3), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// --- Races (also run under ThreadSanitizer) ------------------------------------

// ReadFile blocked on a pipe while another thread closes its handle: the
// close succeeds at once, the read finishes on the still-open descriptor,
// and the descriptor closes after it.
TEST_F(Handles, RaceClosingWhileAnotherThreadReadsLetsTheReadFinish) {
    const auto fifo = m_dir.Path() / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const HANDLE reader = CreateFileW(fifo.wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::atomic<DWORD> tid{0};
    char buffer[8] = {};
    DWORD read = 0;
    BOOL ok = FALSE;
    std::thread thread([&] {
        tid = GetCurrentThreadId();
        ok = ReadFile(reader, buffer, sizeof buffer, &read, nullptr);
    });
    ASSERT_TRUE(vlibtest::WaitFor([&] { return tid != 0; }));
    ASSERT_TRUE(vlibtest::BlockedIn(tid, {SYS_read}));
    EXPECT_TRUE(CloseHandle(reader));
    SetLastError(kSentinel);
    EXPECT_FALSE(CloseHandle(reader));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    const HANDLE writer = CreateFileW(fifo.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, "hello", 5, &written, nullptr));
    thread.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(buffer, read), "hello");
    EXPECT_TRUE(CloseHandle(writer));
}

// Threads using handles while others close them and open new ones: every
// call either works on its own object or fails with ERROR_INVALID_HANDLE.
TEST_F(Handles, RaceLookupsAgainstClosingStayClean) {
    constexpr int kSlots = 8;
    std::atomic<HANDLE> shared[kSlots];
    for (auto& h : shared) h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> users;
    for (int t = 0; t < 3; ++t) {
        users.emplace_back([&, t] {
            for (int i = 0; !stop; ++i) {
                const HANDLE h = shared[(i + t) % kSlots].load();
                char byte;
                DWORD n;
                SetLastError(kSentinel);
                const bool worked = t == 0   ? SetEvent(h) != FALSE
                                    : t == 1 ? WaitForSingleObject(h, 0) != WAIT_FAILED
                                             : ReadFile(h, &byte, 1, &n, nullptr) != FALSE;
                if ((t == 2 && worked) || (!worked && GetLastError() != ERROR_INVALID_HANDLE)) ++unexpected;
            }
        });
    }
    for (int round = 0; round < 2000; ++round) {
        const HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        EXPECT_TRUE(CloseHandle(shared[round % kSlots].exchange(fresh)));
    }
    stop = true;
    for (auto& t : users) t.join();
    for (auto& h : shared) EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(unexpected, 0);
}

}  // namespace

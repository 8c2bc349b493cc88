// The handle tables: misused handles of every kind fail with Windows' error
// and never reach an object, slots are reused late and under a new
// generation, the three tables keep their values apart and count them, and a
// handle closed while another thread uses it lets that use finish.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using vlibtest::FailsWith;
using vplatform::HandleObject;
using vplatform::HandleTable;
using vplatform::ObjectType;

struct Widget final : HandleObject {
    static constexpr ObjectType kType = static_cast<ObjectType>(0x3F0);
};

std::uintptr_t Value(const void* h) {
    return reinterpret_cast<std::uintptr_t>(h);
}
HANDLE FromValue(std::uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

class Handles : public vlibtest::HandleCountTest {
protected:
    HANDLE Open(const std::string& name, DWORD access, DWORD disposition = OPEN_ALWAYS) const {
        const auto path = (m_dir.Path() / name).wstring();
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, 0, nullptr);
    }
    vlibtest::TempDir m_dir;
};

// Every call refuses every kind of bad handle, and the handles of other
// kinds, with ERROR_INVALID_HANDLE; the live objects stay as they were.
TEST_F(Handles, BadAndForeignHandlesFailEveryCall) {
    const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    const HANDLE file = Open("f", GENERIC_READ | GENERIC_WRITE);
    const HANDLE closed = Open("g", GENERIC_WRITE);
    ASSERT_TRUE(CloseHandle(closed));
    const HWND window = vplatform::UserHandles().Insert(std::make_shared<Widget>());
    const HANDLE bad[] = {
        nullptr,
        GetCurrentProcess(),
        closed,
        FromValue(Value(event) + (std::uintptr_t{1} << 20)),       // next generation
        FromValue(Value(event) | (std::uintptr_t{0x3FFFF} << 2)),  // a slot never used
        FromValue(Value(event) | (std::uintptr_t{1} << 31)),       // sign bit
        FromValue(static_cast<std::uintptr_t>(-7)),
        reinterpret_cast<HANDLE>(window),
        reinterpret_cast<HANDLE>(&m_dir),
    };
    char byte = 0;
    DWORD count = 0;
    LARGE_INTEGER size{};
    for (HANDLE h : bad) {
        SCOPED_TRACE(Value(h));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return CloseHandle(h); }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return ReadFile(h, &byte, 1, &count, nullptr); }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetFileSizeEx(h, &size); }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return SetEvent(h); }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return ReleaseMutex(h); }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetThreadId(h) != 0; }));
        if (h == GetCurrentProcess()) continue;  // waitable, as on Windows
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return WaitForSingleObject(h, 0) != WAIT_FAILED; }));
    }
    const std::function<bool()> foreign[] = {
        [&] { return ReadFile(event, &byte, 1, &count, nullptr); },
        [&] { return WriteFile(mutex, &byte, 1, &count, nullptr); },
        [&] { return SetEvent(file); },
        [&] { return ResetEvent(mutex); },
        [&] { return ReleaseMutex(event); },
        [&] { return GetThreadId(event) != 0; },
        [&] { return WaitForSingleObject(file, 0) != WAIT_FAILED; },
    };
    for (const auto& call : foreign) EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, call));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(WriteFile(file, "ab", 2, &count, nullptr));
    EXPECT_TRUE(vplatform::UserHandles().Close(window));
    for (HANDLE h : {event, mutex, file}) EXPECT_TRUE(CloseHandle(h));
}

// As on 64-bit Windows, a kernel handle is a multiple of 4 below 2^31 that
// counts by its low 32 bits only (sign-extended) and with its two low bits
// ignored: kept in a DWORD and tagged, it still names its object, and
// closing it so closes the object for every form.
TEST_F(Handles, KernelHandlesCountByTheirLow32BitsWithTheTwoLowBitsIgnored) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(Value(event) % 4, 0u);
    EXPECT_LT(Value(event), std::uintptr_t{1} << 31);
    const auto dword = static_cast<std::uint32_t>(Value(event));
    const HANDLE forms[] = {
        FromValue(dword),                                                          // ULongToHandle(HandleToULong(h))
        FromValue(static_cast<std::uintptr_t>(static_cast<std::int32_t>(dword))),  // LongToHandle
        FromValue(dword | 1u),
        FromValue(dword | 2u),
        FromValue(dword | 3u),
        FromValue(Value(event) | (std::uintptr_t{0xABCD} << 40)),  // garbage above the low 32 bits
    };
    for (HANDLE form : forms) {
        SCOPED_TRACE(Value(form));
        EXPECT_TRUE(SetEvent(form));
        EXPECT_EQ(WaitForSingleObject(form, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ResetEvent(form));
    }
    EXPECT_TRUE(CloseHandle(FromValue(dword | 3u)));
    for (HANDLE h : {event, forms[2]}) EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return SetEvent(h); }));
    // The pseudo handle of the process, kept in a DWORD, is still the process.
    DWORD count = 0;
    EXPECT_TRUE(GetProcessHandleCount(FromValue(static_cast<std::uint32_t>(Value(GetCurrentProcess()))), &count));
}

// A closed slot comes back only after the free list has filled, and then
// under a new generation: its old handles fail, the new one works.
TEST_F(Handles, AReusedSlotRefusesItsOldHandles) {
    const HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(first));
    const auto slot = [](HANDLE h) { return Value(h) & 0x000FFFFCu; };
    int created = 0;
    HANDLE reused = nullptr;
    while (reused == nullptr && created < 2000) {
        const HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ++created;
        if (slot(h) == slot(first)) reused = h;
        ASSERT_TRUE(CloseHandle(h));
    }
    ASSERT_NE(reused, nullptr);
    EXPECT_GT(created, 256);
    const HANDLE live = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE stale : {first, reused}) EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return SetEvent(stale); }));
    EXPECT_TRUE(SetEvent(live));
    EXPECT_TRUE(CloseHandle(live));
}

// Kernel, USER and GDI values differ in their tag, USER and GDI values fit
// in 31 bits, each table refuses the others' handles with its error, and the
// kernel's count follows.
TEST_F(Handles, TheThreeTablesKeepTheirHandlesApartAndCountThem) {
    HandleTable* tables[] = {&vplatform::KernelHandles(), &vplatform::UserHandles(), &vplatform::GdiHandles()};
    const DWORD errors[] = {ERROR_INVALID_HANDLE, ERROR_INVALID_WINDOW_HANDLE, ERROR_INVALID_HANDLE};
    void* handles[3];
    DWORD before = 0, during = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    for (int t = 0; t < 3; ++t) handles[t] = tables[t]->Insert(std::make_shared<Widget>());
    EXPECT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &during) && during == before + 1);
    EXPECT_EQ(tables[0]->Count(Widget::kType), 1u);
    EXPECT_EQ(Value(handles[0]) % 4, 0u);
    EXPECT_TRUE(Value(handles[1]) < (1u << 31) && Value(handles[2]) < (1u << 31));
    for (int t = 0; t < 3; ++t) {
        for (int other = 0; other < 3; ++other) {
            EXPECT_EQ(tables[t]->Owns(handles[other]), t == other);
            if (t == other) continue;
            EXPECT_TRUE(FailsWith(errors[t], [&] { return tables[t]->Lookup<Widget>(handles[other]) != nullptr; }));
        }
    }
    EXPECT_TRUE(FailsWith(ERROR_INVALID_MONITOR_HANDLE, [&] {
        return tables[1]->Lookup<Widget>(handles[2], ERROR_INVALID_MONITOR_HANDLE) != nullptr;
    }));
    for (int t = 0; t < 3; ++t) EXPECT_TRUE(tables[t]->Close(handles[t]));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetProcessHandleCount(GetCurrentThread(), &during); }));
    EXPECT_TRUE(
        FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetProcessHandleCount(GetCurrentProcess(), nullptr); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetGuiResources(GetCurrentProcess(), 3) != 0; }));
}

// USER and GDI objects stop at 10,000 per process, as on Windows, and
// GetGuiResources counts them, peak included.
TEST_F(Handles, UserAndGdiHandlesStopAtTheirQuota) {
    const struct {
        HandleTable& table;
        DWORD flag, peakFlag;
    } cases[] = {{vplatform::UserHandles(), GR_USEROBJECTS, GR_USEROBJECTS_PEAK},
                 {vplatform::GdiHandles(), GR_GDIOBJECTS, GR_GDIOBJECTS_PEAK}};
    for (const auto& c : cases) {
        std::vector<void*> handles;
        while (GetGuiResources(GetCurrentProcess(), c.flag) < 10'000) {
            handles.push_back(c.table.Insert(std::make_shared<Widget>()));
            ASSERT_NE(handles.back(), nullptr);
        }
        EXPECT_EQ(c.table.Count(Widget::kType), handles.size());
        EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_QUOTA, [&] { return c.table.Insert(std::make_shared<Widget>()); }));
        for (void* h : handles) ASSERT_TRUE(c.table.Close(h));
        EXPECT_EQ(GetGuiResources(GetCurrentProcess(), c.peakFlag), 10'000u);
    }
}

// --- Races (also run under ThreadSanitizer) ------------------------------------

// ReadFile blocked on a pipe while another thread closes its handle: the
// close succeeds at once, the read finishes on the still-open descriptor.
TEST_F(Handles, RaceClosingWhileAnotherThreadReadsLetsTheReadFinish) {
    ASSERT_EQ(mkfifo((m_dir.Path() / "pipe").c_str(), 0600), 0);
    const HANDLE reader = Open("pipe", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
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
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return CloseHandle(reader); }));
    const HANDLE writer = Open("pipe", GENERIC_WRITE, OPEN_EXISTING);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer, "hello", 5, &written, nullptr));
    thread.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(std::string(buffer, read), "hello");
    EXPECT_TRUE(CloseHandle(writer));
}

// Threads use handles while another closes them and opens new ones: every
// call either works on its own object or fails with ERROR_INVALID_HANDLE.
TEST_F(Handles, RaceLookupsAgainstClosingStayClean) {
    std::atomic<HANDLE> shared[8];
    for (auto& h : shared) h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> users;
    for (int t = 0; t < 3; ++t) {
        users.emplace_back([&, t] {
            for (int i = 0; !stop; ++i) {
                const HANDLE h = shared[(i + t) % 8].load();
                char byte;
                DWORD n;
                SetLastError(0);
                const bool worked = t == 0   ? SetEvent(h) != FALSE
                                    : t == 1 ? WaitForSingleObject(h, 0) != WAIT_FAILED
                                             : ReadFile(h, &byte, 1, &n, nullptr) != FALSE;
                if ((t == 2 && worked) || (!worked && GetLastError() != ERROR_INVALID_HANDLE)) ++unexpected;
            }
        });
    }
    for (int round = 0; round < 2000; ++round) {
        EXPECT_TRUE(CloseHandle(shared[round % 8].exchange(CreateEventW(nullptr, TRUE, FALSE, nullptr))));
    }
    stop = true;
    for (auto& t : users) t.join();
    for (auto& h : shared) EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(unexpected, 0);
}

}  // namespace

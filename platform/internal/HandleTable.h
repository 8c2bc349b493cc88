// Handle tables: the one mechanism behind every handle the platform hands out.
//
// A handle is an index into a table of slots together with the slot's reuse
// (generation) count and the table's tag; it is never a pointer.  Looking a
// handle up gives a std::shared_ptr to its object, so an object lives until
// the last call using it returns, even when another thread closes its handle
// meanwhile.  A null, closed, stale (its slot reused since), forged or
// wrong-type handle fails the lookup with the table's Windows error and never
// reaches another object.
//
// Three tables, as on Windows:
//   KernelHandles()  HANDLE: files, threads, events, mutexes, processes.
//                    Error ERROR_INVALID_HANDLE.
//   UserHandles()    HWND, HMONITOR, HMENU… Error ERROR_INVALID_WINDOW_HANDLE
//                    (pass ERROR_INVALID_MONITOR_HANDLE… to Lookup for others).
//   GdiHandles()     HDC, HGDIOBJ, HICON… Error ERROR_INVALID_HANDLE (GDI
//                    calls that report ERROR_INVALID_PARAMETER pass it).
// crypt.cpp keeps a fourth, private table for HCERTSTORE on the same
// mechanism, and memory.cpp a fifth for the HGLOBAL of movable blocks.
//
// Handle values.  Bits 28-30 hold the table's tag (kernel 1, USER 2, GDI 3,
// certificate stores 4, global memory 5), so a handle of one table fails in every other.
// Every value fits in 31 bits, so it survives a trip through a DWORD or a
// sign extension, as on Windows.  USER and GDI values hold the index in bits
// 0-13 and the generation in bits 14-27.  Kernel values are multiples of 4
// (index in bits 2-19, generation in bits 20-27) and, as the Windows kernel
// reads handles, only their low 32 bits count (sign-extended) and their two
// low bits are ignored: ULongToHandle(HandleToULong(h) | 1) names the same
// object as h.  No value is null or negative, so the pseudo handles (-1
// GetCurrentProcess, -2 GetCurrentThread; IsCurrentProcessPseudoHandle and
// IsCurrentThreadPseudoHandle read them by their low 32 bits too) never
// collide.  A closed slot goes to the back of a FIFO free list and is reused
// only once `reuseDelay` other slots wait there (256 kernel, 1024 USER and
// GDI), and its generation moves on at every close; an old handle of a reused
// slot therefore fails.  Generations wrap (skipping 0) after 2^8 (kernel) or
// 2^14 (USER, GDI) reuses of one slot.
//
// Quotas: 10,000 live handles for USER and for GDI (then Insert fails with
// ERROR_NOT_ENOUGH_QUOTA, as Windows fails CreateWindow and the GDI creators),
// 2^18 - 1 for kernel handles (ERROR_NO_SYSTEM_RESOURCES beyond; Windows
// allows 2^24 per process).
//
// Using it (inside platform/):
//
//     struct Event final : vplatform::HandleObject {
//         static constexpr vplatform::ObjectType kType = vplatform::ObjectType::Event;
//         ...
//     };
//     HANDLE h = vplatform::KernelHandles().Insert(std::make_shared<Event>(...));
//     if (h == nullptr) return nullptr;                 // last error set
//     auto event = vplatform::KernelHandles().Lookup<Event>(h);
//     if (!event) return FALSE;                         // last error set
//     auto window = vplatform::UserHandles().Lookup<Window>(hwnd);
//     auto waitable = vplatform::KernelHandles().Lookup<Waitable>(h);  // any type deriving from it
//     vplatform::KernelHandles().Close(h);              // CloseHandle
//     auto gone = vplatform::UserHandles().Remove<Window>(hwnd);  // DestroyWindow:
//     if (gone) gone->TearDown();                       // the handle fails from here on
//
// An object's destructor runs on the thread that drops the last reference,
// which may be a thread that merely looked the handle up.  Work that must
// happen on a given thread (an X window's teardown on its owner thread)
// belongs in an explicit step after Remove, not in the destructor.
//
// Threads: every member may be called from any thread at the same time.
// The table's lock is held only to read or change slots: never while an
// object is constructed or destroyed, so destructors may use the tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/internal/PlatformLock.h"

namespace vplatform {

// The kinds of objects behind handles: a slot's type tag.  Add new kinds at
// the end of their group.
enum class ObjectType : std::uint16_t {
    Any = 0,  // matches every kind in a lookup; never the kind of an object
    // Kernel objects (KernelHandles).
    File = 0x100,
    Thread,
    Event,
    Mutex,
    Process,
    ProcessThread,  // the thread handle of a started process
    // Objects of crypt32 (its own table).
    CertStore = 0x200,
    // USER objects (UserHandles: windows, menus, monitors…).
    Window = 0x300,  // windows of the process and, through a backend, of other programs
    // GDI objects (GdiHandles: device contexts, fonts, bitmaps, icons…) from
    // 0x400.
    Dc = 0x400,
    Font,
    Bitmap,
    Brush,
    Pen,
    Region,
    Icon,
    // Every kind stays below kObjectTypeLimit.
    // 0x400.  Every kind stays below kObjectTypeLimit.
    Monitor = 0x340,  // monitors keep their own range of the USER kinds
    // Global memory blocks (GlobalAlloc; a table of their own).
    GlobalMemory = 0x500,
};
constexpr std::size_t kObjectTypeLimit = 0x800;

// Base of every object a handle names.  A concrete kind declares
// `static constexpr ObjectType kType`; Insert records it and Lookup<T>
// compares it, so no cast is guessed.
class VPLATFORM_API HandleObject {
public:
    HandleObject() = default;
    HandleObject(const HandleObject&) = delete;
    HandleObject& operator=(const HandleObject&) = delete;
    virtual ~HandleObject();
};

// A handle value; converts to and from any handle type (HANDLE, HWND,
// HGDIOBJ, HCERTSTORE…).  Null when an Insert failed.
class HandleValue {
public:
    constexpr HandleValue() = default;
    constexpr explicit HandleValue(std::uintptr_t value) : m_value(value) {}
    template <class T>
    HandleValue(T* handle) : m_value(reinterpret_cast<std::uintptr_t>(handle)) {}  // NOLINT: handles convert freely

    template <class T>
    operator T*() const {
        return reinterpret_cast<T*>(m_value);
    }
    constexpr std::uintptr_t Value() const { return m_value; }
    constexpr explicit operator bool() const { return m_value != 0; }

private:
    std::uintptr_t m_value = 0;
};

struct HandleTableConfig {
    unsigned tag;              // 1..7, stored in bits 28-30
    unsigned indexShift;       // low bits that stay zero
    unsigned indexBits;        // slots: at most 2^indexBits - 1
    unsigned generationShift;  // where the generation starts
    unsigned generationBits;
    std::size_t quota;         // live handles at most
    std::size_t reuseDelay;    // free slots waiting before one is reused
    DWORD invalidError;        // a lookup's error for a bad handle
    DWORD quotaError;          // Insert's error beyond the quota
    unsigned ignoredBits = 0;  // low bits a lookup ignores (at most indexShift)
    bool low32Only = false;    // only the low 32 bits count, sign-extended
};

class VPLATFORM_API HandleTable {
public:
    explicit HandleTable(const HandleTableConfig& config);
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // Gives `object` a new handle.  Null with the last error set beyond the
    // quota or when memory runs out (ERROR_NOT_ENOUGH_MEMORY); `object` is
    // then released.
    template <class T>
    HandleValue Insert(std::shared_ptr<T> object) {
        static_assert(std::is_base_of_v<HandleObject, T>, "handles name HandleObjects");
        return InsertObject(std::move(object), T::kType);
    }
    HandleValue InsertObject(std::shared_ptr<HandleObject> object, ObjectType type);

    // The object of `handle` when it is live and of kind T (T with kType), or
    // of a kind deriving from T (an interface such as Waitable).  Null
    // otherwise, with the last error set to `error` (Lookup) or left alone
    // (Find).
    template <class T>
    std::shared_ptr<T> Find(HandleValue handle) const {
        if constexpr (requires { T::kType; }) {
            return std::static_pointer_cast<T>(FindObject(handle, T::kType));
        } else {
            return std::dynamic_pointer_cast<T>(FindObject(handle, ObjectType::Any));
        }
    }
    template <class T>
    std::shared_ptr<T> Lookup(HandleValue handle) const {
        return Lookup<T>(handle, m_config.invalidError);
    }
    template <class T>
    std::shared_ptr<T> Lookup(HandleValue handle, DWORD error) const;

    // Closes `handle` (of any kind with Close, of kind T with Remove<T>).
    // The object is destroyed once the last lookup holding it ends.  Close
    // returns false with the table's error (or `error`) for a bad handle.
    // Remove returns the object (so that the caller may tear it down after
    // the handle is gone), or null, leaving the last error alone.
    bool Close(HandleValue handle) { return Close(handle, m_config.invalidError); }
    bool Close(HandleValue handle, DWORD error);
    template <class T>
    std::shared_ptr<T> Remove(HandleValue handle) {
        return std::static_pointer_cast<T>(RemoveObject(handle, T::kType));
    }

    // True when `handle` has this table's tag (live or not): tells which
    // table a value came from.
    bool Owns(HandleValue handle) const;

    // Live handles: all, of one kind, and the most at any time so far.
    std::size_t Count() const;
    std::size_t Count(ObjectType type) const;
    std::size_t Peak() const;

    DWORD InvalidHandleError() const { return m_config.invalidError; }

private:
    struct Slot {
        std::shared_ptr<HandleObject> object;
        std::uint32_t generation = 1;
        ObjectType type = ObjectType::Any;
    };

    std::shared_ptr<HandleObject> FindObject(HandleValue handle, ObjectType type) const;
    std::shared_ptr<HandleObject> RemoveObject(HandleValue handle, ObjectType type);
    // The slot of a live handle of kind `type` (Any: any kind), or null.
    // With m_mutex held.
    const Slot* LiveSlot(HandleValue handle, ObjectType type, std::uint32_t& index) const;
    static void SetError(DWORD error);
    // The value a lookup reads: the significant bits of `handle`.
    std::uintptr_t Significant(HandleValue handle) const;

    const HandleTableConfig m_config;
    const std::uintptr_t m_fieldMask;  // tag, index and generation bits
    mutable PlatformMutex m_mutex;
    std::vector<Slot> m_slots;
    std::deque<std::uint32_t> m_free;
    std::array<std::size_t, kObjectTypeLimit> m_counts{};
    std::size_t m_live = 0;
    std::size_t m_peak = 0;
};

template <class T>
std::shared_ptr<T> HandleTable::Lookup(HandleValue handle, DWORD error) const {
    auto object = Find<T>(handle);
    if (!object) SetError(error);
    return object;
}

// The three tables of the process; never destroyed (threads may use handles
// during static destruction).
VPLATFORM_API HandleTable& KernelHandles();
VPLATFORM_API HandleTable& UserHandles();
VPLATFORM_API HandleTable& GdiHandles();

// The pseudo handles, valid only in the calling thread and never in a table.
inline const HANDLE kCurrentProcessPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
inline const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
// True for the pseudo handles, read by their low 32 bits as the kernel reads
// handles (a pseudo handle kept in a DWORD still names the process or thread).
inline bool IsCurrentProcessPseudoHandle(HANDLE handle) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle)) == 0xFFFFFFFFu;
}
inline bool IsCurrentThreadPseudoHandle(HANDLE handle) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle)) == 0xFFFFFFFEu;
}

}  // namespace vplatform

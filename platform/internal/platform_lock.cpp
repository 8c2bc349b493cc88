// The per-thread count of platform locks, the wake-ups deferred past the
// last one, and the park hook the kernel installs.
#include "platform/internal/PlatformLock.h"

#include <array>
#include <atomic>
#include <cstddef>

#include "platform/internal/Syscalls.h"

namespace vplatform {
namespace {

// What the suspension signal's handler reads: initial-exec TLS, which a
// handler may touch (no lazy allocation), of trivial types.
#define VPLATFORM_SIGNAL_TLS __attribute__((tls_model("initial-exec"))) thread_local constinit
VPLATFORM_SIGNAL_TLS std::atomic<int> t_platformLocks{0};
VPLATFORM_SIGNAL_TLS std::atomic<bool> t_suspendDeferred{false};
#undef VPLATFORM_SIGNAL_TLS

// Futex words to wake once the thread holds no platform lock.
constexpr int kPendingWakes = 16;
thread_local constinit std::array<const unsigned*, kPendingWakes> t_pendingWakes{};
thread_local constinit int t_pendingWakeCount = 0;

std::atomic<PlatformParkHook> g_parkHook{nullptr};

void FlushWakes() noexcept {
    for (int i = 0; i < t_pendingWakeCount; ++i) Sys().futex_wake(t_pendingWakes[static_cast<std::size_t>(i)], 1);
    t_pendingWakeCount = 0;
}

}  // namespace

void WakeAfterPlatformLocks(const unsigned* word) noexcept {
    if (t_platformLocks.load(std::memory_order_relaxed) == 0 || t_pendingWakeCount == kPendingWakes) {
        Sys().futex_wake(word, 1);
        return;
    }
    t_pendingWakes[static_cast<std::size_t>(t_pendingWakeCount++)] = word;
}

// The count is the calling thread's own: plain loads and stores (no locked
// instructions) suffice, ordered against its signal handler by fences.  The
// handler never changes the count, so a signal between a load and its store
// loses nothing.
void EnterPlatformLock() noexcept {
    t_platformLocks.store(t_platformLocks.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

void LeavePlatformLock() noexcept {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const int held = t_platformLocks.load(std::memory_order_relaxed) - 1;
    // Woken while still counted inside a lock, so that no suspension parks
    // the thread between its last unlock and these wake-ups.
    if (held == 0 && t_pendingWakeCount != 0) FlushWakes();
    t_platformLocks.store(held, std::memory_order_relaxed);
    if (held != 0) return;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (!t_suspendDeferred.load(std::memory_order_relaxed)) return;
    t_suspendDeferred.store(false, std::memory_order_relaxed);
    if (const PlatformParkHook park = g_parkHook.load(std::memory_order_acquire)) park();
}

bool DeferSuspensionInsidePlatformLock() noexcept {
    if (t_platformLocks.load(std::memory_order_relaxed) == 0) return false;
    t_suspendDeferred.store(true, std::memory_order_relaxed);
    return true;
}

void SetPlatformParkHook(PlatformParkHook park) noexcept {
    g_parkHook.store(park, std::memory_order_release);
}

}  // namespace vplatform

// The clipboard: the Win32 opening rules and data blocks over the X11
// CLIPBOARD selection.
#include "platform/user/Clipboard.h"

#include <cstring>
#include <mutex>
#include <string>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/GlobalMemory.h"
#include "platform/x11/internal/Desktop.h"

namespace vplatform {
namespace {

// The process's clipboard state, under one lock.
class ClipboardState {
public:
    std::mutex mutex;
    pid_t opener = 0;  // the thread that has it open
    HWND window = nullptr;
    // The block set by the process and the ownership it went with.
    HGLOBAL setBlock = nullptr;
    std::uint64_t ticket = 0;
    // The block made from another program's text, freed at closing.
    HGLOBAL readBlock = nullptr;

    // With the lock held: frees the set block once the process no longer
    // owns what it set.
    void ForgetLost() {
        if (setBlock != nullptr && !x11::StillOwned(ticket)) Free(setBlock);
    }
    static void Free(HGLOBAL& block) {
        if (block != nullptr) FreeGlobalBlock(block);
        block = nullptr;
    }
};

ClipboardState& State() {
    static auto* state = new ClipboardState;  // never destroyed: blocks outlive static destruction
    return *state;
}

// The units before the first NUL of `text`, at most `capacity` (a block
// without a NUL ends at its end); the library's wide search, several times
// faster than a loop over megabytes of text.
std::size_t LengthUpToNul(const wchar_t* text, std::size_t capacity) {
    const wchar_t* nul = std::char_traits<wchar_t>::find(text, capacity, L'\0');
    return nul != nullptr ? static_cast<std::size_t>(nul - text) : capacity;
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

// True when the calling thread has the clipboard open; with the lock held.
bool OpenedHere(const ClipboardState& state) {
    return state.opener != 0 && state.opener == Sys().gettid();
}

}  // namespace
}  // namespace vplatform

using namespace vplatform;

extern "C" {

BOOL OpenClipboard(HWND hWndNewOwner) {
    // Without a display there is no clipboard to open.
    if (!x11::CurrentLayout()) return FALSE;
    ClipboardState& state = State();
    const std::lock_guard lock(state.mutex);
    const pid_t self = Sys().gettid();
    if (state.opener != 0 && state.opener != self) return Fail(ERROR_ACCESS_DENIED);
    state.opener = self;
    state.window = hWndNewOwner;
    return TRUE;
}

BOOL CloseClipboard() {
    ClipboardState& state = State();
    const std::lock_guard lock(state.mutex);
    if (!OpenedHere(state)) return Fail(ERROR_CLIPBOARD_NOT_OPEN);
    ClipboardState::Free(state.readBlock);
    state.ForgetLost();
    state.opener = 0;
    state.window = nullptr;
    return TRUE;
}

BOOL EmptyClipboard() {
    ClipboardState& state = State();
    const std::lock_guard lock(state.mutex);
    if (!OpenedHere(state)) return Fail(ERROR_CLIPBOARD_NOT_OPEN);
    const std::uint64_t ticket = x11::OwnClipboard(nullptr);
    if (ticket == 0) return FALSE;
    ClipboardState::Free(state.setBlock);
    ClipboardState::Free(state.readBlock);
    state.ticket = ticket;
    return TRUE;
}

HANDLE SetClipboardData(UINT uFormat, HANDLE hMem) {
    ClipboardState& state = State();
    const std::lock_guard lock(state.mutex);
    if (!OpenedHere(state)) {
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return nullptr;
    }
    if (uFormat != CF_UNICODETEXT || hMem == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const auto block = LookupGlobalBlock(hMem);
    if (!block || block->system) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // The text ends at its first NUL or at the end of the block.
    const auto* units = reinterpret_cast<const wchar_t*>(block->Data());
    const std::size_t capacity = block->Size() / sizeof(wchar_t);
    const std::wstring text(units, LengthUpToNul(units, capacity));
    const std::uint64_t ticket = x11::OwnClipboard(&text);
    if (ticket == 0) return nullptr;
    if (state.setBlock != hMem) ClipboardState::Free(state.setBlock);
    ClipboardState::Free(state.readBlock);
    block->system = true;
    state.setBlock = hMem;
    state.ticket = ticket;
    return hMem;
}

HANDLE GetClipboardData(UINT uFormat) {
    ClipboardState& state = State();
    const std::lock_guard lock(state.mutex);
    if (!OpenedHere(state)) {
        SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
        return nullptr;
    }
    if (uFormat != CF_UNICODETEXT) {
        SetLastError(ERROR_NOT_FOUND);
        return nullptr;
    }
    state.ForgetLost();
    if (state.setBlock != nullptr) return state.setBlock;
    WideText text;
    switch (x11::ReadClipboard(text)) {
        case x11::ClipboardRead::Failed:
            return nullptr;
        case x11::ClipboardRead::NoText:
            SetLastError(ERROR_NOT_FOUND);
            return nullptr;
        case x11::ClipboardRead::Text:
            break;
    }
    // The units decoded while the text arrived become the block: no copy.
    std::size_t bytes = 0;
    MallocBytes units = text.Release(bytes);
    if (!units) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const HGLOBAL block = AdoptGlobalBlock(std::move(units), bytes);
    if (block == nullptr) return nullptr;
    LookupGlobalBlock(block)->system = true;
    ClipboardState::Free(state.readBlock);
    state.readBlock = block;
    return block;
}
}

// The clipboard: the Win32 opening rules and data blocks over the display
// driver's clipboard (the X11 CLIPBOARD selection).
#include "platform/user/Clipboard.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/GlobalMemory.h"
#include "platform/nls/CodePage.h"
#include "platform/user/internal/DisplayDriver.h"

namespace vplatform {
namespace {

// The text formats: Unicode text and the two narrow ones Windows makes from
// it (and it from them) in the ANSI and OEM code pages.
constexpr UINT kTextFormats[] = {CF_UNICODETEXT, CF_TEXT, CF_OEMTEXT};

bool IsTextFormat(UINT format) {
    return std::find(std::begin(kTextFormats), std::end(kTextFormats), format) != std::end(kTextFormats);
}

// The blocks of the text formats, by format (null: none).
struct FormatBlocks {
    HGLOBAL blocks[std::size(kTextFormats)] = {};

    HGLOBAL& operator[](UINT format) {
        return blocks[std::find(std::begin(kTextFormats), std::end(kTextFormats), format) - std::begin(kTextFormats)];
    }
    bool Empty() const {
        return std::all_of(std::begin(blocks), std::end(blocks), [](HGLOBAL block) { return block == nullptr; });
    }
    void FreeAll() {
        for (HGLOBAL& block : blocks) {
            if (block != nullptr) FreeGlobalBlock(block);
            block = nullptr;
        }
    }
};

// The process's clipboard state, under one lock.
class ClipboardState {
public:
    std::mutex mutex;
    pid_t opener = 0;  // the thread that has it open
    HWND window = nullptr;
    // The blocks set by the process and the ownership they went with.
    FormatBlocks set;
    std::uint64_t ticket = 0;
    // The blocks made from another program's text or converted from a set
    // block, freed at closing.
    FormatBlocks made;

    // With the lock held: frees the set blocks once the process no longer
    // owns what it set.
    void ForgetLost() {
        if (!set.Empty() && !user::CurrentDisplayDriver()->StillOwned(ticket)) set.FreeAll();
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

// The OEM code page that goes with the ANSI one (UTF-8 with UTF-8, as
// Windows pairs them); the ANSI code page where this build cannot convert
// the OEM one.
UINT OemCodePage() {
    const UINT ansi = GetACP();
    UINT oem = ansi;
    if (ansi == 1250 || ansi == 28592) {
        oem = 852;
    } else if (ansi == 1252 || ansi == 28591 || ansi == 20127) {
        oem = 437;
    }
    return IsValidCodePage(oem) ? oem : ansi;
}

UINT CodePageOf(UINT format) {
    return format == CF_OEMTEXT ? OemCodePage() : GetACP();
}

// The text of a block of `format`: up to its first NUL or the block's end.
bool TextOfBlock(UINT format, const GlobalBlock& block, std::wstring& text) {
    if (format == CF_UNICODETEXT) {
        const auto* units = reinterpret_cast<const wchar_t*>(block.Data());
        text.assign(units, LengthUpToNul(units, block.Size() / sizeof(wchar_t)));
        return true;
    }
    const auto* bytes = reinterpret_cast<const char*>(block.Data());
    const std::size_t length =
        std::char_traits<char>::find(bytes, block.Size(), '\0') != nullptr ? std::strlen(bytes) : block.Size();
    text.clear();
    if (length == 0) return true;
    if (length > INT_MAX) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    const UINT codePage = CodePageOf(format);
    const int units = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), nullptr, 0);
    if (units <= 0) return false;
    text.resize(static_cast<std::size_t>(units));
    return MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(length), text.data(), units) == units;
}

// A new block of `format` holding `text` and a NUL; null with the last error.
HGLOBAL MakeBlock(UINT format, const std::wstring& text) {
    if (text.size() >= INT_MAX) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    int narrow = 0;
    const UINT codePage = CodePageOf(format);
    if (format != CF_UNICODETEXT) {
        narrow = text.empty() ? 0
                              : WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                                    nullptr, nullptr);
        if (narrow < 0 || (narrow == 0 && !text.empty())) return nullptr;
        bytes = static_cast<std::size_t>(narrow) + 1;
    }
    MallocBytes data(static_cast<std::byte*>(std::calloc(1, bytes)));
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (format == CF_UNICODETEXT) {
        std::memcpy(data.get(), text.c_str(), bytes);
    } else if (narrow > 0 &&
               WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                   reinterpret_cast<char*>(data.get()), narrow, nullptr, nullptr) != narrow) {
        return nullptr;
    }
    const HGLOBAL block = AdoptGlobalBlock(std::move(data), bytes);
    if (block != nullptr) LookupGlobalBlock(block)->system = true;
    return block;
}

// The text of the blocks the process set: of the Unicode one if it set one,
// else of a narrow one.  With the lock held; false with the last error.
bool SetText(ClipboardState& state, std::wstring& text) {
    for (const UINT format : kTextFormats) {
        const HGLOBAL handle = state.set[format];
        if (handle == nullptr) continue;
        const auto block = LookupGlobalBlock(handle);
        return block && TextOfBlock(format, *block, text);
    }
    return Fail(ERROR_NOT_FOUND);
}

}  // namespace
}  // namespace vplatform

using namespace vplatform;

extern "C" {

BOOL OpenClipboard(HWND hWndNewOwner) {
    // Without a display there is no clipboard to open.
    if (!user::CurrentDisplayDriver()->CurrentLayout()) return FALSE;
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
    state.made.FreeAll();
    state.ForgetLost();
    state.opener = 0;
    state.window = nullptr;
    return TRUE;
}

BOOL EmptyClipboard() {
    ClipboardState& state = State();
    const std::lock_guard lock(state.mutex);
    if (!OpenedHere(state)) return Fail(ERROR_CLIPBOARD_NOT_OPEN);
    const std::uint64_t ticket = user::CurrentDisplayDriver()->OwnClipboard(nullptr);
    if (ticket == 0) return FALSE;
    state.set.FreeAll();
    state.made.FreeAll();
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
    if (!IsTextFormat(uFormat) || hMem == nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    const auto block = LookupGlobalBlock(hMem);
    if (!block || block->system) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    state.ForgetLost();
    // The clipboard offers one text: the Unicode one when the process set
    // one, else this format's.
    std::wstring text;
    if (uFormat == CF_UNICODETEXT || state.set[CF_UNICODETEXT] == nullptr) {
        if (!TextOfBlock(uFormat, *block, text)) return nullptr;
    } else if (!SetText(state, text)) {
        return nullptr;
    }
    const std::uint64_t ticket = user::CurrentDisplayDriver()->OwnClipboard(&text);
    if (ticket == 0) return nullptr;
    HGLOBAL& slot = state.set[uFormat];
    if (slot != nullptr) FreeGlobalBlock(slot);
    state.made.FreeAll();
    block->system = true;
    slot = hMem;
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
    if (!IsTextFormat(uFormat)) {
        SetLastError(ERROR_NOT_FOUND);
        return nullptr;
    }
    state.ForgetLost();
    if (state.set[uFormat] != nullptr) return state.set[uFormat];
    if (state.made[uFormat] != nullptr) return state.made[uFormat];
    std::wstring converted;
    if (!state.set.Empty()) {
        // Another format the process set, converted.
        if (!SetText(state, converted)) return nullptr;
    } else {
        WideText text;
        switch (user::CurrentDisplayDriver()->ReadClipboard(text)) {
            case user::ClipboardRead::Failed:
                return nullptr;
            case user::ClipboardRead::NoText:
                SetLastError(ERROR_NOT_FOUND);
                return nullptr;
            case user::ClipboardRead::Text:
                break;
        }
        if (uFormat == CF_UNICODETEXT) {
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
            return state.made[uFormat] = block;
        }
        converted.assign(text.Data(), text.Size());
    }
    const HGLOBAL block = MakeBlock(uFormat, converted);
    if (block == nullptr) return nullptr;
    return state.made[uFormat] = block;
}
}

#include "system/Clipboard.h"

#include <cstring>
#include <string>

#include "platform/kernel/Memory.h"
#include "platform/user/Clipboard.h"

namespace VTools::Clipboard {
namespace {

// The units before the first NUL of `text`, at most `capacity` (a block
// without a NUL ends at its end); the library's wide search, several times
// faster than a loop over megabytes of text.
std::size_t LengthUpToNul(const wchar_t* text, std::size_t capacity) {
    const wchar_t* nul = std::char_traits<wchar_t>::find(text, capacity, L'\0');
    return nul != nullptr ? static_cast<std::size_t>(nul - text) : capacity;
}

// Closes the clipboard when the call leaves.
class OpenedClipboard {
public:
    explicit OpenedClipboard(HWND window) : m_open(OpenClipboard(window) != FALSE) {}
    ~OpenedClipboard() {
        if (m_open) CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    bool IsOpen() const { return m_open; }

private:
    bool m_open;
};

}  // namespace

std::optional<std::wstring> GetClipboardString(HWND window) {
    const OpenedClipboard clipboard(window);
    if (!clipboard.IsOpen()) return std::nullopt;
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data == nullptr) return std::nullopt;
    const auto* text = static_cast<const wchar_t*>(GlobalLock(data));
    if (text == nullptr) return std::nullopt;
    // Up to the first NUL, but never past the block: a block without one
    // ends the text at its end.
    const std::size_t capacity = GlobalSize(data) / sizeof(wchar_t);
    std::wstring result(text, LengthUpToNul(text, capacity));
    GlobalUnlock(data);
    return result;
}

bool CopyStringToClipboard(HWND window, std::wstring_view text) {
    const OpenedClipboard clipboard(window);
    if (text.empty()) return clipboard.IsOpen() && ::EmptyClipboard() != FALSE;
    if (!clipboard.IsOpen()) return false;
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    if (block == nullptr) return false;
    auto* units = static_cast<wchar_t*>(GlobalLock(block));
    if (units == nullptr) {
        GlobalFree(block);
        return false;
    }
    std::memcpy(units, text.data(), text.size() * sizeof(wchar_t));
    units[text.size()] = L'\0';
    const bool taken = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    GlobalUnlock(block);
    // A block the clipboard did not take is still ours.
    if (!taken) GlobalFree(block);
    return taken;
}

bool EmptyClipboard(HWND window) {
    const OpenedClipboard clipboard(window);
    return clipboard.IsOpen() && ::EmptyClipboard() != FALSE;
}

}  // namespace VTools::Clipboard

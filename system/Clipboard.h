// Plain Unicode text on the system clipboard, on behalf of a window (a null
// HWND opens the clipboard for the calling task).
//
// Each function opens the clipboard for the length of one call and closes it
// on every path; it fails at once (no retry) while another task of the
// process holds it open.  Failures show only in the result: an empty
// optional or false.
//
// Threads: any thread; the clipboard is held only during one call.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "VLibExport.h"
#include "platform/WinTypes.h"

namespace VTools::Clipboard {

// The clipboard's Unicode text up to its first NUL (and never past the end
// of the clipboard's block); empty (no value) when the clipboard cannot be
// opened or holds no Unicode text.  An empty text is a value.
VLIB_API std::optional<std::wstring> GetClipboardString(HWND window);

// Puts `text` on the clipboard (without emptying it first).  An empty text
// empties the clipboard instead and reports whether that worked.  The block
// is freed when the clipboard does not take it.
VLIB_API bool CopyStringToClipboard(HWND window, std::wstring_view text);

// Empties the clipboard; whether it worked.
VLIB_API bool EmptyClipboard(HWND window);

}  // namespace VTools::Clipboard

// The clipboard under its Win32 names: OpenClipboard, CloseClipboard,
// EmptyClipboard, SetClipboardData, GetClipboardData, for text
// (CF_UNICODETEXT, CF_TEXT, CF_OEMTEXT).
//
// The clipboard is the X server's CLIPBOARD selection.  While the process
// owns it, a thread of the platform serves it to other programs (as
// UTF8_STRING, STRING, TEXT and text/plain;charset=utf-8, with INCR
// transfers for large texts); text of other owners is read as UTF8_STRING,
// else STRING.  No wait is unbounded: an owner that does not answer within a
// second (or stops for a second in the middle of a transfer) gives
// ERROR_TIMEOUT.  When the process ends owning text, the text passes to the
// clipboard manager (SAVE_TARGETS) or, without one, to a small keeper
// program installed with the library, which serves it until another program
// takes the clipboard; this takes at most a second at exit.
//
// Opening.  One task of the process has the clipboard open at a time: the
// thread that opened it; OpenClipboard by another thread fails at once with
// ERROR_ACCESS_DENIED.  The window given to OpenClipboard (null: the calling
// task) is recorded, not checked.  Other programs are not held off while it
// is open (X has no such lock).
//
// Data.  CF_UNICODETEXT data is a global memory block (GlobalAlloc, movable
// or fixed) of UTF-16 units in wchar_t with a terminating NUL: its size is
// (length + 1) × sizeof(wchar_t) bytes.  CF_TEXT data is the text in the
// ANSI code page (GetACP), CF_OEMTEXT in the OEM code page, each byte string
// with a NUL.  As on Windows, each of the three formats is made from the
// others on request: the text set in one reads in the other two (a character
// the narrow code page lacks becomes '?').  The OEM code page is the one
// Windows pairs with the ANSI one (437 with 1252, 852 with 1250, UTF-8 with
// UTF-8); where this build cannot convert it, the ANSI code page stands in.
// Other programs see one text (as UTF-8 and their other text targets): the
// CF_UNICODETEXT one when the process set it, else the narrow one set.
// SetClipboardData takes the block: it belongs to the clipboard until the
// contents change (the process empties or sets the clipboard again, or
// another program takes it), when the platform frees it; GlobalFree refuses
// it meanwhile.  Setting a format again frees its previous block.  The
// blocks that GetClipboardData makes (another program's text, or a format
// converted from the one set) belong to the clipboard too, stay the same
// while the clipboard is open and are freed at CloseClipboard.  Other
// formats are not supported.  Setting text without emptying first replaces
// what the process owned; another program's data does not stay beside it.
//
// Without a display every function fails with
// ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
//
// Threads: any thread may open the clipboard; the other functions act for
// the thread that has it open.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Memory.h"

constexpr UINT CF_TEXT = 1;
constexpr UINT CF_BITMAP = 2;
constexpr UINT CF_OEMTEXT = 7;
constexpr UINT CF_DIB = 8;
constexpr UINT CF_UNICODETEXT = 13;

extern "C" {

// Opens the clipboard for the calling thread (again: TRUE).  FALSE with
// ERROR_ACCESS_DENIED while another thread of the process has it open.
VPLATFORM_API BOOL OpenClipboard(HWND hWndNewOwner);

// Closes it, freeing the blocks GetClipboardData made.
// FALSE with ERROR_CLIPBOARD_NOT_OPEN when the calling thread has not opened it.
VPLATFORM_API BOOL CloseClipboard();

// Empties the clipboard: the process owns it with no data (other programs
// see no text).  Frees the blocks the process had set.  FALSE with
// ERROR_CLIPBOARD_NOT_OPEN, or the failure of taking the selection.
VPLATFORM_API BOOL EmptyClipboard();

// Puts the text of `hMem` (a CF_UNICODETEXT, CF_TEXT or CF_OEMTEXT block;
// the text ends at its first NUL or at the block's end) on the clipboard and
// takes the block.  Returns `hMem`, or null with the last error:
// ERROR_CLIPBOARD_NOT_OPEN, ERROR_NOT_SUPPORTED for another format or a null
// block (delayed rendering), ERROR_INVALID_HANDLE for a bad block, the
// conversion's error for narrow text that does not convert, or the failure
// of taking the selection.  On failure the block stays the caller's.
VPLATFORM_API HANDLE SetClipboardData(UINT uFormat, HANDLE hMem);

// The block of the clipboard's text in `uFormat` (CF_UNICODETEXT, CF_TEXT or
// CF_OEMTEXT, converted when the text came in another); do not free it.
// Null with the last error: ERROR_CLIPBOARD_NOT_OPEN, ERROR_NOT_FOUND when
// the clipboard holds no text (or for another format), ERROR_TIMEOUT when
// the owner did not answer.
VPLATFORM_API HANDLE GetClipboardData(UINT uFormat);
}

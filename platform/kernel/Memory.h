// Local memory blocks: LocalAlloc / LocalFree, the allocator of buffers that
// platform functions hand to their caller (FormatMessage with
// FORMAT_MESSAGE_ALLOCATE_BUFFER, GetThreadDescription…).  Global memory
// blocks: GlobalAlloc / GlobalLock / GlobalUnlock / GlobalSize / GlobalFree,
// the movable blocks that carry clipboard data (see the end of this header).
//
// Only fixed blocks exist: the HLOCAL is the address of the block, aligned as
// malloc aligns.  The platform keeps a table of the live blocks, so LocalFree
// recognises a pointer it did not hand out (or one already freed) and refuses
// it instead of corrupting the heap.
//
// These are not slots of the handle tables (platform/internal/HandleTable.h):
// Windows defines a fixed block's HLOCAL as the block's address, and callers
// use it as a pointer (LPWSTR from FormatMessage, GetThreadDescription), so
// it cannot be an index.  The registry of live blocks gives what the handle
// tables give for the freeing side: a stale or foreign value fails with
// ERROR_INVALID_HANDLE.  Writing through a freed block's pointer stays the
// caller's fault, as on Windows.
//
// Threads: any thread may allocate, size and free; a block may be freed on
// another thread than the one that allocated it.  Using a block while another
// thread frees it is the caller's fault, as on Windows.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;
constexpr UINT LPTR = LMEM_FIXED | LMEM_ZEROINIT;

extern "C" {

// Allocates `uBytes` bytes (0 gives a valid, distinct block), zero-filled with
// LMEM_ZEROINIT.  Returns null with ERROR_INVALID_PARAMETER for any other flag
// (movable blocks are not supported) or ERROR_NOT_ENOUGH_MEMORY when the
// memory is exhausted.
VPLATFORM_API HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);

// Frees a block from LocalAlloc.  Returns null on success (also for a null
// `hMem`, which does nothing).  For a pointer that is not a live block from
// LocalAlloc returns `hMem` unchanged with ERROR_INVALID_HANDLE.
VPLATFORM_API HLOCAL LocalFree(HLOCAL hMem);

// The size requested for a live block, or 0 with ERROR_INVALID_HANDLE.
VPLATFORM_API SIZE_T LocalSize(HLOCAL hMem);
}

// Global memory blocks, movable and fixed.  A movable block's HGLOBAL is a
// handle of a table of its own (never an address, never null or negative; a
// freed or forged handle fails with ERROR_INVALID_HANDLE and never reaches
// another block), and GlobalLock gives the block's address, which stays the
// same for the block's life.  A fixed block's HGLOBAL is its address, as on
// Windows: GlobalLock gives it back, and the platform keeps a registry of the
// live fixed blocks, so a freed or forged pointer fails with
// ERROR_INVALID_HANDLE instead of reaching the heap.  A block handed to the
// clipboard (SetClipboardData) belongs to the clipboard until the
// clipboard's contents change: GlobalFree refuses it meanwhile.
// Threads: any thread; a block may be locked by several threads at once.
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_SHARE = 0x2000;
constexpr UINT GMEM_DDESHARE = GMEM_SHARE;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;
constexpr DWORD ERROR_NOT_LOCKED = 158;

extern "C" {

// A new block of `dwBytes` bytes (0 gives a valid, empty block): movable with
// GMEM_MOVEABLE, else fixed (the handle is the address); zero-filled with
// GMEM_ZEROINIT; GMEM_SHARE is accepted and ignored.  Null with
// ERROR_INVALID_PARAMETER for another flag, ERROR_NOT_ENOUGH_MEMORY when the
// memory is exhausted.
VPLATFORM_API HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);

// The address of the block, a movable block's lock count raised by one (a
// fixed block has none: its address is `hMem`).  Null with
// ERROR_INVALID_HANDLE for a bad handle.
VPLATFORM_API LPVOID GlobalLock(HGLOBAL hMem);

// Lowers the lock count.  TRUE while the block stays locked, and always for a
// fixed block; FALSE with the last error ERROR_SUCCESS when the count reaches
// 0, ERROR_NOT_LOCKED when it was 0 already, ERROR_INVALID_HANDLE for a bad
// handle.
VPLATFORM_API BOOL GlobalUnlock(HGLOBAL hMem);

// The size given to GlobalAlloc, or 0 with ERROR_INVALID_HANDLE.
VPLATFORM_API SIZE_T GlobalSize(HGLOBAL hMem);

// Frees the block.  Null on success (also for a null `hMem`); `hMem` with
// ERROR_INVALID_HANDLE for a bad handle, a freed fixed block or a block that
// belongs to the clipboard.
VPLATFORM_API HGLOBAL GlobalFree(HGLOBAL hMem);

// The handle of the block at `pMem` (the address GlobalLock gave): a movable
// block's handle, a fixed block's address.  Null with ERROR_INVALID_HANDLE
// for any other pointer.
VPLATFORM_API HGLOBAL GlobalHandle(LPCVOID pMem);
}

// Local memory blocks: LocalAlloc / LocalFree, the allocator of buffers that
// platform functions hand to their caller (FormatMessage with
// FORMAT_MESSAGE_ALLOCATE_BUFFER, GetThreadDescription…).
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
#include "platform/WinTypes.h"
#include "platform/kernel/WinError.h"

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

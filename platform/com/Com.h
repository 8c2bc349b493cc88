// COM task memory and GUID text: CoTaskMemAlloc / CoTaskMemFree, the
// allocator of strings that shell functions hand to their caller
// (SHGetKnownFolderPath), and StringFromGUID2.
//
// Task memory is plain malloc'ed memory; CoTaskMemFree of null does nothing.
//
// Threads: every function may be called from any thread; a block may be freed
// by another thread than the one that allocated it.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

using REFGUID = const GUID&;
using LPOLESTR = wchar_t*;

extern "C" {

// Allocates `cb` bytes (0 gives a valid, distinct block); null when the
// memory is exhausted.
VPLATFORM_API void* CoTaskMemAlloc(SIZE_T cb);

// Frees a block from CoTaskMemAlloc (or from a function documented to return
// task memory).  Null does nothing.
VPLATFORM_API void CoTaskMemFree(void* pv);

// Writes the GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper-case
// hexadecimal) and a terminating NUL into `lpsz`.  Returns the number of
// characters written including the NUL (39), or 0 when `cchMax` is below 39 or
// `lpsz` is null (nothing is written then).
VPLATFORM_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
}

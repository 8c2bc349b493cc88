// Shell light-weight utilities: SHCreateMemStream, a stream over memory.
//
// The stream holds its own copy of the data (at most 4 GiB - 1 bytes) and a
// position.  Read gives up to the bytes asked for (S_OK, fewer at the end);
// Write at or past the end grows the stream, filling a gap with zeros; Seek
// may go past the end but not before the start (STG_E_INVALIDFUNCTION);
// SetSize cuts or zero-extends; CopyTo reads here and writes there; Stat
// gives STGTY_STREAM, the size and no name; Clone gives a new stream with a
// copy of the data at the same position; Commit does nothing; Revert,
// LockRegion and UnlockRegion give E_NOTIMPL.  Null output pointers where
// one is required give STG_E_INVALIDPOINTER; memory that cannot grow gives
// STG_E_MEDIUMFULL.
//
// Threads: one stream may be used from several threads at once; each call
// is atomic (the position is shared, as on Windows).
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/com/ObjIdl.h"

extern "C" {

// A new stream holding a copy of `cbInit` bytes from `pInit` (none when
// `pInit` is null), positioned at its start, with one reference.  Null when
// the memory cannot be allocated.
VPLATFORM_API IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit);
}

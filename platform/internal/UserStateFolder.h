// The private fallback folder for state the user's processes share (named
// kernel objects, the registered-message table) when neither
// $XDG_RUNTIME_DIR nor the fixed name under /tmp can be used.
//
// The fixed names under /tmp (vlib-<uid>, vlibincludes-objects-<uid>) can be
// taken by another user who makes them first.  The fallback cannot: it is a
// folder made with mkdtemp(3) (a random name, mode 0700) in $TMPDIR or /tmp,
// whose path is recorded in the file
// "$XDG_CACHE_HOME/vlibincludes/state-folder" (else under "$HOME/.cache", else
// under the home folder of the user database), which is read and written
// under an exclusive flock(2), so that every process of the user finds the
// same folder.  A recorded folder that is gone or is no longer the user's
// own, closed to others, is replaced by a new one.  The record's folders
// must belong to the user and be closed to writes by others.
#pragma once

#include <sys/types.h>

#include <string>

namespace vplatform {

// The fallback folder of the user `uid` (the caller's real or effective id)
// in `path`; false with errno set when there is none (no usable cache
// folder, no record, no temporary folder).
bool UserStateFallbackFolder(uid_t uid, std::string& path);

// True when `path` names (without following a link) a folder of the user
// `uid` that others can neither read, write nor enter.
bool PrivateFolderOf(const std::string& path, uid_t uid);

}  // namespace vplatform

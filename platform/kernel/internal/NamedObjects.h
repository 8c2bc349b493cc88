// Names of kernel objects shared between processes: a lock file per name.
//
// A named object of this process holds its name's lock file open with a
// shared flock(2) lock for as long as the object lives.  The lock belongs to
// the open file (not to the process, not to a thread), the descriptor is
// close-on-exec (a started program does not inherit it), and the kernel drops
// the lock when the process ends in any way, SIGKILL included.  Whether a
// name "exists" is whether any open file holds its lock: the test takes an
// exclusive lock without waiting, which succeeds only when nobody holds it.
// Tests and conversions run under an exclusive lock on the folder's guard
// file, so that two processes never both see a name as new.
//
// The files live in $XDG_RUNTIME_DIR/vlibincludes-objects, or, without a
// usable runtime folder, in /tmp/vlibincludes-objects-<uid>, or, when another
// user has taken that name, in the vlibincludes-objects folder of the user's
// private fallback folder (internal/UserStateFolder.h); each folder is
// created with mode 0700 and used only when it is a real folder owned by the
// user and closed to others.  Files are never removed (a removed file
// could be locked by one process and recreated by another); the runtime
// folder is emptied when the user's last session ends.
//
// The first byte of a file tells the kind of the object that holds the name
// ('M' a mutex, 'E' an event; an empty file is a mutex's): the creator of a
// name (the first holder) writes the kind and the object's initial state
// under the guard, and an opener of a name held by another kind fails.
//
// A name maps to its file name injectively: every UTF-16 unit but ASCII
// letters, digits, '_' and '-' becomes "%XXXX" (four hex digits); the result
// is cut into pieces of 200 characters, all but the last folders ("<piece>.d"),
// the last the file ("<piece>.lock").
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vplatform {

class NamedLock {
public:
    // Opens and locks the file of `name` (a non-empty object name without a
    // namespace prefix).  `existed` tells whether another open file held it.
    // A new name's file gets `initial` (the kind's byte first) at its start;
    // an existing name's file must be of that kind.  Null with the last error
    // set when the folder or the file cannot be used, ERROR_INVALID_HANDLE
    // when the name is held by another kind, ERROR_FILE_NOT_FOUND when
    // `openOnly` and nobody holds the name.
    static std::unique_ptr<NamedLock> Acquire(std::wstring_view name, std::string_view initial, bool openOnly,
                                              bool& existed);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // The open lock file (read and write).
    int Fd() const { return m_fd; }

private:
    explicit NamedLock(int fd) : m_fd(fd) {}
    int m_fd;
};

// The path of `name`'s lock file below the objects' folder.
std::string LockFilePathOf(std::wstring_view name);

}  // namespace vplatform

// Replacing a file's whole content without ever leaving it half-written: the
// service behind the saves of settings and JSON files.
//
// The bytes go into a temporary file in the folder of the file that gets
// them; Commit flushes it to the disk and renames it over that file (the
// rename flushed too, MoveFileExW with MOVEFILE_WRITE_THROUGH), so the file
// is either the previous one or the whole new content, also when the process
// dies on the way.  The file that comes back is the same file:
//   - an existing file keeps its permissions and, where the process may set
//     them, its owner and group (a new file gets the permissions of a new
//     file);
//   - when the path is a symbolic link (or a chain of them), the link stays
//     and the file it points to gets the content, its temporary file written
//     beside it; in a sticky folder that everyone may write (/tmp) a link is
//     followed only when it belongs to the process's user or to the folder's
//     owner, the kernel's own rule there, and another user's link fails with
//     ERROR_ACCESS_DENIED, so that it cannot point the save at the user's
//     files;
//   - a read-only file (its owner lacks write permission, the
//     FILE_ATTRIBUTE_READONLY of GetFileAttributesW) or one the process may
//     not write fails with ERROR_ACCESS_DENIED, as writing it in place would,
//     and a folder fails with ERROR_ACCESS_DENIED; the file stays as it was;
//   - where the folder cannot take a temporary file (no permission to create
//     one, a full folder table, a name too long for the file system), the
//     content is written in place instead, as a plain overwrite would write
//     it: truncated at Open, so a failure then leaves it partly written.
//     Files that are not regular files (a device) are written in place too.
// Temporary names are short (".<8 hex digits>~<16 hex digits>.tmp", the
// first digits a hash of the file's name, the others random), so a name near
// the file system's limit still gets one, and no other user can compute them
// beforehand to occupy them.  A temporary file left by a save that was killed
// is removed by the next save of the same file (found by its prefix in a
// listing of the folder); one whose save is still under way (in this or
// another process) is not touched: a writer holds a lock on its temporary file
// until it is done.
//
// Paths take the platform's file-system form (FileSystemPath.h).  Methods
// return ERROR_SUCCESS or the Windows error code of the step that failed
// (also set as the last error); after a failure every later call returns that
// error again.  Throws only std::bad_alloc.  One writer is used by one thread
// at a time; writers of different files, or of one file, may run at once in
// any threads and processes (saves of one file then replace each other in
// turn).
#pragma once

#include <string>
#include <string_view>

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"

namespace vplatform {

class VPLATFORM_API ReplacingFileWriter {
public:
    ReplacingFileWriter() = default;
    // Without a successful Commit: removes the temporary file (a file written
    // in place keeps what was written).
    ~ReplacingFileWriter();
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    // Prepares the replacement of `path`: removes temporary files of earlier
    // saves that were killed, then creates this one's temporary file (or
    // opens the file for writing in place).  Fails with ERROR_PATH_NOT_FOUND
    // for an empty path or a missing folder, ERROR_INVALID_NAME for a path
    // without a file-system form, ERROR_ACCESS_DENIED (read-only file,
    // folder, no permission, another user's link in a sticky folder),
    // ERROR_CANT_RESOLVE_FILENAME for a loop of links, ERROR_FILE_EXISTS when 16 random temporary names were all in
    // use, ERROR_INVALID_FUNCTION when already open.
    DWORD Open(std::wstring_view path);
    // Appends bytes.  ERROR_DISK_FULL, ERROR_WRITE_FAULT…; ERROR_INVALID_HANDLE
    // before Open.  A failed write removes the temporary file.
    DWORD Write(std::string_view bytes);
    // Flushes the content to the disk and puts it in place.  ERROR_WRITE_FAULT,
    // ERROR_DISK_FULL, ERROR_SHARING_VIOLATION when a handle of this process
    // holds the file open without FILE_SHARE_DELETE, or the rename's failure;
    // the file is then as it was (written in place: as far as it was written).
    DWORD Commit();

private:
    DWORD Fail(DWORD error);
    void Abandon() noexcept;

    std::string m_temporary;  // file-system form; empty when writing in place
    std::wstring m_temporaryWide;
    std::wstring m_targetWide;  // the file that gets the content
    int m_fd = -1;
    DWORD m_error = ERROR_SUCCESS;
};

// Writes `bytes` as the whole new content of the file `path` with a
// ReplacingFileWriter.  Returns ERROR_SUCCESS or the failing step's code (also
// the last error).
VPLATFORM_API DWORD ReplaceFileContent(std::wstring_view path, std::string_view bytes);

}  // namespace vplatform

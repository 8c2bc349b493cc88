// File helpers shared by the subsystems that write files: the narrow
// file-system form of a wide path, and the write-then-rename replacement of a
// file's content, in one piece or streamed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"
#include "platform/kernel/WinError.h"

namespace VTools::FileSystemInternal {

// The path as this platform's file system names it: UTF-8, every '\\' turned
// into '/' (the form the platform's wide file functions use).  Nothing for an
// empty path or one holding a lone surrogate, which name no file.
std::optional<std::string> FileSystemPath(std::wstring_view path);

// Replaces a file's content without ever leaving it half-written: the bytes
// go into a new temporary file in the same folder, which Commit flushes to the
// disk and renames over the target (the rename itself flushed).  Until Commit
// succeeds the target is as it was; a writer destroyed without a successful
// Commit removes its temporary file.  Methods return ERROR_SUCCESS or the
// Windows error code of the step that failed; after a failure every later call
// returns that error again.  Throws only std::bad_alloc.
class ReplacingFileWriter {
public:
    ReplacingFileWriter() = default;
    ~ReplacingFileWriter();
    ReplacingFileWriter(const ReplacingFileWriter&) = delete;
    ReplacingFileWriter& operator=(const ReplacingFileWriter&) = delete;

    // Creates the temporary file beside `path`.
    DWORD Open(std::wstring_view path);
    // Appends bytes to the temporary file.
    DWORD Write(std::string_view bytes);
    // Flushes, closes and renames the temporary file over the target.
    DWORD Commit();

private:
    void Abandon();

    std::wstring m_target;
    std::wstring m_temporary;
    HANDLE m_file = nullptr;
    DWORD m_error = ERROR_SUCCESS;
    bool m_open = false;
};

// Writes `bytes` as the whole new content of the file `path` with a
// ReplacingFileWriter.  Returns ERROR_SUCCESS or the failing step's code.
DWORD ReplaceFileContent(std::wstring_view path, std::string_view bytes);

}  // namespace VTools::FileSystemInternal

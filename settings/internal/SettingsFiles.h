// File helpers of the settings files: the narrow form of a path and the
// replace-by-rename writer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace VTools::SettingsInternal {

// The path as this platform's file system names it: UTF-8, every '\\' turned
// into '/' (the form the platform's wide file functions use).  Nothing for an
// empty path or one holding a lone surrogate, which name no file.
std::optional<std::string> FileSystemPath(std::wstring_view path);

// Writes `bytes` as the whole new content of the file `path`: into a new
// temporary file in the same folder, flushed to the disk, then renamed over
// `path` with the rename itself flushed.  Returns ERROR_SUCCESS, or the
// Windows error code of the step that failed; on failure the previous file is
// as it was and the temporary file is removed.  Throws only std::bad_alloc.
DWORD ReplaceFileContent(std::wstring_view path, std::string_view bytes);

}  // namespace VTools::SettingsInternal

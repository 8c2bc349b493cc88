// The one rule by which a wide Windows-form path names a file of this file
// system, and its reverse.  The file functions of the platform (CreateFileW,
// MoveFileExW…) use it for every path they take, and code that reaches files
// by other means (the standard library's file-system facility, a listing)
// uses it too, so that one wide path always names the same file.
//
// The file-system form is UTF-8 (WideCharToMultiByte with CP_UTF8), with every
// '\\' turned into '/'; nothing else is translated (a drive prefix such as
// "C:" is part of a relative name).  A path that holds a lone surrogate, a
// unit above U+10FFFF or a NUL has no such form: UTF-8 cannot spell it, and
// a C-string path would end at the NUL.
//
// Both functions may be called from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

namespace vplatform {

// Stores the file-system form of `path` in `out`.  FALSE, with `out` left as
// it was, and the last error ERROR_PATH_NOT_FOUND for an empty path or
// ERROR_INVALID_NAME for a path without a UTF-8 form.  Throws only
// std::bad_alloc.
VPLATFORM_API BOOL ToFileSystemPath(std::wstring_view path, std::string& out);

// Stores the wide form of a file-system path (a name from a listing, a link's
// target) in `out`: its UTF-8 read as UTF-16, '/' kept.  FALSE, with `out`
// left as it was, and ERROR_INVALID_NAME when the bytes are not UTF-8: such a
// name has no wide form that ToFileSystemPath would turn back into it.  An
// empty path gives an empty result.  Throws only std::bad_alloc.
VPLATFORM_API BOOL FromFileSystemPath(std::string_view path, std::wstring& out);

}  // namespace vplatform

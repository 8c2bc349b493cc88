// Path and file utilities: taking Windows-form paths apart, the folder and
// name of a loaded module, existence tests, creating, copying, moving and
// removing files and folders, folder listings and the user's known folders.
//
// Paths are wide strings (UTF-16) in Windows form.  Taking a path apart
// follows the Windows rules on every platform: both `\` and `/` separate
// elements, a drive ("C:") or UNC root ("\\server\share") is the root name,
// and an alternate-stream suffix (":name" after the file name) is never part
// of the extension.  Where a wide path reaches the file system it is
// converted by the platform's one rule (vplatform::ToFileSystemPath: UTF-8,
// every `\` turned into `/`), so it names the file that CreateFileW would
// open; a path without that form (a lone surrogate) names no file.  Where these
// functions join elements they insert this platform's separator (`/` on
// Linux).
//
// Each function has a fixed way of failing, stated at its declaration: a
// result (false, empty, 0), an entry in the process log, or a thrown
// std::filesystem::filesystem_error.
//
// Threads: every function may be called from any thread; calls on distinct
// paths are independent.  Calls racing on one path (one removes while another
// copies) fail or succeed as the file system decides, each by its stated way.
// The known-folder functions read the environment, which must not change
// meanwhile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "VLibExport.h"
#include "platform/WinTypes.h"

namespace VTools::Path {

// --- Decomposition: pure text work, never touches the disk, never fails. ---

// The last element of `path` (after the last separator, or after the root
// name when there is none); with `withExtension` false, that element without
// its extension and stream suffix.  "C:\Data\" gives "".
VLIB_API std::wstring GetFileName(std::wstring_view path, bool withExtension);

// `path` without its last element and the separators before it; a root keeps
// its separator ("C:\report.txt" gives "C:\").
VLIB_API std::wstring GetFileFolder(std::wstring_view path);

// The extension of the last element with its dot (".txt"), or "".  A leading
// dot does not start an extension, "." and ".." have none, a stream suffix is
// never part of it.
VLIB_API std::wstring GetExtension(std::wstring_view path);

// The whole path without the extension (and stream suffix) of its last element.
VLIB_API std::wstring RemoveExtension(std::wstring_view path);

// --- Module paths: empty when the module's file name cannot be read (an
// unknown handle).  The whole name is read however long it is. ---

// The folder of the module's file (null: the executable of the process), as
// GetFileFolder gives it.
VLIB_API std::wstring GetModulePath(HINSTANCE module);
// The module's file name, with or without its extension.
VLIB_API std::wstring GetModuleName(HINSTANCE module, bool withExtension);

// --- Existence tests (links followed).  A missing path (or one running
// through a file) is false without a log entry; any other status error (a
// link loop, a refused permission, a wide path with a lone surrogate, which
// names no file...) is false with one log entry.  They never throw.  A wide
// path reaches the file system in the platform's form
// (vplatform::ToFileSystemPath); a path value is taken as it is, with a `\`
// separating elements as '/' does.  Every wide form (a string, a view, a C
// string, CString) takes the wide overload; a narrow string or a path value
// takes the path-value one. ---
VLIB_API bool DirectoryExist(std::wstring_view path);
VLIB_API bool DirectoryExist(std::filesystem::path path);
VLIB_API bool FileExist(std::wstring_view path);
VLIB_API bool FileExist(std::filesystem::path path);

// --- Changing the disk. ---

// Creates the directory and its missing parents.  True when the directory
// exists afterwards; false (and two log entries on an error) otherwise,
// including when a file holds the name.  Never throws.  Paths as for the
// existence tests.
VLIB_API bool CreateDirectoryIfNotExist(std::wstring_view path);
VLIB_API bool CreateDirectoryIfNotExist(std::filesystem::path path);

namespace internal {
// Any wide text as a view; a null C string as an empty one.
template <class Wide>
std::wstring_view WideView(const Wide& path) {
    if constexpr (std::is_pointer_v<Wide>) {
        if (path == nullptr) return {};
    }
    return std::wstring_view(path);
}
template <class Wide>
using IfWide = std::enable_if_t<std::is_convertible_v<const Wide&, std::wstring_view>, int>;
}  // namespace internal

// The wide forms that are not a view themselves (which would otherwise be
// taken as a path value, through the C locale).
template <class Wide, internal::IfWide<Wide> = 0>
bool DirectoryExist(const Wide& path) {
    return DirectoryExist(internal::WideView(path));
}
template <class Wide, internal::IfWide<Wide> = 0>
bool FileExist(const Wide& path) {
    return FileExist(internal::WideView(path));
}
template <class Wide, internal::IfWide<Wide> = 0>
bool CreateDirectoryIfNotExist(const Wide& path) {
    return CreateDirectoryIfNotExist(internal::WideView(path));
}

// Removes a file or a whole folder tree.  True (with one "Usuwanie: " log
// entry) when something was removed; false without an entry when nothing
// existed; false with one entry on an error (what was removed stays removed).
VLIB_API bool RemovePath(std::wstring_view path);

// Renames `from` to `to` (MoveFileExW with MOVEFILE_REPLACE_EXISTING and
// MOVEFILE_COPY_ALLOWED), replacing an existing file and copying across file
// systems.  Throws std::filesystem::filesystem_error (operation "rename",
// both paths) on failure, its code the Windows error in
// vplatform::Win32Category() (which compares equal to the matching std::errc).
VLIB_API void Move(std::wstring_view from, std::wstring_view to);

// Copies one file, overwriting; into an existing directory under its own
// name.  False when the source is no file or the copy failed.
VLIB_API bool CopyFiles(std::wstring_view from, std::wstring_view to);

// Copies a folder tree, overwriting files; creates `to` itself (not its
// parents).  False when the source is no folder or the copy failed.
VLIB_API bool CopyDirectoryRecursive(std::wstring_view from, std::wstring_view to);

// Copies `fileName` from the source folder to the destination folder when the
// destination lacks it or holds an older one (strictly older write time).
// The file name is joined to each folder by the Windows rules ('/' inserted
// unless the folder ends with a separator; an absolute name replaces the
// folder).  Does nothing for a missing source; throws
// std::filesystem::filesystem_error when a time cannot be read (operation
// "last_write_time") or the copy fails ("copy_file").
VLIB_API void ReplaceDestFileIfSourceFileIsNewer(std::wstring_view sourceFolder, std::wstring_view destFolder,
                                                 std::wstring_view fileName);

// --- Listings: append to `out`, return its size afterwards.  Each entry is
// the folder's file-system form (UTF-8 read back as UTF-16, '/' separators)
// joined by '/' with the entry's name, in the order the file system gives. ---

// Regular files of `folder` (recursively when asked) whose extension equals
// the mask's part from its first dot, in any letter case ("*.txt", ".txt" and
// "x.TXT" all select ".txt" files; "*.*" and a mask without a dot select
// none); an empty mask selects every regular file.  A ':' in a listed name
// is an ordinary character here (names on this file system have no streams).
// Recursion does not follow links to folders.
// A missing folder returns 0 and leaves `out` alone; iteration errors throw
// std::filesystem::filesystem_error.
VLIB_API std::uint64_t FindAllFilesInFolder(std::wstring_view folder, std::wstring_view mask, bool recursive,
                                            std::vector<std::wstring>& out);

// Direct sub-folders of `folder`.  A missing folder returns out.size();
// iteration errors throw std::filesystem::filesystem_error.
VLIB_API std::uint64_t FindAllSubFolders(std::wstring_view folder, std::vector<std::wstring>& out);

// --- Known folders: the folder's default location (SHGetKnownFolderPath
// with KF_FLAG_CREATE | KF_FLAG_DEFAULT_PATH) joined with the first
// sub-folder (always, so an empty one leaves a trailing '/') and the second
// (when not empty), created on disk.  Throws
// std::filesystem::filesystem_error when the known folder cannot be had
// (operation "SHGetKnownFolderPath", the code of a failure that wraps a
// Windows error in vplatform::Win32Category()) or the result cannot be
// created ("create_directories"). ---
VLIB_API std::wstring GetKnownFolderPath(const GUID& folderId, std::wstring_view firstSubFolder,
                                         std::wstring_view secondSubFolder);
VLIB_API std::wstring GetCurrentUserDocumentPath(std::wstring_view firstSubFolder, std::wstring_view secondSubFolder);

}  // namespace VTools::Path

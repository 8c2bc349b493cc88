// Files, folders and file times under their Win32 names: CreateFileW and the
// handle functions, moving, copying and deleting, folders, attributes and file
// times (the clock and the FILETIME / SYSTEMTIME conversions are in Time.h,
// which this header includes).
//
// Paths.  A path is a wide Windows-form string converted to the file system's
// narrow form by the rule of FileSystemPath.h: UTF-8, with '\\' and '/' both
// separators and every '\\' turned into '/'.  Nothing else is translated: a
// drive prefix such as "C:" is part of a relative name, and the characters
// Windows refuses in names (<>:"|?*) are ordinary characters here.  Names are
// case-sensitive, as the file system is.  A path holding a lone surrogate or a
// NUL has no such form and fails with ERROR_INVALID_NAME; a null or empty path
// fails with ERROR_PATH_NOT_FOUND.  Paths returned by GetTempPathW and
// GetFullPathNameW use '/'.
//
// Errors.  Every function that fails sets the last error to a Windows code
// (never an errno value): ERROR_FILE_NOT_FOUND for a missing name,
// ERROR_PATH_NOT_FOUND when its folder is missing too, ERROR_ACCESS_DENIED for
// refused permissions (and for a folder opened as a file),
// ERROR_SHARING_VIOLATION for an open that the share modes of this process's
// other handles refuse, ERROR_DISK_FULL, ERROR_TOO_MANY_OPEN_FILES,
// ERROR_INVALID_HANDLE for a handle that is not a file handle of this API,
// ERROR_INVALID_PARAMETER for bad flags or arguments.  Functions retry system
// calls interrupted by a signal.
//
// Share modes are enforced among the handles of this process only: opening a
// file whose open handles do not share the requested access (or whose access
// the new share mode does not allow), and deleting, replacing or moving a file
// whose open handles lack FILE_SHARE_DELETE, fail with
// ERROR_SHARING_VIOLATION.  Other processes are not seen.
//
// Attributes: FILE_ATTRIBUTE_DIRECTORY for folders; FILE_ATTRIBUTE_READONLY for
// other files whose owner lacks write permission; FILE_ATTRIBUTE_HIDDEN for
// names starting with '.'; FILE_ATTRIBUTE_NORMAL when none of these applies.
// The creation time is the file system's birth time where it records one,
// else the last write time; it cannot be set.
//
// Threads: every function may be called from any thread, and the share-mode
// check of an open is atomic against opens in other threads.  One handle may be
// used by several threads at once and closed by one while others use it (their
// calls finish on the still-open file).  Transfers on one handle share its file
// pointer, which an OVERLAPPED offset moves too (a seek, then the transfer), so
// concurrent ReadFile/WriteFile calls on one handle land in no defined order:
// give each thread its own handle, or take turns.
#pragma once

#include <string>
#include <string_view>

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Time.h"

// A signed 64-bit value with access to its 32-bit halves.
union LARGE_INTEGER {
    __extension__ struct {
        DWORD LowPart;
        LONG HighPart;
    };
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

// With synchronous handles (the only kind here) an OVERLAPPED structure only
// gives the file position at which ReadFile or WriteFile starts.
struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        __extension__ struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
using LPWIN32_FILE_ATTRIBUTE_DATA = WIN32_FILE_ATTRIBUTE_DATA*;

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard, GetFileExMaxInfoLevel };

// Access rights of files and folders (the standard and generic rights are in
// Handles.h).  The generic rights stand for the FILE_GENERIC_* sets and
// GENERIC_ALL for FILE_ALL_ACCESS, as on Windows.
constexpr DWORD FILE_READ_DATA = 0x00000001u;  // folders: FILE_LIST_DIRECTORY
constexpr DWORD FILE_LIST_DIRECTORY = 0x00000001u;
constexpr DWORD FILE_WRITE_DATA = 0x00000002u;  // folders: FILE_ADD_FILE
constexpr DWORD FILE_ADD_FILE = 0x00000002u;
constexpr DWORD FILE_APPEND_DATA = 0x00000004u;  // folders: FILE_ADD_SUBDIRECTORY
constexpr DWORD FILE_ADD_SUBDIRECTORY = 0x00000004u;
constexpr DWORD FILE_READ_EA = 0x00000008u;
constexpr DWORD FILE_WRITE_EA = 0x00000010u;
constexpr DWORD FILE_EXECUTE = 0x00000020u;  // folders: FILE_TRAVERSE
constexpr DWORD FILE_TRAVERSE = 0x00000020u;
constexpr DWORD FILE_DELETE_CHILD = 0x00000040u;
constexpr DWORD FILE_READ_ATTRIBUTES = 0x00000080u;
constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x00000100u;
constexpr DWORD FILE_ALL_ACCESS = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FFu;
constexpr DWORD FILE_GENERIC_READ =
    STANDARD_RIGHTS_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE;
constexpr DWORD FILE_GENERIC_WRITE =
    STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | FILE_APPEND_DATA | SYNCHRONIZE;
constexpr DWORD FILE_GENERIC_EXECUTE = STANDARD_RIGHTS_EXECUTE | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE;

// Share modes.
constexpr DWORD FILE_SHARE_READ = 0x00000001u;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
constexpr DWORD FILE_SHARE_DELETE = 0x00000004u;

// Creation dispositions.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Attributes and flags.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001u;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002u;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004u;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010u;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020u;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080u;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100u;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000u;
constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000u;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// Move methods of SetFilePointerEx.
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;

// MoveFileExW flags.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001u;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x00000002u;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008u;

extern "C" {

// --- Opening and closing ------------------------------------------------------
//
// Opens or creates `lpFileName` and returns a handle that CloseHandle closes.
//   dwDesiredAccess        any of the access rights above, the generic ones
//                          mapped as on Windows:
//                            FILE_READ_DATA (in GENERIC_READ, FILE_GENERIC_READ)
//                            allows ReadFile; FILE_WRITE_DATA (in GENERIC_WRITE,
//                            FILE_GENERIC_WRITE) allows WriteFile anywhere in
//                            the file and TRUNCATE_EXISTING; FILE_APPEND_DATA without
//                            FILE_WRITE_DATA opens for appending: every
//                            WriteFile goes to the end of the file as one
//                            piece, whatever other handles and processes write
//                            meanwhile (the file pointer and an OVERLAPPED
//                            offset do not place it); FILE_WRITE_ATTRIBUTES
//                            allows SetFileTime;
//                            DELETE needs the permission to remove the name
//                            (write and search permission on its folder, and
//                            in a sticky folder owning the file or the
//                            folder); WRITE_DAC and WRITE_OWNER need owning
//                            the file (or root), as changing its mode does;
//                            READ_CONTROL, SYNCHRONIZE, FILE_READ_ATTRIBUTES,
//                            FILE_READ_EA, FILE_WRITE_EA, FILE_EXECUTE and
//                            FILE_DELETE_CHILD are granted with the open (no
//                            call here uses them; FILE_EXECUTE is not checked
//                            against the execute permission, which data files
//                            here lack where Windows grants it with full
//                            control);
//                          every open, with 0 too, needs read permission here
//                          (Windows opens for attributes only without it), and
//                          write permission when it may write;
//                          refused: ACCESS_SYSTEM_SECURITY with
//                          ERROR_PRIVILEGE_NOT_HELD (no process here holds the
//                          privilege), MAXIMUM_ALLOWED with ERROR_NOT_SUPPORTED,
//                          undefined bits with ERROR_ACCESS_DENIED;
//                          on a folder (FILE_FLAG_BACKUP_SEMANTICS) the write
//                          rights FILE_ADD_FILE, FILE_ADD_SUBDIRECTORY and
//                          FILE_DELETE_CHILD need write permission on it, and
//                          ReadFile and WriteFile fail with
//                          ERROR_INVALID_FUNCTION;
//   dwShareMode            FILE_SHARE_READ / _WRITE / _DELETE (see above),
//                          checked as Windows checks them: FILE_READ_DATA and
//                          FILE_EXECUTE against FILE_SHARE_READ,
//                          FILE_WRITE_DATA and FILE_APPEND_DATA against
//                          FILE_SHARE_WRITE, DELETE against FILE_SHARE_DELETE,
//                          both ways; an open with none of these rights
//                          conflicts with no one;
//   lpSecurityAttributes   may be null; only bInheritHandle is used: without
//                          it the descriptor is closed in programs the process
//                          starts;
//   dwCreationDisposition  CREATE_NEW (fails when the file exists),
//                          CREATE_ALWAYS (creates or truncates), OPEN_EXISTING,
//                          OPEN_ALWAYS (opens or creates), TRUNCATE_EXISTING
//                          (needs FILE_WRITE_DATA);
//   dwFlagsAndAttributes   FILE_ATTRIBUTE_READONLY makes a created file
//                          read-only (mode 0444 before the umask); other
//                          attributes are accepted and ignored.
//                          FILE_FLAG_WRITE_THROUGH makes every write reach the
//                          disk before it returns (O_DSYNC);
//                          FILE_FLAG_BACKUP_SEMANTICS allows opening a folder;
//                          other flags are accepted and ignored;
//   hTemplateFile          ignored.
// On success the last error is ERROR_ALREADY_EXISTS with CREATE_ALWAYS or
// OPEN_ALWAYS when the file existed, else ERROR_SUCCESS, as on Windows.
// Returns INVALID_HANDLE_VALUE on failure: ERROR_FILE_EXISTS for CREATE_NEW on
// an existing file, ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED (also for a folder without FILE_FLAG_BACKUP_SEMANTICS),
// ERROR_SHARING_VIOLATION, ERROR_INVALID_PARAMETER for an unknown disposition
// or TRUNCATE_EXISTING without FILE_WRITE_DATA, ERROR_INVALID_NAME,
// ERROR_TOO_MANY_OPEN_FILES, ERROR_DISK_FULL.  A file that a failed call
// created is removed again.
VPLATFORM_API HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                 LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                 DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);

// --- Reading and writing --------------------------------------------------------
//
// The byte counts (may be null) are set to 0 first and then to the number of
// bytes transferred, also when the call fails part-way.  With `lpOverlapped`
// the transfer starts at its Offset/OffsetHigh instead of the file pointer;
// either way the file pointer ends just after the bytes transferred, and
// InternalHigh receives the count.

// Reads up to `nNumberOfBytesToRead` bytes.  From a regular file it reads that
// many unless the end of the file comes first; at the end it succeeds with 0
// bytes.  From a pipe or device it returns what one read delivers.  FALSE with
// ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED for a handle without FILE_READ_DATA,
// ERROR_INVALID_FUNCTION for a folder, ERROR_INVALID_PARAMETER for a null buffer with a non-zero size, or the
// translated failure (ERROR_READ_FAULT for an I/O error).
VPLATFORM_API BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                            LPOVERLAPPED lpOverlapped);

// Writes all `nNumberOfBytesToWrite` bytes, continuing after partial writes.
// FALSE with ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED for a handle without
// FILE_WRITE_DATA or FILE_APPEND_DATA, ERROR_INVALID_FUNCTION for a folder,
// ERROR_INVALID_PARAMETER for a null buffer with a non-zero
// size, ERROR_DISK_FULL when the disk or quota is full (the count tells how
// much was written), ERROR_WRITE_FAULT for an I/O error, ERROR_FILE_TOO_LARGE.
VPLATFORM_API BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                             LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);

// --- Standard handles ------------------------------------------------------------

#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)

#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003
#define FILE_TYPE_REMOTE 0x8000

#define ENABLE_PROCESSED_INPUT 0x0001
#define ENABLE_LINE_INPUT 0x0002
#define ENABLE_ECHO_INPUT 0x0004
#define ENABLE_PROCESSED_OUTPUT 0x0001
#define ENABLE_WRAP_AT_EOL_OUTPUT 0x0002

// The handle of standard input, output or error.  Each is made at the first
// call from its own copy of descriptor 0, 1 or 2 (so closing the handle
// leaves the C library's streams open) and is the same handle on every later
// call; input has FILE_GENERIC_READ, output and error FILE_GENERIC_WRITE.
// NULL when the process has no such descriptor (as for a Windows program
// without standard handles); INVALID_HANDLE_VALUE with ERROR_INVALID_HANDLE
// for another number.  Safe from any thread.
VPLATFORM_API HANDLE GetStdHandle(DWORD nStdHandle);

// The kind of an open file: FILE_TYPE_DISK for a file or folder,
// FILE_TYPE_CHAR for a terminal or another character device (the null
// device among them), FILE_TYPE_PIPE for a pipe or socket.  FILE_TYPE_UNKNOWN
// with ERROR_INVALID_HANDLE for a handle that is no file.
VPLATFORM_API DWORD GetFileType(HANDLE hFile);

// TRUE with the mode of a terminal (Linux has no console: a handle whose
// descriptor is a terminal stands for one), ENABLE_PROCESSED_INPUT |
// ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT for a handle opened for reading
// only, else ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT.  FALSE with
// ERROR_INVALID_HANDLE for any handle that is not a terminal, as Windows
// answers for a file, pipe or the null device; ERROR_INVALID_PARAMETER for a
// null `lpMode`.  The usual test of whether output goes to a person.
VPLATFORM_API BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode);

// Writes the file's data and metadata to the disk (fsync).  FALSE with
// ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED for a handle without
// FILE_WRITE_DATA or FILE_APPEND_DATA, ERROR_WRITE_FAULT when the disk reports an I/O error (data
// written earlier may then be lost), ERROR_DISK_FULL.
VPLATFORM_API BOOL FlushFileBuffers(HANDLE hFile);

// Moves the file pointer by `liDistanceToMove` from FILE_BEGIN, FILE_CURRENT or
// FILE_END, and stores the new position (may be null).  Moving beyond the end
// is allowed.  FALSE with ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER for an
// unknown method, ERROR_NEGATIVE_SEEK for a position before the start.
VPLATFORM_API BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                                    DWORD dwMoveMethod);

// The file's size in bytes.  FALSE with ERROR_INVALID_HANDLE or
// ERROR_INVALID_PARAMETER for a null output.
VPLATFORM_API BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);

// --- File times ---------------------------------------------------------------
//
// FILETIME counts 100-nanosecond ticks since 1601-01-01 00:00 UTC.

// Any output may be null.  FALSE with ERROR_INVALID_HANDLE.
VPLATFORM_API BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                               LPFILETIME lpLastWriteTime);
// Sets the last access and last write times; a null time stays unchanged, and
// the creation time is ignored (the file system keeps its own).  FALSE with
// ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED for a handle without
// FILE_WRITE_ATTRIBUTES (or, setting explicit times, when the process does not
// own the file: the file system allows that to the owner only),
// ERROR_INVALID_PARAMETER for a time after the year 30827.
VPLATFORM_API BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                               const FILETIME* lpLastWriteTime);

// --- Names ----------------------------------------------------------------------

// Renames `lpExistingFileName` (a file or folder) to `lpNewFileName`.
//   MOVEFILE_REPLACE_EXISTING  replace an existing file (never a folder);
//                              without it an existing target fails with
//                              ERROR_ALREADY_EXISTS;
//   MOVEFILE_COPY_ALLOWED      a file may move to another file system by
//                              copying it and deleting the original; without
//                              it that fails with ERROR_NOT_SAME_DEVICE;
//   MOVEFILE_WRITE_THROUGH     return only once the move is on the disk: the
//                              folders of both names (and a copied file) are
//                              flushed after the rename.
// Other flags fail with ERROR_INVALID_PARAMETER.  FALSE with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED (also for a
// folder as the target of REPLACE_EXISTING), ERROR_SHARING_VIOLATION for an
// open file of this process without FILE_SHARE_DELETE; when the flush of
// WRITE_THROUGH fails, the name has changed but FALSE is returned with the
// flush's error.
VPLATFORM_API BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);

// Deletes a file (not a folder: ERROR_ACCESS_DENIED).  FALSE with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
// ERROR_SHARING_VIOLATION for an open file of this process without
// FILE_SHARE_DELETE.  As on POSIX, the folder's permissions decide, not the
// file's read-only attribute.
VPLATFORM_API BOOL DeleteFileW(LPCWSTR lpFileName);

// Copies a file's contents and its last access and write times; a new target
// gets the source's permissions (less the umask), an existing one keeps its
// own.  With `bFailIfExists` an existing target fails with ERROR_FILE_EXISTS;
// otherwise it is overwritten.  Copying a file onto itself fails with
// ERROR_SHARING_VIOLATION and changes nothing.  A partly written target is
// removed when the copy fails (ERROR_DISK_FULL…).  FALSE with
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED (also for a
// folder as either name).
VPLATFORM_API BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);

// Creates one folder (its parent must exist).  `lpSecurityAttributes` is
// ignored.  FALSE with ERROR_ALREADY_EXISTS when the name exists (as any kind
// of file), ERROR_PATH_NOT_FOUND when the parent is missing,
// ERROR_ACCESS_DENIED.
VPLATFORM_API BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);

// Removes an empty folder.  FALSE with ERROR_DIR_NOT_EMPTY, ERROR_DIRECTORY
// when the name is not a folder, ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION for a folder in use as a mount
// point.
VPLATFORM_API BOOL RemoveDirectoryW(LPCWSTR lpPathName);

// The attributes of a file or folder (symbolic links followed), or
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED, ERROR_INVALID_NAME.
VPLATFORM_API DWORD GetFileAttributesW(LPCWSTR lpFileName);

// Attributes, times and size (0 for a folder).  `fInfoLevelId` must be
// GetFileExInfoStandard (else ERROR_INVALID_PARAMETER).  FALSE with the errors
// of GetFileAttributesW, or ERROR_INVALID_PARAMETER for a null output.
VPLATFORM_API BOOL GetFileAttributesExW(LPCWSTR lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                        LPVOID lpFileInformation);

// The folder for temporary files with a trailing '/': $TMPDIR when set to an
// absolute UTF-8 path, else "/tmp/" (the folder's existence is not checked).
// Returns the length without the terminating zero, or, when `nBufferLength`
// is too small, the size needed including it (nothing is written then).
// Returns 0 with ERROR_INVALID_PARAMETER for a null buffer with a non-zero
// size.
VPLATFORM_API DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);

// The absolute form of `lpFileName`: a relative path is taken from the current
// folder; "." and ".." components and repeated separators are resolved
// textually (links are not followed and nothing need exist), every separator
// becomes '/'.  A trailing separator is kept.  `lpFilePart` (may be null)
// receives a pointer to the last name in the buffer, or null when the path
// ends with a separator.  Returns the length without the terminating zero, or,
// when `nBufferLength` is too small, the size needed including it (nothing is
// written then).  Returns 0 with ERROR_PATH_NOT_FOUND for a null or empty path,
// ERROR_INVALID_NAME for a path without a UTF-8 form (or a relative path when
// the current folder's name is not UTF-8), ERROR_INVALID_PARAMETER for a null
// buffer with a non-zero size, or the translated failure of reading the
// current folder.
VPLATFORM_API DWORD GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer, LPWSTR* lpFilePart);
}

namespace vplatform {

// Makes a new folder that only the process's user may use (mode 0700), named
// `prefix` followed by 16 random hexadecimal digits, in the folder
// GetTempPathW gives, and stores its path ('/' separators, no trailing one)
// in `path`.  The folder is made with mkdir, which fails rather than take an
// existing name or follow a link, so another user can neither prepare nor
// predict it (mkdtemp(3) in the Windows forms).  FALSE with the last error:
// ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_NAME for a prefix
// without a file-system form, ERROR_FILE_EXISTS when 16 random names were all
// taken.
VPLATFORM_API BOOL CreateTemporaryFolder(std::wstring_view prefix, std::wstring& path);

}  // namespace vplatform

// Known folders under their Win32 names: SHGetKnownFolderPath and the
// known-folder ids of the user's Documents, Desktop, Downloads and
// application-data folders.
//
// Folders follow the XDG base and user directories of the current user:
//   Documents, Desktop, Downloads  XDG_DOCUMENTS_DIR, XDG_DESKTOP_DIR and
//       XDG_DOWNLOAD_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (default
//       ~/.config/user-dirs.dirs), the user's choice of location; by default
//       $HOME/Documents, $HOME/Desktop and $HOME/Downloads;
//   LocalAppData    $XDG_DATA_HOME, by default $HOME/.local/share;
//   RoamingAppData  $XDG_CONFIG_HOME, by default $HOME/.config.
// Only absolute XDG_DATA_HOME and XDG_CONFIG_HOME values count (relative ones
// are ignored, as the XDG rules say).  An unset or empty $HOME is taken from
// the user database.
//
// Threads: SHGetKnownFolderPath may be called from any thread at once.  It reads
// the environment and user-dirs.dirs on every call; the environment must not
// be changed (setenv) while it runs.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/com/Com.h"

using KNOWNFOLDERID = GUID;
using REFKNOWNFOLDERID = const KNOWNFOLDERID&;
using PWSTR = wchar_t*;

// {FDD39AD0-238F-46AF-ADB4-6C85480369C7}
inline constexpr KNOWNFOLDERID FOLDERID_Documents = {
    0xFDD39AD0, 0x238F, 0x46AF, {0xAD, 0xB4, 0x6C, 0x85, 0x48, 0x03, 0x69, 0xC7}};
// {B4BFCC3A-DB2C-424C-B029-7FE99A87C641}
inline constexpr KNOWNFOLDERID FOLDERID_Desktop = {
    0xB4BFCC3A, 0xDB2C, 0x424C, {0xB0, 0x29, 0x7F, 0xE9, 0x9A, 0x87, 0xC6, 0x41}};
// {374DE290-123F-4565-9164-39C4925E467B}
inline constexpr KNOWNFOLDERID FOLDERID_Downloads = {
    0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
// {F1B32785-6FBA-4FCF-9D55-7B8E7F157091}
inline constexpr KNOWNFOLDERID FOLDERID_LocalAppData = {
    0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
// {3EB685DB-65F9-4CF6-A03A-E3EF65729F3D}
inline constexpr KNOWNFOLDERID FOLDERID_RoamingAppData = {
    0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};

// SHGetKnownFolderPath flags.
constexpr DWORD KF_FLAG_DEFAULT = 0x00000000u;
// Return the folder's default location, not the one the user chose.
constexpr DWORD KF_FLAG_DEFAULT_PATH = 0x00000400u;
// Do not check that the folder exists.
constexpr DWORD KF_FLAG_DONT_VERIFY = 0x00004000u;
// Create the folder (and missing parents, mode 0700) if it does not exist.
constexpr DWORD KF_FLAG_CREATE = 0x00008000u;

extern "C" {

// Stores in `*ppszPath` the path of the known folder (no trailing separator)
// as a NUL-terminated string allocated with CoTaskMemAlloc, which the caller
// frees with CoTaskMemFree, and returns S_OK.  `hToken` must be null (the
// current user).  Unless KF_FLAG_CREATE or KF_FLAG_DONT_VERIFY is given, a
// folder that does not exist is an error.  Failures store null and return
// E_INVALIDARG for an unknown folder id, a non-null token or a null
// `ppszPath` (nothing stored then), E_OUTOFMEMORY when the string cannot be
// allocated, and HRESULT_FROM_WIN32 of the error otherwise
// (ERROR_FILE_NOT_FOUND for a missing folder or home directory,
// ERROR_ACCESS_DENIED when it cannot be created...).
VPLATFORM_API HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID rfid, DWORD dwFlags, HANDLE hToken, PWSTR* ppszPath);
}

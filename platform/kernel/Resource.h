// Module resources: FindResourceW, FindResourceExW, LoadResource,
// LockResource, SizeofResource, EnumResourceTypesW and EnumResourceNamesW.
//
// A module's resources are compiled into it by vlib_add_resources (CMake) and
// the resource compiler vlib-rc: a read-only block of the module's image,
// found through an ELF note of the module.  The functions read that block in
// a loaded module (the executable, a shared library) or in a file loaded with
// LOAD_LIBRARY_AS_DATAFILE (Module.h).  Nothing is copied: the pointer of
// LockResource points into the module and stays valid while the module is
// loaded; the bytes are read-only.
//
// A resource name or type is either an integer id made with
// MAKEINTRESOURCEW(1..65535), or a string: "#123" is the id 123, other
// strings are matched without regard to the case of ASCII letters.
//
// Every resource made by vlib-rc is language-neutral unless its resource file
// sets a LANGUAGE.  FindResourceW and FindResourceExW with a neutral language
// take the neutral resource, or else the first of the name; FindResourceExW
// with a language takes that language, or else the neutral resource.
//
// Errors: a module without resources fails with ERROR_RESOURCE_DATA_NOT_FOUND,
// a type it lacks with ERROR_RESOURCE_TYPE_NOT_FOUND, a name with
// ERROR_RESOURCE_NAME_NOT_FOUND, a language with ERROR_RESOURCE_LANG_NOT_FOUND;
// a handle that is no loaded module with ERROR_MOD_NOT_FOUND.  A null module
// handle means the executable.
//
// Threads: every function may be called from any thread.  A module must not be
// freed while another thread reads its resources.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinError.h"
#include "platform/WinTypes.h"
#include "platform/kernel/Message.h"  // language ids

// An integer id passed where a name is expected: a pointer value below 65536.
inline bool IS_INTRESOURCE(const void* name) {
    return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0;
}
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW

#define RT_CURSOR MAKEINTRESOURCEW(1)
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_CURSOR MAKEINTRESOURCEW(12)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_VERSION MAKEINTRESOURCEW(16)
#define RT_HTML MAKEINTRESOURCEW(23)
#define RT_MANIFEST MAKEINTRESOURCEW(24)

using ENUMRESTYPEPROCW = BOOL(CALLBACK*)(HMODULE hModule, LPWSTR lpType, LONG_PTR lParam);
using ENUMRESNAMEPROCW = BOOL(CALLBACK*)(HMODULE hModule, LPCWSTR lpType, LPWSTR lpName, LONG_PTR lParam);

extern "C" {

// The resource of that name and type, or null (see the errors above).
// ERROR_INVALID_PARAMETER for a null name or type.
VPLATFORM_API HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
// The same for a language (note the order: type before name).
VPLATFORM_API HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage);

// The resource's data, for LockResource; no copy is made and nothing needs
// freeing.  Null with ERROR_INVALID_HANDLE for an `hResInfo` that is not a
// resource of `hModule`.
VPLATFORM_API HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
// The address of the resource's first byte (read-only); null for null.
VPLATFORM_API LPVOID LockResource(HGLOBAL hResData);
// The resource's size in bytes; 0 with ERROR_INVALID_HANDLE for an
// `hResInfo` that is not a resource of `hModule` (a resource may be empty:
// then 0 leaves the last error alone).
VPLATFORM_API DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
// Does nothing, as on Windows: FALSE.
VPLATFORM_API BOOL FreeResource(HGLOBAL hResData);

// Calls `lpEnumFunc` once for each resource type of the module, in the
// directory's order (string types first), until it returns FALSE.  A string
// type is passed as a NUL-terminated string valid during the call.  FALSE
// with ERROR_RESOURCE_ENUM_USER_STOP when the callback stopped it.
VPLATFORM_API BOOL EnumResourceTypesW(HMODULE hModule, ENUMRESTYPEPROCW lpEnumFunc, LONG_PTR lParam);
// Calls `lpEnumFunc` once for each name of the type (a name with several
// languages once), as EnumResourceTypesW does for types.
VPLATFORM_API BOOL EnumResourceNamesW(HMODULE hModule, LPCWSTR lpType, ENUMRESNAMEPROCW lpEnumFunc, LONG_PTR lParam);
}

// LoadImageW: an icon from a module's resources.
//
// IMAGE_ICON: the module's RT_GROUP_ICON resource `name` (an integer id or a
// string, as FindResourceW takes them) gives the image that fits cx x cy
// best by Windows' rule (LookupIconIdFromDirectoryEx), and that RT_ICON image
// becomes a new icon of cx x cy, scaled (CreateIconFromResourceEx); 0 takes
// the image's own size, or the default icon size with LR_DEFAULTSIZE.  The
// caller destroys the icon with DestroyIcon.  Null module: the executable.
//
// Failures: null with the resource functions' errors for a missing group or
// image (ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND,
// ERROR_RESOURCE_DATA_NOT_FOUND, ERROR_MOD_NOT_FOUND), ERROR_INVALID_DATA for
// a damaged group or image, ERROR_INVALID_PARAMETER for a negative size;
// ERROR_NOT_SUPPORTED for other image types, LR_LOADFROMFILE and LR_SHARED
// (every icon here is the caller's own).
//
// Threads: may be called from any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/gdi/Icons.h"

constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT IMAGE_ICON = 1;
constexpr UINT IMAGE_CURSOR = 2;
constexpr UINT LR_LOADFROMFILE = 0x0010;

extern "C" {

VPLATFORM_API HANDLE LoadImageW(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad);
}

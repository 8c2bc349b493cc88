// System metrics under their Win32 name: GetSystemMetrics, for the screen
// and the virtual screen (the monitors of platform/user/Monitor.h).
//
// Threads: any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_XVIRTUALSCREEN = 76;
constexpr int SM_YVIRTUALSCREEN = 77;
constexpr int SM_CXVIRTUALSCREEN = 78;
constexpr int SM_CYVIRTUALSCREEN = 79;
constexpr int SM_CMONITORS = 80;

extern "C" {

// SM_CXSCREEN, SM_CYSCREEN: the primary monitor's width and height;
// SM_XVIRTUALSCREEN, SM_YVIRTUALSCREEN, SM_CXVIRTUALSCREEN,
// SM_CYVIRTUALSCREEN: the left, top, width and height of the rectangle
// around all monitors; SM_CMONITORS: the number of monitors.  0 for another
// index, and with ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION without a display.
VPLATFORM_API int GetSystemMetrics(int nIndex);
}

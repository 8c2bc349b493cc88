// The library's own DLL entry and DllData (DllMain.cpp).
#pragma once

#include "module/DllData.h"
#include "platform/WinTypes.h"

namespace vlib::module {

BOOL WINAPI LibraryDllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
// The library's DllData, initialised at load.
const DllData& LibraryDllData();

}  // namespace vlib::module

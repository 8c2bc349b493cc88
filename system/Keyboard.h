// Whether a key or the left mouse button is down: for code that handles a
// click or a key and wants to know the modifier keys.
//
// Each function asks the platform's GetKeyState (platform/user/Keyboard.h)
// and returns true when the result marks the key as down (negative); the
// toggle bit is ignored.  Without a display every key reads as up.
//
// Threads: any thread.
#pragma once

#include "VLibExport.h"

namespace VTools::Keyboard {

// The virtual-key code `key`.
VLIB_API bool IsPressed(int key);
// Either Ctrl (VK_CONTROL).
VLIB_API bool IsCtrlPressed();
// Either Alt (VK_MENU); AltGr counts as the right Alt.
VLIB_API bool IsAltPressed();
// Either Shift (VK_SHIFT).
VLIB_API bool IsShiftPressed();
// The left Shift only (VK_LSHIFT).
VLIB_API bool IsLeftShiftPressed();
// The left mouse button (VK_LBUTTON).
VLIB_API bool IsLeftMousePressed();

}  // namespace VTools::Keyboard

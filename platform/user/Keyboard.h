// Key states under their Win32 names: GetKeyState, GetAsyncKeyState, and
// the virtual-key codes.
//
// Both give the keyboard's and the pointer's current state as the X server
// has it (there is no per-thread input state here): the keys of every
// keycode that carries a key's keysyms count, so either Shift, Ctrl or Alt
// makes VK_SHIFT, VK_CONTROL or VK_MENU down, and AltGr is the right Alt
// (VK_RMENU).  Codes without keys (or outside 0-255) read as up.  The table
// of keycodes is made again when the keyboard mapping changes.
//
// Without a display every key reads as up (0), with
// ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
//
// Threads: any thread.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

constexpr int VK_LBUTTON = 0x01;
constexpr int VK_RBUTTON = 0x02;
constexpr int VK_MBUTTON = 0x04;
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int VK_PAUSE = 0x13;
constexpr int VK_CAPITAL = 0x14;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_INSERT = 0x2D;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_LWIN = 0x5B;
constexpr int VK_RWIN = 0x5C;
constexpr int VK_APPS = 0x5D;
constexpr int VK_NUMPAD0 = 0x60;
constexpr int VK_F1 = 0x70;
constexpr int VK_NUMLOCK = 0x90;
constexpr int VK_SCROLL = 0x91;
constexpr int VK_LSHIFT = 0xA0;
constexpr int VK_RSHIFT = 0xA1;
constexpr int VK_LCONTROL = 0xA2;
constexpr int VK_RCONTROL = 0xA3;
constexpr int VK_LMENU = 0xA4;
constexpr int VK_RMENU = 0xA5;

extern "C" {

// The state of a key: the high bits set (the result is negative, 0xFF80)
// while it is down; the low bit set while Caps Lock, Num Lock or Scroll Lock
// is on (for those three keys).
VPLATFORM_API SHORT GetKeyState(int nVirtKey);
// 0x8000 while the key is down, else 0.
VPLATFORM_API SHORT GetAsyncKeyState(int vKey);
}

#include "system/Keyboard.h"

#include "platform/user/Keyboard.h"

namespace VTools::Keyboard {

bool IsPressed(int key) {
    return GetKeyState(key) < 0;
}

bool IsCtrlPressed() {
    return IsPressed(VK_CONTROL);
}

bool IsAltPressed() {
    return IsPressed(VK_MENU);
}

bool IsShiftPressed() {
    return IsPressed(VK_SHIFT);
}

bool IsLeftShiftPressed() {
    return IsPressed(VK_LSHIFT);
}

bool IsLeftMousePressed() {
    return IsPressed(VK_LBUTTON);
}

}  // namespace VTools::Keyboard

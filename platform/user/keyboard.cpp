// Key states, as the display driver reads them.
#include "platform/user/Keyboard.h"

#include "platform/user/internal/DisplayDriver.h"

namespace {

bool IsPointerOrLock(int vk) {
    return vk == VK_LBUTTON || vk == VK_RBUTTON || vk == VK_MBUTTON || vk == VK_CAPITAL || vk == VK_NUMLOCK ||
           vk == VK_SCROLL;
}

}  // namespace

extern "C" {

SHORT GetKeyState(int nVirtKey) {
    if (nVirtKey < 0 || nVirtKey > 255) return 0;
    vplatform::user::KeyboardState state;
    if (!vplatform::user::CurrentDisplayDriver()->ReadKeyboard(state, IsPointerOrLock(nVirtKey))) return 0;
    const auto vk = static_cast<std::size_t>(nVirtKey);
    return static_cast<SHORT>((state.down.test(vk) ? 0xFF80 : 0) | (state.toggled.test(vk) ? 1 : 0));
}

SHORT GetAsyncKeyState(int vKey) {
    if (vKey < 0 || vKey > 255) return 0;
    vplatform::user::KeyboardState state;
    if (!vplatform::user::CurrentDisplayDriver()->ReadKeyboard(state, IsPointerOrLock(vKey))) return 0;
    return static_cast<SHORT>(state.down.test(static_cast<std::size_t>(vKey)) ? 0x8000 : 0);
}
}

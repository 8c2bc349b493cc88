// Key states of a real X server, pressed with xdotool by keycode: sides and
// generic modifiers, AltGr, pointer buttons, toggles, keymap changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "platform/user/Keyboard.h"
#include "tests/support/Wait.h"
#include "tests/support/XServer.h"

namespace {

bool Down(int vk) {
    return GetKeyState(vk) < 0;
}

class Keys : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = vlibtest::XServer::Shared();
        ASSERT_NE(m_x, nullptr);
    }
    // Runs `xdotool action code` and waits until every key of `vks` reads as
    // `down` (a key held down reads 0x8000 from GetAsyncKeyState too).
    bool Xdotool(const char* action, int code, std::initializer_list<int> vks, bool down) const {
        if (!m_x->Run({"xdotool", action, std::to_string(code)})) return false;
        return vlibtest::WaitFor([&] {
            return std::all_of(vks.begin(), vks.end(), [&](int vk) {
                return Down(vk) == down && (!down || GetAsyncKeyState(vk) == static_cast<SHORT>(0x8000));
            });
        });
    }

    vlibtest::XServer* m_x = nullptr;
};

TEST_F(Keys, KeycodesCountForTheirOwnAndTheGenericVirtualKeys) {
    // Xvfb's keycodes (evdev rules).
    const struct {
        int keycode;
        std::initializer_list<int> down;
        std::initializer_list<int> up;
    } cases[] = {
        {50, {VK_SHIFT, VK_LSHIFT}, {VK_RSHIFT, VK_CONTROL, VK_MENU}},
        {62, {VK_SHIFT, VK_RSHIFT}, {VK_LSHIFT}},
        {37, {VK_CONTROL, VK_LCONTROL}, {VK_RCONTROL, VK_SHIFT}},
        {105, {VK_CONTROL, VK_RCONTROL}, {VK_LCONTROL}},
        {64, {VK_MENU, VK_LMENU}, {VK_RMENU}},
        {108, {VK_MENU, VK_RMENU}, {VK_LMENU}},
        {92, {VK_MENU, VK_RMENU}, {VK_LMENU, VK_CONTROL}},  // AltGr
        {38, {'A'}, {'B', VK_SHIFT}},
        {10, {'1'}, {'2'}},
        {67, {VK_F1}, {VK_F1 + 1}},
        {36, {VK_RETURN}, {VK_SPACE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keycode);
        EXPECT_TRUE(Xdotool("keydown", c.keycode, c.down, true));
        for (const int vk : c.up) EXPECT_FALSE(Down(vk)) << vk;
        EXPECT_TRUE(Xdotool("keyup", c.keycode, c.down, false));
    }
    for (const int vk : {-1, 256, 0xFF}) EXPECT_EQ(GetKeyState(vk), 0) << vk;  // no key has 0xFF
}

TEST_F(Keys, PointerButtonsAndLockTogglesReadFromThePointer) {
    for (const auto& [button, vk] : {std::pair{1, VK_LBUTTON}, std::pair{3, VK_RBUTTON}, std::pair{2, VK_MBUTTON}}) {
        EXPECT_TRUE(Xdotool("mousedown", button, {vk}, true)) << button;
        EXPECT_TRUE(Xdotool("mouseup", button, {vk}, false)) << button;
    }
    const auto capsLocked = [] { return (GetKeyState(VK_CAPITAL) & 1) != 0; };
    const bool before = capsLocked();
    for (const bool locked : {!before, before}) {
        ASSERT_TRUE(m_x->Run({"xdotool", "key", "66"}));  // Caps Lock
        EXPECT_TRUE(vlibtest::WaitFor([&] { return capsLocked() == locked; }));
    }
}

TEST_F(Keys, AChangedKeymapIsFollowed) {
    ASSERT_TRUE(m_x->Run({"xmodmap", "-e", "keycode 38 = b B"}));
    EXPECT_TRUE(Xdotool("keydown", 38, {'B'}, true));
    EXPECT_FALSE(Down('A'));
    EXPECT_TRUE(Xdotool("keyup", 38, {'B'}, false));
    ASSERT_TRUE(m_x->Run({"xmodmap", "-e", "keycode 38 = a A"}));
    EXPECT_TRUE(Xdotool("keydown", 38, {'A'}, true));
    EXPECT_TRUE(Xdotool("keyup", 38, {'A'}, false));
}

}  // namespace

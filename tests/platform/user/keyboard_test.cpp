// Key states of a real X server, pressed with xdotool by keycode: sides and
// generic modifiers, AltGr, pointer buttons, toggles, keymap changes.
#include <gtest/gtest.h>

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
    void Xdotool(const char* action, int code) const {
        ASSERT_TRUE(m_x->Run({"xdotool", action, std::to_string(code)}));
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
        Xdotool("keydown", c.keycode);
        EXPECT_TRUE(vlibtest::WaitFor([&] {
            for (const int vk : c.down) {
                if (!Down(vk) || GetAsyncKeyState(vk) != static_cast<SHORT>(0x8000)) return false;
            }
            return true;
        })) << c.keycode;
        for (const int vk : c.up) EXPECT_FALSE(Down(vk)) << c.keycode << " " << vk;
        Xdotool("keyup", c.keycode);
        EXPECT_TRUE(vlibtest::WaitFor([&] {
            for (const int vk : c.down) {
                if (Down(vk)) return false;
            }
            return true;
        })) << c.keycode;
    }
    EXPECT_EQ(GetKeyState(-1), 0);
    EXPECT_EQ(GetKeyState(256), 0);
    EXPECT_EQ(GetKeyState(0xFF), 0);  // no key has it
}

TEST_F(Keys, PointerButtonsAndLockTogglesReadFromThePointer) {
    for (const auto& [button, vk] : {std::pair{1, VK_LBUTTON}, std::pair{3, VK_RBUTTON}, std::pair{2, VK_MBUTTON}}) {
        Xdotool("mousedown", button);
        EXPECT_TRUE(vlibtest::WaitFor([&] { return Down(vk); })) << button;
        Xdotool("mouseup", button);
        EXPECT_TRUE(vlibtest::WaitFor([&] { return !Down(vk); })) << button;
    }
    const bool before = (GetKeyState(VK_CAPITAL) & 1) != 0;
    Xdotool("key", 66);  // Caps Lock
    EXPECT_TRUE(vlibtest::WaitFor([&] { return ((GetKeyState(VK_CAPITAL) & 1) != 0) != before; }));
    Xdotool("key", 66);
    EXPECT_TRUE(vlibtest::WaitFor([&] { return ((GetKeyState(VK_CAPITAL) & 1) != 0) == before; }));
}

TEST_F(Keys, AChangedKeymapIsFollowed) {
    ASSERT_TRUE(m_x->Run({"xmodmap", "-e", "keycode 38 = b B"}));
    Xdotool("keydown", 38);
    EXPECT_TRUE(vlibtest::WaitFor([] { return Down('B'); }));
    EXPECT_FALSE(Down('A'));
    Xdotool("keyup", 38);
    ASSERT_TRUE(m_x->Run({"xmodmap", "-e", "keycode 38 = a A"}));
    Xdotool("keydown", 38);
    EXPECT_TRUE(vlibtest::WaitFor([] { return Down('A'); }));
    Xdotool("keyup", 38);
    EXPECT_TRUE(vlibtest::WaitFor([] { return !Down('A'); }));
}

}  // namespace

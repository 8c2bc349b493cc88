// VTools::Clipboard and VTools::Keyboard on the binary's own Xvfb (the
// platform's clipboard itself is tested in tests/platform/user).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/kernel/Memory.h"
#include "platform/user/Clipboard.h"
#include "platform/user/Keyboard.h"
#include "system/Clipboard.h"
#include "system/Keyboard.h"
#include "tests/support/Wait.h"
#include "tests/support/XServer.h"
#include "text/StringConversion.h"

namespace {

using VTools::Clipboard::CopyStringToClipboard;
using VTools::Clipboard::GetClipboardString;

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = vlibtest::XServer::Shared();
        ASSERT_NE(m_x, nullptr);
    }
    vlibtest::XServer* m_x = nullptr;
};

// The text is set whole (xclip reads no terminator or more) and read back up
// to a zero inside it or the end of an unterminated block.
TEST_F(Desktop, TextComesBackUnchangedHereAndInOtherProgramsUpToAZero) {
    for (const std::string text : {"Zażółć gęślą jaźń", "a", "line\nline\t€ 𝄞"}) {
        const std::wstring wide = VTools::String::Utf8ToWide(text);
        ASSERT_TRUE(CopyStringToClipboard(nullptr, wide));
        EXPECT_EQ(GetClipboardString(nullptr), wide);
        EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o"}), text);
    }
    // Another program's text, in the block the platform adopted for it.
    ASSERT_TRUE(m_x->Shell("printf 'Łódź' | xclip -selection clipboard -i > /dev/null 2>&1"));
    EXPECT_TRUE(vlibtest::WaitFor([] { return GetClipboardString(nullptr) == L"Łódź"; }));
    ASSERT_TRUE(CopyStringToClipboard(nullptr, std::wstring_view(L"ab\0cd", 5)));
    EXPECT_EQ(GetClipboardString(nullptr), L"ab");
    // A block of three units without a zero, set by hand.
    ASSERT_TRUE(OpenClipboard(nullptr));
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 3 * sizeof(wchar_t));
    std::memcpy(GlobalLock(block), L"xyz", 3 * sizeof(wchar_t));
    GlobalUnlock(block);
    ASSERT_EQ(SetClipboardData(CF_UNICODETEXT, block), block);
    ASSERT_TRUE(CloseClipboard());
    EXPECT_EQ(GetClipboardString(nullptr), L"xyz");
}

TEST_F(Desktop, EmptyTextEmptiesTheClipboard) {
    ASSERT_TRUE(CopyStringToClipboard(nullptr, L"before"));
    EXPECT_TRUE(CopyStringToClipboard(nullptr, L""));
    EXPECT_EQ(GetClipboardString(nullptr), std::nullopt);
    ASSERT_TRUE(CopyStringToClipboard(nullptr, L"again"));
    EXPECT_TRUE(VTools::Clipboard::EmptyClipboard(nullptr));
    EXPECT_EQ(GetClipboardString(nullptr), std::nullopt);
}

TEST_F(Desktop, WhileAnotherThreadHoldsTheClipboardEveryCallFailsAtOnce) {
    ASSERT_TRUE(CopyStringToClipboard(nullptr, L"kept"));
    ASSERT_TRUE(OpenClipboard(nullptr));
    std::thread other([] {
        EXPECT_EQ(GetClipboardString(nullptr), std::nullopt);
        EXPECT_FALSE(CopyStringToClipboard(nullptr, L"other"));
        EXPECT_FALSE(CopyStringToClipboard(nullptr, L""));
        EXPECT_FALSE(VTools::Clipboard::EmptyClipboard(nullptr));
    });
    other.join();
    ASSERT_TRUE(CloseClipboard());
    EXPECT_EQ(GetClipboardString(nullptr), L"kept");
}

TEST_F(Desktop, KeysAndTheLeftButtonReadAsPressedWhileDown) {
    using namespace VTools::Keyboard;
    // Xvfb's keycodes: left and right Shift, left Ctrl, left Alt, A.
    const struct {
        const char* key;
        bool shift, leftShift, ctrl, alt, a;
    } cases[] = {
        {"50", true, true, false, false, false},  {"62", true, false, false, false, false},
        {"37", false, false, true, false, false}, {"64", false, false, false, true, false},
        {"38", false, false, false, false, true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_x->Run({"xdotool", "keydown", c.key}));
        EXPECT_TRUE(vlibtest::WaitFor([&] {
            return IsShiftPressed() == c.shift && IsLeftShiftPressed() == c.leftShift && IsCtrlPressed() == c.ctrl &&
                   IsAltPressed() == c.alt && IsPressed('A') == c.a;
        })) << c.key;
        ASSERT_TRUE(m_x->Run({"xdotool", "keyup", c.key}));
        EXPECT_TRUE(vlibtest::WaitFor([] { return !IsShiftPressed() && !IsCtrlPressed() && !IsAltPressed(); }));
    }
    EXPECT_FALSE(IsLeftMousePressed());
    ASSERT_TRUE(m_x->Run({"xdotool", "mousedown", "1"}));
    EXPECT_TRUE(vlibtest::WaitFor([] { return IsLeftMousePressed(); }));
    ASSERT_TRUE(m_x->Run({"xdotool", "mouseup", "1"}));
    EXPECT_TRUE(vlibtest::WaitFor([] { return !IsLeftMousePressed(); }));
}

}  // namespace

// Key states: the server's keymap and pointer buttons through a table from
// virtual-key codes to keycodes, made from the keyboard mapping.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <utility>
#include <vector>

#include "platform/x11/internal/Connection.h"
#include "platform/x11/internal/Desktop.h"

namespace vplatform::x11 {
namespace {

// Virtual-key codes of keysyms.  A keysym may stand for a generic key and a
// side (Shift_L: VK_LSHIFT and VK_SHIFT).
struct KeyName {
    KeySym keysym;
    unsigned char vk;
    unsigned char generic;  // 0: none
};

constexpr unsigned char VK_SHIFT_ = 0x10, VK_CONTROL_ = 0x11, VK_MENU_ = 0x12;

constexpr KeyName kKeys[] = {
    {XK_BackSpace, 0x08, 0},
    {XK_Tab, 0x09, 0},
    {XK_ISO_Left_Tab, 0x09, 0},
    {XK_Clear, 0x0C, 0},
    {XK_Return, 0x0D, 0},
    {XK_KP_Enter, 0x0D, 0},
    {XK_Shift_L, 0xA0, VK_SHIFT_},
    {XK_Shift_R, 0xA1, VK_SHIFT_},
    {XK_Control_L, 0xA2, VK_CONTROL_},
    {XK_Control_R, 0xA3, VK_CONTROL_},
    {XK_Alt_L, 0xA4, VK_MENU_},
    {XK_Meta_L, 0xA4, VK_MENU_},
    {XK_Alt_R, 0xA5, VK_MENU_},
    {XK_Meta_R, 0xA5, VK_MENU_},
    {XK_ISO_Level3_Shift, 0xA5, VK_MENU_},  // AltGr is the right Alt
    {XK_Mode_switch, 0xA5, VK_MENU_},
    {XK_Pause, 0x13, 0},
    {XK_Caps_Lock, 0x14, 0},
    {XK_Escape, 0x1B, 0},
    {XK_space, 0x20, 0},
    {XK_Prior, 0x21, 0},
    {XK_KP_Prior, 0x21, 0},
    {XK_Next, 0x22, 0},
    {XK_KP_Next, 0x22, 0},
    {XK_End, 0x23, 0},
    {XK_KP_End, 0x23, 0},
    {XK_Home, 0x24, 0},
    {XK_KP_Home, 0x24, 0},
    {XK_Left, 0x25, 0},
    {XK_KP_Left, 0x25, 0},
    {XK_Up, 0x26, 0},
    {XK_KP_Up, 0x26, 0},
    {XK_Right, 0x27, 0},
    {XK_KP_Right, 0x27, 0},
    {XK_Down, 0x28, 0},
    {XK_KP_Down, 0x28, 0},
    {XK_Select, 0x29, 0},
    {XK_Print, 0x2C, 0},
    {XK_Execute, 0x2B, 0},
    {XK_Insert, 0x2D, 0},
    {XK_KP_Insert, 0x2D, 0},
    {XK_Delete, 0x2E, 0},
    {XK_KP_Delete, 0x2E, 0},
    {XK_Help, 0x2F, 0},
    {XK_Super_L, 0x5B, 0},
    {XK_Super_R, 0x5C, 0},
    {XK_Menu, 0x5D, 0},
    {XK_KP_0, 0x60, 0},
    {XK_KP_1, 0x61, 0},
    {XK_KP_2, 0x62, 0},
    {XK_KP_3, 0x63, 0},
    {XK_KP_4, 0x64, 0},
    {XK_KP_5, 0x65, 0},
    {XK_KP_6, 0x66, 0},
    {XK_KP_7, 0x67, 0},
    {XK_KP_8, 0x68, 0},
    {XK_KP_9, 0x69, 0},
    {XK_KP_Multiply, 0x6A, 0},
    {XK_KP_Add, 0x6B, 0},
    {XK_KP_Separator, 0x6C, 0},
    {XK_KP_Subtract, 0x6D, 0},
    {XK_KP_Decimal, 0x6E, 0},
    {XK_KP_Divide, 0x6F, 0},
    {XK_Num_Lock, 0x90, 0},
    {XK_Scroll_Lock, 0x91, 0},
    {XK_semicolon, 0xBA, 0},
    {XK_equal, 0xBB, 0},
    {XK_plus, 0xBB, 0},
    {XK_comma, 0xBC, 0},
    {XK_minus, 0xBD, 0},
    {XK_period, 0xBE, 0},
    {XK_slash, 0xBF, 0},
    {XK_grave, 0xC0, 0},
    {XK_bracketleft, 0xDB, 0},
    {XK_backslash, 0xDC, 0},
    {XK_bracketright, 0xDD, 0},
    {XK_apostrophe, 0xDE, 0},
    {XK_less, 0xE2, 0},
};

constexpr unsigned char VK_CAPITAL_ = 0x14, VK_NUMLOCK_ = 0x90, VK_SCROLL_ = 0x91;

// The keycodes of each virtual key, made again when the mapping changes.
class KeyTable final : public Watcher {
public:
    KeyTable() { SharedDisplay::AddWatcher(this); }

    void Connected(Connection&) override { m_valid = false; }
    void Event(Connection&, const XEvent& event) override {
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(const_cast<XMappingEvent*>(&event.xmapping));
            m_valid = false;
        }
    }
    void Lost() override { m_valid = false; }

    // With the shared connection locked.
    bool Read(Connection& connection, KeyboardState& state, bool withPointer) {
        Display* display = connection.Dpy();
        if (!m_valid) Build(display);
        char keys[32] = {};
        ErrorTrap trap(connection);
        XQueryKeymap(display, keys);
        state = {};
        for (int vk = 0; vk < 256; ++vk) {
            for (const KeyCode code : m_codes[vk]) {
                if ((keys[code / 8] & (1 << (code % 8))) != 0) {
                    state.down.set(vk);
                    break;
                }
            }
        }
        if (withPointer) {
            Window root = 0;
            Window child = 0;
            int x = 0;
            int y = 0;
            int wx = 0;
            int wy = 0;
            unsigned mask = 0;
            if (XQueryPointer(display, connection.Root(), &root, &child, &x, &y, &wx, &wy, &mask)) {
                state.down.set(0x01, (mask & Button1Mask) != 0);  // VK_LBUTTON
                state.down.set(0x02, (mask & Button3Mask) != 0);  // VK_RBUTTON
                state.down.set(0x04, (mask & Button2Mask) != 0);  // VK_MBUTTON
                state.toggled.set(VK_CAPITAL_, (mask & LockMask) != 0);
                state.toggled.set(VK_NUMLOCK_, m_numLock != 0 && (mask & m_numLock) != 0);
                state.toggled.set(VK_SCROLL_, m_scrollLock != 0 && (mask & m_scrollLock) != 0);
            }
        }
        return trap.Check() == 0 || !connection.Lost();
    }

private:
    void Build(Display* display) {
        for (auto& codes : m_codes) codes.clear();
        int first = 0;
        int last = 0;
        XDisplayKeycodes(display, &first, &last);
        int perCode = 0;
        KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perCode);
        if (map != nullptr) {
            for (int code = first; code <= last; ++code) {
                for (int column = 0; column < perCode; ++column) {
                    Add(map[(code - first) * perCode + column], static_cast<KeyCode>(code));
                }
            }
            XFree(map);
        }
        // The modifier bits that Num Lock and Scroll Lock set.
        m_numLock = m_scrollLock = 0;
        if (XModifierKeymap* modifiers = XGetModifierMapping(display)) {
            for (int modifier = 0; modifier < 8; ++modifier) {
                for (int k = 0; k < modifiers->max_keypermod; ++k) {
                    const KeyCode code = modifiers->modifiermap[modifier * modifiers->max_keypermod + k];
                    if (code == 0) continue;
                    const KeySym keysym = XkbKeycodeToKeysym(display, code, 0, 0);
                    if (keysym == XK_Num_Lock) m_numLock = 1u << modifier;
                    if (keysym == XK_Scroll_Lock) m_scrollLock = 1u << modifier;
                }
            }
            XFreeModifiermap(modifiers);
        }
        m_valid = true;
    }

    void Add(KeySym keysym, KeyCode code) {
        if (keysym == NoSymbol) return;
        auto add = [this, code](unsigned vk) {
            auto& codes = m_codes[vk];
            for (const KeyCode known : codes) {
                if (known == code) return;
            }
            codes.push_back(code);
        };
        if ((keysym >= XK_a && keysym <= XK_z) || (keysym >= XK_A && keysym <= XK_Z)) {
            add(static_cast<unsigned>('A' + (keysym >= XK_a ? keysym - XK_a : keysym - XK_A)));
        } else if (keysym >= XK_0 && keysym <= XK_9) {
            add(static_cast<unsigned>('0' + (keysym - XK_0)));
        } else if (keysym >= XK_F1 && keysym <= XK_F24) {
            add(0x70 + static_cast<unsigned>(keysym - XK_F1));
        } else {
            for (const KeyName& name : kKeys) {
                if (name.keysym != keysym) continue;
                add(name.vk);
                if (name.generic != 0) add(name.generic);
            }
        }
    }

    bool m_valid = false;
    std::array<std::vector<KeyCode>, 256> m_codes;
    unsigned m_numLock = 0;
    unsigned m_scrollLock = 0;
};

KeyTable& Table() {
    static auto* table = new KeyTable;  // never destroyed, as the shared connection
    return *table;
}

}  // namespace

bool ReadKeyboard(KeyboardState& state, bool withPointer) {
    KeyTable& table = Table();
    auto display = SharedDisplay::Acquire();
    if (!display) return false;
    table.Read(*display, state, withPointer);
    return display.Dispatch();
}

}  // namespace vplatform::x11

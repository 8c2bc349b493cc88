// Helpers of the GDI tests: a fixture that runs without a display and checks
// that each test leaves GetGuiResources as it found it, owners of a screen DC
// and of a font, and conversions for the peers.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Handles.h"
#include "platform/kernel/Threads.h"
#include "platform/nls/CodePage.h"
#include "platform/user/DisplayDc.h"
#include "tests/platform/kernel/HandleTestSupport.h"

namespace vlibtest {

inline DWORD GdiObjectCount() {
    return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
}

// No X server: the GDI must not need one.  Every test must give back every
// GDI object it made, its fixture's members included (the count is checked
// once they are destroyed).
class GdiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { unsetenv("DISPLAY"); }
    ~GdiTest() override { EXPECT_EQ(GdiObjectCount(), m_start) << "GDI objects leaked"; }

private:
    const DWORD m_start = GdiObjectCount();
};

// The screen DC for a scope.
class ScreenDc {
public:
    ScreenDc() : m_dc(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (m_dc != nullptr) ReleaseDC(nullptr, m_dc);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    operator HDC() const { return m_dc; }

private:
    HDC m_dc;
};

// A font for a scope: `height` as lfHeight (negative: the em in pixels).
class FontScope {
public:
    FontScope(const wchar_t* face, LONG height, LONG weight = FW_NORMAL, bool italic = false)
        : m_font(CreateFontW(height, 0, 0, 0, weight, italic ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                             face)) {}
    ~FontScope() {
        if (m_font != nullptr) DeleteObject(m_font);
    }
    FontScope(const FontScope&) = delete;
    FontScope& operator=(const FontScope&) = delete;
    operator HFONT() const { return m_font; }

private:
    HFONT m_font;
};

// Selects a font into a DC for a scope.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(SelectObject(dc, object)) {}
    ~Selection() {
        if (m_previous != nullptr) SelectObject(m_dc, m_previous);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_previous;
};

// The width GetTextExtentPoint32W gives in the DC's font.
inline LONG TextWidth(HDC dc, const std::wstring& text) {
    SIZE size{-1, -1};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
}

inline std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 4 + 1, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return out;
}

inline std::string FontFile(HFONT font) {
    wchar_t file[1024] = {};
    if (vplatformGetFontFileW(font, file, 1024, nullptr) == 0) return {};
    return Utf8(file);
}

}  // namespace vlibtest

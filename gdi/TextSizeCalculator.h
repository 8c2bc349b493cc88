// TextSizeCalculator: text measured with DrawTextW in its calculate-only
// mode, in the calculator's own screen DC or in a DC and font the caller
// gives.
//
// Results are empty (a width of 0, an empty rectangle or size) for the
// empty text, a text longer than INT_MAX units, without a DC, and for a font
// that cannot be selected; a null font measures in the DC's current font.
// Every font selected for a measurement is selected back afterwards, so the
// caller may delete it.  DT_MODIFYSTRING is never passed on: the text is not
// written to.  Nothing logs or throws.
//
// Threads: a calculator belongs to one thread at a time; the static members
// may be called from any thread, on a DC of that thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "VLibExport.h"
#include "gdi/GdiOwners.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxGeometry.h"
#include "platform/mfc/AfxWin.h"

class VLIB_API TextSizeCalculator {
public:
    // Takes the screen DC (GetDC of no window) for the calculator's life.
    TextSizeCalculator();
    TextSizeCalculator(TextSizeCalculator&& other) noexcept = default;
    // Releases its DC and takes over the other's.
    TextSizeCalculator& operator=(TextSizeCalculator&& other) noexcept = default;
    TextSizeCalculator(const TextSizeCalculator&) = delete;
    TextSizeCalculator& operator=(const TextSizeCalculator&) = delete;
    ~TextSizeCalculator();

    // The width in pixels of the text in `font` (DT_CALCRECT only: lines
    // break only at line-break characters, the widest counts; '&' marks a
    // prefix).
    int Width(std::wstring_view text, HGDIOBJ font) const;

    // The text's rectangle from (0, 0): right and bottom are its width and
    // height, on one line with `singleLine`.  Without a pair, in
    // DEFAULT_GUI_FONT on a screen DC taken and given back for the call; a
    // pair given is neither released nor left changed.
    static CRect GetTextRect(std::optional<std::pair<HDC, HFONT>> dcAndFont, std::wstring_view text, bool singleLine);
    // The width and height of GetTextRect.
    static CSize GetTextSize(std::optional<std::pair<HDC, HFONT>> dcAndFont, std::wstring_view text, bool singleLine);

    // The text laid out in a static control: from its client rectangle
    // (origin 0, 0) or its window rectangle (screen coordinates), in the
    // control's font (WM_GETFONT; none: the system font) on the control's
    // own DC, with `format` (DT_CALCRECT added; with DT_WORDBREAK lines wrap
    // at the rectangle's width).  The rectangle's left and top stay, its
    // right and bottom move to the text's extent.  Empty for a control
    // without a live window.  Call on the control's thread.
    static CRect GetTextClientRectFromStatic(CStatic& control, std::wstring_view text, std::uint32_t format);
    static CRect GetTextWindowRectFromStatic(CStatic& control, std::wstring_view text, std::uint32_t format);

private:
    friend struct TextSizeCalculatorTestAccess;

    // `start` laid out as above on the control's DC, given back afterwards.
    static CRect GetTextRect(const CRect& start, CStatic& control, std::wstring_view text, std::uint32_t format);

    // `start` with its right and bottom moved to the text's extent, laid out
    // by `format` (DT_CALCRECT added, DT_MODIFYSTRING taken away; with
    // DT_WORDBREAK lines wrap at the rectangle's width) in `font` on `dc`;
    // the font selected before is put back.  The measuring behind the text
    // rectangles of static controls, which pass their own DC and font.
    static CRect GetTextRectInDc(const CRect& start, HDC dc, HFONT font, std::wstring_view text, std::uint32_t format);

    HdcsOwner m_screen;
};

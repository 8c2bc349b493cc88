// TextSizeCalculator.
#include "gdi/TextSizeCalculator.h"

#include <climits>

#include "platform/gdi/DrawText.h"
#include "platform/gdi/Gdi.h"

TextSizeCalculator::TextSizeCalculator() : m_screen(nullptr) {}

TextSizeCalculator::~TextSizeCalculator() = default;

int TextSizeCalculator::Width(std::wstring_view text, HGDIOBJ font) const {
    if (text.empty()) return 0;
    const CRect rect = GetTextRectInDc(CRect(0, 0, 1, 1), m_screen, static_cast<HFONT>(font), text, DT_CALCRECT);
    return rect.Width();
}

CRect TextSizeCalculator::GetTextRect(std::optional<std::pair<HDC, HFONT>> dcAndFont, std::wstring_view text,
                                      bool singleLine) {
    const UINT format = DT_CALCRECT | (singleLine ? DT_SINGLELINE : 0);
    if (dcAndFont) return GetTextRectInDc(CRect(0, 0, 0, 0), dcAndFont->first, dcAndFont->second, text, format);
    const HdcsOwner screen(nullptr);
    return GetTextRectInDc(CRect(0, 0, 0, 0), screen, static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)), text,
                           format);
}

CSize TextSizeCalculator::GetTextSize(std::optional<std::pair<HDC, HFONT>> dcAndFont, std::wstring_view text,
                                      bool singleLine) {
    return GetTextRect(dcAndFont, text, singleLine).Size();
}

CRect TextSizeCalculator::GetTextClientRectFromStatic(CStatic& control, std::wstring_view text, std::uint32_t format) {
    CRect client;
    if (control.GetSafeHwnd() == nullptr || !GetClientRect(control.GetSafeHwnd(), &client)) return CRect();
    return GetTextRect(client, control, text, format);
}

CRect TextSizeCalculator::GetTextWindowRectFromStatic(CStatic& control, std::wstring_view text, std::uint32_t format) {
    CRect window;
    if (control.GetSafeHwnd() == nullptr || !GetWindowRect(control.GetSafeHwnd(), &window)) return CRect();
    return GetTextRect(window, control, text, format);
}

CRect TextSizeCalculator::GetTextRect(const CRect& start, CStatic& control, std::wstring_view text,
                                      std::uint32_t format) {
    // A null window would give the screen's DC: a control without a window
    // has nothing to measure.
    // DrawTextW leaves the start rectangle as it is for no text, which
    // would report the whole control as the text's extent.
    if (control.GetSafeHwnd() == nullptr || text.empty()) return CRect();
    const HdcsOwner dc(control.GetSafeHwnd());
    if (!dc) return CRect();
    const auto font = reinterpret_cast<HFONT>(control.SendMessage(WM_GETFONT));
    return GetTextRectInDc(start, dc, font, text, format);
}

CRect TextSizeCalculator::GetTextRectInDc(const CRect& start, HDC dc, HFONT font, std::wstring_view text,
                                          std::uint32_t format) {
    if (dc == nullptr || text.size() > INT_MAX) return CRect();
    HGDIOBJ previous = nullptr;
    if (font != nullptr) {
        previous = SelectObject(dc, font);
        if (previous == nullptr) return CRect();
    }
    CRect rect = start;
    const int height =
        DrawTextW(dc, text.data(), static_cast<int>(text.size()), &rect, (format | DT_CALCRECT) & ~DT_MODIFYSTRING);
    if (previous != nullptr) SelectObject(dc, previous);
    return height != 0 ? rect : CRect();
}

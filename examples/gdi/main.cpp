// Fitting a price into a table cell and measuring text, in real fonts; no
// display is needed.
#include <VLibIncludes.h>

#include <iostream>

int main() {
    // A font of 8 points at 96 DPI: the height is the em in pixels, negative
    // (a positive height asks for the cell height instead).
    const int points = 8;
    const LONG height = -(points * 96 + 36) / 72;  // -11
    HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Arial");
    if (font == nullptr) return 1;

    // The same price in cells of shrinking width: fewer decimals, then the
    // short form, then nothing.
    VTools::NumberFormatter formatter;
    for (const std::uint32_t width : {80u, 40u, 25u, 5u}) {
        std::wstring cell;
        formatter.SlowFormat(cell, L"", font, width, 1234567.891, ePrecision2, ePrecisionNone);
        std::cout << width << " px: '" << VTools::String::WideToUtf8(cell) << "'\n";
    }

    // The size of a text in the font, on the screen DC.
    const CSize size = TextSizeCalculator::GetTextSize(std::nullopt, L"Zażółć gęślą jaźń", true);
    std::cout << "text in the system font: " << size.cx << "x" << size.cy << " px\n";
    DeleteObject(font);
}

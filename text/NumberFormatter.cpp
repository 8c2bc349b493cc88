// Numbers fitted to pixel widths.
#include "text/NumberFormatter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "platform/gdi/DrawText.h"
#include "platform/gdi/Gdi.h"
#include "platform/user/DisplayDc.h"

namespace VTools {

// An open run: the screen DC, the font that was selected before the run's
// own, and the font last asked for.  Shared by the copies of a formatter;
// the last of them ends it.
struct NumberFormatter::Run {
    HDC dc = nullptr;
    HFONT previousFont = nullptr;
    HFONT currentFont = nullptr;

    Run() = default;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run() { Clean(dc, previousFont); }
};

namespace {

constexpr std::wstring_view kAboveNumberFormat = L"%s...";
constexpr std::wstring_view kPlainFormat = L"%s";

bool IsPlainFormat(std::wstring_view format) {
    return format.empty() || (format.size() == 2 && format[0] == L'%' && format[1] == L's');
}

// Puts `text` into a printf-like `format` for its first "%s"; "%%" is one
// '%', everything else is copied.
void ApplyFormat(std::wstring_view format, std::wstring& text) {
    if (IsPlainFormat(format)) return;
    std::wstring result;
    result.reserve(format.size() + text.size());
    bool placed = false;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size()) {
            if (format[i + 1] == L'%') {
                result.push_back(L'%');
                ++i;
                continue;
            }
            if (format[i + 1] == L's' && !placed) {
                result.append(text);
                placed = true;
                ++i;
                continue;
            }
        }
        result.push_back(format[i]);
    }
    text.swap(result);
}

// True when a suffix form's number is 0 ("0k", "-0m").
bool ShowsZero(const std::wstring& text) {
    std::size_t i = text.empty() || text[0] != L'-' ? 0 : 1;
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
        if (text[i] != L'0') return false;
        ++i;
    }
    return i > digits;
}

// The width of a text in the DC's font, as DrawTextW measures it from the
// rectangle (0, 0, 1, 1); nothing when it cannot measure.
std::optional<long long> Measure(HDC dc, const std::wstring& text) {
    RECT rect{0, 0, 1, 1};
    if (DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_CALCRECT | DT_NOCLIP) == 0) {
        return std::nullopt;
    }
    return static_cast<long long>(rect.right) - rect.left;
}

}  // namespace

NumberFormatter::NumberFormatter() = default;
NumberFormatter::NumberFormatter(const NumberFormatter& other) = default;
NumberFormatter::NumberFormatter(NumberFormatter&& other) noexcept
    : m_buffer(std::move(other.m_buffer)), m_run(other.m_run) {}

NumberFormatter& NumberFormatter::operator=(const NumberFormatter& other) {
    if (this != &other) {
        m_buffer = other.m_buffer;
        m_run = other.m_run;
    }
    return *this;
}

NumberFormatter& NumberFormatter::operator=(NumberFormatter&& other) noexcept {
    if (this != &other) {
        m_buffer = std::move(other.m_buffer);
        m_run = other.m_run;
    }
    return *this;
}

NumberFormatter::~NumberFormatter() = default;

NumberFormatter::PrecisionType NumberFormatter::Precision2PrecisionType(EPrecision precision) {
    return Precision2PrecisionType(precision, Decimals4);
}

NumberFormatter::PrecisionType NumberFormatter::Precision2PrecisionType(EPrecision precision,
                                                                        PrecisionType defaultType) {
    const auto value = static_cast<std::int32_t>(precision);
    return value >= 0 && value <= 6 ? static_cast<PrecisionType>(value) : defaultType;
}

EPrecision NumberFormatter::PrecisionType2Precision(PrecisionType type) {
    const auto value = static_cast<std::int32_t>(type);
    return value >= 1 && value <= 6 ? static_cast<EPrecision>(value) : ePrecision0;
}

std::wstring_view NumberFormatter::GetAboveNumberFormat() {
    return kAboveNumberFormat;
}

bool NumberFormatter::IsAboveNumber(double value) {
    return std::fabs(value) >= AboveNormal;
}

double NumberFormatter::PrepareNumberAccordingToPrecision(double value, PrecisionType type) {
    switch (type) {
        case Billions:
            return value / 1'000'000'000.0;
        case Millions:
            return value / 1'000'000.0;
        case Thousands:
            return value / 1000.0;
        default:
            return value;
    }
}

void NumberFormatter::FormatTextWithPrecisionDependOnType(PrecisionType type, double value, std::wstring& text) {
    const auto places = static_cast<std::int32_t>(type);
    if (places < Billions || places > Decimals6) {
        text.clear();
        return;
    }
    // Exact decimal expansion rounded as printf rounds it, with '.' whatever
    // the locale: room for the 309 integer digits of the largest double.
    char digits[400];
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, places > 0 ? places : 0);
    if (error != std::errc()) return;
    static constexpr std::wstring_view kSuffixes[] = {L"md", L"m", L"k"};
    const std::wstring_view suffix = places < 0 ? kSuffixes[places - Billions] : std::wstring_view();
    // Widened in place: assigning the narrow range would build a temporary.
    const auto length = static_cast<std::size_t>(end - digits);
    text.resize(length + suffix.size());
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<unsigned char>(digits[i]);
    suffix.copy(text.data() + length, suffix.size());
}

void NumberFormatter::TrimPrecisionZeroes(std::wstring& text, EPrecision from, EPrecision to) {
    TrimPrecisionZeroes(text, Precision2PrecisionType(from, Decimals4), Precision2PrecisionType(to, Decimals4));
}

void NumberFormatter::TrimPrecisionZeroes(std::wstring& text, PrecisionType from, PrecisionType to) {
    if (from <= to || text.empty() || text.back() != L'0' || text.find(L'.') == std::wstring::npos) return;
    int removable = from - to;
    while (removable > 0 && !text.empty() && text.back() == L'0') {
        text.pop_back();
        --removable;
    }
    if (!text.empty() && text.back() == L'.') text.pop_back();
}

void NumberFormatter::Clean(HDC& dc, HFONT& font) {
    if (dc != nullptr) {
        if (font != nullptr) SelectObject(dc, font);
        ReleaseDC(nullptr, dc);
    }
    dc = nullptr;
    font = nullptr;
}

void NumberFormatter::AddSpaces(std::wstring& text) {
    const auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    const std::size_t length = text.size();
    const std::size_t first = length > 0 && text[0] == L'-' ? 1 : 0;
    std::size_t run = first;
    while (run < length && isDigit(text[run])) ++run;
    const std::size_t digits = run - first;
    if (digits <= 3) {
        // Three digits or fewer, and no digit after them before the point:
        // no space goes in (the common case of prices).
        std::size_t k = run;
        while (k < length && text[k] != L'.' && !isDigit(text[k])) ++k;
        if (k == length || text[k] == L'.') return;
    }
    unsigned r = digits % 3;
    // Room for the spaces and a terminator; kept between calls.
    const std::size_t room = std::max<std::size_t>(length * 4, 1);
    if (m_buffer.size() < room) m_buffer.resize(room);
    wchar_t* out = m_buffer.data();
    std::size_t written = 0;
    std::size_t i = 0;
    for (; i < length && text[i] != L'.'; ++i) {
        const wchar_t c = text[i];
        if (c == L'-') {
            out[written++] = c;
            continue;
        }
        if (r == 0 && isDigit(c) && written > 0 && out[written - 1] != L'-') out[written++] = L' ';
        out[written++] = c;
        r = (r + 2) % 3;
    }
    for (; i < length; ++i) out[written++] = text[i];
    text.assign(out, written);
}

bool NumberFormatter::FormatString(std::wstring& out, std::wstring_view format, HDC dc, double value,
                                   PrecisionType type, std::optional<std::uint32_t> width) {
    const bool plain = IsPlainFormat(format);
    double s = PrepareNumberAccordingToPrecision(value, type);
    auto t = static_cast<std::int32_t>(type);
    for (;;) {
        FormatTextWithPrecisionDependOnType(static_cast<PrecisionType>(t), s, out);
        // A suffix form that shows 0 for a value that is not 0 misstates it:
        // the attempts end with the empty text.
        if (t < 0 && value != 0 && ShowsZero(out)) out.clear();
        const bool fraction = s != 0 && std::fabs(s) < 1;
        if (t == Decimals0 || t == Thousands || t == Millions) s /= 1000;
        --t;
        // The empty text (below Billions, or the case above) fits any cell.
        if (out.empty()) return true;
        AddSpaces(out);
        if (!plain) ApplyFormat(format, out);
        if (!width) return true;
        const auto measured = Measure(dc, out);
        if (!measured) return false;
        if (*measured <= static_cast<long long>(*width)) return true;
        // A fraction below 1 keeps its decimal places, but for the last one.
        if (fraction && t > Decimals0) return true;
    }
}

void NumberFormatter::FormatBigValue(std::wstring& out, HDC dc, double value, bool always) {
    if (std::isinf(value)) {
        out = L"#INF";
        return;
    }
    if (std::isnan(value)) {
        out = L"#NAN";
        return;
    }
    if (!always && !IsAboveNumber(value)) return;
    double mantissa = value / AboveNormal;
    while (mantissa > 1000 || mantissa < -1000) mantissa /= 1000;
    while (mantissa > 10 || mantissa < -10) mantissa /= 10;
    FormatString(out, kAboveNumberFormat, dc, mantissa, Decimals0, std::nullopt);
}

void NumberFormatter::CommonFormat(HDC dc, std::wstring& out, std::wstring_view format, double value,
                                   std::optional<std::uint32_t> width, EPrecision precision, EPrecision trimPrecision) {
    const PrecisionType type = Precision2PrecisionType(precision);
    // The text is built apart and handed over when it is done: a text that
    // cannot be measured (its font's file unreadable) leaves `out` as it was
    // rather than an unfitted text.
    std::wstring& text = m_text;
    // Big values, infinities and NaN take their text from FormatBigValue.
    if (std::isfinite(value) && !IsAboveNumber(value) && !FormatString(text, kPlainFormat, dc, value, type, width)) {
        return;
    }
    FormatBigValue(text, dc, value, false);
    if (static_cast<std::int32_t>(trimPrecision) >= 0) {
        TrimPrecisionZeroes(text, type, Precision2PrecisionType(trimPrecision));
    }
    ApplyFormat(format, text);
    out.swap(text);
}

bool NumberFormatter::PrepareFastFormat(HFONT font) {
    if (!m_run || m_run->dc == nullptr) return false;
    Run& run = *m_run;
    if (font == run.currentFont) return true;
    if (run.previousFont != nullptr) {
        SelectObject(run.dc, run.previousFont);
        run.previousFont = nullptr;
    }
    run.currentFont = nullptr;
    if (font != nullptr) {
        const HGDIOBJ replaced = SelectObject(run.dc, font);
        if (replaced == nullptr) return false;  // not a font: nothing is formatted
        run.previousFont = static_cast<HFONT>(replaced);
    }
    run.currentFont = font;
    return true;
}

void NumberFormatter::BeginFormat() {
    if (m_run && m_run->dc != nullptr) return;
    auto run = std::make_shared<Run>();
    run->dc = GetDC(nullptr);
    if (run->dc == nullptr) return;
    m_run = std::move(run);
}

void NumberFormatter::EndFormat() {
    if (!m_run) return;
    Clean(m_run->dc, m_run->previousFont);
    m_run->currentFont = nullptr;
    m_run.reset();
}

void NumberFormatter::FastFormat(std::wstring& out, std::wstring_view format, HFONT font, std::uint32_t width,
                                 double value, EPrecision precision, EPrecision trimPrecision) {
    if (!PrepareFastFormat(font)) return;
    CommonFormat(m_run->dc, out, format, value, font != nullptr ? std::optional(width) : std::nullopt, precision,
                 trimPrecision);
}

void NumberFormatter::FastFormatInPrecision(std::wstring& out, std::wstring_view format, HFONT font, double value,
                                            PrecisionType type) {
    (void)type;
    if (!PrepareFastFormat(font)) return;
    FormatBigValue(out, m_run->dc, value, true);
    ApplyFormat(format, out);
}

void NumberFormatter::SlowFormat(std::wstring& out, std::wstring_view format, HFONT font, std::uint32_t width,
                                 double value, EPrecision precision, EPrecision trimPrecision) {
    HDC dc = GetDC(nullptr);
    if (dc == nullptr) return;
    HFONT previous = nullptr;
    // Puts the font back and gives the DC back on every way out.
    struct Release {
        HDC& dc;
        HFONT& previous;
        ~Release() { Clean(dc, previous); }
    } release{dc, previous};
    std::optional<std::uint32_t> fitTo;
    if (font != nullptr) {
        previous = static_cast<HFONT>(SelectObject(dc, font));
        if (previous == nullptr) return;  // not a font: nothing is formatted
        fitTo = width;
    }
    CommonFormat(dc, out, format, value, fitTo, precision, trimPrecision);
}

}  // namespace VTools

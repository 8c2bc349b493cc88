// Numbers fitted to pixel widths.
#include "text/NumberFormatter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <utility>

#include "platform/gdi/DrawText.h"
#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi.h"
#include "platform/user/DisplayDc.h"

namespace VTools {

namespace {

// The advances of the characters of number texts in a run's current font,
// read from its DC once per font (-1: a character that is not one of them);
// a text of them is as wide as the sum of its characters' advances, which is
// how DrawTextW measures one line.
struct Advances {
    HDC dc = nullptr;
    std::array<int, 128> widths{};
    bool read = false;
};

constexpr std::wstring_view kAboveNumberFormat = L"%s...";
// Every character a number text is made of.
constexpr wchar_t kNumberCharacters[] = L"0123456789 .-kmd";
constexpr std::size_t kNumberCharacterCount = sizeof kNumberCharacters / sizeof kNumberCharacters[0] - 1;
// Room for a number's text: the 309 integer digits of the largest double,
// a sign, a point and 6 places, a suffix.
constexpr std::size_t kNumberRoom = 400;
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

// The bodies of the public helpers, which the formatting calls use directly
// (a call through the exported name could not be inlined).
NumberFormatter::PrecisionType TypeOf(EPrecision precision, NumberFormatter::PrecisionType defaultType) {
    const auto value = static_cast<std::int32_t>(precision);
    return value >= 0 && value <= 6 ? static_cast<NumberFormatter::PrecisionType>(value) : defaultType;
}

bool IsAbove(double value) {
    return std::fabs(value) >= NumberFormatter::AboveNormal;
}

double Scaled(double value, NumberFormatter::PrecisionType type) {
    switch (type) {
        case NumberFormatter::Billions:
            return value / 1'000'000'000.0;
        case NumberFormatter::Millions:
            return value / 1'000'000.0;
        case NumberFormatter::Thousands:
            return value / 1000.0;
        default:
            return value;
    }
}

// True when a suffix form's number is 0 ("0k", "-0m").
bool ShowsZero(const char* text, std::size_t length) {
    std::size_t i = length == 0 || text[0] != '-' ? 0 : 1;
    const std::size_t digits = i;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
        if (text[i] != '0') return false;
        ++i;
    }
    return i > digits;
}

// printf's "%.*f" of a finite `value` with `places` (0-6) into `out` (room
// for 30 characters), or null when the value is too large for the quick way
// (from about 1.8e13 on): the exact binary value mantissa * 2^exponent times
// 10^places, divided by the power of two in 128-bit integers and rounded to
// even on a tie, is the number to write.
char* QuickFixed(double value, int places, char* out) {
    static constexpr std::uint64_t kPowers[] = {1, 10, 100, 1000, 10'000, 100'000, 1'000'000};
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
        mantissa |= std::uint64_t{1} << 52;
        exponent = biased - 1075;
    }
    // value = mantissa * 2^exponent; scaled < 2^73.
    const auto scaled = static_cast<unsigned __int128>(mantissa) * kPowers[places];
    unsigned __int128 rounded = 0;
    if (exponent < 0 && exponent > -64 && (scaled >> 64) == 0) {
        // The same in 64 bits (prices, volumes and their suffix forms).
        const auto narrow = static_cast<std::uint64_t>(scaled);
        const int shift = -exponent;
        std::uint64_t whole = narrow >> shift;
        const std::uint64_t rest = narrow - (whole << shift);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (whole & 1) != 0)) ++whole;
        rounded = whole;
    } else if (exponent >= 0) {
        if (exponent > 20) return nullptr;
        rounded = scaled << exponent;
    } else if (exponent > -128) {
        const int shift = -exponent;
        rounded = scaled >> shift;
        const unsigned __int128 rest = scaled - (rounded << shift);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest > half || (rest == half && (rounded & 1) != 0)) ++rounded;
    }  // else below 2^-55: rounds to 0
    if ((rounded >> 64) != 0) return nullptr;
    // The digits from the last, two at a time.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    auto whole = static_cast<std::uint64_t>(rounded);
    char digits[24];
    int count = 0;
    while (whole >= 100) {
        const auto pair = static_cast<std::size_t>(whole % 100) * 2;
        whole /= 100;
        digits[count++] = kPairs[pair + 1];
        digits[count++] = kPairs[pair];
    }
    if (whole >= 10) {
        digits[count++] = kPairs[whole * 2 + 1];
        digits[count++] = kPairs[whole * 2];
    } else {
        digits[count++] = static_cast<char>('0' + whole);
    }
    while (count < places + 1) digits[count++] = '0';
    if ((bits >> 63) != 0) *out++ = '-';  // as printf: "-0.00" for a small negative value
    for (int i = count - 1; i >= places; --i) *out++ = digits[i];
    if (places > 0) {
        *out++ = '.';
        for (int i = places - 1; i >= 0; --i) *out++ = digits[i];
    }
    return out;
}

// The text of `value` in the form of `type` (-3..6: a suffix form or
// decimal places) into `out` (kNumberRoom characters): its length, 0 for a
// type outside -3..6 (or, never, a value that does not fit).
std::size_t NumberText(std::int32_t type, double value, char* out) {
    if (type < NumberFormatter::Billions || type > NumberFormatter::Decimals6) return 0;
    const int places = type > 0 ? type : 0;
    char* end = std::isfinite(value) ? QuickFixed(value, places, out) : nullptr;
    if (end == nullptr) {
        // Exact decimal expansion rounded as printf rounds it, with '.'
        // whatever the locale.
        const auto [last, error] = std::to_chars(out, out + kNumberRoom - 2, value, std::chars_format::fixed, places);
        if (error != std::errc()) return 0;
        end = last;
    }
    static constexpr std::string_view kSuffixes[] = {"md", "m", "k"};
    if (type < 0)
        end = std::copy_n(kSuffixes[type - NumberFormatter::Billions].data(),
                          kSuffixes[type - NumberFormatter::Billions].size(), end);
    return static_cast<std::size_t>(end - out);
}

// The integer digits of a number's text.
std::size_t IntegerDigits(const char* number, std::size_t length) {
    const std::size_t first = length > 0 && number[0] == '-' ? 1 : 0;
    std::size_t run = first;
    while (run < length && number[run] >= '0' && number[run] <= '9') ++run;
    return run - first;
}

// The spaces that group integer digits by threes (none up to three digits).
std::size_t GroupSpaces(std::size_t digits) {
    return digits > 3 ? (digits - 1) / 3 : 0;
}

// Widens a number's text into `text` with its integer digits grouped by
// threes with spaces when there are more than three ("1 234 567.5").
void GroupedText(const char* number, std::size_t length, std::wstring& text) {
    const std::size_t first = length > 0 && number[0] == '-' ? 1 : 0;
    const std::size_t digits = IntegerDigits(number, length);
    const std::size_t spaces = GroupSpaces(digits);
    text.resize(length + spaces);
    wchar_t* out = text.data();
    std::size_t i = 0;
    for (; i < first; ++i) *out++ = static_cast<unsigned char>(number[i]);
    // Digits left in the current group; a space starts each later group.
    std::size_t group = spaces == 0 ? digits : (digits % 3 == 0 ? 3 : digits % 3);
    for (std::size_t d = 0; d < digits; ++d, ++i) {
        if (group == 0) {
            *out++ = L' ';
            group = 3;
        }
        --group;
        *out++ = static_cast<unsigned char>(number[i]);
    }
    for (; i < length; ++i) *out++ = static_cast<unsigned char>(number[i]);
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

// Reads the run's advances once per font; false when the font cannot be
// measured with.
bool ReadAdvances(Advances& run) {
    if (!run.read) {
        // One measuring call for every character: the extent after each.
        INT extents[kNumberCharacterCount];
        SIZE size{};
        if (!GetTextExtentExPointW(run.dc, kNumberCharacters, static_cast<int>(kNumberCharacterCount), -1, nullptr,
                                   extents, &size)) {
            return false;
        }
        run.widths.fill(-1);
        for (std::size_t i = 0; i < kNumberCharacterCount; ++i) {
            run.widths[static_cast<std::size_t>(kNumberCharacters[i])] = extents[i] - (i > 0 ? extents[i - 1] : 0);
        }
        run.read = true;
    }
    return true;
}

// The width of a number's narrow text once grouped; nothing when it cannot
// be measured.
std::optional<long long> MeasureNumber(Advances& run, const char* number, std::size_t length) {
    if (!ReadAdvances(run)) return std::nullopt;
    long long width = static_cast<long long>(GroupSpaces(IntegerDigits(number, length))) * run.widths[L' '];
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(number[i]);
        const int advance = c < run.widths.size() ? run.widths[c] : -1;
        if (advance < 0) {
            std::wstring text;
            GroupedText(number, length, text);
            return Measure(run.dc, text);
        }
        width += advance;
    }
    return width;
}

// Formats `value` in the form of `type`, then coarser ones, until its text
// fits `width` (no width: the first); measured from `run`'s advances when it
// is given, with DrawTextW on `dc` otherwise.  False when a text could not
// be measured (`out` then holds an attempt).
bool FitNumber(std::wstring& out, std::wstring_view format, HDC dc, Advances* run, double value,
               NumberFormatter::PrecisionType type, std::optional<std::uint32_t> width) {
    using enum NumberFormatter::PrecisionType;
    const bool plain = IsPlainFormat(format);
    double s = Scaled(value, type);
    auto t = static_cast<std::int32_t>(type);
    char number[kNumberRoom];
    for (;;) {
        std::size_t length = NumberText(t, s, number);
        // A suffix form that shows 0 for a value that is not 0 misstates it:
        // the attempts end with the empty text.
        if (t < 0 && value != 0 && ShowsZero(number, length)) length = 0;
        const bool fraction = s != 0 && std::fabs(s) < 1;
        if (t == Decimals0 || t == Thousands || t == Millions) s /= 1000;
        --t;
        // The empty text (below Billions, or the case above) fits any cell.
        if (length == 0) {
            out.clear();
            return true;
        }
        if (width && plain && run != nullptr) {
            // Measured from the narrow text; widened once it is taken.
            const auto measured = MeasureNumber(*run, number, length);
            if (!measured) return false;
            if (*measured > static_cast<long long>(*width) && !(fraction && t > Decimals0)) continue;
            GroupedText(number, length, out);
            return true;
        }
        GroupedText(number, length, out);
        if (!plain) ApplyFormat(format, out);
        if (!width) return true;
        const auto measured = Measure(run != nullptr ? run->dc : dc, out);
        if (!measured) return false;
        if (*measured <= static_cast<long long>(*width)) return true;
        // A fraction below 1 keeps its decimal places, but for the last one.
        if (fraction && t > Decimals0) return true;
    }
}

// The text of an infinity, NaN, or (when `always` or the value is that big)
// a value's short form; leaves `out` alone otherwise.
void BigValueText(std::wstring& out, HDC dc, double value, bool always) {
    if (std::isinf(value)) {
        out = L"#INF";
        return;
    }
    if (std::isnan(value)) {
        out = L"#NAN";
        return;
    }
    if (!always && !IsAbove(value)) return;
    double mantissa = value / NumberFormatter::AboveNormal;
    while (mantissa > 1000 || mantissa < -1000) mantissa /= 1000;
    while (mantissa > 10 || mantissa < -10) mantissa /= 10;
    FitNumber(out, kAboveNumberFormat, dc, nullptr, mantissa, NumberFormatter::Decimals0, std::nullopt);
}

}  // namespace

// An open run: the screen DC, the font that was selected before the run's
// own, the font last asked for and its advances.  Shared by the copies of a
// formatter; the last of them ends it.
struct NumberFormatter::Run {
    HDC dc = nullptr;
    HFONT previousFont = nullptr;
    HFONT currentFont = nullptr;
    Advances advances;

    Run() = default;
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    ~Run() { Clean(dc, previousFont); }
};

NumberFormatter::NumberFormatter() = default;
NumberFormatter::NumberFormatter(const NumberFormatter& other) = default;
NumberFormatter::NumberFormatter(NumberFormatter&& other) noexcept : m_run(other.m_run) {}

NumberFormatter& NumberFormatter::operator=(const NumberFormatter& other) {
    if (this != &other) m_run = other.m_run;
    return *this;
}

NumberFormatter& NumberFormatter::operator=(NumberFormatter&& other) noexcept {
    if (this != &other) m_run = other.m_run;
    return *this;
}

NumberFormatter::~NumberFormatter() = default;

NumberFormatter::PrecisionType NumberFormatter::Precision2PrecisionType(EPrecision precision) {
    return Precision2PrecisionType(precision, Decimals4);
}

NumberFormatter::PrecisionType NumberFormatter::Precision2PrecisionType(EPrecision precision,
                                                                        PrecisionType defaultType) {
    return TypeOf(precision, defaultType);
}

EPrecision NumberFormatter::PrecisionType2Precision(PrecisionType type) {
    const auto value = static_cast<std::int32_t>(type);
    return value >= 1 && value <= 6 ? static_cast<EPrecision>(value) : ePrecision0;
}

std::wstring_view NumberFormatter::GetAboveNumberFormat() {
    return kAboveNumberFormat;
}

bool NumberFormatter::IsAboveNumber(double value) {
    return IsAbove(value);
}

double NumberFormatter::PrepareNumberAccordingToPrecision(double value, PrecisionType type) {
    return Scaled(value, type);
}

void NumberFormatter::FormatTextWithPrecisionDependOnType(PrecisionType type, double value, std::wstring& text) {
    char number[kNumberRoom];
    const std::size_t length = NumberText(type, value, number);
    // Widened in place: assigning the narrow range would build a temporary.
    text.resize(length);
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<unsigned char>(number[i]);
}

void NumberFormatter::TrimPrecisionZeroes(std::wstring& text, EPrecision from, EPrecision to) {
    TrimPrecisionZeroes(text, TypeOf(from, Decimals4), TypeOf(to, Decimals4));
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

void NumberFormatter::CommonFormat(HDC dc, Run* fastRun, std::wstring& out, std::wstring_view format, double value,
                                   std::optional<std::uint32_t> width, EPrecision precision, EPrecision trimPrecision) {
    const PrecisionType type = TypeOf(precision, Decimals4);
    Advances* run = fastRun != nullptr ? &fastRun->advances : nullptr;
    // The text is built apart and handed over when it is done: a text that
    // cannot be measured (its font's file unreadable) leaves `out` as it was
    // rather than an unfitted text.
    std::wstring& text = m_text;
    // Big values, infinities and NaN take their text from FormatBigValue.
    if (std::isfinite(value) && !IsAbove(value) && !FitNumber(text, kPlainFormat, dc, run, value, type, width)) {
        return;
    }
    BigValueText(text, dc, value, false);
    if (static_cast<std::int32_t>(trimPrecision) >= 0) {
        TrimPrecisionZeroes(text, type, TypeOf(trimPrecision, Decimals4));
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
    run.advances.read = false;
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
    run->advances.dc = run->dc;
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
    CommonFormat(m_run->dc, m_run.get(), out, format, value, font != nullptr ? std::optional(width) : std::nullopt,
                 precision, trimPrecision);
}

void NumberFormatter::FastFormatInPrecision(std::wstring& out, std::wstring_view format, HFONT font, double value,
                                            PrecisionType type) {
    (void)type;
    if (!PrepareFastFormat(font)) return;
    BigValueText(out, m_run->dc, value, true);
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
    CommonFormat(dc, nullptr, out, format, value, fitTo, precision, trimPrecision);
}

}  // namespace VTools

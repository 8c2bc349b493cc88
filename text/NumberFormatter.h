// VTools::NumberFormatter: numbers written to fit a width in pixels, measured
// in a font on the screen's device context.
//
// A number that is too wide with the decimal places asked for loses them one
// at a time, then is shown in thousands (suffix k), millions (m) and
// billions (md), until its text fits; when nothing fits, the text is empty.
// A fraction below 1 keeps its decimal places (only the step from one place
// to none is taken).  A k, m or md form that would show 0 for a value that is
// not 0 is never used: the attempts end with the empty text then.  Integer
// digits are grouped by threes with spaces ("1 234 567.5"); the decimal
// separator is always '.' and the rounding printf's (exact binary value,
// ties to even), whatever the locale.  Values of 10^12 and more are shown in
// a short form, a mantissa followed by "..." ("5..."), an infinity as
// "#INF", NaN as "#NAN".
//
// Two ways to format:
// - SlowFormat takes the screen DC for one value and gives it back;
// - BeginFormat takes the screen DC for a run of values, FastFormat formats
//   each one on it (selecting a font only when it changes) and EndFormat ends
//   the run.  The run is shared by the formatter's copies and by formatters
//   it was moved from: EndFormat on any of them ends it for all, and the
//   last of them to be destroyed ends a run still open, so an exception
//   between BeginFormat and EndFormat leaks nothing.
//
// Widths are pixels of the screen DC, as DrawTextW measures one line: the sum
// of the characters' advances (a run reads the advances of the characters of
// number texts once per font; SlowFormat calls DrawTextW); the caller's
// format (a printf-like text with one "%s" and "%%" for '%') is put around
// the fitted text afterwards and does not count in the fitting.  Out strings
// are replaced; where a call cannot format (no DC, a font that cannot be
// selected or measured with, a closed run for the fast calls) the out string
// is left as it was.  Nothing here logs or throws (but for allocation failure).
//
// Threads: a formatter and its copies belong to the thread that opened their
// run; formatters of different threads may use the same font at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "VLibExport.h"
#include "platform/WinTypes.h"

// Decimal places, shared with the application: 0 to 6.  Any other value
// stands for 4 places where it is turned into a PrecisionType; a negative one
// given as the precision to trim to means no trimming.
enum EPrecision : std::int32_t {
    ePrecisionNone = -1,
    ePrecision0 = 0,
    ePrecision1 = 1,
    ePrecision2 = 2,
    ePrecision3 = 3,
    ePrecision4 = 4,
    ePrecision5 = 5,
    ePrecision6 = 6,
};

namespace VTools {

class VLIB_API NumberFormatter {
public:
    // The form of a number: decimal places (0-6), or a suffix for the value
    // divided by 1000 (Thousands, "k"), 10^6 (Millions, "m") or 10^9
    // (Billions, "md"), written without decimal places.  A larger type is a
    // finer text.
    enum PrecisionType : std::int32_t {
        Billions = -3,
        Millions = -2,
        Thousands = -1,
        Decimals0 = 0,
        Decimals1 = 1,
        Decimals2 = 2,
        Decimals3 = 3,
        Decimals4 = 4,
        Decimals5 = 5,
        Decimals6 = 6,
    };

    // Values from here up (in absolute value) are shown in the short form.
    static constexpr double AboveNormal = 1'000'000'000'000.0;

    NumberFormatter();
    NumberFormatter(const NumberFormatter& other);
    // The run stays shared with `other`.
    NumberFormatter(NumberFormatter&& other) noexcept;
    NumberFormatter& operator=(const NumberFormatter& other);
    NumberFormatter& operator=(NumberFormatter&& other) noexcept;
    ~NumberFormatter();

    // 0-6 give the same number of places; anything else Decimals4 (or
    // `defaultType`).
    static PrecisionType Precision2PrecisionType(EPrecision precision);
    static PrecisionType Precision2PrecisionType(EPrecision precision, PrecisionType defaultType);
    // 1-6 give the same value; everything else (the suffix types too) 0.
    static EPrecision PrecisionType2Precision(PrecisionType type);
    // "%s...".
    static std::wstring_view GetAboveNumberFormat();
    // |value| >= 10^12.
    static bool IsAboveNumber(double value);
    // Writes `value` as given (no scaling) with the type's places or suffix
    // ("%0.2f", "%0.0fk"…); a type outside -3..6 empties `text`.
    static void FormatTextWithPrecisionDependOnType(PrecisionType type, double value, std::wstring& text);

    // Takes the screen DC for a run of fast calls.  Keeps the run when one is
    // open already; does nothing when the DC cannot be had.
    void BeginFormat();
    // Puts back the font it selected, gives the DC back and ends the run for
    // every formatter sharing it.  Does nothing without an open run.
    void EndFormat();
    // Formats `value` into `out` on the run's DC: fitted to `width` pixels of
    // `font` (with a null font the width is ignored and `precision` is
    // written as it is), big values in the short form, trimmed of trailing
    // zeros down to `trimPrecision` places (none when negative), then put
    // into `format`.  Does nothing without an open run or when `font` cannot
    // be selected.
    void FastFormat(std::wstring& out, std::wstring_view format, HFONT font, std::uint32_t width, double value,
                    EPrecision precision, EPrecision trimPrecision);
    // The short form ("5...") whatever the value's size, put into `format`;
    // `type` has no effect.  Does nothing as FastFormat does.
    void FastFormatInPrecision(std::wstring& out, std::wstring_view format, HFONT font, double value,
                               PrecisionType type);
    // As FastFormat on a screen DC of its own for this call.
    void SlowFormat(std::wstring& out, std::wstring_view format, HFONT font, std::uint32_t width, double value,
                    EPrecision precision, EPrecision trimPrecision);

private:
    struct Run;

    static double PrepareNumberAccordingToPrecision(double value, PrecisionType type);
    static void TrimPrecisionZeroes(std::wstring& text, EPrecision from, EPrecision to);
    static void TrimPrecisionZeroes(std::wstring& text, PrecisionType from, PrecisionType to);
    static void Clean(HDC& dc, HFONT& font);

    // `run`: the open run `dc` belongs to (its texts measured from the
    // advances it keeps), or null (measured with DrawTextW on `dc`).
    void CommonFormat(HDC dc, Run* run, std::wstring& out, std::wstring_view format, double value,
                      std::optional<std::uint32_t> width, EPrecision precision, EPrecision trimPrecision);
    bool PrepareFastFormat(HFONT font);

    std::wstring m_text;         // the text being fitted, handed to the caller when it is done
    std::shared_ptr<Run> m_run;  // the open run: DC, previous and current font, their advances
};

}  // namespace VTools

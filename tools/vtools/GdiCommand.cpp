// vtools fit, measure and font: numbers fitted to pixel widths, texts
// measured, and the face a font name resolves to.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <optional>
#include <sstream>

#include <VLibIncludes.h>

#include "Command.h"

namespace vtools {
namespace {

// The options shared by the commands: a font face and a size in points.
struct FontOptions {
    std::wstring face = L"Arial";
    double points = 8;
    bool bold = false;
    bool italic = false;

    // lfHeight at 96 DPI: the em in pixels, negative.
    LONG Height() const { return -static_cast<LONG>(std::lround(points * 96.0 / 72.0)); }
};

double ParseNumber(const std::string& text, const std::string& what) {
    double value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (!text.empty() && *begin == '+') ++begin;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end) throw UsageError("'" + text + "' is no " + what);
    return value;
}

long ParseInteger(const std::string& text, const std::string& what, long low, long high) {
    long value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || stop != text.data() + text.size() || value < low || value > high) {
        throw UsageError("'" + text + "' is no " + what);
    }
    return value;
}

// Reads the value of `--name VALUE` at args[i]; moves i past it.
const std::string& OptionValue(const std::vector<std::string>& args, std::size_t& i) {
    if (i + 1 >= args.size()) throw UsageError(args[i] + " needs a value");
    return args[++i];
}

// Takes a font option at args[i] if there is one.
bool FontOption(FontOptions& font, const std::vector<std::string>& args, std::size_t& i) {
    if (args[i] == "--font") {
        font.face = FromTerminal(OptionValue(args, i));
    } else if (args[i] == "--size") {
        font.points = ParseNumber(OptionValue(args, i), "size in points");
        if (!(font.points > 0 && font.points <= 1000)) throw UsageError("the size must be above 0 and up to 1000");
    } else if (args[i] == "--bold") {
        font.bold = true;
    } else if (args[i] == "--italic") {
        font.italic = true;
    } else {
        return false;
    }
    return true;
}

// A font of the options for the scope.
class Font {
public:
    explicit Font(const FontOptions& options)
        : m_font(CreateFontW(options.Height(), 0, 0, 0, options.bold ? FW_BOLD : FW_NORMAL, options.italic, 0, 0,
                             DEFAULT_CHARSET, 0, 0, 0, 0, options.face.c_str())) {
        if (m_font == nullptr) throw InputError("cannot create the font");
    }
    ~Font() { DeleteObject(m_font); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    operator HFONT() const { return m_font; }

private:
    HFONT m_font;
};

int Fit(const std::vector<std::string>& args) {
    std::optional<double> value;
    std::optional<std::uint32_t> width;
    FontOptions options;
    auto precision = ePrecision2;
    auto trim = ePrecisionNone;
    std::wstring format;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (FontOption(options, args, i)) continue;
        if (args[i] == "--width") {
            width = static_cast<std::uint32_t>(ParseInteger(OptionValue(args, i), "width in pixels", 0, UINT32_MAX));
        } else if (args[i] == "--precision") {
            precision = static_cast<EPrecision>(ParseInteger(OptionValue(args, i), "precision", -100, 100));
        } else if (args[i] == "--trim") {
            trim = static_cast<EPrecision>(ParseInteger(OptionValue(args, i), "precision to trim to", -100, 100));
        } else if (args[i] == "--format") {
            format = FromTerminal(OptionValue(args, i));
        } else if (!value && !args[i].starts_with("--")) {
            // Either decimal separator, as the library reads prices.
            std::string dotted = args[i];
            std::replace(dotted.begin(), dotted.end(), ',', '.');
            try {
                value = ParseNumber(dotted, "number");
            } catch (const UsageError&) {
                throw UsageError("VALUE: '" + args[i] + "' is not a number (such as 1234.5 or 1234,5)");
            }
        } else {
            throw UsageError("unexpected '" + args[i] + "'");
        }
    }
    if (!value) throw UsageError("missing VALUE");
    if (!width) throw UsageError("missing --width");
    const Font font(options);
    std::wstring out;
    VTools::NumberFormatter formatter;
    formatter.SlowFormat(out, format, font, *width, *value, precision, trim);
    std::cout << ToTerminal(out) << "\n";
    return 0;
}

int Measure(const std::vector<std::string>& args) {
    std::optional<std::wstring> text;
    FontOptions options;
    bool singleLine = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (FontOption(options, args, i)) continue;
        if (args[i] == "--single-line") {
            singleLine = true;
        } else if (!text) {
            text = FromTerminal(args[i]);
        } else {
            throw UsageError("unexpected '" + args[i] + "'");
        }
    }
    if (!text) throw UsageError("missing TEXT");
    const Font font(options);
    const HDC dc = GetDC(nullptr);
    if (dc == nullptr) throw InputError("no screen device context");
    const CSize size = TextSizeCalculator::GetTextSize(std::make_pair(dc, static_cast<HFONT>(font)), *text, singleLine);
    ReleaseDC(nullptr, dc);
    std::cout << size.cx << " " << size.cy << "\n";
    return 0;
}

int FontInfo(const std::vector<std::string>& args) {
    std::optional<std::wstring> face;
    FontOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (FontOption(options, args, i)) continue;
        if (face || args[i].starts_with("--")) throw UsageError("unexpected '" + args[i] + "'");
        face = FromTerminal(args[i]);
    }
    if (!face) throw UsageError("missing FACE");
    options.face = *face;
    const Font font(options);
    wchar_t file[4096] = {};
    DWORD index = 0;
    if (vplatformGetFontFileW(font, file, 4096, &index) == 0) {
        throw InputError("no face found for '" + ToTerminal(*face) + "'");
    }
    const HDC dc = GetDC(nullptr);
    if (dc == nullptr) throw InputError("no screen device context");
    const HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    wchar_t family[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, family);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    std::cout << "face:             " << ToTerminal(*face) << " at " << options.points << " pt (lfHeight "
              << options.Height() << ")\n"
              << "family:           " << ToTerminal(family) << "\n"
              << "file:             " << ToTerminal(file) << " (face " << index << ")\n"
              << "height:           " << tm.tmHeight << " (ascent " << tm.tmAscent << ", descent " << tm.tmDescent
              << ")\n"
              << "leading:          internal " << tm.tmInternalLeading << ", external " << tm.tmExternalLeading << "\n"
              << "character width:  average " << tm.tmAveCharWidth << ", maximum " << tm.tmMaxCharWidth << "\n"
              << "weight:           " << tm.tmWeight << "\n";
    return 0;
}

// `text` (UTF-8) padded with spaces to `width` characters.
std::string Pad(const std::string& text, std::size_t width) {
    std::size_t characters = 0;
    for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return characters < width ? text + std::string(width - characters, ' ') : text + " ";
}

void Demo(std::ostream& out) {
    out << "== gdi: numbers fitted to pixels, texts measured (Arial 8 pt: Liberation Sans 11 px, no display)\n";
    const Font font(FontOptions{});
    VTools::NumberFormatter formatter;
    formatter.BeginFormat();
    std::wstring text;
    for (std::uint32_t width : {80u, 60u, 50u, 40u, 30u, 20u, 10u}) {
        formatter.FastFormat(text, L"", font, width, 1234567.5, ePrecision2, ePrecisionNone);
        out << "  " << Pad("1234567.5 in " + std::to_string(width) + " px", 22) << ToTerminal(text) << "\n";
    }
    formatter.FastFormat(text, L"", font, 10, 0.000123, ePrecision6, ePrecisionNone);
    out << "  " << Pad("0.000123 in 10 px", 22) << ToTerminal(text) << " (a fraction keeps its places)\n";
    formatter.FastFormat(text, L"%s zł", font, 80, 35'000'000'000'000.0, ePrecision2, ePrecisionNone);
    out << "  " << Pad("3.5e13, \"%s zł\"", 22) << ToTerminal(text) << " (the short form)\n";
    formatter.FastFormat(text, L"", font, 80, -HUGE_VAL, ePrecision2, ePrecisionNone);
    out << "  " << Pad("-infinity", 22) << ToTerminal(text) << "\n";
    formatter.EndFormat();

    const std::wstring polish = VTools::String::Utf8ToWide("Zażółć gęślą jaźń");
    const HDC dc = GetDC(nullptr);
    const CSize size = TextSizeCalculator::GetTextSize(std::make_pair(dc, static_cast<HFONT>(font)), polish, true);
    ReleaseDC(nullptr, dc);
    out << "  " << Pad("measured", 22) << ToTerminal(polish) << ": " << size.cx << " x " << size.cy << " px\n";

    const auto count = [] { return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); };
    const DWORD before = count();
    DWORD during = 0;
    {
        const RECT cell{0, 0, 60, 14};
        const ClipRegion clip(&cell);
        const CompatibleDC memory(nullptr);
        const CompatibleBitmapOwner bitmap(memory.GetHDC(), 60, 14);
        const TextSizeCalculator calculator;
        during = count();
    }
    out << "  " << Pad("GDI objects", 22) << before << " before the owners, " << during << " with them, " << count()
        << " after\n";
}

const Registration fit{{
    "fit",
    "write a number into a width in pixels",
    "usage: vtools fit VALUE --width PX [--font FACE] [--size PT] [--bold] [--italic]\n"
    "                  [--precision N] [--trim N] [--format TEXT]\n\n"
    "Writes VALUE as the number formatter fits it into PX pixels of the font\n"
    "(Arial 8 pt by default): PRECISION decimal places (2) dropped one at a time,\n"
    "then thousands (k), millions (m) and billions (md), digits grouped by threes;\n"
    "values from 10^12 in the short form (\"5...\"), #INF and #NAN.  --trim removes\n"
    "trailing zeros down to N places; --format puts the text into TEXT at its %s.\n"
    "An empty line means that nothing fits.\n",
    Fit,
}};

const Registration measure{{
    "measure",
    "measure a text in a font",
    "usage: vtools measure TEXT [--font FACE] [--size PT] [--bold] [--italic] [--single-line]\n\n"
    "Writes the width and height in pixels of TEXT laid out as DrawText lays it\n"
    "out (lines break at line breaks unless --single-line; '&' marks a prefix).\n",
    Measure,
}};

const Registration fontInfo{{
    "font",
    "show the face and metrics a font name resolves to",
    "usage: vtools font FACE [--size PT] [--bold] [--italic]\n\n"
    "Writes the family, file and metrics of the face FACE resolves to at the size\n"
    "(8 pt by default), as the platform's fontconfig rules and FreeType find it.\n",
    FontInfo,
}};

const DemoRegistration demoSection(12, Demo);

}  // namespace
}  // namespace vtools

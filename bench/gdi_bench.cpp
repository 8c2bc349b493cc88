// Numbers fitted to cells and text widths, beside the peers a Linux program
// would use for the same work.
//
// Fitting: a table of 10,000 cells (prices with 2 places and volumes with
// none, alternating) into 60-pixel cells of Arial 8 pt (Liberation Sans
// 11 px).  NumberFormatter's FastFormat (one run per table) and SlowFormat
// (a screen DC per cell) beside the same fitting loop built from ICU's number
// formatter (grouping with spaces, ties to even) and HarfBuzz's widths
// (hinted advances, no kerning or ligatures).
//
// Measuring: 1,000 random Latin-2 texts of 5 to 40 characters in the same
// font: GetTextExtentPoint32W beside HarfBuzz's shaped width and Pango's
// layout size.
//
// Before timing, the peers' results are compared with ours; afterwards the
// rates and ratios are printed (from the medians with
// --benchmark_repetitions, which a busy machine needs).
#include <benchmark/benchmark.h>
#include <hb-ft.h>
#include <hb.h>
#include <pango/pangoft2.h>
#include <unicode/unum.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_DRIVER_H

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "MedianReporter.h"
#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi.h"
#include "platform/nls/CodePage.h"
#include "platform/user/DisplayDc.h"
#include "text/NumberFormatter.h"

namespace {

constexpr std::uint32_t kCellWidth = 60;
constexpr int kPixels = 11;  // Arial 8 pt at 96 DPI
constexpr std::size_t kCells = 10'000;
constexpr std::size_t kTexts = 1'000;

struct Cell {
    double value;
    EPrecision precision;
};

// Prices around 50 (a few below 1, a few in the thousands) and volumes from
// 1 to 10^10, alternating.
const std::vector<Cell>& Table() {
    static const std::vector<Cell> table = [] {
        std::mt19937_64 random(2024);
        std::lognormal_distribution<double> price(std::log(50.0), 1.5);
        std::uniform_real_distribution<double> exponent(0, 10);
        std::vector<Cell> cells;
        for (std::size_t i = 0; i < kCells; ++i) {
            if (i % 2 == 0) {
                cells.push_back({std::round(price(random) * 100) / 100, ePrecision2});
            } else {
                cells.push_back({std::floor(std::pow(10.0, exponent(random))), ePrecision0});
            }
        }
        return cells;
    }();
    return table;
}

const std::vector<std::wstring>& Texts() {
    static const std::vector<std::wstring> texts = [] {
        std::string bytes;
        for (int b = 0x20; b < 0x7F; ++b) bytes.push_back(static_cast<char>(b));
        for (int b = 0xA0; b < 0x100; ++b) {
            if (b != 0xAD) bytes.push_back(static_cast<char>(b));
        }
        std::wstring repertoire(bytes.size(), L'\0');
        MultiByteToWideChar(28592, 0, bytes.data(), static_cast<int>(bytes.size()), repertoire.data(),
                            static_cast<int>(repertoire.size()));
        std::mt19937 random(11);
        std::vector<std::wstring> made;
        for (std::size_t i = 0; i < kTexts; ++i) {
            std::wstring text(5 + random() % 36, L' ');
            for (wchar_t& c : text) c = repertoire[random() % repertoire.size()];
            made.push_back(text);
        }
        return made;
    }();
    return texts;
}

HFONT Arial() {
    static const HFONT font = CreateFontW(-kPixels, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
    return font;
}

std::string FontFile() {
    wchar_t file[1024] = {};
    vplatformGetFontFileW(Arial(), file, 1024, nullptr);
    std::string path(4096, '\0');
    path.resize(
        static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, file, -1, path.data(), 4096, nullptr, nullptr) - 1));
    return path;
}

// HarfBuzz on a FreeType library of its own with the platform's settings.
class HarfBuzz {
public:
    HarfBuzz() {
        FT_Init_FreeType(&m_library);
        FT_UInt version = TT_INTERPRETER_VERSION_40;
        FT_Property_Set(m_library, "truetype", "interpreter-version", &version);
        FT_New_Face(m_library, FontFile().c_str(), 0, &m_face);
        FT_Set_Pixel_Sizes(m_face, 0, kPixels);
        m_font = hb_ft_font_create_referenced(m_face);
        hb_ft_font_set_load_flags(m_font, FT_LOAD_DEFAULT);
        for (const char* feature : {"-kern", "-liga", "-clig", "-calt"}) {
            hb_feature_t parsed;
            hb_feature_from_string(feature, -1, &parsed);
            m_features.push_back(parsed);
        }
        m_buffer = hb_buffer_create();
    }
    ~HarfBuzz() {
        hb_buffer_destroy(m_buffer);
        hb_font_destroy(m_font);
        FT_Done_Face(m_face);
        FT_Done_FreeType(m_library);
    }
    HarfBuzz(const HarfBuzz&) = delete;
    HarfBuzz& operator=(const HarfBuzz&) = delete;

    long Width(const std::u16string& text) {
        hb_buffer_clear_contents(m_buffer);
        hb_buffer_add_utf16(m_buffer, reinterpret_cast<const uint16_t*>(text.data()), static_cast<int>(text.size()), 0,
                            -1);
        hb_buffer_set_direction(m_buffer, HB_DIRECTION_LTR);
        hb_buffer_set_script(m_buffer, HB_SCRIPT_LATIN);
        hb_shape(m_font, m_buffer, m_features.data(), static_cast<unsigned>(m_features.size()));
        unsigned count = 0;
        const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(m_buffer, &count);
        long width = 0;
        for (unsigned i = 0; i < count; ++i) width += positions[i].x_advance;
        return width / 64;
    }

private:
    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
    hb_font_t* m_font = nullptr;
    hb_buffer_t* m_buffer = nullptr;
    std::vector<hb_feature_t> m_features;
};

// The fitting loop of NumberFormatter built from ICU's formatter and
// HarfBuzz's widths.
class IcuFitting {
public:
    IcuFitting() {
        for (int places = 0; places <= 6; ++places) {
            UErrorCode status = U_ZERO_ERROR;
            UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, "en_US", nullptr, &status);
            unum_setAttribute(format, UNUM_MIN_FRACTION_DIGITS, places);
            unum_setAttribute(format, UNUM_MAX_FRACTION_DIGITS, places);
            unum_setAttribute(format, UNUM_ROUNDING_MODE, UNUM_ROUND_HALFEVEN);
            unum_setAttribute(format, UNUM_GROUPING_USED, 1);
            unum_setSymbol(format, UNUM_GROUPING_SEPARATOR_SYMBOL, u" ", 1, &status);
            unum_setSymbol(format, UNUM_DECIMAL_SEPARATOR_SYMBOL, u".", 1, &status);
            m_formats.push_back(format);
        }
    }
    ~IcuFitting() {
        for (UNumberFormat* format : m_formats) unum_close(format);
    }
    IcuFitting(const IcuFitting&) = delete;
    IcuFitting& operator=(const IcuFitting&) = delete;

    std::u16string Fit(double value, int precision, long width) {
        double s = value;
        int t = precision;
        for (;;) {
            if (t < -3) return u"";
            UErrorCode status = U_ZERO_ERROR;
            char16_t buffer[64];
            const int32_t length = unum_formatDouble(m_formats[t >= 0 ? t : 0], s, buffer, 64, nullptr, &status);
            std::u16string text(buffer, static_cast<std::size_t>(length));
            if (t < 0) {
                if (value != 0 && text.find_first_not_of(u"-0") == std::u16string::npos) return u"";
                text += t == -1 ? u"k" : t == -2 ? u"m" : u"md";
            }
            const bool fraction = s != 0 && std::fabs(s) < 1;
            if (t == 0 || t == -1 || t == -2) s /= 1000;
            --t;
            if (m_harfBuzz.Width(text) <= width) return text;
            if (fraction && t > 0) return text;
        }
    }

private:
    std::vector<UNumberFormat*> m_formats;
    HarfBuzz m_harfBuzz;
};

void FastFormat(benchmark::State& state) {
    VTools::NumberFormatter formatter;
    std::wstring out;
    const std::wstring_view noFormat;
    for (auto _ : state) {
        formatter.BeginFormat();
        for (const Cell& cell : Table()) {
            formatter.FastFormat(out, noFormat, Arial(), kCellWidth, cell.value, cell.precision, ePrecisionNone);
            benchmark::DoNotOptimize(out.data());
        }
        formatter.EndFormat();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCells));
}

void SlowFormat(benchmark::State& state) {
    VTools::NumberFormatter formatter;
    std::wstring out;
    const std::wstring_view noFormat;
    for (auto _ : state) {
        for (const Cell& cell : Table()) {
            formatter.SlowFormat(out, noFormat, Arial(), kCellWidth, cell.value, cell.precision, ePrecisionNone);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCells));
}

void IcuHarfBuzzFormat(benchmark::State& state) {
    IcuFitting peer;
    for (auto _ : state) {
        for (const Cell& cell : Table()) {
            auto text = peer.Fit(cell.value, cell.precision, kCellWidth);
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCells));
}

void GetTextExtent(benchmark::State& state) {
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, Arial());
    SIZE size{};
    for (auto _ : state) {
        for (const auto& text : Texts()) {
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            benchmark::DoNotOptimize(size);
        }
    }
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kTexts));
}

std::vector<std::u16string> Utf16Texts() {
    std::vector<std::u16string> texts;
    for (const auto& text : Texts()) texts.emplace_back(text.begin(), text.end());
    return texts;
}

void HarfBuzzShape(benchmark::State& state) {
    HarfBuzz harfBuzz;
    const auto texts = Utf16Texts();
    for (auto _ : state) {
        for (const auto& text : texts) benchmark::DoNotOptimize(harfBuzz.Width(text));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kTexts));
}

// Pango on FreeType at 96 DPI, Liberation Sans at 11 pixels.
struct Pango {
    Pango() {
        map = pango_ft2_font_map_new();
        pango_ft2_font_map_set_resolution(PANGO_FT2_FONT_MAP(map), 96, 96);
        context = pango_font_map_create_context(map);
        layout = pango_layout_new(context);
        PangoFontDescription* description = pango_font_description_from_string("Liberation Sans");
        pango_font_description_set_absolute_size(description, kPixels * PANGO_SCALE);
        pango_layout_set_font_description(layout, description);
        pango_font_description_free(description);
    }
    ~Pango() {
        g_object_unref(layout);
        g_object_unref(context);
        g_object_unref(map);
    }
    Pango(const Pango&) = delete;
    Pango& operator=(const Pango&) = delete;

    int Width(const std::string& utf8) {
        pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout, &width, &height);
        return width;
    }

    PangoFontMap* map;
    PangoContext* context;
    PangoLayout* layout;
};

std::vector<std::string> Utf8Texts() {
    std::vector<std::string> texts;
    for (const auto& text : Texts()) {
        std::string utf8(text.size() * 3, '\0');
        utf8.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                                 utf8.data(), static_cast<int>(utf8.size()), nullptr,
                                                                 nullptr)));
        texts.push_back(utf8);
    }
    return texts;
}

void PangoLayoutSize(benchmark::State& state) {
    Pango pango;
    const auto texts = Utf8Texts();
    for (auto _ : state) {
        for (const auto& text : texts) benchmark::DoNotOptimize(pango.Width(text));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kTexts));
}

// Our results against the peers', before any timing.
void CompareWithPeers() {
    IcuFitting peer;
    VTools::NumberFormatter formatter;
    formatter.BeginFormat();
    std::wstring out;
    std::size_t differ = 0;
    for (const Cell& cell : Table()) {
        formatter.FastFormat(out, L"", Arial(), kCellWidth, cell.value, cell.precision, ePrecisionNone);
        if (std::u16string(out.begin(), out.end()) != peer.Fit(cell.value, cell.precision, kCellWidth)) ++differ;
    }
    formatter.EndFormat();
    std::printf("fitted cells differing from ICU + HarfBuzz: %zu of %zu\n", differ, kCells);

    HarfBuzz harfBuzz;
    Pango pango;
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, Arial());
    std::size_t differHarfBuzz = 0, differPango = 0;
    const auto utf8 = Utf8Texts();
    for (std::size_t i = 0; i < Texts().size(); ++i) {
        const auto& text = Texts()[i];
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        if (size.cx != harfBuzz.Width(std::u16string(text.begin(), text.end()))) ++differHarfBuzz;
        if (size.cx != pango.Width(utf8[i])) ++differPango;
    }
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    std::printf("text widths differing from HarfBuzz: %zu, from Pango's layout (kerning, subpixel): %zu of %zu\n",
                differHarfBuzz, differPango, kTexts);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("fit/FastFormat", FastFormat)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("fit/SlowFormat", SlowFormat)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("fit/ICU+HarfBuzz", IcuHarfBuzzFormat)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("width/GetTextExtentPoint32W", GetTextExtent)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("width/HarfBuzz", HarfBuzzShape)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("width/Pango", PangoLayoutSize)->Unit(benchmark::kMicrosecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CompareWithPeers();
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto times = reporter.Medians();
    const auto time = [&](const char* name) {
        const auto it = times.find(name);
        return it == times.end() ? 0.0 : it->second;
    };
    // CPU time per iteration: milliseconds for a table, microseconds for the texts.
    const auto rate = [&](const char* name, double itemsPerIteration, double unitsPerSecond) {
        const double t = time(name);
        return t > 0 ? itemsPerIteration * unitsPerSecond / t : 0.0;
    };
    const double fast = rate("fit/FastFormat", kCells, 1e3), slow = rate("fit/SlowFormat", kCells, 1e3),
                 icu = rate("fit/ICU+HarfBuzz", kCells, 1e3);
    const double ours = rate("width/GetTextExtentPoint32W", kTexts, 1e6), hb = rate("width/HarfBuzz", kTexts, 1e6),
                 pango = rate("width/Pango", kTexts, 1e6);
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("\nRates (CPU time medians) and ratios\n");
    std::printf("%-32s %14.0f cells/s  (goal 3,000,000)\n", "FastFormat", fast);
    std::printf("%-32s %14.0f cells/s\n", "SlowFormat", slow);
    std::printf("%-32s %14.0f cells/s\n", "ICU + HarfBuzz fitting", icu);
    std::printf("%-32s %14.1fx  (goal 5x)\n", "FastFormat / ICU + HarfBuzz", ratio(fast, icu));
    std::printf("%-32s %14.1fx\n", "SlowFormat / ICU + HarfBuzz", ratio(slow, icu));
    std::printf("%-32s %14.0f texts/s\n", "GetTextExtentPoint32W", ours);
    std::printf("%-32s %14.0f texts/s\n", "HarfBuzz shaping", hb);
    std::printf("%-32s %14.0f texts/s\n", "Pango layout", pango);
    std::printf("%-32s %14.1fx  (goal 15x)\n", "GetTextExtent / HarfBuzz", ratio(ours, hb));
    std::printf("%-32s %14.1fx\n", "GetTextExtent / Pango", ratio(ours, pango));
    benchmark::Shutdown();
    return 0;
}

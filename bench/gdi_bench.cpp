// Numbers fitted to cells and text widths, beside the peers a Linux program
// would use for the same work.
//
// Fitting: a table of 100,000 distinct cells (prices with 2 places and
// volumes with none, alternating) into 60-pixel cells of Arial 8 pt
// (Liberation Sans 11 px).  NumberFormatter's FastFormat (one run per table)
// and SlowFormat (a screen DC per cell) beside the same fitting loop built
// from ICU's number formatter (grouping with spaces, ties to even) and three
// ways of measuring: FreeType's hinted advances cached per code point (the
// platform's own design), HarfBuzz's own font functions with advances rounded
// to whole pixels, and HarfBuzz's shaping (no kerning or ligatures).
//
// Measuring: 1,000 random Latin-2 texts of 5 to 40 characters in the same
// font, measured over and over, and 50,000 distinct ones measured once per
// pass: GetTextExtentPoint32W beside the same three peers, and Pango's layout
// size for the 1,000 (it kerns and places glyphs at subpixels, so its widths
// differ).
//
// Before timing, every peer's width of every timed text and every fitted
// cell is compared with ours; the program stops when one differs.
// Afterwards the rates and ratios are printed (from the medians with
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
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
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
constexpr std::size_t kCells = 100'000;
constexpr std::size_t kTexts = 1'000;
constexpr std::size_t kDistinctTexts = 50'000;

struct Cell {
    double value;
    EPrecision precision;
};

// Prices around 50 (a few below 1, a few in the thousands) and volumes from
// 1 to 10^10, alternating; no value appears twice.
const std::vector<Cell>& Table() {
    static const std::vector<Cell> table = [] {
        std::mt19937_64 random(2024);
        std::lognormal_distribution<double> price(std::log(50.0), 1.5);
        std::uniform_real_distribution<double> exponent(0, 10);
        std::set<std::pair<double, int>> seen;
        std::vector<Cell> cells;
        while (cells.size() < kCells) {
            const Cell cell = cells.size() % 2 == 0 ? Cell{std::round(price(random) * 100) / 100, ePrecision2}
                                                    : Cell{std::floor(std::pow(10.0, exponent(random))), ePrecision0};
            if (seen.emplace(cell.value, static_cast<int>(cell.precision)).second) cells.push_back(cell);
        }
        return cells;
    }();
    return table;
}

// `count` distinct random texts of 5 to 40 Latin-2 characters.
std::vector<std::wstring> MakeTexts(std::size_t count, unsigned seed) {
    std::string bytes;
    for (int b = 0x20; b < 0x7F; ++b) bytes.push_back(static_cast<char>(b));
    for (int b = 0xA0; b < 0x100; ++b) {
        if (b != 0xAD) bytes.push_back(static_cast<char>(b));
    }
    std::wstring repertoire(bytes.size(), L'\0');
    MultiByteToWideChar(28592, 0, bytes.data(), static_cast<int>(bytes.size()), repertoire.data(),
                        static_cast<int>(repertoire.size()));
    std::mt19937 random(seed);
    std::set<std::wstring> seen;
    std::vector<std::wstring> made;
    while (made.size() < count) {
        std::wstring text(5 + random() % 36, L' ');
        for (wchar_t& c : text) c = repertoire[random() % repertoire.size()];
        if (seen.insert(text).second) made.push_back(text);
    }
    return made;
}

// The texts measured over and over.
const std::vector<std::wstring>& Texts() {
    static const std::vector<std::wstring> texts = MakeTexts(kTexts, 11);
    return texts;
}

// The texts measured once per pass.
const std::vector<std::wstring>& DistinctTexts() {
    static const std::vector<std::wstring> texts = MakeTexts(kDistinctTexts, 12);
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

// The code points of UTF-16 text, one at a time.
template <class Unit, class Visit>
void ForEachCodePoint(const Unit* text, std::size_t count, Visit visit) {
    for (std::size_t i = 0; i < count; ++i) {
        char32_t c = static_cast<char16_t>(text[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < count && static_cast<char16_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<char16_t>(text[i + 1]) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00);
            ++i;
        }
        visit(c);
    }
}

// A FreeType library of its own with the platform's settings (interpreter
// version 40: advances scaled linearly and rounded to whole pixels).
class FreeTypeFace {
public:
    FreeTypeFace() {
        FT_Init_FreeType(&m_library);
        FT_UInt version = TT_INTERPRETER_VERSION_40;
        FT_Property_Set(m_library, "truetype", "interpreter-version", &version);
        FT_New_Face(m_library, FontFile().c_str(), 0, &m_face);
        FT_Set_Pixel_Sizes(m_face, 0, kPixels);
    }
    ~FreeTypeFace() {
        FT_Done_Face(m_face);
        FT_Done_FreeType(m_library);
    }
    FreeTypeFace(const FreeTypeFace&) = delete;
    FreeTypeFace& operator=(const FreeTypeFace&) = delete;

    FT_Face Face() const { return m_face; }

private:
    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
};

// FreeType's hinted advances, each code point loaded once and kept in a
// table (the basic plane) or a map (the rest), as the platform does.
class FreeTypeCache {
public:
    long Width(const std::u16string& text) { return Width(text.data(), text.size()); }

    template <class Unit>
    long Width(const Unit* text, std::size_t count) {
        long width = 0;
        ForEachCodePoint(text, count, [&](char32_t c) { width += Advance(c); });
        return width;
    }

private:
    int Advance(char32_t c) {
        if (c < 0x10000) {
            int& known = m_basic[c];
            if (known < 0) known = Load(c);
            return known;
        }
        const auto it = m_astral.find(c);
        return it != m_astral.end() ? it->second : m_astral.emplace(c, Load(c)).first->second;
    }

    int Load(char32_t c) {
        FT_UInt glyph = FT_Get_Char_Index(m_face.Face(), c);
        FT_Error error = FT_Load_Glyph(m_face.Face(), glyph, FT_LOAD_DEFAULT);
        if (error != 0 && glyph != 0) error = FT_Load_Glyph(m_face.Face(), 0, FT_LOAD_DEFAULT);
        return error == 0 ? static_cast<int>((m_face.Face()->glyph->advance.x + 32) >> 6) : 0;
    }

    FreeTypeFace m_face;
    std::vector<int> m_basic = std::vector<int>(0x10000, -1);
    std::unordered_map<char32_t, int> m_astral;
};

// HarfBuzz's own font functions (its OpenType tables, no FreeType) at the
// same size, each glyph's advance rounded to whole pixels; no shaping.
class HarfBuzzAdvances {
public:
    HarfBuzzAdvances() {
        hb_blob_t* blob = hb_blob_create_from_file(FontFile().c_str());
        hb_face_t* face = hb_face_create(blob, 0);
        m_font = hb_font_create(face);
        hb_face_destroy(face);
        hb_blob_destroy(blob);
        hb_font_set_scale(m_font, kPixels * 64, kPixels * 64);
    }
    ~HarfBuzzAdvances() { hb_font_destroy(m_font); }
    HarfBuzzAdvances(const HarfBuzzAdvances&) = delete;
    HarfBuzzAdvances& operator=(const HarfBuzzAdvances&) = delete;

    long Width(const std::u16string& text) { return Width(text.data(), text.size()); }

    template <class Unit>
    long Width(const Unit* text, std::size_t count) {
        long width = 0;
        ForEachCodePoint(text, count, [&](char32_t c) {
            hb_codepoint_t glyph = 0;
            if (!hb_font_get_nominal_glyph(m_font, c, &glyph)) glyph = 0;
            width += (hb_font_get_glyph_h_advance(m_font, glyph) + 32) >> 6;
        });
        return width;
    }

private:
    hb_font_t* m_font = nullptr;
};

// HarfBuzz shaping on FreeType's hinted glyphs: every text shaped, every
// glyph loaded through FreeType at each call.
class HarfBuzz {
public:
    HarfBuzz() {
        m_font = hb_ft_font_create_referenced(m_face.Face());
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
    FreeTypeFace m_face;
    hb_font_t* m_font = nullptr;
    hb_buffer_t* m_buffer = nullptr;
    std::vector<hb_feature_t> m_features;
};

// The fitting loop of NumberFormatter built from ICU's formatter and one of
// the measuring peers.
template <class Widths>
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
            if (m_widths.Width(text) <= width) return text;
            if (fraction && t > 0) return text;
        }
    }

private:
    std::vector<UNumberFormat*> m_formats;
    Widths m_widths;
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

template <class Widths>
void IcuFormat(benchmark::State& state) {
    IcuFitting<Widths> peer;
    for (auto _ : state) {
        for (const Cell& cell : Table()) {
            auto text = peer.Fit(cell.value, cell.precision, kCellWidth);
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCells));
}

using TextsOf = const std::vector<std::wstring>& (*)();

void GetTextExtent(benchmark::State& state, TextsOf texts) {
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, Arial());
    SIZE size{};
    for (auto _ : state) {
        for (const auto& text : texts()) {
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            benchmark::DoNotOptimize(size);
        }
    }
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts().size()));
}

std::vector<std::u16string> Utf16Texts(const std::vector<std::wstring>& wide) {
    std::vector<std::u16string> texts;
    for (const auto& text : wide) texts.emplace_back(text.begin(), text.end());
    return texts;
}

// A peer measuring the same texts, as UTF-16 (made before timing).
template <class Widths>
void PeerWidths(benchmark::State& state, TextsOf wide) {
    Widths peer;
    const auto texts = Utf16Texts(wide());
    for (auto _ : state) {
        for (const auto& text : texts) benchmark::DoNotOptimize(peer.Width(text));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * texts.size()));
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

// How many of the table's cells a peer fits differently from FastFormat.
template <class Widths>
std::size_t CellsDiffering() {
    IcuFitting<Widths> peer;
    VTools::NumberFormatter formatter;
    formatter.BeginFormat();
    std::wstring out;
    std::size_t differ = 0;
    for (const Cell& cell : Table()) {
        formatter.FastFormat(out, L"", Arial(), kCellWidth, cell.value, cell.precision, ePrecisionNone);
        if (std::u16string(out.begin(), out.end()) != peer.Fit(cell.value, cell.precision, kCellWidth)) ++differ;
    }
    formatter.EndFormat();
    return differ;
}

// How many of `texts` a peer measures differently from GetTextExtentPoint32W.
template <class Widths>
std::size_t WidthsDiffering(const std::vector<std::wstring>& texts) {
    Widths peer;
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, Arial());
    std::size_t differ = 0;
    for (const auto& text : texts) {
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        if (size.cx != peer.Width(std::u16string(text.begin(), text.end()))) ++differ;
    }
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    return differ;
}

// Our results against the peers', before any timing; false when a peer
// differs (its rate would compare different work).
bool CompareWithPeers() {
    const std::size_t cells[] = {CellsDiffering<FreeTypeCache>(), CellsDiffering<HarfBuzzAdvances>(),
                                 CellsDiffering<HarfBuzz>()};
    std::printf(
        "fitted cells differing from ICU + FreeType's cached advances: %zu, + HarfBuzz's advances: %zu, "
        "+ HarfBuzz's shaping: %zu of %zu\n",
        cells[0], cells[1], cells[2], kCells);
    bool same = cells[0] == 0 && cells[1] == 0 && cells[2] == 0;
    for (const auto* texts : {&Texts(), &DistinctTexts()}) {
        const std::size_t widths[] = {WidthsDiffering<FreeTypeCache>(*texts), WidthsDiffering<HarfBuzzAdvances>(*texts),
                                      WidthsDiffering<HarfBuzz>(*texts)};
        std::printf(
            "text widths differing from FreeType's cached advances: %zu, HarfBuzz's advances: %zu, "
            "HarfBuzz's shaping: %zu of %zu\n",
            widths[0], widths[1], widths[2], texts->size());
        same = same && widths[0] == 0 && widths[1] == 0 && widths[2] == 0;
    }

    Pango pango;
    const HDC dc = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, Arial());
    std::size_t differPango = 0;
    const auto utf8 = Utf8Texts();
    for (std::size_t i = 0; i < Texts().size(); ++i) {
        const auto& text = Texts()[i];
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        if (size.cx != pango.Width(utf8[i])) ++differPango;
    }
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    std::printf("text widths differing from Pango's layout (kerning, subpixel): %zu of %zu\n", differPango, kTexts);
    return same;
}

// The rates and the ratios of ours to each peer, from the medians of CPU time
// per iteration (milliseconds for a table, microseconds for a set of texts).
// The ratio rows: rates per second of CPU time, ours against each peer, from
// the rounds' figures (vbench::Report prints them and writes the JSON rows).
void PrintRatios(const vbench::MedianReporter& reporter) {
    const auto rates = [&](const std::string& name, double itemsPerIteration, double unitsPerSecond) {
        std::vector<double> values;
        for (const double time : reporter.Figures(name).values) {
            if (time > 0) values.push_back(itemsPerIteration * unitsPerSecond / time);
        }
        return vbench::Spread(std::move(values));
    };
    struct Row {
        const char* area;
        const char* what;
        std::string ours, peer;
        double items, units;
        const char* unit;
        const char* goal;
    };
    const char* const kWidths = "Text measuring (1,000 texts)";
    const char* const kDistinct = "Text measuring (50,000 texts that never repeat)";
    const char* const kFitting = "Fitting (100,000 distinct cells)";
    const Row rows[] = {
        {kWidths, "vs FreeType with cached advances", "width/GetTextExtentPoint32W", "width/FreeTypeCache", kTexts, 1e6,
         "texts/s", ">= 1.0"},
        {kWidths, "vs HarfBuzz advances", "width/GetTextExtentPoint32W", "width/HarfBuzzAdvances", kTexts, 1e6,
         "texts/s", ">= 15"},
        {kWidths, "vs HarfBuzz shaping", "width/GetTextExtentPoint32W", "width/HarfBuzzShaping", kTexts, 1e6, "texts/s",
         ""},
        {kWidths, "vs Pango layout (kerns: widths differ)", "width/GetTextExtentPoint32W", "width/Pango", kTexts, 1e6,
         "texts/s", ""},
        {kDistinct, "vs FreeType with cached advances", "distinct/GetTextExtentPoint32W", "distinct/FreeTypeCache",
         kDistinctTexts, 1e6, "texts/s", ""},
        {kDistinct, "vs HarfBuzz advances", "distinct/GetTextExtentPoint32W", "distinct/HarfBuzzAdvances",
         kDistinctTexts, 1e6, "texts/s", ""},
        {kDistinct, "vs HarfBuzz shaping", "distinct/GetTextExtentPoint32W", "distinct/HarfBuzzShaping", kDistinctTexts,
         1e6, "texts/s", ">= 60"},
        {kFitting, "FastFormat vs ICU + FreeType cached advances", "fit/FastFormat", "fit/ICU+FreeTypeCache", kCells,
         1e3, "cells/s", ">= 5"},
        {kFitting, "FastFormat vs ICU + HarfBuzz advances", "fit/FastFormat", "fit/ICU+HarfBuzzAdvances", kCells, 1e3,
         "cells/s", ">= 6"},
        {kFitting, "FastFormat vs ICU + HarfBuzz shaping", "fit/FastFormat", "fit/ICU+HarfBuzzShaping", kCells, 1e3,
         "cells/s", ""},
        {kFitting, "SlowFormat vs ICU + FreeType cached advances", "fit/SlowFormat", "fit/ICU+FreeTypeCache", kCells,
         1e3, "cells/s", ""},
    };
    std::printf("\nRates per second of CPU time, ours / peer (median of the rounds, range of the rounds)\n");
    for (const Row& row : rows) {
        vbench::Report(row.area, row.what, row.ours, rates(row.ours, row.items, row.units), row.peer,
                       rates(row.peer, row.items, row.units), row.unit, row.goal);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const auto table = [](const char* name, void (*function)(benchmark::State&)) {
        benchmark::RegisterBenchmark(name, function)->Unit(benchmark::kMillisecond);
    };
    table("fit/FastFormat", FastFormat);
    table("fit/SlowFormat", SlowFormat);
    table("fit/ICU+FreeTypeCache", IcuFormat<FreeTypeCache>);
    table("fit/ICU+HarfBuzzAdvances", IcuFormat<HarfBuzzAdvances>);
    table("fit/ICU+HarfBuzzShaping", IcuFormat<HarfBuzz>);
    for (const auto& [prefix, texts] : {std::pair<const char*, TextsOf>{"width/", Texts},
                                        std::pair<const char*, TextsOf>{"distinct/", DistinctTexts}}) {
        const std::string p = prefix;
        const auto unit = benchmark::kMicrosecond;
        benchmark::RegisterBenchmark((p + "GetTextExtentPoint32W").c_str(), GetTextExtent, texts)->Unit(unit);
        benchmark::RegisterBenchmark((p + "FreeTypeCache").c_str(), PeerWidths<FreeTypeCache>, texts)->Unit(unit);
        benchmark::RegisterBenchmark((p + "HarfBuzzAdvances").c_str(), PeerWidths<HarfBuzzAdvances>, texts)->Unit(unit);
        benchmark::RegisterBenchmark((p + "HarfBuzzShaping").c_str(), PeerWidths<HarfBuzz>, texts)->Unit(unit);
    }
    benchmark::RegisterBenchmark("width/Pango", PangoLayoutSize)->Unit(benchmark::kMicrosecond);
    vbench::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (!CompareWithPeers()) {
        std::fprintf(stderr, "a peer's results differ from ours: nothing timed\n");
        return 1;
    }
    vbench::MedianReporter reporter(vbench::MedianReporter::Figure::CpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}

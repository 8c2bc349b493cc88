// Fonts against independent peers: fc-match for the faces fonts resolve to,
// python3-fonttools for the metrics and the advance table (with FreeType's
// fixed-point arithmetic), HarfBuzz (same load flags, no kerning, no
// ligatures) for the widths of random Latin-2 texts; failures of the font
// libraries; several threads measuring with one font.
#include <gtest/gtest.h>
#include <hb-ft.h>
#include <hb.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_DRIVER_H

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi/DrawText.h"
#include "platform/gdi/Fonts.h"
#include "tests/support/GdiTest.h"
#include "tests/support/Peer.h"
#include "tests/support/Seam.h"

namespace {

using vlibtest::FailsWith;
using vlibtest::FontFile;
using vlibtest::FontScope;
using vlibtest::ScreenDc;
using vlibtest::Selection;
using vlibtest::TextWidth;

class Fonts : public vlibtest::GdiTest {};

// The printable characters of ISO 8859-2 but the soft hyphen (which shaping
// engines hide).
std::wstring Latin2Repertoire() {
    std::wstring characters;
    for (wchar_t c = 0x20; c < 0x7F; ++c) characters.push_back(c);
    const auto upper = vlibtest::RunPeer(
        {"/usr/bin/python3", "-c",
         "import sys; sys.stdout.write(''.join(bytes([b]).decode('iso8859_2') for b in range(0xA0, 0x100) "
         "if b != 0xAD))"});
    if (upper) {
        std::wstring decoded(upper->size(), L'\0');
        decoded.resize(
            static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, upper->data(), static_cast<int>(upper->size()),
                                                         decoded.data(), static_cast<int>(decoded.size()))));
        characters += decoded;
    }
    return characters;
}

TEST_F(Fonts, FacesResolveAsFcMatchWithTheWindowsInterfaceFacesOnLiberationSans) {
    ASSERT_TRUE(vlibtest::HavePeer("fc-match"));
    struct Case {
        const wchar_t* face;
        const char* pattern;
        LONG weight;
        bool italic;
    };
    const Case cases[] = {
        {L"Arial", "Arial", FW_NORMAL, false},
        {L"Arial", "Arial:bold", FW_BOLD, false},
        {L"Arial", "Arial:italic", FW_NORMAL, true},
        {L"Arial", "Arial:bold:italic", FW_BOLD, true},
        {L"Times New Roman", "Times New Roman", FW_NORMAL, false},
        {L"Courier New", "Courier New:bold", FW_BOLD, false},
        {L"Liberation Serif", "Liberation Serif:italic", FW_NORMAL, true},
        {L"DejaVu Sans", "DejaVu Sans", FW_NORMAL, false},
        // The interface faces have no files here: the platform's rules.
        {L"MS Shell Dlg", "Liberation Sans", FW_NORMAL, false},
        {L"Tahoma", "Liberation Sans:bold", FW_BOLD, false},
        {L"System", "Liberation Sans", FW_NORMAL, false},
        {L"", "Liberation Sans", FW_NORMAL, false},
    };
    for (const Case& c : cases) {
        const FontScope font(c.face, -11, c.weight, c.italic);
        const auto expected = vlibtest::RunPeer({"fc-match", "-f", "%{file}", c.pattern});
        ASSERT_TRUE(expected) << c.pattern;
        EXPECT_EQ(FontFile(font), *expected) << vlibtest::Utf8(c.face);
    }
    const ScreenDc dc;
    const Selection selection(dc, GetStockObject(DEFAULT_GUI_FONT));
    wchar_t face[LF_FACESIZE] = {};
    EXPECT_EQ(GetTextFaceW(dc, LF_FACESIZE, face), 15);
    EXPECT_EQ(std::wstring(face), L"Liberation Sans");
}

// The metrics GDI's rules give, computed from the font's tables by
// python3-fonttools with FreeType's fixed-point arithmetic.
constexpr const char* kMetricsScript = R"(
import sys
from fontTools.ttLib import TTFont
def divfix(a, b): return ((a << 16) + (b >> 1)) // b
def mulfix(a, b):
    c = a * b
    return (c + 0x8000 - (1 if c < 0 else 0)) >> 16
def px(units, scale): return (mulfix(units, scale) + 32) >> 6
for line in sys.stdin:
    path, height = line.split('\t')
    height = int(height)
    f = TTFont(path)
    upem = f['head'].unitsPerEm
    os2, hhea, head = f['OS/2'], f['hhea'], f['head']
    a, d = os2.usWinAscent, os2.usWinDescent
    cell = height or 16
    ppem = -height
    if height >= 0:
        ppem = (upem * cell + (a + d) // 2) // (a + d)
        ppem = next((p for p in (ppem, ppem - 1, ppem + 1)
                     if px(a, divfix(p * 64, upem)) + px(d, divfix(p * 64, upem)) == cell), ppem)
    s = divfix(ppem * 64, upem)
    ascent, descent = px(a, s), px(d, s)
    if height >= 0 and ascent + descent != cell:
        ascent = (cell * a + (a + d) // 2) // (a + d)
        descent = cell - ascent
    gap = hhea.lineGap - ((a + d) - (hhea.ascent - hhea.descent))
    print(ascent + descent, ascent, descent, px(a + d - upem, s), max(0, px(gap, s)),
          max(1, px(os2.xAvgCharWidth, s)), px(head.xMax - head.xMin, s), os2.usWeightClass)
)";

TEST_F(Fonts, MetricsComeFromTheWindowsAscentAndDescentAsFontToolsComputesThem) {
    struct Case {
        const wchar_t* face;
        LONG height;
        LONG weight;
    };
    const Case cases[] = {
        {L"Arial", -11, FW_NORMAL},       {L"Arial", -8, FW_NORMAL},         {L"Arial", -24, FW_BOLD},
        {L"Arial", 13, FW_NORMAL},        {L"Arial", 0, FW_NORMAL},          {L"Times New Roman", -16, FW_NORMAL},
        {L"Courier New", -13, FW_NORMAL}, {L"MS Shell Dlg", -11, FW_NORMAL}, {L"Liberation Serif", 40, FW_BOLD},
        {L"Arial", 8, FW_NORMAL},         {L"Courier New", 24, FW_NORMAL},   {L"Times New Roman", 17, FW_NORMAL}};
    std::string input;
    for (const Case& c : cases) {
        const FontScope font(c.face, c.height, c.weight);
        input += FontFile(font) + "\t" + std::to_string(c.height) + "\n";
    }
    const auto output = vlibtest::RunPeer({"/usr/bin/python3", "-c", kMetricsScript}, input);
    ASSERT_TRUE(output);
    std::istringstream lines(*output);
    const ScreenDc dc;
    for (const Case& c : cases) {
        const FontScope font(c.face, c.height, c.weight);
        const Selection selection(dc, font);
        TEXTMETRICW tm{};
        ASSERT_TRUE(GetTextMetricsW(dc, &tm));
        std::vector<LONG> expected(8);
        for (LONG& value : expected) lines >> value;
        EXPECT_EQ((std::vector<LONG>{tm.tmHeight, tm.tmAscent, tm.tmDescent, tm.tmInternalLeading, tm.tmExternalLeading,
                                     tm.tmAveCharWidth, tm.tmMaxCharWidth, tm.tmWeight}),
                  expected)
            << vlibtest::Utf8(c.face) << " " << c.height;
    }
}

// Negative heights (the em) keep the metrics the test above computes.
TEST_F(Fonts, APositiveHeightGivesExactlyThatCellHeight) {
    const ScreenDc dc;
    for (const wchar_t* face : {L"Arial", L"Times New Roman", L"Courier New", L"DejaVu Sans"}) {
        for (LONG height = 8; height <= 40; ++height) {
            const FontScope font(face, height);
            const Selection selection(dc, font);
            TEXTMETRICW tm{};
            ASSERT_TRUE(GetTextMetricsW(dc, &tm));
            EXPECT_EQ(tm.tmHeight, height) << vlibtest::Utf8(face);
            EXPECT_EQ(tm.tmAscent + tm.tmDescent, height) << vlibtest::Utf8(face);
        }
    }
}

TEST_F(Fonts, AnEmptyTextHasNoExtentNotEvenAHeight) {
    const FontScope font(L"Arial", -11);
    const ScreenDc dc;
    const Selection selection(dc, font);
    SIZE size{-1, -1};
    ASSERT_TRUE(GetTextExtentPoint32W(dc, L"", 0, &size));
    EXPECT_EQ(size.cx, 0);
    EXPECT_EQ(size.cy, 0);
    int fit = -1;
    size = {-1, -1};
    ASSERT_TRUE(GetTextExtentExPointW(dc, nullptr, 0, 10, &fit, nullptr, &size));
    EXPECT_EQ((std::vector<LONG>{size.cx, size.cy, fit}), (std::vector<LONG>{0, 0, 0}));
}

TEST_F(Fonts, FaceNamesComeBackWithAtMostThirtyOneUnitsAndTheirNul) {
    const std::wstring longName(40, L'F');
    LOGFONTW full{};
    full.lfHeight = -11;
    std::fill(full.lfFaceName, full.lfFaceName + LF_FACESIZE, L'F');  // 32 units, no NUL
    const LOGFONTW kept = full;
    const HFONT fonts[] = {CreateFontIndirectW(&full),
                           CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, longName.c_str())};
    EXPECT_EQ(std::memcmp(&full, &kept, sizeof full), 0);  // the caller's record is not touched
    for (const HFONT font : fonts) {
        ASSERT_NE(font, nullptr);
        LOGFONTW back{};
        std::fill(back.lfFaceName, back.lfFaceName + LF_FACESIZE, L'x');
        ASSERT_EQ(GetObjectW(font, sizeof back, &back), static_cast<int>(sizeof back));
        EXPECT_EQ(back.lfFaceName[LF_FACESIZE - 1], L'\0');
        EXPECT_EQ(std::wstring(back.lfFaceName), std::wstring(LF_FACESIZE - 1, L'F'));
        DeleteObject(font);
    }
}

// The advance of every character in whole pixels, from the font's hmtx
// table (the missing glyph's for characters outside its cmap).
constexpr const char* kAdvanceScript = R"(
import sys
from fontTools.ttLib import TTFont
def divfix(a, b): return ((a << 16) + (b >> 1)) // b
def mulfix(a, b): return (a * b + 0x8000) >> 16
path, ppem, codes = sys.stdin.read().split('\n')
f = TTFont(path)
s = divfix(int(ppem) * 64, f['head'].unitsPerEm)
cmap, hmtx = f.getBestCmap(), f['hmtx']
print(' '.join(str((mulfix(hmtx[cmap.get(int(c), '.notdef')][0], s) + 32) >> 6) for c in codes.split()))
)";

TEST_F(Fonts, AdvanceTableMatchesTheFontsHorizontalMetrics) {
    // Latin-2, a character no Liberation face has, control characters.
    const std::wstring text = Latin2Repertoire() + L"\u4E2D\t\r\x01";
    for (const auto& [face, ppem] : {std::pair{L"Arial", 11}, std::pair{L"Times New Roman", 17},
                                     std::pair{L"Courier New", 9}, std::pair{L"Arial", 23}}) {
        const FontScope font(face, -ppem);
        std::string codes;
        for (const wchar_t c : text) codes += std::to_string(static_cast<unsigned>(c)) + " ";
        const auto output = vlibtest::RunPeer({"/usr/bin/python3", "-c", kAdvanceScript},
                                              FontFile(font) + "\n" + std::to_string(ppem) + "\n" + codes);
        ASSERT_TRUE(output);
        std::istringstream expected(*output);
        const ScreenDc dc;
        const Selection selection(dc, font);
        for (const wchar_t c : text) {
            LONG advance = -1;
            expected >> advance;
            EXPECT_EQ(TextWidth(dc, std::wstring(1, c)), advance)
                << vlibtest::Utf8(face) << " " << ppem << " U+" << std::hex << static_cast<unsigned>(c);
        }
    }
}

TEST_F(Fonts, MissingCharactersAndSurrogatesTakeTheMissingGlyph) {
    const FontScope font(L"Arial", -11);
    const ScreenDc dc;
    const Selection selection(dc, font);
    const LONG missing = TextWidth(dc, L"\u4E2D");
    EXPECT_GT(missing, 0);
    EXPECT_EQ(TextWidth(dc, L"\xD83D\xDE00"), missing);  // one code point, one glyph
    EXPECT_EQ(TextWidth(dc, L"\xD83D"), missing);        // a lone surrogate
    EXPECT_EQ(TextWidth(dc,
                        L"a\xDE00"
                        L"b"),
              TextWidth(dc, L"ab") + missing);
}

TEST_F(Fonts, ExtentsReportWhatFitsUnitByUnit) {
    const FontScope font(L"Arial", -11);
    const ScreenDc dc;
    const Selection selection(dc, font);
    const std::wstring text = L"Wig\xD83D\xDE00x";
    int fit = -1;
    int dx[6] = {};
    SIZE size{};
    const LONG w = TextWidth(dc, L"W");
    ASSERT_TRUE(GetTextExtentExPointW(dc, text.c_str(), 6, TextWidth(dc, L"Wig") + 1, &fit, dx, &size));
    EXPECT_EQ(fit, 3);  // the pair does not fit whole
    EXPECT_EQ(dx[0], w);
    EXPECT_EQ(dx[3], dx[4]);  // both units of the pair end at the same place
    EXPECT_EQ(dx[5], size.cx);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetTextExtentPoint32W(dc, L"a", -1, &size); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GetTextExtentPoint32W(dc, nullptr, 2, &size); }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetTextExtentPoint32W(nullptr, L"a", 1, &size); }));
}

// HarfBuzz over its own FreeType library with the platform's settings:
// interpreter version 40, hinted advances (FT_LOAD_DEFAULT), no kerning and
// no ligatures.
class HarfBuzzWidths {
public:
    HarfBuzzWidths(const std::string& file, int ppem) {
        FT_Init_FreeType(&m_library);
        FT_UInt version = TT_INTERPRETER_VERSION_40;
        FT_Property_Set(m_library, "truetype", "interpreter-version", &version);
        FT_New_Face(m_library, file.c_str(), 0, &m_face);
        FT_Set_Pixel_Sizes(m_face, 0, static_cast<FT_UInt>(ppem));
        m_font = hb_ft_font_create_referenced(m_face);
        hb_ft_font_set_load_flags(m_font, FT_LOAD_DEFAULT);
        for (const char* feature : {"-kern", "-liga", "-clig", "-calt", "-dlig"}) {
            hb_feature_t parsed;
            hb_feature_from_string(feature, -1, &parsed);
            m_features.push_back(parsed);
        }
    }
    ~HarfBuzzWidths() {
        hb_font_destroy(m_font);
        FT_Done_Face(m_face);
        FT_Done_FreeType(m_library);
    }
    HarfBuzzWidths(const HarfBuzzWidths&) = delete;
    HarfBuzzWidths& operator=(const HarfBuzzWidths&) = delete;

    long Width(const std::wstring& text) const {
        const std::u16string units(text.begin(), text.end());
        hb_buffer_t* buffer = hb_buffer_create();
        hb_buffer_add_utf16(buffer, reinterpret_cast<const uint16_t*>(units.data()), static_cast<int>(units.size()), 0,
                            -1);
        hb_buffer_guess_segment_properties(buffer);
        hb_shape(m_font, buffer, m_features.data(), static_cast<unsigned>(m_features.size()));
        unsigned count = 0;
        const hb_glyph_position_t* positions = hb_buffer_get_glyph_positions(buffer, &count);
        long width = 0;
        for (unsigned i = 0; i < count; ++i) width += positions[i].x_advance;
        hb_buffer_destroy(buffer);
        return width / 64;
    }

private:
    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
    hb_font_t* m_font = nullptr;
    std::vector<hb_feature_t> m_features;
};

TEST_F(Fonts, WidthsOfRandomLatin2TextsAgreeWithHarfBuzz) {
    const std::wstring repertoire = Latin2Repertoire();
    ASSERT_GT(repertoire.size(), 180u);
    std::mt19937 random(20240611);
    const ScreenDc dc;
    int compared = 0;
    for (const auto& [face, weight] :
         {std::pair{L"Arial", FW_NORMAL}, std::pair{L"Arial", FW_BOLD}, std::pair{L"Times New Roman", FW_NORMAL},
          std::pair{L"Courier New", FW_NORMAL}}) {
        for (int ppem = 8; ppem <= 24; ppem += 2) {
            const FontScope font(face, -ppem, weight);
            const Selection selection(dc, font);
            const HarfBuzzWidths peer(FontFile(font), ppem);
            for (int n = 0; n < 12; ++n) {
                std::wstring text(1 + random() % 40, L' ');
                for (wchar_t& c : text) c = repertoire[random() % repertoire.size()];
                EXPECT_EQ(TextWidth(dc, text), peer.Width(text)) << vlibtest::Utf8(text) << " at " << ppem << " px";
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 4 * 9 * 12);
}

TEST_F(Fonts, FontsThatCannotBeFoundOrReadFailTheMeasuringCalls) {
    const ScreenDc dc;
    SIZE size{};
    for (int failing = 0; failing < 2; ++failing) {
        const auto fail = [failing](vplatform::Syscalls& s) {
            if (failing == 0) {
                s.fc_font_match = [](FcConfig*, FcPattern*) -> FcPattern* { return nullptr; };
            } else {
                s.ft_new_face = [](FT_Library, const char*, long, FT_Face*) -> int {
                    return FT_Err_Cannot_Open_Resource;
                };
            }
        };
        // A size no other test uses, so that no live font shares it.
        const FontScope font(L"Arial", -(71 + failing));
        const Selection selection(dc, font);
        {
            const vlibtest::SeamScope seam(fail);
            EXPECT_TRUE(FailsWith(ERROR_FILE_NOT_FOUND, [&] { return GetTextExtentPoint32W(dc, L"a", 1, &size); }));
        }
        // A font is realised once: it keeps failing.
        TEXTMETRICW tm{};
        EXPECT_TRUE(FailsWith(ERROR_FILE_NOT_FOUND, [&] { return GetTextMetricsW(dc, &tm); }));
        RECT rect{0, 0, 1, 1};
        EXPECT_TRUE(FailsWith(ERROR_FILE_NOT_FOUND, [&] { return DrawTextW(dc, L"a", 1, &rect, DT_CALCRECT) != 0; }));
    }
    // Another font of that face works.
    const FontScope fine(L"Arial", -70);
    const Selection selection(dc, fine);
    EXPECT_TRUE(GetTextExtentPoint32W(dc, L"a", 1, &size));
}

TEST_F(Fonts, RaceThreadsMeasuringWithOneFontAgree) {
    // A size of its own, so that the threads fill its advance cache together.
    const FontScope font(L"Times New Roman", -19, FW_BOLD);
    const std::wstring repertoire = Latin2Repertoire();
    std::vector<std::wstring> texts;
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::wstring text(1 + random() % 30, L' ');
        for (wchar_t& c : text) c = repertoire[random() % repertoire.size()];
        texts.push_back(text);
    }
    constexpr int kThreads = 8;
    std::vector<std::vector<LONG>> widths(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const ScreenDc dc;
            const Selection selection(dc, font);
            for (const auto& text : texts) widths[t].push_back(TextWidth(dc, text));
        });
    }
    for (auto& thread : threads) thread.join();
    const ScreenDc dc;
    const Selection selection(dc, font);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (int t = 0; t < kThreads; ++t) EXPECT_EQ(widths[t][i], TextWidth(dc, texts[i])) << i;
    }
}

TEST_F(Fonts, RaceThreadsMeasuringOnOneDcSeeItsFontChangesAndFailOnceItIsReleased) {
    const FontScope small(L"Arial", -17);
    const FontScope large(L"Arial", -29);
    const std::wstring text = L"Zażółć gęślą jaźń 1234";
    const int length = static_cast<int>(text.size());
    const HDC dc = GetDC(nullptr);
    SelectObject(dc, large);
    const LONG largeWidth = TextWidth(dc, text);
    SelectObject(dc, small);
    const LONG smallWidth = TextWidth(dc, text);
    ASSERT_LT(smallWidth, largeWidth);
    constexpr int kThreads = 8;
    std::atomic<int> measured{0};
    std::atomic<bool> released{false};
    std::vector<DWORD> errors(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            SIZE size{};
            for (;;) {
                const bool late = released.load();
                if (!GetTextExtentPoint32W(dc, text.c_str(), length, &size)) {
                    errors[t] = GetLastError();
                    break;
                }
                if (late) {
                    ADD_FAILURE() << "measured on a released DC";
                    break;
                }
                EXPECT_TRUE(size.cx == smallWidth || size.cx == largeWidth) << size.cx;
                measured.fetch_add(1);
            }
            // It stays failed.
            EXPECT_FALSE(GetTextExtentPoint32W(dc, text.c_str(), length, &size));
        });
    }
    // The font changes under the measuring threads, then the DC goes.
    for (int round = 0; measured.load() < kThreads * 300; ++round) {
        SelectObject(dc, round % 2 == 0 ? large : small);
    }
    ReleaseDC(nullptr, dc);
    released.store(true);
    for (auto& thread : threads) thread.join();
    for (const DWORD error : errors) EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SIZE size{};
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GetTextExtentPoint32W(dc, L"a", 1, &size); }));
}

}  // namespace

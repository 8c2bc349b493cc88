// Tests of MultiByteToWideChar / WideCharToMultiByte and the ANSI code page:
// tables and UTF-8 handling cross-checked against python3, the
// Windows replacement rules, argument errors and buffer sizes.
#include <gtest/gtest.h>

#include <locale.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/nls/CodePage.h"
#include "tests/support/EnvScope.h"
#include "tests/support/LastError.h"
#include "tests/support/Peer.h"
#include "tests/support/TempDir.h"

namespace {

// Converts with a size query first (room 0), then into a buffer of exactly
// that size and into a roomier one (the converters take different paths for
// the two), and checks that all three agree and that one unit less is
// refused.  The buffers are heap blocks of the exact size, so that a
// sanitizer build sees any write past them.
template <class Out, class Convert>
std::basic_string<Out> Checked(std::size_t inSize, Convert convert) {
    const int needed = convert(nullptr, 0);
    EXPECT_GT(needed, 0);
    std::vector<Out> exact(static_cast<size_t>(std::max(needed, 1))), roomy(4 * inSize + 8);
    std::vector<Out> short_(exact.size() - 1);
    EXPECT_EQ(convert(exact.data(), needed), needed);
    roomy.resize(static_cast<size_t>(convert(roomy.data(), static_cast<int>(roomy.size()))));
    EXPECT_EQ(exact, roomy);
    EXPECT_TRUE(needed == 1 || vlibtest::FailsWith(ERROR_INSUFFICIENT_BUFFER,
                                                   [&] { return convert(short_.data(), needed - 1) != 0; }));
    return std::basic_string<Out>(roomy.begin(), roomy.end());
}

std::wstring Decode(UINT cp, std::string_view in) {
    return Checked<wchar_t>(in.size(), [&](wchar_t* out, int room) {
        return MultiByteToWideChar(cp, 0, in.data(), static_cast<int>(in.size()), out, room);
    });
}

std::string Encode(UINT cp, std::wstring_view in) {
    return Checked<char>(in.size(), [&](char* out, int room) {
        return WideCharToMultiByte(cp, 0, in.data(), static_cast<int>(in.size()), out, room, nullptr, nullptr);
    });
}

std::string Utf16Le(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>((c >> 8) & 0xFF);
    }
    return out;
}

using vlibtest::Hex;

std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST(SingleBytePages, Ascii20127ClearsTheTopBitAndEncodesOnlyAscii) {
    const std::wstring decoded = Decode(20127, "A\xE9\x80\xFF");
    EXPECT_EQ(decoded, (std::wstring{L'A', 0x69, 0x00, 0x7F}));
    EXPECT_EQ(Encode(20127, L"ai\u00E9\u0080"), "ai??");
}

TEST(SingleBytePages, ReplaceMissingCharactersAndReportIt) {
    // 'ł' is in 1250 but not in 1252; a surrogate pair and a wchar_t above
    // 0xFFFF each stand for one character and give one replacement.
    const std::wstring text = std::wstring(L"Łódź ") + L'\xD83D' + L'\xDE00' + L'\x1F600' + L'\xDC00' + L'\xD800';
    EXPECT_EQ(Encode(1250, text),
              "\xA3\xF3"
              "d\x9F ????");
    EXPECT_EQ(Encode(1252, text),
              "?\xF3"
              "d? ????");

    // lpUsedDefaultChar reports a replacement; lpDefaultChar replaces '?'.
    BOOL used = -1;
    char out[16];
    const std::tuple<UINT, LPCWSTR, int, char*, LPCSTR, std::string, BOOL> cases[] = {
        {1252, L"ł", 1, nullptr, nullptr, "", TRUE},
        {1252, L"żó", 2, out, "#", "#\xF3", TRUE},
        {1250, L"żó", 2, out, "#", "\xBF\xF3", FALSE},
        {1250, L"żó", 2, nullptr, nullptr, "", FALSE}};
    for (const auto& [cp, wide, length, buffer, replacement, bytes, replaced] : cases) {
        const int size = buffer != nullptr ? 16 : 0;
        ASSERT_EQ(WideCharToMultiByte(cp, 0, wide, length, buffer, size, replacement, &used), length);
        EXPECT_EQ(used, replaced);
        EXPECT_EQ(buffer != nullptr ? std::string(buffer, 2) : "", bytes);
    }
}

// Inputs that exercise every ill-formed case, each also placed after ASCII
// runs of several lengths so that it falls at every offset of a 16-byte block.
std::vector<std::string> Utf8Samples() {
    // Overlong, surrogate, out-of-range, stray and cut sequences, then well-formed ones.
    std::vector<std::string> cases;
    std::istringstream table(
        "C0AF C1BF E080AF E09FBF EDA080 EDBFBF F08080AF F08FBFBF F4908080 F580 F888808080 FEFF 80BF C2 E282 F09F98 "
        "C261 E28261 F09FC2A9 F09F9880 F48FBFBF EFBFBF E28093 C5BCC3B3C582");
    for (std::string hex; table >> hex;) {
        cases.emplace_back();
        for (std::size_t i = 0; i < hex.size(); i += 2)
            cases.back() += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    std::vector<std::string> samples;
    for (const auto& c : cases) {
        for (size_t prefix : {0, 1, 13, 14, 15, 16, 17, 29, 30, 31})
            samples.push_back(std::string(prefix, 'a') + c + "tail");
    }
    // Random mixtures of ASCII runs, well-formed characters and stray bytes.
    std::mt19937 random(20240611);
    const std::vector<std::string> pieces = {"\xC5\x82", "\xC3\xB3",     "\xE2\x80\x93", "\xF0\x9F\x98\x80", "\xC5",
                                             "\xE2\x80", "\xF0\x9F\x98", "\x80",         "\xED\xA0\x80",     "\xFF"};
    for (int i = 0; i < 200; ++i) {
        std::string s;
        while (s.size() < 120) {
            if (random() % 2) {
                s += std::string(random() % 20, 'x');
            } else {
                const std::size_t choices = random() % 8 ? 3 : pieces.size();  // mostly well-formed
                s += pieces[random() % choices];
            }
        }
        samples.push_back(s);
    }
    for (int i = 0; i < 50; ++i) {
        std::string s(1 + random() % 40, '\0');
        for (char& c : s) c = static_cast<char>(random());
        samples.push_back(s);
    }
    return samples;
}

std::vector<std::wstring> WideSamples() {
    std::mt19937 random(7);
    const std::vector<wchar_t> units = {L'a', 0x142, 0x7FF, 0x800, 0x2013, 0xFFFF, 0xD83D, 0xDE00, 0xDBFF, 0xDFFF};
    std::vector<std::wstring> samples;
    for (int i = 0; i < 200; ++i) {
        std::wstring s;
        while (s.size() < 100) {
            if (random() % 2) {
                s += std::wstring(random() % 24, L'y');
            } else {
                s += units[random() % units.size()];
            }
        }
        samples.push_back(s);
    }
    return samples;
}

// python3's 'replace' decoding of UTF-8 to UTF-16LE, and of UTF-16LE to UTF-8
// (which replaces lone surrogates as we do).
TEST(Utf8, DecodesIllFormedInputAndEncodesLoneSurrogatesLikePython) {
    if (!vlibtest::HavePeer("python3")) GTEST_SKIP() << "python3 not found";
    const auto decode = Utf8Samples();
    const auto encode = WideSamples();
    std::string input;
    for (const auto& s : decode) input += "d" + Hex(s) + "\n";
    for (const auto& s : encode) input += "e" + Hex(Utf16Le(s)) + "\n";
    const auto out = vlibtest::RunPeer({"python3", "-c",
                                        "import sys\n"
                                        "for line in sys.stdin:\n"
                                        "    b = bytes.fromhex(line[1:].strip())\n"
                                        "    if line[0] == 'd': r = b.decode('utf-8', 'replace').encode('utf-16-le')\n"
                                        "    else: r = b.decode('utf-16-le', 'replace').encode('utf-8')\n"
                                        "    print(line[0] + r.hex())\n"},
                                       input);
    ASSERT_TRUE(out);
    std::istringstream python(*out);
    std::string line;
    for (const auto& s : decode) {
        ASSERT_TRUE(std::getline(python, line));
        EXPECT_EQ("d" + Hex(Utf16Le(Decode(CP_UTF8, s))), line) << "input " << Hex(s);
    }
    for (const auto& s : encode) {
        ASSERT_TRUE(std::getline(python, line));
        EXPECT_EQ("e" + Hex(Encode(CP_UTF8, s)), line);
    }
}

TEST(Utf8, WideCharsAboveTheBmpEncodeAsTheirCodePoint) {
    // Pairs are cross-checked with python above.  A wchar_t holding a code
    // point is taken as that code point; beyond U+10FFFF, or negative, it is
    // invalid.
    EXPECT_EQ(Encode(CP_UTF8, std::wstring{L'\x1F600', L'\x10FFFF'}), "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
    EXPECT_EQ(Encode(CP_UTF8, std::wstring{static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Conversions, NegativeOneLengthIncludesTheTerminator) {
    wchar_t wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xC5\x82", -1, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(1250, 0, "ab\xB3", -1, wide, 8), 4);
    EXPECT_EQ(std::wstring(wide, 4), std::wstring(L"abł", 4));
    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"ał", -1, narrow, 8, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(narrow, 4), std::string("a\xC5\x82", 4));
    EXPECT_EQ(WideCharToMultiByte(28592, 0, L"ał", -1, nullptr, 0, nullptr, nullptr), 3);
}

TEST(Conversions, LongTextsRoundTripThroughEveryPath) {
    std::wstring text, in1250;
    for (int i = 0; i < 300; ++i) {
        text += L"Zażółć gęślą jaźń – WIG20 wzrósł o 1,5% \xD83D\xDE00. ";
        in1250 += L"Zażółć gęślą jaźń – WIG20 wzrósł o 1,5% ?. ";
    }
    EXPECT_EQ(Decode(CP_UTF8, Encode(CP_UTF8, text)), text);
    EXPECT_EQ(Decode(1250, Encode(1250, text)), in1250);
    EXPECT_EQ(Decode(28592, Encode(28592, text)).find(L'–'), std::wstring::npos);  // no dash in ISO 8859-2
}

TEST(Conversions, AgreeWhateverTheProcessorRuns) {
    // The block loops depend on the processor's vector extensions; run the
    // conversion tests again with the lower levels forced.
    if (std::getenv("VPLATFORM_SIMD") != nullptr) GTEST_SKIP() << "already a rerun";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (const char* level : {"sse2", "ssse3"}) {
        EXPECT_TRUE(vlibtest::RunPeer(
                        {"env", std::string("VPLATFORM_SIMD=") + level, self, "--gtest_filter=Utf8.*:Conversions.*"})
                        .has_value())
            << "tests fail with VPLATFORM_SIMD=" << level;
    }
}

TEST(Conversions, RejectBadArgumentsWithTheLastError) {
    char narrow[64] = "text";
    wchar_t wide[64] = L"text";
    const auto mb = [&](UINT cp, DWORD flags, LPCSTR in, int size, LPWSTR out, int room) {
        return [=] { return MultiByteToWideChar(cp, flags, in, size, out, room) != 0; };
    };
    const auto wc = [&](UINT cp, DWORD flags, LPCWSTR in, int size, LPSTR out, int room, LPCSTR replacement) {
        return [=] { return WideCharToMultiByte(cp, flags, in, size, out, room, replacement, nullptr) != 0; };
    };
    const std::pair<DWORD, std::function<bool()>> cases[] = {
        {ERROR_INVALID_PARAMETER, mb(1361, 0, "a", 1, wide, 4)},  // unknown pages
        {ERROR_INVALID_PARAMETER, wc(CP_OEMCP, 0, L"a", 1, narrow, 4, nullptr)},
        {ERROR_INVALID_PARAMETER, mb(CP_UTF8, 0, nullptr, 1, wide, 4)},  // null input
        {ERROR_INVALID_PARAMETER, wc(CP_UTF8, 0, nullptr, -1, nullptr, 0, nullptr)},
        {ERROR_INVALID_PARAMETER, mb(1252, 0, "a", 0, wide, 4)},      // empty input
        {ERROR_INVALID_PARAMETER, mb(CP_UTF8, 0, "a", 1, wide, -1)},  // negative or null output
        {ERROR_INVALID_PARAMETER, wc(CP_UTF8, 0, L"a", 1, nullptr, 4, nullptr)},
        {ERROR_INVALID_PARAMETER, mb(CP_UTF8, 0, narrow, 4, reinterpret_cast<wchar_t*>(narrow), 4)},  // overlap
        {ERROR_INVALID_PARAMETER, wc(1250, 0, wide + 1, 2, reinterpret_cast<char*>(wide), 8, nullptr)},
        {ERROR_INVALID_PARAMETER, wc(CP_UTF8, 0, L"a", 1, narrow, 4, "?")},  // default char for UTF-8
        {ERROR_INSUFFICIENT_BUFFER, mb(1250, 0, "abc", 3, wide, 2)},
        {ERROR_INSUFFICIENT_BUFFER, mb(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, wide, 1)},  // no room for a pair
        {ERROR_INSUFFICIENT_BUFFER, wc(CP_UTF8, 0, L"ł", 1, narrow, 1, nullptr)},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_TRUE(vlibtest::FailsWith(cases[i].first, cases[i].second)) << i;
    for (UINT cp : {0u, 1u, 1361u, 20932u, 54936u}) EXPECT_FALSE(IsValidCodePage(cp)) << cp;
}

TEST(Flags, ErrInvalidCharsFailsOnIllFormedInputWithNoUnicodeTranslation) {
    const std::pair<UINT, std::string> decode[] = {
        {CP_UTF8, "ab\xC3"}, {CP_UTF8, "\xED\xA0\x80"}, {CP_UTF8, std::string(40, 'x') + "\xFF"},
        {932, "a\x81"},      {932, "\x81\x20"},         {949, "\xFF\xFE\xFE"}};
    for (const auto& [cp, text] : decode) {
        EXPECT_TRUE(vlibtest::FailsWith(ERROR_NO_UNICODE_TRANSLATION,
                                        [&] {
                                            return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(),
                                                                       static_cast<int>(text.size()), nullptr, 0) != 0;
                                        }))
            << cp << " " << Hex(text);
        // Without the flag the same input converts.
        EXPECT_GT(MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0), 0);
    }
    const std::wstring loneSurrogate = std::wstring(L"ab") + L'\xDC00';
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_NO_UNICODE_TRANSLATION, [&] {
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, loneSurrogate.data(), 3, nullptr, 0, nullptr,
                                   nullptr) != 0;
    }));
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, L"\xD83D\xDE00\xFFFD", 3, nullptr, 0, nullptr, nullptr), 7);
}

TEST(Flags, UseGlyphCharsGivesTheOemPagesGlyphsForControlBytes) {
    wchar_t wide[4];
    ASSERT_EQ(MultiByteToWideChar(437, MB_USEGLYPHCHARS,
                                  "\x01\x7F\x14"
                                  "A",
                                  4, wide, 4),
              4);
    EXPECT_EQ(std::wstring(wide, 4), (std::wstring{0x263A, 0x2302, 0x00B6, L'A'}));
    ASSERT_EQ(MultiByteToWideChar(1252, MB_USEGLYPHCHARS, "\x01\x7F", 2, wide, 4), 2);  // an ANSI page has none
    EXPECT_EQ(std::wstring(wide, 2), (std::wstring{0x01, 0x7F}));
}

TEST(Conversions, LengthsBelowMinusOneMeanUpToTheTerminator) {
    wchar_t wide[8];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab\xC5\x82", -2002, wide, 8), 4);
    EXPECT_EQ(std::wstring(wide, 4), std::wstring(L"abł", 4));
    EXPECT_EQ(MultiByteToWideChar(1251, 0, "\xC0", INT_MIN, nullptr, 0), 2);
    char narrow[8];
    EXPECT_EQ(WideCharToMultiByte(1250, 0, L"ał", -2, narrow, 8, nullptr, nullptr), 3);
    EXPECT_EQ(std::string(narrow, 3), std::string("a\xB3", 3));
}

TEST(Conversions, ShortOutputStopsBeforeTheMissingCharacterAndLeavesUsedDefaultFalse) {
    char narrow[4];
    for (UINT cp : {1252u, 1251u, 932u}) {
        BOOL used = TRUE;
        EXPECT_TRUE(vlibtest::FailsWith(ERROR_INSUFFICIENT_BUFFER, [&] {
            return WideCharToMultiByte(cp, 0, L"ab\x4E00", 3, narrow, 2, nullptr, &used) != 0;
        })) << cp;
        EXPECT_EQ(used, FALSE) << cp;
        used = FALSE;
        EXPECT_TRUE(vlibtest::FailsWith(ERROR_INSUFFICIENT_BUFFER, [&] {
            return WideCharToMultiByte(cp, 0, L"\x263Axyz", 4, narrow, 2, nullptr, &used) != 0;
        })) << cp;
        EXPECT_EQ(used, TRUE) << cp;  // the replacement was written before the room ran out
    }
}

// The code pages, checked against python3's codecs.
struct GeneratedPage {
    UINT cp;
    const char* codec;
};
constexpr GeneratedPage kSingleBytePages[] = {
    {1250, "cp1250"}, {1252, "cp1252"}, {28592, "iso8859_2"}, {28591, "latin_1"}, {1251, "cp1251"},
    {1253, "cp1253"}, {1254, "cp1254"}, {1255, "cp1255"},     {1256, "cp1256"},   {1257, "cp1257"},
    {1258, "cp1258"}, {874, "cp874"},   {437, "cp437"},       {850, "cp850"},     {852, "cp852"}};
constexpr GeneratedPage kDoubleBytePages[] = {{932, "cp932"}, {936, "gbk"}, {949, "cp949"}, {950, "cp950"}};

std::string Python(const std::string& script, const std::string& input = {}) {
    const auto out = vlibtest::RunPeer({"python3", "-c", script}, input);
    EXPECT_TRUE(out.has_value());
    return out.value_or("");
}

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

TEST(CodePages, SingleBytePagesDecodeLikePythonAndUndefinedBytesLikeWindows) {
    if (!vlibtest::HavePeer("python3")) GTEST_SKIP() << "python3 not found";
    // python's character for each byte of each page, U+FFFF where it has none.
    std::string codecs;
    for (const GeneratedPage& page : kSingleBytePages) codecs += std::string(page.codec) + "\n";
    std::istringstream lines(
        Python("import codecs, sys\n"
               "for c in sys.stdin.read().split():\n"
               " print(''.join(codecs.decode(bytes([b]), c, 'ignore') or '\\uffff'"
               " for b in range(256)).encode('utf-16-le').hex())\n",
               codecs));
    for (const GeneratedPage& page : kSingleBytePages) {
        SCOPED_TRACE(page.cp);
        ASSERT_TRUE(IsValidCodePage(page.cp));
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        const std::string expected = Unhex(line);
        const std::wstring ours = Decode(page.cp, AllBytes());
        ASSERT_EQ(ours.size(), 256u);
        ASSERT_EQ(expected.size(), 512u);
        for (int b = 0; b < 256; ++b) {
            const auto python = static_cast<wchar_t>(static_cast<unsigned char>(expected[2 * b]) |
                                                     (static_cast<unsigned char>(expected[2 * b + 1]) << 8));
            const wchar_t got = ours[static_cast<size_t>(b)];
            if (python != 0xFFFF) {
                EXPECT_EQ(got, python) << "byte " << b;
            } else if (b < 0xA0) {
                EXPECT_EQ(got, b) << "byte " << b;  // the C1 control
            } else {
                EXPECT_TRUE((got >= 0xF880 && got <= 0xF8FF) || got == 0x05BA)
                    << "byte " << b << " gives " << static_cast<int>(got);
            }
        }
        // Every byte is a character of its own: all of them encode back.
        EXPECT_EQ(Encode(page.cp, ours), AllBytes());
    }
    EXPECT_EQ(Decode(1253, "\xAA\xD2\xFF"), L"\xF8F9\xF8FA\xF8FB");
    EXPECT_EQ(Decode(1255, "\xCA"), L"\x05BA");
    EXPECT_EQ(Encode(1251, L"Привет, мир ł"), "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0 ?");
}

TEST(CodePages, DoubleBytePagesConvertEveryPairLikePython) {
    if (!vlibtest::HavePeer("python3")) GTEST_SKIP() << "python3 not found";
    // Every pair python decodes, then random text of them and ASCII; the
    // text python encodes back, and the UTF-16 of both.  Where python and
    // Windows part: 950's rows C6-C8 are user-defined characters on Windows
    // (private use, as iconv reads them); a 932 character with an IBM pair
    // (FA-FC) and an NEC-selected one (ED-EE) is written as the IBM pair,
    // where python writes the other.
    std::string codecs;
    for (const GeneratedPage& page : kDoubleBytePages) codecs += std::string(page.codec) + "\n";
    std::istringstream lines(
        Python("import random, sys\n"
               "for c in sys.stdin.read().split():\n"
               " ok=[]\n"
               " for l in range(0x81,0xff):\n"
               "  if c=='cp950' and 0xc6<=l<=0xc8: continue\n"
               "  for t in range(0x40,0xff):\n"
               "   try:\n"
               "    u=bytes([l,t]).decode(c)\n"
               "    if len(u)==1: ok.append(bytes([l,t]))\n"
               "   except UnicodeDecodeError: pass\n"
               " ibm={}\n"
               " for x in ok:\n"
               "  if c=='cp932' and x[0]>=0xfa: ibm.setdefault(x.decode(c),x)\n"
               " def enc(ch):\n"
               "  e=ch.encode(c)\n"
               "  return ibm.get(ch,e) if e[0] in (0xed,0xee) else e\n"
               " r=random.Random(5)\n"
               " txt=b''.join(r.choice(ok+[b'a',b' ',b'\\x7e']) for _ in range(20000))\n"
               " for b in (b''.join(ok), txt):\n"
               "  u=b.decode(c)\n"
               "  print(b.hex(), u.encode('utf-16-le').hex(), b''.join(map(enc,u)).hex())\n",
               codecs));
    for (const GeneratedPage& page : kDoubleBytePages) {
        SCOPED_TRACE(page.cp);
        ASSERT_TRUE(IsValidCodePage(page.cp));
        for (int i = 0; i < 2; ++i) {
            std::string bytes, utf16, back;
            ASSERT_TRUE(lines >> bytes >> utf16 >> back);
            const std::wstring ours = Decode(page.cp, Unhex(bytes));
            EXPECT_EQ(Hex(Utf16Le(ours)), utf16);
            EXPECT_EQ(Hex(Encode(page.cp, ours)), back);
        }
    }
    // The single bytes Windows defines, and the lead-byte rules.
    EXPECT_EQ(Decode(932, "\x80\xA0\xB1\xFD"), L"\x0080\xF8F0\xFF71\xF8F1");
    EXPECT_EQ(Decode(936, "\x80\xFF"), L"\x20AC\xF8F5");
    EXPECT_EQ(Decode(932, std::string("a\x81\x20\x81\x7F\x81", 6)), L"a\x30FB \x30FB\x30FB");
    EXPECT_EQ(Encode(932, L"a\x3042\x00E9"), "a\x82\xA0?");
    char narrow[8];
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(932, 0, L"\x00E9", 1, narrow, 8, "\x81\x45", &used), 2);  // a double-byte default
    EXPECT_EQ(std::string(narrow, 2), "\x81\x45");
    EXPECT_TRUE(used);
}

TEST(CodePages, Utf7ConvertsLikePython) {
    if (!vlibtest::HavePeer("python3")) GTEST_SKIP() << "python3 not found";
    const std::wstring text = L"Hi Mom -\x263A-! A\x2262\x0391. \x65E5\x672C\x8A9E \xD83D\xDE00 1+1=2 ~\\";
    const std::string encoded = Encode(CP_UTF7, text);
    // python reads what we write, and we read what python writes.
    std::istringstream lines(
        Python("import sys\n"
               "ours, text = sys.stdin.read().split()\n"
               "print(bytes.fromhex(ours).decode('utf-7').encode('utf-16-le').hex())\n"
               "print(bytes.fromhex(text).decode('utf-16-le').encode('utf-7').hex())\n",
               Hex(encoded) + "\n" + Hex(Utf16Le(text))));
    std::string decodedByPython, fromPython;
    ASSERT_TRUE(lines >> decodedByPython >> fromPython);
    EXPECT_EQ(decodedByPython, Hex(Utf16Le(text)));
    EXPECT_EQ(Decode(CP_UTF7, Unhex(fromPython)), text);
    EXPECT_EQ(Decode(CP_UTF7, "A+ImIDkQ."), L"A\x2262\x0391.");
}

// Restores the process locale, LOCPATH and the ANSI code page.
class AnsiCodePage : public ::testing::Test {
protected:
    void TearDown() override {
        std::setlocale(LC_CTYPE, m_locale.c_str());
        SetACP(0);
    }

    std::string m_locale = std::setlocale(LC_CTYPE, nullptr);
    vlibtest::EnvScope m_locPath{"LOCPATH", std::getenv("LOCPATH")};
};

TEST_F(AnsiCodePage, FollowsSetAcpThenTheLocale) {
    ASSERT_TRUE(SetACP(1250));
    EXPECT_EQ(GetACP(), 1250u);
    wchar_t wide[2];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xB3", 1, wide, 2), 1);
    EXPECT_EQ(wide[0], L'ł');

    EXPECT_TRUE(vlibtest::FailsWith(ERROR_INVALID_PARAMETER, [] { return SetACP(1361); }));
    EXPECT_EQ(GetACP(), 1250u);

    // Back to the locale, read again after SetACP(0).
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    ASSERT_TRUE(SetACP(0));
    EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

TEST_F(AnsiCodePage, ReadsTheCodesetOfTheLocale) {
    if (!vlibtest::HavePeer("localedef")) GTEST_SKIP() << "localedef not found";
    // Minimal locales built for the test, found through LOCPATH.
    const vlibtest::TempDir dir;
    ASSERT_EQ(setenv("LOCPATH", dir.Path().c_str(), 1), 0);
    const std::pair<const char*, UINT> codesets[] = {{"ISO-8859-2", 28592}, {"CP1250", 1250}, {"ISO-8859-1", 28591},
                                                     {"CP1252", 1252},      {"CP1251", 1251}, {"KOI8-R", CP_UTF8}};
    for (const auto& [codeset, expected] : codesets) {
        const std::string name = std::string("xx.") + codeset;
        // localedef complains about the categories POSIX lacks; -c writes anyway.
        vlibtest::RunPeer({"sh", "-c",
                           "localedef -c -i POSIX -f " + std::string(codeset) + " '" + (dir.Path() / name).string() +
                               "' 2>/dev/null; true"});
        if (std::setlocale(LC_CTYPE, name.c_str()) == nullptr) {
            ADD_FAILURE() << "cannot load locale " << name;
            continue;
        }
        // The process locale counts, not one the calling thread uses.
        const locale_t threadLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
        uselocale(threadLocale);
        EXPECT_TRUE(SetACP(0));
        EXPECT_EQ(GetACP(), expected) << codeset;
        uselocale(LC_GLOBAL_LOCALE);
        freelocale(threadLocale);
        // Cached: changing the locale alone does not change the code page.
        std::setlocale(LC_CTYPE, "C");
        EXPECT_EQ(GetACP(), expected) << codeset;
    }
}

}  // namespace

#include "text/StringUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/Peer.h"

namespace {

using namespace VTools::String;
using namespace std::string_literals;
using vlibtest::Hex;

TEST(StringUtils, CaseAndClassesTouchOnlyAsciiInTheDefaultLocale) {
    EXPECT_EQ(ToLower(L"WIG20 \u0141\u00D3D\u0179"s), L"wig20 \u0141\u00D3d\u0179");
    EXPECT_EQ(ToUpper("kurs \xB3"s), "KURS \xB3");
    EXPECT_TRUE(IsEqualNoCase(L"Kurs", L"kURS"));
    EXPECT_FALSE(IsEqualNoCase(L"\u0141", L"\u0142"));
    EXPECT_FALSE(IsEqualNoCase("abc", "abcd"));
    std::string narrow = " a b\tc\n";
    std::wstring wide = L" a\vb\r\fc ";
    RemoveWhiteSpace(narrow);
    RemoveWhiteSpace(wide);
    EXPECT_EQ(narrow + "|" + std::string(wide.begin(), wide.end()), "abc|abc");
    EXPECT_TRUE(IsNumber(std::string_view()) && IsNumber("0123") && IsNumber(L"0123"));
    EXPECT_FALSE(IsNumber("12a") || IsNumber(L"-1"));
    EXPECT_FALSE(IsNumber(L"1\u0131"));  // low byte is '1', but it is no digit
    EXPECT_TRUE(IsEmail("@host") && IsEmail("a@b@"));
    EXPECT_FALSE(IsEmail("user@") || IsEmail("plain") || IsEmail(""));
    EXPECT_TRUE(EndsWith(L"file.txt", L".txt") && EndsWith(L"abc", L""));
    EXPECT_FALSE(EndsWith(L"txt", L".txt"));
}

TEST(StringUtils, ToDoubleReadsEitherSeparatorAndRejectsWhatItCannotRead) {
    const std::pair<const wchar_t*, double> read[] = {{L"1,5", 1.5},   {L"1,234,5", 1.234}, {L"12abc", 12.0},
                                                      {L"-0,5", -0.5}, {L"2.5e3", 2500.0},  {L"inf", HUGE_VAL}};
    for (const auto& [text, value] : read) EXPECT_EQ(ToDouble(text), value) << text;
    EXPECT_TRUE(std::isnan(ToDouble(L"NaN").value()));
    for (const wchar_t* text : {L"", L"1e400", L" 1", L"+1", L"abc"}) EXPECT_FALSE(ToDouble(text).has_value()) << text;
}

TEST(StringUtils, DecimalPlacesAreCountedTrimmedAndPaddedFromTheFirstSeparator) {
    const std::pair<const wchar_t*, std::uint64_t> precisions[] = {{L"12,345", 3}, {L"1.2.34", 2}, {L"100", 0},
                                                                   {L"3.", 0},     {L",5", 1},     {L"", 0}};
    for (const auto& [text, places] : precisions) EXPECT_EQ(ParsePrecision(text), places) << text;
    const auto cut = [](std::wstring text) {
        CutUnnecesaryDecimalPlaces(text);
        return text;
    };
    const std::pair<const wchar_t*, const wchar_t*> cuts[] = {
        {L"1.500", L"1.5"}, {L"1.000", L"1"},   {L"100.0", L"100"},   {L"1,000", L"1"},
        {L"100", L"100"},   {L"1000", L"1000"}, {L"1000,", L"1000,"}, {L".000", L""}};
    for (const auto& [text, trimmed] : cuts) EXPECT_EQ(cut(text), trimmed) << text;
    const auto keep = [](std::string text, std::uint64_t minimum) {
        CutUnnecesaryDecimalPlaces(text, minimum);
        return text;
    };
    EXPECT_EQ(keep("1.500", 2) + " " + keep("1.000", 2) + " " + keep("1.5", 2), "1.50 1.00 1.5");
    EXPECT_EQ(keep("1.000", 0) + " " + keep("1.000", UINT64_MAX), "1 1.000");
    const auto pad = [](auto text, int places) {
        const auto result = AddZerosAfterDecimalPlace(text, places);
        return std::make_tuple(result.first, result.second, text);
    };
    EXPECT_EQ(pad(std::wstring(L"1.5"), 3), std::make_tuple(true, 2, std::wstring(L"1.500")));
    EXPECT_EQ(pad(std::wstring(L"1,25"), 2), std::make_tuple(true, 0, std::wstring(L"1,25")));
    EXPECT_EQ(pad(std::wstring(L"1.2345"), 2), std::make_tuple(true, -2, std::wstring(L"1.2345")));
    EXPECT_EQ(pad(std::string("15"), 2), std::make_tuple(false, 0, std::string("15")));
    EXPECT_EQ(pad(std::string("1,5.0"), 3), std::make_tuple(true, 2, std::string("1,5.000")));  // from the first '.'
}

TEST(StringUtils, ShortenForUICutsAtTwentyUnitsAndKeepsSurrogatePairsWhole) {
    const std::wstring pair = L"\xD83D\xDE00";  // U+1F600
    const std::wstring nineteen(19, L'x');
    const struct {
        std::wstring text, shortened;
    } cases[] = {{std::wstring(20, L'x'), std::wstring(20, L'x')},
                 {L"abcdefghijklmnopqrstu", L"abcdefghijklmnopqrst..."},
                 {nineteen + pair, nineteen + L"..."},  // a pair across the cut goes whole
                 {nineteen + pair + L"y", nineteen + L"..."},
                 {L"x" + nineteen + pair, L"x" + nineteen + L"..."},
                 {std::wstring(18, L'x') + pair + L"yz", std::wstring(18, L'x') + pair + L"..."},
                 {nineteen + L"\xD83D" + L"yz", nineteen + L"\xD83D..."}};  // a lone half is a unit
    for (auto c : cases) {
        ShortenForUI(c.text);
        EXPECT_EQ(c.text, c.shortened);
    }
}

TEST(StringUtils, TokenizeReturnsEveryMatch) {
    EXPECT_EQ(Tokenize("a,b;c", "[^,;]+"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(Tokenize("abc", "\\d+").empty());
    EXPECT_EQ(Tokenize("ab", "x*").size(), 3u);  // empty matches at 0, 1 and 2
    EXPECT_THROW(Tokenize("abc", "("), std::regex_error);
}

// Against python3's strict decoder: fixed cases (characters outside the
// alphabet, '=' before the last two places, lines), random texts built mostly
// from the alphabet with padding, white space and other bytes thrown in, and
// the encodings python3 makes of random bytes.  A refused text leaves the
// output as it was.
TEST(StringUtils, DecodeBase64AgreesWithPythonsStrictDecoder) {
    const std::string pieces = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string odd = "=== \n\r-_.\x80\xFF";
    std::mt19937 random(64);
    std::vector<std::string> texts = {"",     "QQ==", "QUJD", "V0lHMjA=", "////",     "QUI",  "!!!!",      "QUJD\nQQ==",
                                      "QU=D", "=QUJ", "A===", "====",     "QQ==QQ==", "QUJ-", "QU\xC5\x44"};
    std::vector<std::string> bytes(texts.size());
    for (int i = 0; i < 600; ++i) {
        std::string text(4 * (random() % 5), 'A');
        for (char& c : text) c = random() % 12 == 0 ? odd[random() % odd.size()] : pieces[random() % pieces.size()];
        if (random() % 3 == 0 && !text.empty()) text.back() = '=';
        if (random() % 2 == 0 && text.ends_with('=')) text[text.size() - 2] = '=';
        texts.push_back(text);
        std::string data(random() % 20, '\0');
        for (char& c : data) c = static_cast<char>(random());
        bytes.push_back(data);
    }
    std::string request;
    for (std::size_t i = 0; i < texts.size(); ++i) request += "D " + Hex(texts[i]) + "\nE " + Hex(bytes[i]) + "\n";
    const auto answer = vlibtest::RunPeer({"/usr/bin/python3", "-c", R"(
import base64, binascii, sys
for line in sys.stdin:
    kind, data = line.split(' ')
    data = bytes.fromhex(data.strip())
    if kind == 'E':
        print(base64.b64encode(data).decode())
        continue
    try:
        print('OK', base64.b64decode(data, validate=True).hex())
    except binascii.Error:
        print('ERR')
)"},
                                          request);
    ASSERT_TRUE(answer.has_value());
    std::istringstream lines(*answer);
    int accepted = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::string verdict, encoded;
        ASSERT_TRUE(std::getline(lines, verdict) && std::getline(lines, encoded));
        std::string out = "kept";
        const std::string shown = ::testing::PrintToString(texts[i]);
        if (DecodeBase64(texts[i], out)) {
            EXPECT_EQ("OK " + Hex(out), verdict) << shown;
            ++accepted;
        } else {
            EXPECT_EQ(verdict, "ERR") << shown;
            EXPECT_EQ(out, "kept") << shown;
        }
        EXPECT_TRUE(DecodeBase64(encoded, out)) << encoded;
        EXPECT_EQ(out, bytes[i]) << encoded;
    }
    EXPECT_GT(accepted, 100);
    EXPECT_LT(accepted, 500);
}

TEST(CharIntConverter, PacksMostSignificantByteFirst) {
    using namespace VTools::CharIntConverter;
    EXPECT_EQ(ToString(0x41) + ToString(0x4142) + ToString(0x414243) + ToString(0x41424344), "AABABCABCD");
    EXPECT_EQ(ToString(0x10000), std::string("\x01\x00\x00", 3));
    EXPECT_EQ(ToString(0x1000000).size(), 4u);
    EXPECT_EQ(ToString(0), std::string(1, '\0'));
    EXPECT_EQ(ToString2(0x41), std::string("\0A", 2));
}

}  // namespace

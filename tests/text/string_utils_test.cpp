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

TEST(StringUtils, SharedConstantsAreSingleInstances) {
    EXPECT_EQ(&EmptyString(), &EmptyString());
    EXPECT_EQ(&NullWString(), &NullWString());
    EXPECT_EQ(NullString(), "null");
    EXPECT_EQ(NullWString(), L"null");
    EXPECT_TRUE(EmptyWString().empty());
}

TEST(StringUtils, CaseOperationsChangeOnlyAsciiLettersInTheDefaultLocale) {
    EXPECT_EQ(ToLower(L"WIG20 \u0141\u00D3D\u0179"s), L"wig20 \u0141\u00D3d\u0179");
    EXPECT_EQ(ToUpper("kurs \xB3"s), "KURS \xB3");
    EXPECT_TRUE(IsEqualNoCase(L"Kurs", L"kURS"));
    EXPECT_FALSE(IsEqualNoCase(L"\u0141", L"\u0142"));
    EXPECT_FALSE(IsEqualNoCase("abc", "abcd"));
    EXPECT_TRUE(IsEqualNoCase("", ""));
}

TEST(StringUtils, RemoveWhiteSpaceRemovesEverySpaceWhereverItStands) {
    std::string narrow = " a b\tc\n";
    RemoveWhiteSpace(narrow);
    EXPECT_EQ(narrow, "abc");
    std::wstring wide = L" a\vb\r\fc ";
    RemoveWhiteSpace(wide);
    EXPECT_EQ(wide, L"abc");
}

TEST(StringUtils, DigitAndEmailTests) {
    EXPECT_TRUE(IsNumber(std::string_view()));
    EXPECT_TRUE(IsNumber("0123"));
    EXPECT_FALSE(IsNumber("12a"));
    EXPECT_TRUE(IsNumber(L"0123"));
    EXPECT_FALSE(IsNumber(L"1\u0131"));  // low byte is '1', but it is no digit
    EXPECT_FALSE(IsNumber(L"-1"));

    EXPECT_FALSE(IsEmail("user@"));
    EXPECT_TRUE(IsEmail("@host"));
    EXPECT_TRUE(IsEmail("a@b@"));
    EXPECT_FALSE(IsEmail("plain"));
    EXPECT_FALSE(IsEmail(""));
}

TEST(StringUtils, ToDoubleReadsEitherSeparatorAndRejectsWhatItCannotRead) {
    EXPECT_EQ(ToDouble(L"1,5"), 1.5);
    EXPECT_EQ(ToDouble(L"1,234,5"), 1.234);
    EXPECT_EQ(ToDouble(L"12abc"), 12.0);
    EXPECT_EQ(ToDouble(L"-0,5"), -0.5);
    EXPECT_EQ(ToDouble(L"2.5e3"), 2500.0);
    EXPECT_EQ(ToDouble(L"inf"), HUGE_VAL);
    EXPECT_TRUE(std::isnan(ToDouble(L"NaN").value()));
    EXPECT_FALSE(ToDouble(L"").has_value());
    EXPECT_FALSE(ToDouble(L"1e400").has_value());
    EXPECT_FALSE(ToDouble(L" 1").has_value());
    EXPECT_FALSE(ToDouble(L"+1").has_value());
    EXPECT_FALSE(ToDouble(L"abc").has_value());
}

TEST(StringUtils, EndsWithAndParsePrecision) {
    EXPECT_TRUE(EndsWith(L"file.txt", L".txt"));
    EXPECT_TRUE(EndsWith(L"abc", L""));
    EXPECT_FALSE(EndsWith(L"txt", L".txt"));

    EXPECT_EQ(ParsePrecision(L"12,345"), 3u);
    EXPECT_EQ(ParsePrecision(L"1.2.34"), 2u);
    EXPECT_EQ(ParsePrecision(L"100"), 0u);
    EXPECT_EQ(ParsePrecision(L"3."), 0u);
    EXPECT_EQ(ParsePrecision(L",5"), 1u);
    EXPECT_EQ(ParsePrecision(L""), 0u);
}

TEST(StringUtils, CutUnnecesaryDecimalPlacesTrimsOnlyTrailingDecimalZeros) {
    const auto cut = [](std::wstring text) {
        CutUnnecesaryDecimalPlaces(text);
        return text;
    };
    EXPECT_EQ(cut(L"1.500"), L"1.5");
    EXPECT_EQ(cut(L"1.000"), L"1");
    EXPECT_EQ(cut(L"100.0"), L"100");
    EXPECT_EQ(cut(L"1,000"), L"1");
    EXPECT_EQ(cut(L"100"), L"100");
    EXPECT_EQ(cut(L"1000"), L"1000");
    EXPECT_EQ(cut(L"1000,"), L"1000,");
    EXPECT_EQ(cut(L".000"), L"");

    const auto keep = [](std::string text, std::uint64_t minimum) {
        CutUnnecesaryDecimalPlaces(text, minimum);
        return text;
    };
    EXPECT_EQ(keep("1.500", 2), "1.50");
    EXPECT_EQ(keep("1.000", 2), "1.00");
    EXPECT_EQ(keep("1.5", 2), "1.5");
    EXPECT_EQ(keep("1.000", 0), "1");
    EXPECT_EQ(keep("1.000", UINT64_MAX), "1.000");
}

TEST(StringUtils, AddZerosAfterDecimalPlaceReportsWhatWasMissing) {
    std::wstring text = L"1.5";
    EXPECT_EQ(AddZerosAfterDecimalPlace(text, 3), std::make_pair(true, 2));
    EXPECT_EQ(text, L"1.500");
    text = L"1,25";
    EXPECT_EQ(AddZerosAfterDecimalPlace(text, 2), std::make_pair(true, 0));
    text = L"1.2345";
    EXPECT_EQ(AddZerosAfterDecimalPlace(text, 2), std::make_pair(true, -2));
    EXPECT_EQ(text, L"1.2345");
    std::string narrow = "15";
    EXPECT_EQ(AddZerosAfterDecimalPlace(narrow, 2), std::make_pair(false, 0));
    EXPECT_EQ(narrow, "15");
    narrow = "1,5.0";  // measured from the first '.'
    EXPECT_EQ(AddZerosAfterDecimalPlace(narrow, 3), std::make_pair(true, 2));
    EXPECT_EQ(narrow, "1,5.000");
}

TEST(StringUtils, ShortenForUICutsAtTwentyUnits) {
    std::wstring twenty(20, L'x');
    ShortenForUI(twenty);
    EXPECT_EQ(twenty.size(), 20u);
    std::wstring longer = L"abcdefghijklmnopqrstu";
    ShortenForUI(longer);
    EXPECT_EQ(longer, L"abcdefghijklmnopqrst...");

    // A surrogate pair across the cut goes whole; one before it stays whole.
    const std::wstring pair = L"\xD83D\xDE00";  // U+1F600
    const std::wstring nineteen(19, L'x');
    const struct {
        std::wstring text, shortened;
    } cases[] = {{nineteen + pair, nineteen + L"..."},
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

TEST(StringUtils, DecodeBase64) {
    std::string out = "untouched";
    EXPECT_FALSE(DecodeBase64("QUI", out));
    EXPECT_EQ(out, "untouched");
    EXPECT_TRUE(DecodeBase64("", out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(DecodeBase64("QQ==", out));
    EXPECT_EQ(out, "A");
    EXPECT_TRUE(DecodeBase64("QUJD", out));
    EXPECT_EQ(out, "ABC");
    EXPECT_TRUE(DecodeBase64("V0lHMjA=", out));
    EXPECT_EQ(out, "WIG20");
    EXPECT_TRUE(DecodeBase64("////", out));
    EXPECT_EQ(out, "\xFF\xFF\xFF");
    // Characters outside the alphabet and '=' before the last two places are
    // refused, the output kept.
    for (const char* bad : {"!!!!", "QUJD\nQQ==", "QU=D", "=QUJ", "A===", "====", "QQ==QQ==", "QUJ-",
                            "QU\xC5"
                            "D"}) {
        out = "kept";
        EXPECT_FALSE(DecodeBase64(bad, out)) << bad;
        EXPECT_EQ(out, "kept") << bad;
    }
}

std::string Hex(std::string_view bytes) {
    std::string hex;
    for (const unsigned char c : bytes) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
    return hex;
}

// Against python3's strict decoder: random texts built mostly from the
// alphabet with padding, white space and other bytes thrown in, and the
// encodings python3 makes of random bytes.
TEST(StringUtils, DecodeBase64AgreesWithPythonsStrictDecoder) {
    const std::string pieces = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string odd = "=== \n\r-_.\x80\xFF";
    std::mt19937 random(64);
    std::vector<std::string> texts, bytes;
    std::string request;
    for (int i = 0; i < 600; ++i) {
        std::string text(4 * (random() % 5), 'A');
        for (char& c : text) c = random() % 12 == 0 ? odd[random() % odd.size()] : pieces[random() % pieces.size()];
        if (random() % 3 == 0 && !text.empty()) text.back() = '=';
        if (random() % 2 == 0 && text.ends_with('=')) text[text.size() - 2] = '=';
        texts.push_back(text);
        request += "D " + Hex(texts.back()) + "\n";
        std::string data(random() % 20, '\0');
        for (char& c : data) c = static_cast<char>(random());
        bytes.push_back(data);
        request += "E " + Hex(data) + "\n";
    }
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
    EXPECT_EQ(ToString(0x41), "A");
    EXPECT_EQ(ToString(0x4142), "AB");
    EXPECT_EQ(ToString(0x414243), "ABC");
    EXPECT_EQ(ToString(0x10000), std::string("\x01\x00\x00", 3));
    EXPECT_EQ(ToString(0x41424344), "ABCD");
    EXPECT_EQ(ToString(0x1000000).size(), 4u);
    EXPECT_EQ(ToString(0), std::string(1, '\0'));
    EXPECT_EQ(ToString2(0x41), std::string("\0A", 2));
}

}  // namespace

#include "encoding/SimpleCrypt.h"

#include <gtest/gtest.h>

#include "tests/support/AcpScope.h"
#include "text/StringConversion.h"

namespace {

using namespace std::string_view_literals;

TEST(SimpleCrypt, KnownDigitForms) {
    EXPECT_EQ(SimpleCrypt::Crypt("Hi"sv), "047080");
    EXPECT_EQ(SimpleCrypt::Decrypt("047080"sv), "Hi");
    EXPECT_EQ(SimpleCrypt::Crypt("Aa0"sv), "040072023");
    EXPECT_EQ(SimpleCrypt::Crypt(L"A"sv), L"00040");
    EXPECT_EQ(SimpleCrypt::Crypt(""sv), "");
    EXPECT_EQ(SimpleCrypt::Crypt(L""sv), L"");
    EXPECT_EQ(SimpleCrypt::Crypt("\x00\x18\xB6\xFF"sv), "-25-01-99-26");
}

TEST(SimpleCrypt, EveryNarrowByteRoundTripsInThreeCharacters) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string digits = SimpleCrypt::Crypt(all);
    EXPECT_EQ(digits.size(), 3 * all.size());
    EXPECT_EQ(SimpleCrypt::Decrypt(digits), all);
    // Polish letters of Windows-1250 in the range that once took four
    // characters: ł (0xB3), Ł (0xA3), Ś (0x8C), Ą (0xA5).
    EXPECT_EQ(SimpleCrypt::Crypt("\xB3\xA3\x8C\xA5"sv), "154138115140");
    EXPECT_EQ(SimpleCrypt::Decrypt("154138115140"sv), "\xB3\xA3\x8C\xA5");
    // Digit texts written with the four-character groups' neighbours still read.
    EXPECT_EQ(SimpleCrypt::Decrypt("-99"sv), "\xB6");
}

TEST(SimpleCrypt, EveryWideUnitRoundTrips) {
    std::wstring all;
    for (int u = 0; u <= 0xFFFF; u += 7) all.push_back(static_cast<wchar_t>(u));
    all += L"\x0001\x0018\xFFFF";
    EXPECT_EQ(SimpleCrypt::Decrypt(SimpleCrypt::Crypt(all)), all);
    EXPECT_EQ(SimpleCrypt::Crypt(L"\x0001"sv), L"-0024");
    // A code point held in one wchar_t is scrambled as its surrogate pair.
    const std::wstring emoji(1, static_cast<wchar_t>(0x1F600));
    EXPECT_EQ(SimpleCrypt::Decrypt(SimpleCrypt::Crypt(emoji)), L"\xD83D\xDE00"sv);
}

TEST(SimpleCrypt, MalformedDigitTexts) {
    EXPECT_EQ(SimpleCrypt::Decrypt("04708"sv), "");
    EXPECT_EQ(SimpleCrypt::Decrypt(""sv), "");
    EXPECT_EQ(SimpleCrypt::Decrypt(L"0004"sv), L"");
    EXPECT_EQ(SimpleCrypt::Decrypt("abc"sv), "\x19");  // no number: 0 + 25
    EXPECT_EQ(SimpleCrypt::Decrypt(" 47"sv), "H");     // leading space skipped
    EXPECT_EQ(SimpleCrypt::Decrypt(L"+0040"sv), L"A");
}

TEST(SimpleCrypt, CryptAsAsciiReadsBackWithTheNarrowForm) {
    vlibtest::AcpScope acp(1250);
    const std::wstring text = L"Zaża\u0142\u0107 \u0141\u00F3d\u017A";
    const std::wstring digits = SimpleCrypt::CryptAsASCII(text);
    const std::string narrowDigits = VTools::String::WideToAnsi(digits);
    EXPECT_EQ(VTools::String::AnsiToWide(SimpleCrypt::Decrypt(narrowDigits)), text);
}

}  // namespace

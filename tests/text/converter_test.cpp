#include "text/Converter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "tests/support/AcpScope.h"
#include "text/StringConversion.h"

namespace {

using namespace std::string_view_literals;
using VTools::ConverterMultiByteToWideChar;
using VTools::ConverterWideCharToMultiByte;

const std::string kSample1250 =
    "To jest przyk\xB3"
    "adowy tekst: \xCA\xD3\xA5\x8C\xA3\xAF\x8F\xC6\xD1 \xEA\xF3\xB9\x9C\xB3\xBF\x9F\xE6\xF1";
const std::string kSampleUtf8 = "To jest przykładowy tekst: ĘÓĄŚŁŻŹĆŃ ęóąśłżźćń";
const std::wstring kSampleWide =
    L"To jest przyk\u0142adowy tekst: \u0118\u00D3\u0104\u015A\u0141\u017B\u0179\u0106\u0143 "
    L"\u0119\u00F3\u0105\u015B\u0142\u017C\u017A\u0107\u0144";

// The message of the exception a conversion throws, or "" when none.
template <class F>
std::string ThrownMessage(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

TEST(Converter, EmptyInputGivesOneTerminatorAndEmptyResults) {
    ConverterMultiByteToWideChar toWide;
    EXPECT_EQ(toWide.data(), nullptr);
    const wchar_t* result = toWide.Convert("");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result[0], L'\0');
    EXPECT_TRUE(static_cast<std::wstring_view>(toWide).empty());
    ConverterWideCharToMultiByte toNarrow;
    EXPECT_EQ(toNarrow.Convert(L"")[0], '\0');
    EXPECT_EQ(VTools::String::AnsiToUtf8(""), "");
}

// The sample sentence in UTF-8, Windows-1250 and UTF-16, through the
// converters and the free functions.
TEST(Converter, TheSampleSentenceConvertsBetweenEveryForm) {
    EXPECT_EQ(VTools::String::WideToUtf8(kSampleWide), kSampleUtf8);
    const ConverterMultiByteToWideChar from1250(kSample1250, 1250);
    const ConverterWideCharToMultiByte to1250(kSampleWide, 1250);
    EXPECT_EQ(static_cast<std::wstring_view>(from1250), kSampleWide);
    EXPECT_EQ(static_cast<std::string_view>(to1250), kSample1250);
    // Reused for a shorter text, a converter shows nothing of the previous one.
    ConverterWideCharToMultiByte converter(CP_UTF8);
    converter.Convert(kSampleWide);
    EXPECT_STREQ(converter.Convert(L"abc"), "abc");
    EXPECT_EQ(static_cast<std::string_view>(converter), "abc");
}

TEST(Converter, TheCodePageOfOneCallDoesNotReplaceTheStoredOne) {
    ConverterMultiByteToWideChar converter(28592);
    EXPECT_EQ(std::wstring(converter.Convert("\xB1", 1250)), L"\u00B1");
    EXPECT_EQ(std::wstring(converter.Convert("\xB1")), L"\u0105");
    VTools::IsoLatin2WideCharEncoding fromLatin2;
    VTools::IsoLatin2MultiByteEncoding toLatin2;
    EXPECT_EQ(std::wstring(fromLatin2.Convert("\xB1")), L"\u0105");
    EXPECT_EQ(std::string(toLatin2.Convert(L"\u0105\u015B")), "\xB1\xB6");
}

// A zero stays in a converter's view but ends a free function's result;
// invalid UTF-8 becomes U+FFFD; characters beyond the BMP are pairs.
TEST(Converter, ZerosInvalidBytesAndCharactersBeyondTheBmp) {
    const ConverterMultiByteToWideChar withZero("a\0b"sv);
    EXPECT_EQ(static_cast<std::wstring_view>(withZero), L"a\0b"sv);
    EXPECT_EQ(VTools::String::AnsiToWide("a\0b"sv), L"a");
    EXPECT_EQ(VTools::String::Utf8ToAnsi("a\0b"sv), "a");
    EXPECT_EQ(VTools::String::Utf8ToWide("a\xFF"
                                         "b\xC5"),
              L"a\uFFFDb\uFFFD");
    EXPECT_EQ(VTools::String::Utf8ToWide("\xF0\x9F\x98\x80"), L"\xD83D\xDE00"sv);
}

TEST(Converter, RefusedConversionsThrowTheLastErrorMessage) {
    ConverterMultiByteToWideChar converter(12345);
    EXPECT_EQ(ThrownMessage([&] { converter.Convert("abc"); }), "Last error: 87");
    // The converter stays usable.
    EXPECT_EQ(std::wstring(converter.Convert("abc", CP_UTF8)), L"abc");
    EXPECT_EQ(ThrownMessage([] { ConverterWideCharToMultiByte(L"x", 12345); }), "Last error: 87");
}

TEST(Converter, TextsOfTwoToTheThirtyFirstUnitsAreRefusedNotTruncated) {
    const char byte = 'a';
    // The length is checked before any byte is read.
    const std::string_view huge(&byte, std::size_t{1} << 31);
    ConverterMultiByteToWideChar converter;
    EXPECT_EQ(ThrownMessage([&] { converter.Convert(huge); }), "Last error: 87");
    EXPECT_EQ(ThrownMessage([&] { VTools::String::Utf8ToWide(huge); }), "Last error: 87");
    EXPECT_EQ(ThrownMessage([&] { converter.PrepareBuffer(std::uint64_t{1} << 31); }), "Last error: 87");
}

TEST(Converter, PrepareBufferLeavesATerminatedBufferAndCopiesAreIndependent) {
    ConverterWideCharToMultiByte prepared;
    EXPECT_EQ(prepared.CalculatePredictedSize(5), 5);
    EXPECT_EQ(static_cast<std::string_view>(prepared).size(), 5u);
    EXPECT_EQ(prepared.data()[5], '\0');
    ConverterMultiByteToWideChar source("abc", CP_UTF8);
    ConverterMultiByteToWideChar copy(source);
    EXPECT_NE(copy.data(), source.data());
    ConverterMultiByteToWideChar moved(std::move(source));
    EXPECT_EQ(static_cast<std::wstring_view>(moved), L"abc");
    EXPECT_EQ(source.data(), nullptr);                              // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(std::wstring(moved.Convert("\xC5\x82")), L"\u0142");  // the code page moved too
}

// Views and pointers are taken only from live converters:
// `std::wstring_view v = ConverterMultiByteToWideChar(text, 65001);` would
// dangle, so it does not compile.
template <class T>
concept HasData = requires(T&& t) {
    std::forward<T>(t).data();
};
template <class C, class View, class Pointer>
constexpr bool kViewsOnlyFromLvalues =
    !std::is_convertible_v<C, View> && !std::is_convertible_v<const C, Pointer> && !HasData<C> && HasData<C&> &&
    HasData<const C&> && std::is_convertible_v<const C&, View>;
static_assert(kViewsOnlyFromLvalues<ConverterMultiByteToWideChar, std::wstring_view, const wchar_t*>);
static_assert(kViewsOnlyFromLvalues<VTools::IsoLatin2WideCharEncoding, std::wstring_view, const wchar_t*>);
static_assert(kViewsOnlyFromLvalues<ConverterWideCharToMultiByte, std::string_view, const char*>);
static_assert(kViewsOnlyFromLvalues<VTools::IsoLatin2MultiByteEncoding, std::string_view, const char*>);

TEST(StringConversion, AnsiFunctionsFollowTheAnsiCodePage) {
    {
        vlibtest::AcpScope acp(1250);
        EXPECT_EQ(VTools::String::AnsiToUtf8(kSample1250), kSampleUtf8);
        EXPECT_EQ(VTools::String::Utf8ToAnsi(kSampleUtf8), kSample1250);
        EXPECT_EQ(VTools::String::WideToAnsi(L"\u20AC\u4E2D"), "\x80?");
        EXPECT_NO_THROW(VTools::ConverterMultiByteToWideChar::Test());
        EXPECT_NO_THROW(VTools::ConverterWideCharToMultiByte::Test());
        EXPECT_NO_THROW(VTools::String::TestStringConversion());
    }
    vlibtest::AcpScope acp(CP_UTF8);
    EXPECT_EQ(VTools::String::WideToAnsi(kSampleWide), kSampleUtf8);
    EXPECT_NO_THROW(VTools::String::TestStringConversion());
}

TEST(StringConversion, CaseChangesTouchOnlyAsciiLettersAndJsonHoldsUtf8) {
    vlibtest::AcpScope acp(1250);
    EXPECT_EQ(VTools::String::ToLowerString(L"AbC \u0141\u00D3D\u0179"),
              "abc \xA3\xD3"
              "d\x8F");
    EXPECT_EQ(VTools::String::ToUpperString(L"abc \u0142"), "ABC \xB3");
    EXPECT_EQ(VTools::String::ToLowerWString("WIG20 \xA3"), L"wig20 \u0141");
    const boost::json::string json = VTools::String::WideToJsonUtf8(L"\u0142");
    EXPECT_EQ(std::string_view(json.data(), json.size()), "\xC5\x82");
}

}  // namespace

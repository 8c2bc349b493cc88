// Guid: parsing and formatting (checked against uuidgen), the byte order of
// comparisons, and new random GUIDs.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "encoding/Guid.h"
#include "tests/support/Peer.h"
#include "text/StringConversion.h"

namespace {

const std::wstring kCanonical = L"{6B29FC40-CA47-1067-B31D-00C04FB4A9BF}";

TEST(Guid, ParsesEitherCaseWithOrWithoutBracesAndFormatsUpperCase) {
    const std::wstring same[] = {
        kCanonical,
        L"6b29fc40-ca47-1067-b31d-00c04fb4a9bf",
        L"{6b29fc40-ca47-1067-b31d-00c04fb4a9bf",
        L"6B29FC40-CA47-{1067}-B31D-00C04FB4A9BF}}",
    };
    for (const auto& text : same) {
        SCOPED_TRACE(VTools::String::WideToUtf8(text));
        const Guid guid(text);
        EXPECT_EQ(guid, Guid(kCanonical));
        EXPECT_EQ(guid.Convert(), kCanonical);
        EXPECT_EQ(static_cast<std::wstring>(guid), kCanonical);
    }
    const GUID raw = Guid::Convert(kCanonical);
    EXPECT_TRUE(raw.Data1 == 0x6B29FC40u && raw.Data2 == 0xCA47 && raw.Data3 == 0x1067 && raw.Data4[0] == 0xB3 &&
                raw.Data4[7] == 0xBF);
}

TEST(Guid, TextThatIsNotAGuidGivesTheZeroGuid) {
    const std::wstring bad[] = {
        L"",
        L"6b29fc40-ca47-1067-b31d-00c04fb4a9b",        // 35 characters
        L"6b29fc40-ca47-1067-b31d-00c04fb4a9bfa",      // 37
        L"6b29fc40-ca47-1067-b31d-00c04fb4a9bg",       // not hexadecimal
        L"6b29fc40ca47-1067-b31d-00c04fb4a9bf-",       // hyphen out of place
        L" 6b29fc40-ca47-1067-b31d-00c04fb4a9bf",      // white space
        L"6b29fc40-ca47-1067-b31d-00c04fb4a9b\u0104",  // non-ASCII
        L"(6b29fc40-ca47-1067-b31d-00c04fb4a9bf)",
    };
    for (const auto& text : bad) {
        SCOPED_TRACE(VTools::String::WideToUtf8(text));
        EXPECT_EQ(Guid(text), GUID{});
        EXPECT_EQ(Guid(text).Convert(), L"{00000000-0000-0000-0000-000000000000}");
    }
    Guid assigned(kCanonical);
    assigned = std::wstring(L"junk");
    EXPECT_EQ(assigned, Guid());
}

TEST(Guid, OrderFollowsTheStoredBytesNotTheText) {
    const Guid one(std::wstring(L"{00000001-0000-0000-0000-000000000000}"));
    const Guid hundred(std::wstring(L"{00000100-0000-0000-0000-000000000000}"));
    const GUID hundredRaw = Guid::Convert(L"{00000100-0000-0000-0000-000000000000}");
    const GUID oneRaw = Guid::Convert(L"00000001-0000-0000-0000-000000000000");
    EXPECT_TRUE(hundred < one && !(one < hundred) && !(hundred < hundredRaw) && hundred < oneRaw);
    EXPECT_GT(one.Compare(hundredRaw), 0);
    EXPECT_LT(hundred.Compare(oneRaw), 0);
    EXPECT_EQ(hundred.Compare(hundredRaw), 0);
    EXPECT_TRUE(one != hundred && one != hundredRaw && !(hundred != hundredRaw));
}

TEST(Guid, FormatAndParseAgreeWithUuidgen) {
    if (!vlibtest::HavePeer("uuidgen")) GTEST_SKIP() << "uuidgen missing";
    for (const char* kind : {"-r", "-t"}) {
        const auto out = vlibtest::RunPeer({"uuidgen", kind});
        ASSERT_TRUE(out.has_value());
        const std::string text = out->substr(0, 36);
        std::string upper = text;
        for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const Guid guid(VTools::String::Utf8ToWide(text));
        EXPECT_EQ(VTools::String::WideToUtf8(guid.Convert()), "{" + upper + "}");
        EXPECT_EQ(GUID(Guid::Convert(guid.Convert())).Data1, std::stoul(text.substr(0, 8), nullptr, 16));
    }
}

TEST(Guid, CreateMakesDistinctVersionFourGuids) {
    const std::wregex form(L"\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
    std::set<std::wstring> seen;
    for (int i = 0; i < 500; ++i) {
        Guid guid;
        ASSERT_TRUE(guid.Create());
        const std::wstring text = guid.Convert();
        ASSERT_TRUE(std::regex_match(text, form)) << VTools::String::WideToUtf8(text);
        EXPECT_EQ(Guid(text), guid);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 500u);
}

}  // namespace

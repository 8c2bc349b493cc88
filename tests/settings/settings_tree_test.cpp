// Tests of the Settings tree: identifiers, structure, copies and moves, the
// shared invalid node, and every typed assignment and conversion with its
// exceptions.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "settings/Settings.h"

namespace {

std::string_view Text(const Settings& node) {
    return node;
}

std::vector<std::string> Keys(const Settings& node) {
    std::vector<std::string> keys;
    for (const auto& [key, child] : node) keys.push_back(key);
    return keys;
}

std::vector<std::uint64_t> UnnamedIds(const Settings& node) {
    std::vector<std::uint64_t> ids;
    for (auto it = node.begin_unnamed(); it != node.end_unnamed(); ++it) ids.push_back(it->GetID());
    return ids;
}

// Every standard integer type assigns and converts without ambiguity.
template <typename T>
concept RoundTrips = requires(Settings& node, T value) {
    node = value;
    { static_cast<T>(node) } -> std::same_as<T>;
    T{node};
};
static_assert(RoundTrips<signed char> && RoundTrips<unsigned char> && RoundTrips<short> && RoundTrips<unsigned short> &&
              RoundTrips<int> && RoundTrips<unsigned> && RoundTrips<long> && RoundTrips<unsigned long> &&
              RoundTrips<long long> && RoundTrips<unsigned long long> && RoundTrips<std::int32_t> &&
              RoundTrips<std::uint32_t> && RoundTrips<std::int64_t> && RoundTrips<std::uint64_t> &&
              RoundTrips<double> && RoundTrips<float> && RoundTrips<bool>);
// Narrow text views of a node only exist while the node does.
static_assert(std::is_convertible_v<const Settings&, std::string_view>);
static_assert(!std::is_convertible_v<Settings&&, std::string_view>);
static_assert(!std::is_convertible_v<Settings&&, const char*>);

TEST(SettingsIdentifiers, ChildrenOfBothKindsShareOneCounter) {
    Settings root;
    EXPECT_EQ(root.GetID(), 0u);
    EXPECT_EQ(root["b"].GetID(), 1u);
    EXPECT_EQ(root["a"].GetID(), 2u);
    EXPECT_EQ(root.AddUnnamed().GetID(), 3u);
    EXPECT_EQ(root["b"].GetID(), 1u);  // found, not created
    EXPECT_EQ(Keys(root), (std::vector<std::string>{"a", "b"}));

    root.RemoveBranch("b");
    EXPECT_FALSE(root.Exists("b"));
    EXPECT_EQ(root["b"].GetID(), 4u);
    root.Clear();
    EXPECT_EQ(root.GetVariablesCount() + root.GetUnnamedVariablesCount(), 0u);
    EXPECT_EQ(root.AddUnnamed().GetID(), 5u);

    // Each node counts for its own children.
    Settings numbered(41);
    EXPECT_EQ(numbered.GetID(), 41u);
    EXPECT_EQ(numbered["x"]["y"].GetID(), 1u);
    EXPECT_EQ(numbered["x"].AddUnnamed().GetID(), 2u);
}

TEST(SettingsIdentifiers, CopiesAndMovesKeepIdentifiersAndCounters) {
    Settings root(7);
    root["a"] = 1;
    root.AddUnnamed() = "u";
    root.Version(3);

    const Settings copy(root);
    EXPECT_EQ(copy.GetID(), 7u);
    EXPECT_EQ(copy["a"].GetID(), 1u);
    EXPECT_EQ(copy.Version(), 3);
    Settings grown(copy);
    EXPECT_EQ(grown["new"].GetID(), 3u);  // the counter was copied too

    Settings moved(std::move(root));
    EXPECT_EQ(moved.GetID(), 7u);
    EXPECT_EQ(UnnamedIds(moved), std::vector<std::uint64_t>{2});
    EXPECT_EQ(root.GetVariablesCount() + root.GetUnnamedVariablesCount(), 0u);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(Text(root), "");
    EXPECT_EQ(moved["next"].GetID(), 3u);

    Settings target(99);
    target["old"] = 5;
    target = copy;
    EXPECT_EQ(target.GetID(), 7u);
    EXPECT_FALSE(target.Exists("old"));
    target = std::move(moved);
    EXPECT_TRUE(target.Exists("next"));
}

TEST(SettingsStructure, AssigningANodeItsOwnDescendantOrItself) {
    Settings root;
    root["a"]["b"] = "deep";
    root["a"]["c"].AddUnnamed() = 3;
    root = root["a"];  // copied before the old children go
    EXPECT_EQ(Keys(root), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(Text(root["b"]), "deep");

    root = std::move(root["c"]);
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 1u);
    EXPECT_EQ(static_cast<int>(*root.begin_unnamed()), 3);

    Settings& self = root;
    root = self;
    root = std::move(self);
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 1u);
}

TEST(SettingsStructure, RemoveBranchByNodeComparesAddresses) {
    Settings root;
    root["k"] = "same";
    Settings lookalike(1);
    lookalike = "same";
    root.RemoveBranch(lookalike);
    EXPECT_TRUE(root.Exists("k"));
    root.RemoveBranch(root["k"]);
    EXPECT_FALSE(root.Exists("k"));

    for (int i = 0; i < 3; ++i) root.AddUnnamed() = i;
    root.RemoveBranch(*root.begin_unnamed());
    EXPECT_EQ(UnnamedIds(root), (std::vector<std::uint64_t>{3, 4}));
    EXPECT_EQ(static_cast<int>(*root.begin_unnamed()), 1);
    Settings other;
    other.AddUnnamed();
    root.RemoveBranch(*other.begin_unnamed());  // not a child of root
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 2u);
    root["nested"]["deeper"];
    root.RemoveBranch(root["nested"]["deeper"]);  // grandchildren are not removed
    EXPECT_TRUE(root["nested"].Exists("deeper"));
}

TEST(SettingsStructure, KeysOrderAsUnsignedBytesAndExistsLooksOneLevelDeep) {
    Settings root;
    for (const char* key : {"b", "ab", "a", "\xC5\x81", "B", "a\x7F"}) root[key];
    EXPECT_EQ(Keys(root), (std::vector<std::string>{"B", "a", "ab", "a\x7F", "b", "\xC5\x81"}));
    root["a"]["inner"];
    root.AddUnnamed()["unnamedKey"];
    EXPECT_TRUE(root.Exists("a"));
    EXPECT_FALSE(root.Exists("inner"));
    EXPECT_FALSE(root.Exists("unnamedKey"));
    EXPECT_EQ(root.GetVariablesCount(), 6u);
    const std::string key = "ab";
    EXPECT_EQ(root[key].GetID(), 2u);
    EXPECT_EQ(root[std::string_view(key)].GetID(), 2u);
    EXPECT_EQ(root[static_cast<const char*>(nullptr)].GetID(), root[""].GetID());
    char buffer[8] = "ab";
    EXPECT_EQ(root[buffer].GetID(), 2u);
    const Settings& view = root;
    EXPECT_EQ(view[buffer].GetID(), 2u);
    EXPECT_EQ(&view[std::string("zz")], &view["zz"]);  // missing: the invalid node
}

TEST(SettingsInvalidNode, ConstLookupsOfMissingKeysShareOneNode) {
    Settings root;
    root["present"] = 12;
    const Settings& view = root;
    const Settings& missing = view["x"]["y"];
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(missing.GetID(), Settings::m_invalidId);
    EXPECT_EQ(&missing, &view["other"]);
    EXPECT_EQ(&missing["deeper"], &missing);
    EXPECT_EQ(static_cast<int>(missing), 0);
    EXPECT_FALSE(static_cast<bool>(missing));
    EXPECT_EQ(static_cast<std::wstring>(missing), L"");
    EXPECT_EQ(static_cast<CRect>(missing), CRect());
    EXPECT_THROW(static_cast<void>(static_cast<COleDateTime>(missing)), std::invalid_argument);
    EXPECT_EQ(static_cast<int>(view["present"]), 12);
    EXPECT_FALSE(root.Exists("x"));  // const lookups create nothing
}

TEST(SettingsValues, FreshAndNullNodesReadAsZero) {
    for (const char* text : {"", "{null}"}) {
        Settings node;
        node = text;
        EXPECT_EQ(static_cast<int>(node), 0);
        EXPECT_EQ(static_cast<unsigned>(node), 0u);
        EXPECT_EQ(static_cast<long long>(node), 0);
        EXPECT_EQ(static_cast<unsigned long long>(node), 0u);
        EXPECT_EQ(static_cast<double>(node), 0.0);
        EXPECT_EQ(static_cast<float>(node), 0.0f);
        EXPECT_FALSE(static_cast<bool>(node));
        EXPECT_EQ(static_cast<CRect>(node), CRect());
        EXPECT_EQ(Text(node), text);
        EXPECT_EQ(static_cast<std::wstring>(node), std::string_view(text).empty() ? L"" : L"{null}");
        EXPECT_THROW(static_cast<void>(static_cast<COleDateTime>(node)), std::invalid_argument);
        EXPECT_TRUE(node.IsValid());
    }
}

TEST(SettingsValues, NumbersAreStoredInTheirShortestDecimalForm) {
    const auto stored = [](auto value) {
        Settings node;
        node = value;
        return std::string(Text(node));
    };
    EXPECT_EQ(stored(-17), "-17");
    EXPECT_EQ(stored(std::numeric_limits<long long>::min()), "-9223372036854775808");
    EXPECT_EQ(stored(std::numeric_limits<unsigned long long>::max()), "18446744073709551615");
    EXPECT_EQ(stored(std::numeric_limits<unsigned>::max()), "4294967295");
    EXPECT_EQ(stored(static_cast<short>(-5)), "-5");
    EXPECT_EQ(stored(static_cast<unsigned char>(200)), "200");
    EXPECT_EQ(stored(static_cast<signed char>(-100)), "-100");
    EXPECT_EQ(stored(2.5), "2.5");
    EXPECT_EQ(stored(3.0), "3");
    EXPECT_EQ(stored(-0.5), "-0.5");
    EXPECT_EQ(stored(1e20), "100000000000000000000");
    EXPECT_EQ(stored(0.1), "0.1000000000000000055511151231257827021181583404541015625");
    EXPECT_EQ(stored(0.1f), "0.1");
    EXPECT_EQ(stored(123456789.0f), "123456792");
    EXPECT_EQ(stored(true), "1");
    EXPECT_EQ(stored(false), "0");
    // The printf text is kept while it reads back as the same number (1e-50
    // still does); where it would not, the shortest text that does.
    EXPECT_EQ(stored(1e-50), "0." + std::string(49, '0') + "1");
    EXPECT_EQ(stored(1.2345678901234566e-50), "1.2345678901234566e-50");
    EXPECT_EQ(stored(1e-70), "1e-70");
    EXPECT_EQ(stored(-1.234567e-65), "-1.234567e-65");
    EXPECT_EQ(stored(std::numeric_limits<double>::min()), "2.2250738585072014e-308");
    EXPECT_EQ(stored(1.0f / 3.0f), "0.33333334");
    EXPECT_EQ(stored(1e-7f), "1e-07");
    EXPECT_EQ(stored(std::numeric_limits<float>::min()), "1.1754944e-38");
    // Subnormal numbers read back as no text does (stod and stof refuse
    // them): they keep the printf text.
    EXPECT_EQ(stored(5e-324), "0");
    EXPECT_EQ(stored(1e-40f), "0");
}

TEST(SettingsValues, EveryNormalNumberReadsBackAsItself) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 5000; ++i) {
        const auto bits = random();
        const double d = std::bit_cast<double>(bits);
        const float f = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        Settings node;
        if (std::isnormal(d)) {
            node = d;
            EXPECT_EQ(static_cast<double>(node), d) << Text(node);
        }
        if (std::isnormal(f)) {
            node = f;
            EXPECT_EQ(static_cast<float>(node), f) << Text(node);
        }
    }
}

TEST(SettingsValues, TextIsStoredAsGivenOrAsUtf8) {
    Settings node;
    node = std::string("a\0b", 3);
    EXPECT_EQ(Text(node), std::string_view("a\0b", 3));
    node = std::string_view("view");
    EXPECT_EQ(Text(node), "view");
    node = "\xA3\xF3\x64\x9F";  // narrow text is not converted
    EXPECT_EQ(Text(node), "\xA3\xF3\x64\x9F");
    node = L"Łódź 😀";
    EXPECT_EQ(Text(node), "\xC5\x81\xC3\xB3\x64\xC5\xBA \xF0\x9F\x98\x80");
    EXPECT_EQ(static_cast<std::wstring>(node), L"\u0141\u00F3d\u017A \xD83D\xDE00");
    node = std::wstring(L"wide");
    EXPECT_EQ(static_cast<const std::string&>(node), "wide");
    EXPECT_STREQ(static_cast<const char*>(node), "wide");

    // Null pointers store the empty text.
    node = static_cast<const char*>(nullptr);
    EXPECT_EQ(Text(node), "");
    node = "x";
    node = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(Text(node), "");
}

TEST(SettingsValues, GeometryAndDatesRoundTrip) {
    Settings node;
    node = CRect(10, 20, 300, 400);
    EXPECT_EQ(Text(node), "10 20 300 400");
    EXPECT_EQ(static_cast<CRect>(node), CRect(10, 20, 300, 400));
    node = CRect(-1, INT32_MIN, INT32_MAX, 0);
    EXPECT_EQ(static_cast<CRect>(node), CRect(-1, INT32_MIN, INT32_MAX, 0));
    node = CPoint(-3, 4);
    EXPECT_EQ(Text(node), "-3 4");
    EXPECT_EQ(static_cast<CPoint>(node), CPoint(-3, 4));
    node = CSize(640, 480);
    EXPECT_EQ(Text(node), "640 480");
    EXPECT_EQ(static_cast<CSize>(node), CSize(640, 480));

    for (const char* text : {"10 20 300", "a b c d", "1,2,3,4", ""}) {
        node = text;
        EXPECT_EQ(static_cast<CRect>(node), CRect()) << text;
    }
    node = "  1\n2\t3 4 extra";
    EXPECT_EQ(static_cast<CRect>(node), CRect(1, 2, 3, 4));
    node = "7";
    EXPECT_EQ(static_cast<CPoint>(node), CPoint());
    EXPECT_EQ(static_cast<CSize>(node), CSize());

    COleDateTime date(2024, 3, 15, 14, 3, 7);
    date.SetStatus(COleDateTime::null);  // the status is not stored
    node = date;
    const COleDateTime back = node;
    EXPECT_EQ(back.m_dt, date.m_dt);
    EXPECT_EQ(back.GetStatus(), COleDateTime::valid);
    node = COleDateTime(-1.25);
    EXPECT_EQ(Text(node), "-1.25");
}

TEST(SettingsValues, ConversionsReadLikeTheStandardFunctions) {
    Settings node;
    const auto as = [&node](const char* text) -> Settings& { return node = text; };
    EXPECT_EQ(static_cast<int>(as("12abc")), 12);
    EXPECT_EQ(static_cast<int>(as("  -42")), -42);
    EXPECT_EQ(static_cast<int>(as("+7")), 7);
    EXPECT_THROW(static_cast<void>(static_cast<int>(as("abc"))), std::invalid_argument);
    EXPECT_THROW(static_cast<void>(static_cast<int>(as("- 5"))), std::invalid_argument);
    EXPECT_THROW(static_cast<void>(static_cast<int>(as("2147483648"))), std::out_of_range);
    EXPECT_EQ(static_cast<int>(as("-2147483648")), INT32_MIN);

    EXPECT_EQ(static_cast<unsigned>(as("4294967295")), 4294967295u);
    EXPECT_EQ(static_cast<unsigned>(as("-1")), 4294967295u);  // negated modulo 2^32
    EXPECT_EQ(static_cast<unsigned>(as("-4294967295")), 1u);
    EXPECT_THROW(static_cast<void>(static_cast<unsigned>(as("4294967296"))), std::out_of_range);
    EXPECT_THROW(static_cast<void>(static_cast<unsigned>(as("-99999999999999999999999"))), std::out_of_range);
    EXPECT_THROW(static_cast<void>(static_cast<unsigned>(as("x1"))), std::invalid_argument);

    EXPECT_EQ(static_cast<unsigned long>(as("4294967296")), 4294967296ul);  // 64-bit on this platform
    EXPECT_EQ(static_cast<unsigned long long>(as("18446744073709551615")), UINT64_MAX);
    EXPECT_THROW(static_cast<void>(static_cast<unsigned long long>(as("18446744073709551616"))), std::out_of_range);
    EXPECT_EQ(static_cast<long long>(as("-9223372036854775808")), INT64_MIN);
    EXPECT_THROW(static_cast<void>(static_cast<long>(as("9223372036854775808"))), std::out_of_range);

    EXPECT_EQ(static_cast<short>(as("-32768")), -32768);
    EXPECT_THROW(static_cast<void>(static_cast<short>(as("32768"))), std::out_of_range);
    EXPECT_EQ(static_cast<unsigned short>(as("65535")), 65535);
    EXPECT_THROW(static_cast<void>(static_cast<unsigned short>(as("-1"))), std::out_of_range);
    EXPECT_EQ(static_cast<signed char>(as("-128")), -128);
    EXPECT_THROW(static_cast<void>(static_cast<unsigned char>(as("256"))), std::out_of_range);

    EXPECT_EQ(static_cast<double>(as("2.5e3xyz")), 2500.0);
    EXPECT_THROW(static_cast<void>(static_cast<double>(as("1e999"))), std::out_of_range);
    EXPECT_THROW(static_cast<void>(static_cast<float>(as("1e39"))), std::out_of_range);
    EXPECT_THROW(static_cast<void>(static_cast<double>(as("."))), std::invalid_argument);

    EXPECT_TRUE(static_cast<bool>(as("17")));
    EXPECT_FALSE(static_cast<bool>(as("0")));
    EXPECT_THROW(static_cast<void>(static_cast<bool>(as("true"))), std::invalid_argument);
    EXPECT_EQ(Text(node), "true");  // a failed conversion changes nothing

    const COleDateTime date = as("45366.5");
    EXPECT_EQ(date.Format(), L"2024-03-15 12:00:00");
    EXPECT_THROW(static_cast<void>(static_cast<COleDateTime>(as("soon"))), std::invalid_argument);
}

TEST(SettingsValues, AssignmentsChangeOnlyTheValue) {
    Settings node(3);
    node.Version(9);
    node["child"] = 1;
    node.AddUnnamed();
    node = 2.5;
    node = L"text";
    EXPECT_EQ(node.GetID(), 3u);
    EXPECT_EQ(node.Version(), 9);
    EXPECT_EQ(node.GetVariablesCount(), 1u);
    EXPECT_EQ(node.GetUnnamedVariablesCount(), 1u);
    EXPECT_EQ(node.AddUnnamed().GetID(), 3u);
    EXPECT_EQ(Settings::DefaultSettingsVersion(), 0);
}

}  // namespace

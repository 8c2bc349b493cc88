// The Settings tree: identifiers, structure, the shared invalid node, typed
// values.
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
#include "tests/settings/SettingsTestSupport.h"

namespace {

using settingstest::SameTree;

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
template <typename... T>
constexpr bool kAllRoundTrip = (RoundTrips<T> && ...);
static_assert(
    kAllRoundTrip<signed char, unsigned char, short, unsigned short, int, unsigned, long, unsigned long, long long,
                  unsigned long long, std::int32_t, std::uint32_t, std::int64_t, std::uint64_t, double, float, bool>);
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
    EXPECT_TRUE(SameTree(copy, root, true));
    Settings grown(copy);
    EXPECT_EQ(grown["new"].GetID(), 3u);  // the counter was copied too
    Settings moved(std::move(root));
    EXPECT_EQ(moved.GetID(), 7u);
    EXPECT_EQ(root.GetVariablesCount() + root.GetUnnamedVariablesCount(), 0u);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(Text(root), "");
    EXPECT_EQ(moved["next"].GetID(), 3u);
    Settings target(99);
    target["old"] = 5;
    target = copy;
    EXPECT_TRUE(SameTree(target, copy, true));
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

TEST(SettingsStructure, RemoveBranchByNodeRemovesOnlyThatChild) {
    Settings root;
    root["k"] = "same";
    Settings lookalike(1);
    lookalike = "same";
    root.RemoveBranch(lookalike);  // equal, but not the child
    EXPECT_TRUE(root.Exists("k"));
    root.RemoveBranch(root["k"]);
    EXPECT_FALSE(root.Exists("k"));
    for (int i = 0; i < 3; ++i) root.AddUnnamed() = i;
    root.RemoveBranch(*root.begin_unnamed());
    EXPECT_EQ(UnnamedIds(root), (std::vector<std::uint64_t>{3, 4}));
    Settings other;
    root.RemoveBranch(other.AddUnnamed());  // not a child of root
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
    char buffer[8] = "ab";
    EXPECT_EQ(root[buffer].GetID(), root[std::string_view("ab")].GetID());
    EXPECT_EQ(root[static_cast<const char*>(nullptr)].GetID(), root[""].GetID());
}

TEST(SettingsInvalidNode, ConstLookupsOfMissingKeysShareOneNodeAndCreateNothing) {
    Settings root;
    root["present"] = 12;
    const Settings& view = root;
    const Settings& missing = view["x"]["y"];
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(missing.GetID(), Settings::m_invalidId);
    EXPECT_EQ(&missing, &view[std::string("other")]);
    EXPECT_EQ(&missing["deeper"], &missing);
    EXPECT_EQ(static_cast<int>(missing), 0);
    EXPECT_EQ(static_cast<CRect>(missing), CRect());
    EXPECT_THROW(static_cast<void>(static_cast<COleDateTime>(missing)), std::invalid_argument);
    EXPECT_EQ(static_cast<int>(view["present"]), 12);
    EXPECT_FALSE(root.Exists("x"));
}

TEST(SettingsValues, FreshAndNullNodesReadAsZero) {
    for (const char* text : {"", "{null}"}) {
        Settings node;
        node = text;
        EXPECT_EQ(static_cast<int>(node), 0);
        EXPECT_EQ(static_cast<unsigned long long>(node), 0u);
        EXPECT_EQ(static_cast<double>(node), 0.0);
        EXPECT_FALSE(static_cast<bool>(node));
        EXPECT_EQ(static_cast<CRect>(node), CRect());
        EXPECT_EQ(Text(node), text);
        EXPECT_THROW(static_cast<void>(static_cast<COleDateTime>(node)), std::invalid_argument);
    }
}

template <class T>
std::string Stored(T value) {
    Settings node;
    node = value;
    return std::string(Text(node));
}

TEST(SettingsValues, NumbersAreStoredInTheirShortestDecimalForm) {
    EXPECT_EQ(Stored(std::numeric_limits<long long>::min()), "-9223372036854775808");
    EXPECT_EQ(Stored(std::numeric_limits<unsigned long long>::max()), "18446744073709551615");
    EXPECT_EQ(Stored(static_cast<unsigned char>(200)), "200");
    EXPECT_EQ(Stored(static_cast<signed char>(-100)), "-100");
    EXPECT_EQ(Stored(3.0), "3");
    EXPECT_EQ(Stored(-0.5), "-0.5");
    EXPECT_EQ(Stored(1e20), "100000000000000000000");
    EXPECT_EQ(Stored(0.1), "0.1000000000000000055511151231257827021181583404541015625");
    EXPECT_EQ(Stored(0.1f), "0.1");
    EXPECT_EQ(Stored(123456789.0f), "123456792");
    EXPECT_EQ(Stored(true) + Stored(false), "10");
    // The printf text is kept while it reads back as the same number (1e-50
    // still does); where it would not, the shortest text that does.
    EXPECT_EQ(Stored(1e-50), "0." + std::string(49, '0') + "1");
    EXPECT_EQ(Stored(1.2345678901234566e-50), "1.2345678901234566e-50");
    EXPECT_EQ(Stored(1e-70), "1e-70");
    EXPECT_EQ(Stored(std::numeric_limits<double>::min()), "2.2250738585072014e-308");
    EXPECT_EQ(Stored(1.0f / 3.0f), "0.33333334");
    EXPECT_EQ(Stored(1e-7f), "1e-07");
    EXPECT_EQ(Stored(std::numeric_limits<float>::min()), "1.1754944e-38");
    // Subnormal numbers read back as no text does (stod and stof refuse
    // them): they keep the printf text.
    EXPECT_EQ(Stored(5e-324), "0");
    EXPECT_EQ(Stored(1e-40f), "0");
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
    node = "\xA3\xF3\x64\x9F";  // narrow text is not converted
    EXPECT_EQ(Text(node), "\xA3\xF3\x64\x9F");
    node = L"Łódź 😀";
    EXPECT_EQ(Text(node), "\xC5\x81\xC3\xB3\x64\xC5\xBA \xF0\x9F\x98\x80");
    EXPECT_EQ(static_cast<std::wstring>(node), L"\u0141\u00F3d\u017A \xD83D\xDE00");
    node = static_cast<const char*>(nullptr);
    EXPECT_EQ(Text(node), "");
    node = "x";
    node = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(Text(node), "");
}

TEST(SettingsValues, GeometryAndDatesRoundTrip) {
    Settings node;
    node = CRect(-1, INT32_MIN, INT32_MAX, 0);
    EXPECT_EQ(static_cast<CRect>(node), CRect(-1, INT32_MIN, INT32_MAX, 0));
    node = CPoint(-3, 4);
    EXPECT_EQ(Text(node), "-3 4");
    EXPECT_EQ(static_cast<CPoint>(node), CPoint(-3, 4));
    for (const char* text : {"10 20 300", "a b c d", "1,2,3,4", ""}) {
        node = text;
        EXPECT_EQ(static_cast<CRect>(node), CRect()) << text;
    }
    node = "  1\n2\t3 4 extra";
    EXPECT_EQ(static_cast<CRect>(node), CRect(1, 2, 3, 4));
    node = "7";
    EXPECT_EQ(static_cast<CPoint>(node), CPoint());
    COleDateTime date(2024, 3, 15, 14, 3, 7);
    date.SetStatus(COleDateTime::null);  // the status is not stored
    node = date;
    const COleDateTime back = node;
    EXPECT_EQ(back.m_dt, date.m_dt);
    EXPECT_EQ(back.GetStatus(), COleDateTime::valid);
    node = COleDateTime(-1.25);
    EXPECT_EQ(Text(node), "-1.25");
}

// What `text` reads as in type T, or the exception's name; a failed
// conversion leaves the text as it was.
template <class T>
std::string As(const char* text) {
    Settings node;
    node = text;
    std::string result;
    try {
        result = ::testing::PrintToString(static_cast<T>(node));
    } catch (const std::out_of_range&) {
        result = "out_of_range";
    } catch (const std::invalid_argument&) {
        result = "invalid_argument";
    }
    EXPECT_EQ(Text(node), text);
    return result;
}

TEST(SettingsValues, ConversionsReadLikeTheStandardFunctions) {
    EXPECT_EQ(As<int>("12abc") + " " + As<int>("  -42") + " " + As<int>("+7"), "12 -42 7");
    EXPECT_EQ(As<int>("abc") + " " + As<int>("- 5"), "invalid_argument invalid_argument");
    EXPECT_EQ(As<int>("2147483648") + " " + As<int>("-2147483648"), "out_of_range -2147483648");
    EXPECT_EQ(As<unsigned>("-1") + " " + As<unsigned>("-4294967295"), "4294967295 1");  // negated modulo 2^32
    EXPECT_EQ(As<unsigned>("4294967296") + " " + As<unsigned>("-99999999999999999999999"), "out_of_range out_of_range");
    EXPECT_EQ(As<unsigned long>("4294967296"), "4294967296");  // 64-bit on this platform
    EXPECT_EQ(As<unsigned long long>("18446744073709551615"), "18446744073709551615");
    EXPECT_EQ(As<unsigned long long>("18446744073709551616"), "out_of_range");
    EXPECT_EQ(As<long>("9223372036854775808") + " " + As<long long>("-9223372036854775808"),
              "out_of_range -9223372036854775808");
    EXPECT_EQ(As<short>("-32768") + " " + As<short>("32768"), "-32768 out_of_range");
    EXPECT_EQ(As<unsigned short>("65535") + " " + As<unsigned short>("-1"), "65535 out_of_range");
    EXPECT_EQ(As<unsigned char>("256"), "out_of_range");
    EXPECT_EQ(As<double>("2.5e3xyz") + " " + As<double>("1e999") + " " + As<double>("."),
              "2500 out_of_range invalid_argument");
    EXPECT_EQ(As<float>("1e39"), "out_of_range");
    EXPECT_EQ(As<bool>("17") + " " + As<bool>("0") + " " + As<bool>("true"), "true false invalid_argument");
    EXPECT_EQ(As<COleDateTime>("soon"), "invalid_argument");
    Settings node;
    node = "45366.5";
    EXPECT_EQ(static_cast<COleDateTime>(node).Format(), L"2024-03-15 12:00:00");
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
    EXPECT_EQ(node.GetVariablesCount() + node.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(node.AddUnnamed().GetID(), 3u);
}

}  // namespace

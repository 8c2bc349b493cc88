// Helpers of the settings tests: the reference tree, the one log entry of a
// failure, random trees, a deep comparison and a key/value outline of a tree.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "settings/Settings.h"
#include "tests/support/LogCapture.h"

namespace settingstest {

// The reference tree: Version 3, Window/Rect, Name, Window/Visible and two
// unnamed children (5 and 2.5), and its text under the top element `root`.
inline Settings ReferenceTree() {
    Settings root;
    root.Version(3);
    root["Window"]["Rect"] = CRect(10, 20, 300, 400);
    root["Name"] = "Alpha";
    root["Window"]["Visible"] = true;
    root.AddUnnamed() = 5;
    root.AddUnnamed() = 2.5;
    return root;
}

inline std::string ReferenceText(const std::string& root = "data") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root +
           " Version=\"3\" ElementCount=\"2\">\n"
           "    <Name Value=\"Alpha\"/>\n"
           "    <Window>\n"
           "        <Rect Value=\"10 20 300 400\"/>\n"
           "        <Visible Value=\"1\"/>\n"
           "    </Window>\n"
           "    <Variable Value=\"5\"/>\n"
           "    <Variable Value=\"2.5\"/>\n"
           "</" +
           root + ">\n";
}

// Expects that `call` wrote exactly one log entry, from `function`, with
// `message`.
inline void ExpectOneEntry(const std::function<void()>& call, const std::string& function, const std::string& message) {
    const auto entries = vlibtest::EntriesOf(call);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].function, function);
    EXPECT_EQ(entries[0].message, message);
    EXPECT_GT(std::stoi(entries[0].line), 0);
}

// Everything of two trees equal, identifiers and counters' effects aside:
// keys, values, versions and the order of unnamed children; with `ids` the
// identifiers too.
inline bool SameTree(const Settings& a, const Settings& b, bool ids, std::string* where = nullptr,
                     const std::string& path = "/") {
    const auto fail = [&](const std::string& what) {
        if (where) *where = path + ": " + what;
        return false;
    };
    if (std::string_view(a) != std::string_view(b)) return fail("value");
    if (a.Version() != b.Version()) return fail("version");
    if (ids && a.GetID() != b.GetID()) return fail("id");
    if (a.GetVariablesCount() != b.GetVariablesCount()) return fail("named count");
    if (a.GetUnnamedVariablesCount() != b.GetUnnamedVariablesCount()) return fail("unnamed count");
    for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
        if (x->first != y->first) return fail("key " + x->first);
        if (!SameTree(x->second, y->second, ids, where, path + x->first + "/")) return false;
    }
    std::size_t i = 0;
    for (auto x = a.begin_unnamed(), y = b.begin_unnamed(); x != a.end_unnamed(); ++x, ++y, ++i) {
        if (!SameTree(*x, *y, ids, where, path + "#" + std::to_string(i) + "/")) return false;
    }
    return true;
}

// One line per node below `node`: its path (keys, "#n" for unnamed
// children), its value and version.  The same outline is printed by the
// python peer from the XML file.
inline void Outline(const Settings& node, const std::string& path, std::string& out) {
    for (const auto& [key, child] : node) {
        const std::string childPath = path + "/" + key;
        out += childPath + "\t" + std::string(std::string_view(child)) + "\t" + std::to_string(child.Version()) + "\n";
        Outline(child, childPath, out);
    }
    std::size_t i = 0;
    for (auto it = node.begin_unnamed(); it != node.end_unnamed(); ++it, ++i) {
        const std::string childPath = path + "/#" + std::to_string(i);
        out += childPath + "\t" + std::string(std::string_view(*it)) + "\t" + std::to_string(it->Version()) + "\n";
        Outline(*it, childPath, out);
    }
}

// A random tree of about `nodes` nodes: named and unnamed children up to five
// levels deep, values of every kind (XML special characters and Polish
// letters included), some versions.
inline void FillRandom(Settings& node, std::mt19937& random, std::size_t& nodes, int depth = 0) {
    static const std::vector<std::string> texts = {"",
                                                   "{null}",
                                                   "0",
                                                   "-17",
                                                   "2.5",
                                                   "10 20 300 400",
                                                   "Zażółć gęślą jaźń",
                                                   "<a href=\"x\">&amp;</a>",
                                                   "'quoted' \"double\"",
                                                   "x&y;z",
                                                   "ąę €",
                                                   "100000000000000000000",
                                                   "  spaced  "};
    static const std::vector<std::string> keys = {"Window", "Rect", "Name", "Visible", "List",   "Item",
                                                  "_x",     "a.b",  "k-1",  "Łódź",    "Column", "Z9"};
    if (random() % 5 == 0) node.Version(static_cast<int>(random() % 2000) - 1000);
    const std::size_t children = depth == 0 ? SIZE_MAX : random() % 9;
    for (std::size_t i = 0; i < children && nodes > 0; ++i) {
        --nodes;
        Settings& child = random() % 3 == 0 ? node.AddUnnamed() : node[keys[random() % keys.size()]];
        child = texts[random() % texts.size()];
        if (depth < 5 && random() % 3 == 0) FillRandom(child, random, nodes, depth + 1);
    }
}

inline Settings RandomTree(std::uint32_t seed, std::size_t nodes) {
    std::mt19937 random(seed);
    Settings root;
    FillRandom(root, random, nodes);
    return root;
}

}  // namespace settingstest

// Helpers of the settings tests: reading the process log back, random trees,
// a deep comparison and a key/value outline of a tree.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "diagnostics/Log.h"
#include "settings/Settings.h"
#include "tests/support/TempDir.h"

namespace settingstest {

struct LogEntry {
    std::string function;
    int line = 0;
    std::string message;
};

// Opens the process log on a file of its own temporary folder; Close() closes
// the log and returns the entries written meanwhile.  The log writes on its
// own thread and drops what is still queued when it closes, so Close() first
// writes a marker entry and waits until it reaches the file: every entry
// written before it is then in the file too.  The marker and the closing entry
// are left out of the result.
class LogScope {
public:
    LogScope() : m_file(m_dir.Path() / "log.txt") {
        m_open = VTools::Log::Instance().Open(m_file.wstring());
        EXPECT_TRUE(m_open) << "the log did not open";
    }
    ~LogScope() {
        if (m_open) VTools::Log::Instance().Close();
    }
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;

    std::vector<LogEntry> Close() {
        if (m_open) {
            VTools::Log::Instance().Write(kMarker, 1, kMarker);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (Parse().empty() || Parse().back().function != kMarker) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ADD_FAILURE() << "the log did not write the marker entry";
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            VTools::Log::Instance().Close();
            m_open = false;
        }
        std::vector<LogEntry> entries;
        for (auto& entry : Parse()) {
            if (entry.function != kMarker && entry.function != "VTools::Log::Close") entries.push_back(entry);
        }
        return entries;
    }

private:
    static constexpr const char* kMarker = "settingstest::LogScope";

    std::vector<LogEntry> Parse() const {
        std::vector<LogEntry> entries;
        std::string bytes;
        try {
            bytes = vlibtest::TempDir::Read(m_file);
        } catch (const std::exception&) {
            return entries;
        }
        const std::string_view end = "\r\n-\r\n";
        std::size_t start = 0;
        for (std::size_t stop; (stop = bytes.find(end, start)) != std::string::npos; start = stop + end.size()) {
            const std::string entry = bytes.substr(start, stop - start);
            const std::size_t header = entry.find("\r\n");
            const std::size_t tabs = entry.find("\t\t");
            const std::size_t open = entry.rfind(" ( ", header);
            if (header == std::string::npos || tabs == std::string::npos || open == std::string::npos) {
                ADD_FAILURE() << "malformed log entry: " << entry;
                continue;
            }
            LogEntry parsed;
            parsed.function = entry.substr(tabs + 2, open - tabs - 2);
            parsed.line = std::stoi(entry.substr(open + 3));
            parsed.message = entry.substr(header + 2);
            entries.push_back(parsed);
        }
        return entries;
    }

    vlibtest::TempDir m_dir;
    std::filesystem::path m_file;
    bool m_open = false;
};

// Expects exactly one entry, from `function`, with `message`.
// The tree of the worked example: Version 3, Window/Rect, Name, Window/Visible
// and two unnamed children (5 and 2.5).
inline Settings WorkedExample() {
    Settings root;
    root.Version(3);
    root["Window"]["Rect"] = CRect(10, 20, 300, 400);
    root["Name"] = "Alpha";
    root["Window"]["Visible"] = true;
    root.AddUnnamed() = 5;
    root.AddUnnamed() = 2.5;
    return root;
}

inline void ExpectOneEntry(const std::vector<LogEntry>& entries, const std::string& function,
                           const std::string& message) {
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].function, function);
    EXPECT_EQ(entries[0].message, message);
    EXPECT_GT(entries[0].line, 0);
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

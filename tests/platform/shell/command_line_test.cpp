// Command lines split by the CommandLineToArgvW rules: the rules' own cases,
// and lines that python3's subprocess.list2cmdline quotes split back into
// the same arguments.
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernel/Memory.h"
#include "platform/kernel/Module.h"
#include "platform/shell/ShellApi.h"
#include "tests/support/LastError.h"
#include "tests/support/Peer.h"
#include "text/StringConversion.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* line) {
    int count = -1;
    LPWSTR* args = CommandLineToArgvW(line, &count);
    EXPECT_NE(args, nullptr);
    if (args == nullptr) return {};
    std::vector<std::wstring> result(args, args + count);
    EXPECT_EQ(args[count], nullptr);
    EXPECT_EQ(LocalFree(args), nullptr);
    return result;
}

TEST(CommandLine, QuotesAndBackslashesFollowTheWindowsRules) {
    const std::pair<const wchar_t*, std::vector<std::wstring>> cases[] = {
        {LR"("abc" d e)", {L"abc", L"d", L"e"}},
        {LR"(p a\\\b d"e f"g h)", {L"p", LR"(a\\\b)", L"de fg", L"h"}},
        {LR"(p a\\\"b c d)", {L"p", LR"(a\"b)", L"c", L"d"}},
        {LR"(p a\\\\"b c" d e)", {L"p", LR"(a\\b c)", L"d", L"e"}},
        {LR"(p "" x)", {L"p", L"", L"x"}},
        {LR"(p "a""b")", {L"p", LR"(a"b)"}},
        {LR"(p a"b"" c d)", {L"p", LR"(ab")", L"c", L"d"}},
        {L"p \t a\tb  ", {L"p", L"a", L"b"}},
        {LR"(p "unterminated  x)", {L"p", L"unterminated  x"}},
        // The program: no escapes, a quote runs to the next quote.
        {LR"(C:\dir\"prog" x)", {LR"(C:\dir\"prog")", L"x"}},
        {LR"("C:\Program Files\a.exe"x y)", {LR"(C:\Program Files\a.exe)", L"x", L"y"}},
        {LR"(  leading)", {L"", L"leading"}},
        {L"   ", {L""}},
        {L"Zażółć \"gęślą jaźń\"", {L"Zażółć", L"gęślą jaźń"}},
    };
    for (const auto& [line, args] : cases) EXPECT_EQ(Split(line), args) << line;
}

TEST(CommandLine, AnEmptyLineGivesTheExecutableAndANullCountFails) {
    wchar_t path[4096];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, 4096), 0u);
    EXPECT_EQ(Split(L""), std::vector<std::wstring>{path});
    EXPECT_EQ(Split(nullptr), std::vector<std::wstring>{path});
    EXPECT_TRUE(vlibtest::FailsWith(ERROR_INVALID_PARAMETER, [] { return CommandLineToArgvW(L"a b", nullptr); }));
}

TEST(CommandLine, ListsQuotedByPythonSplitBackToThemselves) {
    const std::vector<std::vector<std::string>> lists = {
        {"plain", "two words", "tab\there", ""},
        {"quote\"inside", "\\\"", "back\\slash", "trailing\\", "trailing space\\", "\\\\server\\share"},
        {"a\\\\\"b", "\"", "\"\"", "\\\\", "x \"y\" z"},
        {"Zażółć gęślą jaźń", "€", "😀 emoji"},
        {"   ", "\t", "end\\\\"},
    };
    boost::json::array input;
    for (const auto& list : lists) {
        boost::json::array items;
        for (const auto& item : list) items.emplace_back(item);
        input.emplace_back(items);
    }
    const auto output =
        vlibtest::RunPeer({"/usr/bin/python3", "-c",
                           "import json, subprocess, sys\n"
                           "for args in json.load(sys.stdin): print(json.dumps(subprocess.list2cmdline(args)))\n"},
                          boost::json::serialize(input));
    ASSERT_TRUE(output);
    std::size_t start = 0;
    for (const auto& list : lists) {
        const auto end = output->find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string quoted(boost::json::parse(output->substr(start, end - start)).as_string().c_str());
        start = end + 1;
        const std::wstring line = L"program " + VTools::String::Utf8ToWide(quoted);
        std::vector<std::wstring> expected = {L"program"};
        for (const auto& item : list) expected.push_back(VTools::String::Utf8ToWide(item));
        EXPECT_EQ(Split(line.c_str()), expected) << quoted;
    }
}

}  // namespace

// Tests of the string form: the worked example byte for byte both ways, the
// reading rules (merging, "Variable", ElementCount, versions), identifiers
// handed out by reading, refusals with their log entries, and the streamed
// printer against a document built with FillXml.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>
#include <string_view>

#include "settings/Settings.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/AcpScope.h"

namespace {

using settingstest::LogScope;
using settingstest::SameTree;

constexpr std::string_view kWorkedExample =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<data Version=\"3\" ElementCount=\"2\">\n"
    "    <Name Value=\"Alpha\"/>\n"
    "    <Window>\n"
    "        <Rect Value=\"10 20 300 400\"/>\n"
    "        <Visible Value=\"1\"/>\n"
    "    </Window>\n"
    "    <Variable Value=\"5\"/>\n"
    "    <Variable Value=\"2.5\"/>\n"
    "</data>\n";

using settingstest::WorkedExample;

std::string_view Text(const Settings& node) {
    return node;
}

TEST(SettingsText, WorkedExampleIsPrintedByteForByte) {
    const Settings root = WorkedExample();
    EXPECT_EQ(root["Window"].GetID(), 1u);
    EXPECT_EQ(root["Window"]["Rect"].GetID(), 1u);
    EXPECT_EQ(root["Name"].GetID(), 2u);
    EXPECT_EQ(root["Window"]["Visible"].GetID(), 2u);
    EXPECT_EQ(root.begin_unnamed()->GetID(), 3u);
    EXPECT_EQ(std::next(root.begin_unnamed())->GetID(), 4u);
    EXPECT_EQ(root.ConvertToString(), kWorkedExample);
    EXPECT_EQ(Settings().ConvertToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<data/>\n");
}

TEST(SettingsText, WorkedExampleReadsBackWithIdentifiersInDocumentOrder) {
    Settings root;
    ASSERT_TRUE(root.ConvertFromString(kWorkedExample));
    EXPECT_EQ(root.Version(), 3);
    EXPECT_EQ(root["Name"].GetID(), 1u);
    EXPECT_EQ(root["Window"].GetID(), 2u);
    EXPECT_EQ(root["Window"]["Rect"].GetID(), 1u);
    EXPECT_EQ(root["Window"]["Visible"].GetID(), 2u);
    EXPECT_EQ(root.begin_unnamed()->GetID(), 3u);
    EXPECT_EQ(static_cast<double>(*std::next(root.begin_unnamed())), 2.5);
    EXPECT_EQ(static_cast<CRect>(root["Window"]["Rect"]), CRect(10, 20, 300, 400));
    EXPECT_TRUE(static_cast<bool>(root["Window"]["Visible"]));
    EXPECT_TRUE(SameTree(root, WorkedExample(), false));
    EXPECT_EQ(root.ConvertToString(), kWorkedExample);
}

TEST(SettingsText, ReadingReplacesContentAndNumbersOnFromTheCounter) {
    Settings root(5);
    root = "old value";
    for (int i = 0; i < 7; ++i) root.AddUnnamed();
    root["gone"] = 1;  // the eighth identifier
    root.RemoveBranch("gone");
    ASSERT_TRUE(root.ConvertFromString(kWorkedExample));
    EXPECT_EQ(Text(root), "");
    EXPECT_EQ(root.GetID(), 5u);
    EXPECT_FALSE(root.Exists("gone"));
    EXPECT_EQ(root["Name"].GetID(), 9u);
    EXPECT_EQ(root["Window"].GetID(), 10u);
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(root.begin_unnamed()->GetID(), 11u);
    EXPECT_EQ(root.AddUnnamed().GetID(), 13u);
}

TEST(SettingsText, NullValuesAndTheTopValueAreNotWritten) {
    Settings root;
    root = "top value";
    root["n"] = "{null}";
    root["e"] = "";
    root["v"] = "";
    root["v"].Version(-4);
    const std::string text = root.ConvertToString();
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<data>\n    <e/>\n    <n/>\n"
              "    <v Version=\"-4\"/>\n</data>\n");
    Settings back;
    ASSERT_TRUE(back.ConvertFromString(text));
    EXPECT_EQ(Text(back["n"]), "");
    EXPECT_EQ(back["v"].Version(), -4);
    Settings topValue;
    ASSERT_TRUE(topValue.ConvertFromString("<data Value=\"ignored\"><a Value=\"\"/></data>"));
    EXPECT_EQ(Text(topValue), "");
    EXPECT_TRUE(topValue.Exists("a"));
}

TEST(SettingsText, VariableElementsAreAlwaysUnnamedChildren) {
    Settings root;
    root.AddUnnamed() = "first";
    root["Variable"] = "named";
    root["variable"] = "lower case stays named";
    const std::string text = root.ConvertToString();
    Settings back;
    ASSERT_TRUE(back.ConvertFromString(text));
    EXPECT_FALSE(back.Exists("Variable"));
    EXPECT_TRUE(back.Exists("variable"));
    ASSERT_EQ(back.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(Text(*back.begin_unnamed()), "named");  // written among the named children, so first
    EXPECT_EQ(Text(*std::next(back.begin_unnamed())), "first");
}

TEST(SettingsText, SiblingsWithOneNameMergeIntoOneChild) {
    Settings root;
    ASSERT_TRUE(
        root.ConvertFromString("<data><a Value=\"1\" Version=\"2\"><x Value=\"x\"/></a><b/>"
                               "<a Value=\"2\"><y Value=\"y\"/><x Value=\"x2\"/></a></data>"));
    EXPECT_EQ(root.GetVariablesCount(), 2u);
    EXPECT_EQ(Text(root["a"]), "2");
    EXPECT_EQ(root["a"].Version(), 0);  // the later element has none
    EXPECT_EQ(Text(root["a"]["x"]), "x2");
    EXPECT_EQ(root["a"]["x"].GetID(), 1u);
    EXPECT_EQ(root["a"]["y"].GetID(), 2u);
    EXPECT_EQ(root["a"].GetID(), 1u);
    EXPECT_EQ(root["b"].GetID(), 2u);
}

TEST(SettingsText, AttributesReadLeniently) {
    Settings root;
    ASSERT_TRUE(
        root.ConvertFromString("<?xml version=\"1.0\"?><!-- comment --><data Version=\"seven\" ElementCount=\"5\">text"
                               "<Variable Value=\"a\"/><!-- c --><Variable/>"
                               "<list ElementCount=\"1\"><Variable/><Variable/><Variable/></list>"
                               "<huge ElementCount=\"9223372036854775807\"><Variable/></huge>"
                               "<negative ElementCount=\"-3\" Version=\"12abc\"><Variable/></negative></data>"));
    EXPECT_EQ(root.Version(), 0);
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(root["list"].GetUnnamedVariablesCount(), 3u);
    EXPECT_EQ(root["huge"].GetUnnamedVariablesCount(), 1u);
    EXPECT_EQ(root["negative"].GetUnnamedVariablesCount(), 1u);
    EXPECT_EQ(root["negative"].Version(), 12);
    // Entities and character references are decoded.
    ASSERT_TRUE(root.ConvertFromString("<data><k Value=\"&lt;&amp;&#x141;&#243;&quot;\"/></data>"));
    EXPECT_EQ(Text(root["k"]), "<&\xC5\x81\xC3\xB3\"");
}

TEST(SettingsText, ValuesRoundTripExactly) {
    Settings root;
    const std::string special =
        "<tag attr=\"v\">&amp; 'q' \xC5\x81\xC3\xB3"
        "d\xC5\xBA \xF0\x9F\x98\x80  ";
    root["k"] = special;
    root["k"]["inner"].AddUnnamed() = std::string(10000, 'x');
    // Tabs and line breaks are written as character references: raw, XML
    // readers would turn them into blanks (tinyxml2 a CR into a LF).
    root["lines"] = "a\tb\r\nc\rd\ne";
    const std::string text = root.ConvertToString();
    EXPECT_NE(text.find("<lines Value=\"a&#9;b&#13;&#10;c&#13;d&#10;e\"/>"), std::string::npos);
    Settings back;
    ASSERT_TRUE(back.ConvertFromString(text));
    EXPECT_EQ(Text(back["k"]), special);
    EXPECT_EQ(Text(back["lines"]), "a\tb\r\nc\rd\ne");
    EXPECT_TRUE(SameTree(root, back, false));

    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const Settings tree = settingstest::RandomTree(seed, 300);
        Settings read;
        ASSERT_TRUE(read.ConvertFromString(tree.ConvertToString()));
        // A "{null}" value comes back empty: compare after writing it again.
        std::string where;
        EXPECT_EQ(read.ConvertToString(), tree.ConvertToString()) << seed;
        Settings again;
        ASSERT_TRUE(again.ConvertFromString(read.ConvertToString()));
        EXPECT_TRUE(SameTree(read, again, true, &where)) << seed << " " << where;
    }
}

TEST(SettingsText, StreamedTextEqualsTheDocumentBuiltWithFillXml) {
    for (std::uint32_t seed = 100; seed < 120; ++seed) {
        const Settings tree = settingstest::RandomTree(seed, 500);
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        document.InsertFirstChild(document.NewDeclaration());
        tinyxml2::XMLElement* data = document.NewElement("data");
        document.InsertEndChild(data);
        tree.FillXml(document, data);
        tinyxml2::XMLPrinter printer;
        document.Print(&printer);
        ASSERT_EQ(tree.ConvertToString(), std::string(printer.CStr())) << seed;

        // ParseXml of the built document reads the same tree.
        Settings parsed;
        parsed.ParseXml(data);
        EXPECT_TRUE(SameTree(parsed, tree, false) || tree.ConvertToString() == parsed.ConvertToString()) << seed;
    }
    Settings untouched;
    untouched.ParseXml(nullptr);
    tinyxml2::XMLDocument document;
    untouched.ParseXml(document.NewComment("not an element"));
    EXPECT_EQ(untouched.GetVariablesCount() + untouched.GetUnnamedVariablesCount(), 0u);
}

TEST(SettingsText, ParseXmlAddsToWhatTheNodeHolds) {
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse("<data Version=\"4\"><a Value=\"new\"/><Variable/></data>"), tinyxml2::XML_SUCCESS);
    Settings root;
    root["a"] = "old";
    root["keep"] = 1;
    root.AddUnnamed();
    root.ParseXml(document.RootElement());
    EXPECT_EQ(Text(root["a"]), "new");
    EXPECT_EQ(root["a"].GetID(), 1u);
    EXPECT_TRUE(root.Exists("keep"));
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(std::next(root.begin_unnamed())->GetID(), 4u);
    EXPECT_EQ(root.Version(), 4);
}

TEST(SettingsText, RefusedTextLeavesTheTreeAndLogsOnce) {
    vlibtest::AcpScope acp(CP_UTF8);
    const Settings before = WorkedExample();
    for (const std::string text :
         {"not xml at all", "<data><unclosed></data>", "", "<data a='1' a='2'/>", "<data/>junk<"}) {
        LogScope log;
        Settings tree = before;
        EXPECT_FALSE(tree.ConvertFromString(text)) << text;
        EXPECT_TRUE(SameTree(tree, before, true)) << text;
        settingstest::ExpectOneEntry(log.Close(), "Settings::ConvertFromString",
                                     "Nie udało się sparsować ustawień dla: " + text);
    }
    for (const std::string text :
         {"<settings/>", "<?xml version=\"1.0\"?><!-- only a comment --><Data/>", "<other/><inner><data/></inner>"}) {
        LogScope log;
        Settings tree = before;
        EXPECT_FALSE(tree.ConvertFromString(text)) << text;
        EXPECT_TRUE(SameTree(tree, before, true)) << text;
        settingstest::ExpectOneEntry(log.Close(), "Settings::ConvertFromString", "Błędny tag ustawień");
    }
}

TEST(SettingsText, LogMessagesAreInTheAnsiCodePage) {
    vlibtest::AcpScope acp(1250);
    LogScope log;
    Settings tree;
    EXPECT_FALSE(tree.ConvertFromString("<other/>"));
    settingstest::ExpectOneEntry(log.Close(), "Settings::ConvertFromString",
                                 "B\xB3\xEA"
                                 "dny tag ustawie\xF1");
}

}  // namespace

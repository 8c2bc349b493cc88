// The settings' XML text: printing, the reading rules and refusals, and the
// streamed printer against tinyxml2's.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <string>
#include <string_view>

#include "settings/Settings.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/AcpScope.h"

namespace {

using settingstest::ReferenceText;
using settingstest::ReferenceTree;
using settingstest::SameTree;

std::string_view Text(const Settings& node) {
    return node;
}

TEST(SettingsText, TheReferenceTreeReadsAndPrintsByteForByteWithIdentifiersInDocumentOrder) {
    EXPECT_EQ(ReferenceTree().ConvertToString(), ReferenceText());
    EXPECT_EQ(Settings().ConvertToString(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<data/>\n");
    Settings root;
    ASSERT_TRUE(root.ConvertFromString(ReferenceText()));
    EXPECT_EQ(root.Version(), 3);
    EXPECT_EQ(root["Name"].GetID(), 1u);
    EXPECT_EQ(root["Window"].GetID(), 2u);
    EXPECT_EQ(root["Window"]["Visible"].GetID(), 2u);
    EXPECT_EQ(root.begin_unnamed()->GetID(), 3u);
    EXPECT_EQ(static_cast<CRect>(root["Window"]["Rect"]), CRect(10, 20, 300, 400));
    EXPECT_TRUE(SameTree(root, ReferenceTree(), false));
    EXPECT_EQ(root.ConvertToString(), ReferenceText());
}

TEST(SettingsText, ReadingReplacesContentAndNumbersOnFromTheCounter) {
    Settings root(5);
    root = "old value";
    for (int i = 0; i < 7; ++i) root.AddUnnamed();
    root["gone"] = 1;  // the eighth identifier
    root.RemoveBranch("gone");
    ASSERT_TRUE(root.ConvertFromString(ReferenceText()));
    EXPECT_EQ(Text(root), "");
    EXPECT_EQ(root.GetID(), 5u);
    EXPECT_FALSE(root.Exists("gone"));
    EXPECT_EQ(root["Name"].GetID(), 9u);
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(root.begin_unnamed()->GetID(), 11u);
    EXPECT_EQ(root.AddUnnamed().GetID(), 13u);
}

TEST(SettingsText, NullValuesAndTheTopValueAreNotWritten) {
    Settings root;
    root = "top value";
    root["n"] = "{null}";
    root["e"] = "";
    root["v"].Version(-4);
    const std::string text = root.ConvertToString();
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<data>\n    <e/>\n    <n/>\n"
              "    <v Version=\"-4\"/>\n</data>\n");
    Settings back;
    ASSERT_TRUE(back.ConvertFromString(text));
    EXPECT_EQ(Text(back["n"]), "");
    EXPECT_EQ(back["v"].Version(), -4);
    ASSERT_TRUE(back.ConvertFromString("<data Value=\"ignored\"><a Value=\"\"/></data>"));
    EXPECT_EQ(Text(back), "");
    EXPECT_TRUE(back.Exists("a"));
}

// "Variable" (in this case only) always reads as an unnamed child; siblings
// of one name merge into one child, the later one's value and version winning.
TEST(SettingsText, VariableElementsAreUnnamedAndSiblingsOfOneNameMerge) {
    Settings root;
    root.AddUnnamed() = "first";
    root["Variable"] = "named";
    root["variable"] = "lower case stays named";
    Settings back;
    ASSERT_TRUE(back.ConvertFromString(root.ConvertToString()));
    EXPECT_FALSE(back.Exists("Variable"));
    EXPECT_TRUE(back.Exists("variable"));
    ASSERT_EQ(back.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(Text(*back.begin_unnamed()), "named");  // written among the named children, so first
    EXPECT_EQ(Text(*std::next(back.begin_unnamed())), "first");

    Settings merged;
    ASSERT_TRUE(
        merged.ConvertFromString("<data><a Value=\"1\" Version=\"2\"><x Value=\"x\"/></a><b/>"
                                 "<a Value=\"2\"><y Value=\"y\"/><x Value=\"x2\"/></a></data>"));
    EXPECT_EQ(merged.GetVariablesCount(), 2u);
    EXPECT_EQ(Text(merged["a"]), "2");
    EXPECT_EQ(merged["a"].Version(), 0);  // the later element has none
    EXPECT_EQ(Text(merged["a"]["x"]), "x2");
    EXPECT_EQ(merged["a"]["x"].GetID(), 1u);
    EXPECT_EQ(merged["a"]["y"].GetID(), 2u);
    EXPECT_EQ(merged["b"].GetID(), 2u);
}

TEST(SettingsText, AttributesReadLeniently) {
    Settings root;
    ASSERT_TRUE(
        root.ConvertFromString("<?xml version=\"1.0\"?><!-- comment --><data Version=\"seven\" ElementCount=\"5\">text"
                               "<Variable Value=\"a\"/><!-- c --><Variable/>"
                               "<list ElementCount=\"1\"><Variable/><Variable/><Variable/></list>"
                               "<huge ElementCount=\"9223372036854775807\"><Variable/></huge>"
                               "<negative ElementCount=\"-3\" Version=\"12abc\"><Variable/></negative>"
                               "<k Value=\"&lt;&amp;&#x141;&#243;&quot;\"/></data>"));
    EXPECT_EQ(root.Version(), 0);
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(root["list"].GetUnnamedVariablesCount(), 3u);
    EXPECT_EQ(root["huge"].GetUnnamedVariablesCount(), 1u);
    EXPECT_EQ(root["negative"].GetUnnamedVariablesCount(), 1u);
    EXPECT_EQ(root["negative"].Version(), 12);
    EXPECT_EQ(Text(root["k"]), "<&\xC5\x81\xC3\xB3\"");
}

TEST(SettingsText, ValuesRoundTripExactly) {
    Settings root;
    const std::string special = "<tag attr=\"v\">&amp; 'q' \xC5\x81\xC3\xB3\x64\xC5\xBA \xF0\x9F\x98\x80  ";
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
}

// The streamed printer writes what tinyxml2 prints for the document FillXml
// builds, and ParseXml of that document reads the same tree; ParseXml adds
// to what the node holds.
TEST(SettingsText, TheStreamedTextIsTinyxml2sPrintOfTheFillXmlDocument) {
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
        Settings parsed;
        parsed.ParseXml(data);
        EXPECT_EQ(tree.ConvertToString(), parsed.ConvertToString()) << seed;
    }
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse("<data Version=\"4\"><a Value=\"new\"/><Variable/></data>"), tinyxml2::XML_SUCCESS);
    Settings root;
    root["a"] = "old";
    root["keep"] = 1;
    root.AddUnnamed();
    root.ParseXml(document.RootElement());
    root.ParseXml(nullptr);
    root.ParseXml(document.NewComment("not an element"));
    EXPECT_EQ(Text(root["a"]), "new");
    EXPECT_EQ(root["a"].GetID(), 1u);
    EXPECT_TRUE(root.Exists("keep"));
    EXPECT_EQ(root.GetUnnamedVariablesCount(), 2u);
    EXPECT_EQ(std::next(root.begin_unnamed())->GetID(), 4u);
    EXPECT_EQ(root.Version(), 4);
}

// A refused text leaves the tree as it was and writes one entry, in the ANSI
// code page.
TEST(SettingsText, RefusedTextLeavesTheTreeAndLogsOnce) {
    const struct {
        UINT acp;
        std::string text;
        std::string message;
    } cases[] = {
        {CP_UTF8, "not xml at all", "Nie udało się sparsować ustawień dla: not xml at all"},
        {CP_UTF8, "<data><unclosed></data>", "Nie udało się sparsować ustawień dla: <data><unclosed></data>"},
        {CP_UTF8, "", "Nie udało się sparsować ustawień dla: "},
        {CP_UTF8, "<data a='1' a='2'/>", "Nie udało się sparsować ustawień dla: <data a='1' a='2'/>"},
        {CP_UTF8, "<data/>junk<", "Nie udało się sparsować ustawień dla: <data/>junk<"},
        {CP_UTF8, "<settings/>", "Błędny tag ustawień"},
        {CP_UTF8, "<?xml version=\"1.0\"?><!-- only a comment --><Data/>", "Błędny tag ustawień"},
        {CP_UTF8, "<other/><inner><data/></inner>", "Błędny tag ustawień"},
        {1250, "<other/>",
         "B\xB3\xEA"
         "dny tag ustawie\xF1"},
    };
    const Settings before = ReferenceTree();
    for (const auto& c : cases) {
        vlibtest::AcpScope acp(c.acp);
        Settings tree = before;
        settingstest::ExpectOneEntry([&] { EXPECT_FALSE(tree.ConvertFromString(c.text)) << c.text; },
                                     "Settings::ConvertFromString", c.message);
        EXPECT_TRUE(SameTree(tree, before, true)) << c.text;
    }
}

}  // namespace

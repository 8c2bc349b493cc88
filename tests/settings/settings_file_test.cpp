// The settings files: saves, loads, refusals and kills, and the files as
// python3 and xmllint read them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "settings/Settings.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Peer.h"
#include "tests/support/SaveChecks.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;
using settingstest::ExpectOneEntry;
using settingstest::ReferenceTree;
using settingstest::SameTree;
using vlibtest::TempDir;
using vlibtest::Wide;

const std::string kSaveFailure = "Nie udało się zapisać ustawień do pliku: ";
const std::string kLoadFailure = "Nie udało się wczytać ustawień dla: ";

class SettingsFile : public vlibtest::TempDirTest {
protected:
    fs::path File(const std::string& name) const { return m_dir.Path() / name; }
    std::vector<std::string> Names() const { return vlibtest::Names(m_dir.Path()); }
};

TEST_F(SettingsFile, HoldsTheStringFormUnderTheCallersRootAndLoadsBack) {
    const auto file = File("workspace.xml");
    ASSERT_TRUE(ReferenceTree().SaveToFile(Wide(file), "Workspace"));
    EXPECT_EQ(TempDir::Read(file), settingstest::ReferenceText("Workspace"));
    EXPECT_EQ(Names(), std::vector<std::string>{"workspace.xml"});
    Settings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(Wide(file), "Workspace"));
    EXPECT_TRUE(SameTree(loaded, ReferenceTree(), false));
}

TEST_F(SettingsFile, LoadFailuresKeepTheTreeAndLogThePath) {
    const Settings before = ReferenceTree();
    const auto other = m_dir.Write("other.xml", "<?xml version=\"1.0\"?>\n<Other/>\n");
    const auto nested = m_dir.Write("nested.xml", "<Outer><Workspace/></Outer>");
    const auto wrongTag = [](const fs::path& p) { return "Błędny tag ustawień: " + p.string() + ", Workspace"; };
    const std::pair<fs::path, std::string> cases[] = {
        {File("missing.xml"), kLoadFailure + File("missing.xml").string()},
        {m_dir.Write("empty.xml", ""), kLoadFailure + File("empty.xml").string()},
        {m_dir.Write("broken.xml", "<Workspace><a></Workspace>"), kLoadFailure + File("broken.xml").string()},
        {m_dir.Path(), kLoadFailure + m_dir.Path().string()},
        {other, wrongTag(other)},
        {nested, wrongTag(nested)}};
    for (const auto& [path, message] : cases) {
        Settings tree = before;
        ExpectOneEntry([&] { EXPECT_FALSE(tree.LoadFromFile(Wide(path), "Workspace")) << path; },
                       "Settings::LoadFromFile", message);
        EXPECT_TRUE(SameTree(tree, before, true)) << path;
    }
}

TEST_F(SettingsFile, SaveFailuresKeepThePreviousFileAndLeaveNoTemporaryFile) {
    const auto file = File("kept.xml");
    ASSERT_TRUE(ReferenceTree().SaveToFile(Wide(file), "Workspace"));
    const std::string previous = TempDir::Read(file);
    const Settings reference = ReferenceTree();
    Settings badKey = reference, digitFirst = reference;
    badKey["two words"] = 1;
    digitFirst.AddUnnamed()["1st"] = 1;
    // A target that is a folder fails at the rename, after the temporary file
    // was written; that file goes again.
    fs::create_directory(File("folder.xml"));
    m_dir.Write("folder.xml/inside", "x");
    const struct {
        const Settings* tree;
        fs::path path;
        const char* root;
    } cases[] = {{&badKey, file, "Workspace"},
                 {&digitFirst, file, "Workspace"},
                 {&reference, file, ""},
                 {&reference, file, "Work space"},
                 {&reference, file, "1Workspace"},
                 {&reference, file, "a<b"},
                 {&reference, File("folder.xml"), "Workspace"},
                 {&reference, File("no such folder") / "file.xml", "Workspace"}};
    for (const auto& c : cases) {
        ExpectOneEntry([&] { EXPECT_FALSE(c.tree->SaveToFile(Wide(c.path), c.root)) << c.root; },
                       "Settings::SaveToFile", kSaveFailure + c.path.string());
        EXPECT_EQ(TempDir::Read(file), previous);
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder.xml", "kept.xml"}));
    // ConvertToString keeps writing such keys.
    EXPECT_NE(badKey.ConvertToString().find("<two words"), std::string::npos);
}

// A tree (or a root name) is saved exactly when its keys read back as the same
// tree: the document that tinyxml2 writes for it and parses back is the
// oracle.  Keys are drawn from bytes that matter to the reader and from bytes
// outside ASCII, ill-formed UTF-8 included.
TEST_F(SettingsFile, KeysAreRefusedOnlyWhenTheyWouldNotReadBack) {
    const std::string bytes = std::string("aZ_:-.09 \t<>/=\"'&;!?") + std::string("\0\x7F\x80\xC5\xBF\xFF", 6);
    const auto file = File("keys.xml");
    std::mt19937 random(9);
    int saved = 0;
    for (int round = 0; round < 400; ++round) {
        std::string key(1 + random() % 4, ' ');
        for (char& c : key) c = bytes[random() % bytes.size()];
        Settings tree;
        tree["Plain"] = 1;
        tree[key] = "v";
        tree[key]["inner"].AddUnnamed() = 2;
        Settings parsed, loaded;
        const bool readsBack = parsed.ConvertFromString(tree.ConvertToString()) && SameTree(parsed, tree, false);
        const std::string shown = ::testing::PrintToString(key);
        ASSERT_EQ(tree.SaveToFile(Wide(file), key), readsBack) << shown;  // the key names the top element too
        if (readsBack) {
            ASSERT_TRUE(loaded.LoadFromFile(Wide(file), key)) << shown;
            EXPECT_TRUE(SameTree(loaded, tree, false)) << shown;
        }
        saved += readsBack;
    }
    EXPECT_GT(saved, 30) << saved;  // both outcomes are well represented
    EXPECT_LT(saved, 370) << saved;
    for (const char* key : {"ns:key", ":", "\xC5", "\xFF\xFE", "a\xE2\x80\x8B"}) {
        Settings tree = ReferenceTree(), loaded;
        tree["Window"][key] = 1;
        ASSERT_TRUE(tree.SaveToFile(Wide(file), key)) << key;
        ASSERT_TRUE(loaded.LoadFromFile(Wide(file), key)) << key;
        EXPECT_TRUE(SameTree(loaded, tree, false)) << key;
    }
}

TEST_F(SettingsFile, TreesDeeperThanTheReaderAcceptsAreRefused) {
    const auto file = File("deep.xml");
    Settings tree, loaded, text;
    Settings* node = &tree;
    for (int depth = 1; depth < 99; ++depth) node = &(*node)["level"];  // the top element is the first level
    *node = "bottom";
    ASSERT_TRUE(tree.SaveToFile(Wide(file), "Deep"));
    ASSERT_TRUE(loaded.LoadFromFile(Wide(file), "Deep"));
    EXPECT_TRUE(SameTree(loaded, tree, true));
    node->AddUnnamed() = "one too deep";
    EXPECT_EQ(vlibtest::EntriesOf([&] { EXPECT_FALSE(tree.SaveToFile(Wide(file), "Deep")); }).size(), 1u);
    EXPECT_FALSE(text.ConvertFromString(tree.ConvertToString()));  // what the refusal avoids
}

// Backslashes separate folders as slashes do; the name is the file system's
// UTF-8 form, whatever the ANSI code page, in which the log's message is; a
// lone surrogate names no file.
TEST_F(SettingsFile, PathsAreTakenInThePlatformsFileSystemForm) {
    fs::create_directory(File("sub"));
    const std::wstring windowsForm = Wide(File("sub")) + L"\\settings.xml";
    Settings loaded;
    ASSERT_TRUE(ReferenceTree().SaveToFile(windowsForm, "Workspace"));
    EXPECT_TRUE(fs::exists(File("sub") / "settings.xml"));
    EXPECT_TRUE(loaded.LoadFromFile(windowsForm, "Workspace"));

    vlibtest::AcpScope acp(1250);
    const std::wstring polish = Wide(m_dir.Path()) + L"/\u0141\u00F3d\u017A.xml";
    ASSERT_TRUE(ReferenceTree().SaveToFile(polish, "Workspace"));
    EXPECT_TRUE(fs::exists(File("\xC5\x81\xC3\xB3\x64\xC5\xBA.xml")));
    EXPECT_TRUE(loaded.LoadFromFile(polish, "Workspace"));
    ExpectOneEntry([&] { EXPECT_FALSE(loaded.LoadFromFile(polish, "Other")); }, "Settings::LoadFromFile",
                   "B\xB3\xEA"
                   "dny tag ustawie\xF1: " +
                       File("\xC5\x81\xC3\xB3\x64\xC5\xBA.xml").string() + ", Other");
    const std::wstring lone = Wide(m_dir.Path()) + L"/bad\xD800.xml";
    EXPECT_EQ(vlibtest::EntriesOf([&] {
                  EXPECT_FALSE(ReferenceTree().SaveToFile(lone, "Workspace"));
                  EXPECT_FALSE(loaded.LoadFromFile(lone, "Workspace"));
              }).size(),
              2u);
}

// The file that comes back is the same file (tests/support/SaveChecks.h).
TEST_F(SettingsFile, ASaveKeepsTheFileItReplaces) {
    vlibtest::ExpectSavesKeepTheFile(
        [](const std::wstring& path) {
            Settings loaded;
            const bool saved = ReferenceTree().SaveToFile(path, "Workspace");
            return saved && loaded.LoadFromFile(path, "Workspace") &&
                   loaded.ConvertToString() == ReferenceTree().ConvertToString();
        },
        "settings");
}

// A child process saves one of two large trees in a loop and is killed; the
// file must then hold one of the two documents, whole.
TEST_F(SettingsFile, ASaveKilledHalfwayLeavesTheOldOrTheNewDocument) {
    const std::wstring path = Wide(File("killed.xml"));
    const Settings first = settingstest::RandomTree(1, 40000), second = settingstest::RandomTree(2, 40000);
    ASSERT_TRUE(first.SaveToFile(path, "Root"));
    Settings expectedFirst, expectedSecond;
    ASSERT_TRUE(expectedFirst.ConvertFromString(first.ConvertToString()));
    ASSERT_TRUE(expectedSecond.ConvertFromString(second.ConvertToString()));
    std::mt19937 random(3);
    int sawFirst = 0, sawSecond = 0, interrupted = 0, round = 0;
    // Rounds go on until every outcome was seen.
    for (; round < 400 && (round < 24 || interrupted == 0 || sawFirst == 0 || sawSecond == 0); ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) (i % 2 ? first : second).SaveToFile(path, "Root");
        }
        if (round % 2 == 0) {
            // The kill's moment is what is tested: a random one, however the
            // time splits between building and writing the text.
            std::this_thread::sleep_for(std::chrono::microseconds(5000 + random() % 250000));
        } else {
            // As soon as a temporary file shows that a write is under way.
            vlibtest::WaitFor([&] { return Names().size() >= 2; });
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        Settings loaded;
        ASSERT_TRUE(loaded.LoadFromFile(path, "Root")) << "round " << round;
        const bool isFirst = SameTree(loaded, expectedFirst, true), isSecond = SameTree(loaded, expectedSecond, true);
        EXPECT_TRUE(isFirst || isSecond) << "round " << round;
        sawFirst += isFirst;
        sawSecond += isSecond;
        // A killed save leaves its temporary file behind, never a torn document.
        for (const auto& name : Names()) {
            if (name == "killed.xml") continue;
            ++interrupted;
            fs::remove(File(name));
        }
    }
    EXPECT_GT(interrupted, 0);
    EXPECT_GT(sawFirst, 0);
    EXPECT_GT(sawSecond, 0);
}

// Random trees saved to files load back as themselves; python3's xml.etree
// reads them into the same outline of keys, values and versions; xmllint
// finds them well-formed.
TEST_F(SettingsFile, SavedFilesLoadBackAndReadTheSameInPeers) {
    const std::string script = R"(
import sys, xml.etree.ElementTree as ET
def walk(element, path, out):
    unnamed = 0
    for child in element:
        if child.tag == "Variable":
            name = "#" + str(unnamed)
            unnamed += 1
        else:
            name = child.tag
        p = path + "/" + name
        out.append(p + "\t" + child.get("Value", "") + "\t" + str(int(child.get("Version", "0"))))
        walk(child, p, out)
root = ET.parse(sys.argv[1]).getroot()
lines = [root.tag + "\t" + str(int(root.get("Version", "0")))]
walk(root, "", lines)
sys.stdout.buffer.write(("\n".join(lines) + "\n").encode("utf-8"))
)";
    const auto file = File("peer.xml");
    for (std::uint32_t seed = 20; seed < 24; ++seed) {
        Settings tree = settingstest::RandomTree(seed, 3000), loaded, expected;
        tree["Lines"] = "tab\there, CR LF\r\nand LF\n";
        ASSERT_TRUE(tree.SaveToFile(Wide(file), "Config"));
        ASSERT_TRUE(loaded.LoadFromFile(Wide(file), "Config"));
        ASSERT_TRUE(expected.ConvertFromString(tree.ConvertToString()));  // "{null}" comes back empty
        std::string where;
        EXPECT_TRUE(SameTree(loaded, expected, true, &where)) << seed << " " << where;
        std::string outline = "Config\t" + std::to_string(loaded.Version()) + "\n";
        settingstest::Outline(loaded, "", outline);
        const auto python = vlibtest::RunPeer({"python3", "-c", script, file.string()});
        ASSERT_TRUE(python.has_value()) << "python3 could not read the file";
        EXPECT_EQ(*python, outline) << seed;
        if (vlibtest::HavePeer("xmllint")) {
            EXPECT_TRUE(vlibtest::RunPeer({"xmllint", "--noout", file.string()}).has_value()) << seed;
        }
    }
}

}  // namespace

// Tests of the settings files: the saved bytes, loading back, files missing,
// empty, malformed or of another root, refused saves that keep the previous
// file, saves killed halfway, and saved files read by python3 and xmllint.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "settings/Settings.h"
#include "tests/settings/SettingsTestSupport.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Peer.h"
#include "tests/support/SaveChecks.h"
#include "tests/support/TempDir.h"

namespace {

using settingstest::ExpectOneEntry;
using settingstest::LogScope;
using settingstest::SameTree;

const std::string kSaveFailure = "Nie udało się zapisać ustawień do pliku: ";
const std::string kLoadFailure = "Nie udało się wczytać ustawień dla: ";

class SettingsFile : public vlibtest::TempDirTest {
protected:
    std::filesystem::path File(const std::string& name) const { return m_dir.Path() / name; }
    static std::wstring Wide(const std::filesystem::path& path) { return path.wstring(); }

    // The names in the folder (to see that no temporary file stays behind).
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static Settings Example() { return settingstest::WorkedExample(); }
};

TEST_F(SettingsFile, HoldsTheStringFormUnderTheCallersRoot) {
    const auto file = File("workspace.xml");
    const Settings tree = Example();
    ASSERT_TRUE(tree.SaveToFile(Wide(file), "Workspace"));
    EXPECT_EQ(vlibtest::TempDir::Read(file),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<Workspace Version=\"3\" ElementCount=\"2\">\n"
              "    <Name Value=\"Alpha\"/>\n"
              "    <Window>\n"
              "        <Rect Value=\"10 20 300 400\"/>\n"
              "        <Visible Value=\"1\"/>\n"
              "    </Window>\n"
              "    <Variable Value=\"5\"/>\n"
              "    <Variable Value=\"2.5\"/>\n"
              "</Workspace>\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"workspace.xml"});

    Settings loaded(2);
    loaded = "top value";
    loaded.AddUnnamed();
    ASSERT_TRUE(loaded.LoadFromFile(Wide(file), "Workspace"));
    EXPECT_TRUE(SameTree(loaded, tree, false));
    EXPECT_EQ(std::string_view(loaded), "");
    EXPECT_EQ(loaded.GetID(), 2u);
    EXPECT_EQ(loaded["Name"].GetID(), 2u);  // numbered on from the loader's counter
}

TEST_F(SettingsFile, RandomTreesSaveAndLoadBack) {
    const auto file = File("random.xml");
    for (std::uint32_t seed = 1; seed <= 10; ++seed) {
        Settings tree = settingstest::RandomTree(seed, 2000);
        ASSERT_TRUE(tree.SaveToFile(Wide(file), "Root"));
        Settings loaded;
        ASSERT_TRUE(loaded.LoadFromFile(Wide(file), "Root"));
        // "{null}" comes back empty; otherwise everything is as saved.
        Settings expected;
        ASSERT_TRUE(expected.ConvertFromString(tree.ConvertToString()));
        std::string where;
        EXPECT_TRUE(SameTree(loaded, expected, true, &where)) << seed << " " << where;
        EXPECT_EQ(loaded.ConvertToString(), tree.ConvertToString());
    }
}

TEST_F(SettingsFile, LoadFailuresKeepTheTreeAndLogThePath) {
    const Settings before = Example();
    const auto empty = m_dir.Write("empty.xml", "");
    const auto broken = m_dir.Write("broken.xml", "<Workspace><a></Workspace>");
    const auto other = m_dir.Write("other.xml", "<?xml version=\"1.0\"?>\n<Other/>\n");
    const auto nested = m_dir.Write("nested.xml", "<Outer><Workspace/></Outer>");
    for (const auto& path : {File("missing.xml"), empty, broken, m_dir.Path()}) {
        LogScope log;
        Settings tree = before;
        EXPECT_FALSE(tree.LoadFromFile(Wide(path), "Workspace")) << path;
        EXPECT_TRUE(SameTree(tree, before, true)) << path;
        ExpectOneEntry(log.Close(), "Settings::LoadFromFile", kLoadFailure + path.string());
    }
    for (const auto& path : {other, nested}) {
        LogScope log;
        Settings tree = before;
        EXPECT_FALSE(tree.LoadFromFile(Wide(path), "Workspace")) << path;
        EXPECT_TRUE(SameTree(tree, before, true)) << path;
        ExpectOneEntry(log.Close(), "Settings::LoadFromFile", "Błędny tag ustawień: " + path.string() + ", Workspace");
    }
}

TEST_F(SettingsFile, SaveFailuresKeepThePreviousFileAndLeaveNoTemporaryFile) {
    const auto file = File("kept.xml");
    ASSERT_TRUE(Example().SaveToFile(Wide(file), "Workspace"));
    const std::string previous = vlibtest::TempDir::Read(file);

    Settings badKey = Example();
    badKey["two words"] = 1;
    Settings digitFirst = Example();
    digitFirst.AddUnnamed()["1st"] = 1;
    for (const Settings* tree : {&badKey, &digitFirst}) {
        LogScope log;
        EXPECT_FALSE(tree->SaveToFile(Wide(file), "Workspace"));
        ExpectOneEntry(log.Close(), "Settings::SaveToFile", kSaveFailure + file.string());
        EXPECT_EQ(vlibtest::TempDir::Read(file), previous);
    }
    for (const char* root : {"", "Work space", "1Workspace", "a<b"}) {
        LogScope log;
        EXPECT_FALSE(Example().SaveToFile(Wide(file), root)) << root;
        EXPECT_EQ(log.Close().size(), 1u);
    }
    EXPECT_EQ(vlibtest::TempDir::Read(file), previous);
    // ConvertToString keeps writing such keys.
    EXPECT_NE(badKey.ConvertToString().find("<two words"), std::string::npos);

    // A target that is a folder: the rename fails after the temporary file was
    // written, and that file goes again.
    std::filesystem::create_directory(File("folder.xml"));
    std::ofstream(File("folder.xml") / "inside") << "x";
    {
        LogScope log;
        EXPECT_FALSE(Example().SaveToFile(Wide(File("folder.xml")), "Workspace"));
        ExpectOneEntry(log.Close(), "Settings::SaveToFile", kSaveFailure + File("folder.xml").string());
    }
    // A folder that does not exist.
    {
        LogScope log;
        const auto missing = File("no such folder") / "file.xml";
        EXPECT_FALSE(Example().SaveToFile(Wide(missing), "Workspace"));
        ExpectOneEntry(log.Close(), "Settings::SaveToFile", kSaveFailure + missing.string());
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder.xml", "kept.xml"}));
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
        Settings parsed;
        const bool readsBack = parsed.ConvertFromString(tree.ConvertToString()) && SameTree(parsed, tree, false);
        // The key names the top element too.
        const std::string shown = ::testing::PrintToString(key);
        ASSERT_EQ(tree.SaveToFile(Wide(file), key), readsBack) << shown;
        if (readsBack) {
            Settings loaded;
            ASSERT_TRUE(loaded.LoadFromFile(Wide(file), key)) << shown;
            EXPECT_TRUE(SameTree(loaded, tree, false)) << shown;
        }
        saved += readsBack;
    }
    EXPECT_GT(saved, 30) << saved;  // both outcomes are well represented
    EXPECT_LT(saved, 370) << saved;
    for (const char* key : {"ns:key", ":", "\xC5", "\xFF\xFE", "a\xE2\x80\x8B"}) {  // named cases
        Settings tree = Example();
        tree["Window"][key] = 1;
        ASSERT_TRUE(tree.SaveToFile(Wide(file), key)) << key;
        Settings loaded;
        ASSERT_TRUE(loaded.LoadFromFile(Wide(file), key)) << key;
        EXPECT_TRUE(SameTree(loaded, tree, false)) << key;
    }
}

TEST_F(SettingsFile, TreesDeeperThanTheReaderAcceptsAreRefused) {
    const auto file = File("deep.xml");
    Settings tree;
    Settings* node = &tree;
    int depth = 1;  // the top element
    for (; depth < 99; ++depth) node = &(*node)["level"];
    *node = "bottom";
    ASSERT_TRUE(tree.SaveToFile(Wide(file), "Deep"));
    Settings loaded;
    ASSERT_TRUE(loaded.LoadFromFile(Wide(file), "Deep"));
    EXPECT_TRUE(SameTree(loaded, tree, true));

    node->AddUnnamed() = "one too deep";
    LogScope log;
    EXPECT_FALSE(tree.SaveToFile(Wide(file), "Deep"));
    EXPECT_EQ(log.Close().size(), 1u);
    Settings text;
    EXPECT_FALSE(text.ConvertFromString(tree.ConvertToString()));  // what the refusal avoids
}

TEST_F(SettingsFile, PathsAreTakenInThePlatformsFileSystemForm) {
    // Backslashes separate folders as slashes do, for saving and loading.
    std::filesystem::create_directory(File("sub"));
    std::wstring windowsForm = Wide(File("sub"));
    windowsForm += L"\\settings.xml";
    ASSERT_TRUE(Example().SaveToFile(windowsForm, "Workspace"));
    EXPECT_TRUE(std::filesystem::exists(File("sub") / "settings.xml"));
    Settings loaded;
    EXPECT_TRUE(loaded.LoadFromFile(windowsForm, "Workspace"));

    // Under a Windows-1250 ANSI code page the Polish message is in 1250 and
    // the path is the file system's UTF-8 name, the same file both ways.
    vlibtest::AcpScope acp(1250);
    const std::wstring polish = Wide(m_dir.Path()) + L"/\u0141\u00F3d\u017A.xml";
    ASSERT_TRUE(Example().SaveToFile(polish, "Workspace"));
    EXPECT_TRUE(std::filesystem::exists(m_dir.Path() / "\xC5\x81\xC3\xB3\x64\xC5\xBA.xml"));
    EXPECT_TRUE(loaded.LoadFromFile(polish, "Workspace"));
    LogScope log;
    EXPECT_FALSE(loaded.LoadFromFile(polish, "Other"));
    ExpectOneEntry(log.Close(), "Settings::LoadFromFile",
                   "B\xB3\xEA"
                   "dny tag ustawie\xF1: " +
                       m_dir.Path().string() + "/\xC5\x81\xC3\xB3\x64\xC5\xBA.xml, Other");

    // A lone surrogate names no file.
    const std::wstring lone = Wide(m_dir.Path()) + L"/bad\xD800.xml";
    LogScope second;
    EXPECT_FALSE(Example().SaveToFile(lone, "Workspace"));
    EXPECT_FALSE(loaded.LoadFromFile(lone, "Workspace"));
    EXPECT_EQ(second.Close().size(), 2u);
}

// A save gives back the same file: its permissions and owner, a link to it,
// a read-only refusal; it falls back to writing in place where the folder
// takes no temporary file, and clears what a killed save left.
TEST_F(SettingsFile, ASaveKeepsTheFileItReplaces) {
    vlibtest::ExpectSavesKeepTheFile(
        [](const std::wstring& path) {
            LogScope log;
            const bool saved = Example().SaveToFile(path, "Workspace");
            Settings loaded;
            return saved && loaded.LoadFromFile(path, "Workspace") &&
                   loaded.ConvertToString() == Example().ConvertToString();
        },
        "settings");
}

// A child process saves one of two large trees in a loop and is killed at a
// random moment; the file must then hold one of the two documents, whole.
TEST_F(SettingsFile, ASaveKilledHalfwayLeavesTheOldOrTheNewDocument) {
    const auto file = File("killed.xml");
    const std::wstring path = Wide(file);
    const Settings first = settingstest::RandomTree(1, 40000);
    const Settings second = settingstest::RandomTree(2, 40000);
    ASSERT_TRUE(first.SaveToFile(path, "Root"));
    Settings expectedFirst, expectedSecond;
    ASSERT_TRUE(expectedFirst.ConvertFromString(first.ConvertToString()));
    ASSERT_TRUE(expectedSecond.ConvertFromString(second.ConvertToString()));

    std::mt19937 random(3);
    int sawFirst = 0, sawSecond = 0, interrupted = 0;
    // Even rounds kill at a random moment; odd rounds kill as soon as a
    // temporary file shows that a write is under way, so that kills inside a
    // write happen however the time splits between building and writing the
    // text. Rounds go on until every outcome was seen.
    int round = 0;
    for (; round < 400 && (round < 24 || interrupted == 0 || sawFirst == 0 || sawSecond == 0); ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (unsigned i = 0;; ++i) (i % 2 ? first : second).SaveToFile(path, "Root");
        }
        if (round % 2 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(5000 + random() % 250000));
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (Names().size() < 2 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

        Settings loaded;
        ASSERT_TRUE(loaded.LoadFromFile(path, "Root")) << "round " << round;
        const bool isFirst = SameTree(loaded, expectedFirst, true);
        const bool isSecond = SameTree(loaded, expectedSecond, true);
        EXPECT_TRUE(isFirst || isSecond) << "round " << round;
        sawFirst += isFirst;
        sawSecond += isSecond;
        // A save killed halfway leaves its temporary file behind; it never
        // replaces the document.
        for (const auto& name : Names()) {
            if (name == "killed.xml") continue;
            ++interrupted;
            std::filesystem::remove(m_dir.Path() / name);
        }
    }
    // The kills did land in the middle of writing, and both documents were
    // seen.
    EXPECT_GT(interrupted, 0);
    EXPECT_GT(sawFirst, 0);
    EXPECT_GT(sawSecond, 0);
    std::printf("%d kills: %d during a write, first document %d times, second %d times\n", round, interrupted, sawFirst,
                sawSecond);
}

// python3's xml.etree reads the saved file into the same outline of keys,
// values and versions as the tree loaded back; xmllint finds it well-formed.
TEST_F(SettingsFile, SavedFilesReadTheSameInPeers) {
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
        Settings tree = settingstest::RandomTree(seed, 3000);
        tree["Lines"] = "tab\there, CR LF\r\nand LF\n";
        ASSERT_TRUE(tree.SaveToFile(Wide(file), "Config"));
        Settings loaded;
        ASSERT_TRUE(loaded.LoadFromFile(Wide(file), "Config"));
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

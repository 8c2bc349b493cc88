// CrashHandler in the test process: installation and the copying its crash
// callback does when the layer calls it with a report folder.
#include "diagnostics/CrashHandler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

using vlibtest::Wide;

// Installs for one test and uninstalls afterwards.
class CrashHandlerTest : public vlibtest::TempDirTest {
protected:
    void TearDown() override { CrashHandler::UnInstall(); }

    fs::path Save() const { return m_dir.Path() / "reports"; }
    fs::path MakeTree(const fs::path& root, const std::vector<std::string>& files) const {
        for (const std::string& file : files) {
            fs::create_directories((root / file).parent_path());
            std::ofstream(root / file) << file;
        }
        return root;
    }
    // Calls the callback as the layer does at `stage` for `reportFolder`.
    int Call(int stage, const fs::path& reportFolder, void* user = CrashHandler::m_crashCallback.get()) const {
        const std::wstring folder = Wide(reportFolder);
        CR_CRASH_CALLBACK_INFOW info{};
        info.cb = sizeof info;
        info.nStage = stage;
        info.pszErrorReportFolder = folder.c_str();
        info.pUserParam = user;
        return CrashHandler::CrashCallbackImpl::CrashCallback(&info);
    }
    static std::vector<std::string> Tree(const fs::path& root) {
        std::vector<std::string> names;
        if (!fs::exists(root)) return names;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            names.push_back(entry.path().lexically_relative(root).string() + (entry.is_directory() ? "/" : ""));
        std::sort(names.begin(), names.end());
        return names;
    }
};

std::vector<std::string> Messages(const std::vector<vlibtest::LogEntry>& entries) {
    std::vector<std::string> messages;
    for (const auto& entry : entries) messages.push_back(entry.message);
    return messages;
}

// A save folder that cannot be created fails the installation with the
// layer's text logged; the data outlives UnInstall, a new Install starts afresh.
TEST_F(CrashHandlerTest, InstallsOnceUntilUninstalledAndCreatesTheSaveFolder) {
    CrashHandler::m_crashCallback.reset();
    EXPECT_TRUE(CrashHandler::UnInstall());
    EXPECT_FALSE(CrashHandler::AddCopyDirectoryOnCrash(L"/tmp"));
    EXPECT_FALSE(CrashHandler::SetCopyT5DesktopOnCrash(L"/tmp/x.dsk"));
    m_dir.Write("file", "x");
    bool installed = true;
    const auto entries = vlibtest::EntriesOf(
        [&] { installed = CrashHandler::Install(Wide(m_dir.Path() / "file" / "reports"), L"app", L"1.0"); });
    EXPECT_FALSE(installed);
    EXPECT_FALSE(CrashHandler::Installed);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].function, "CrashHandler::Install");
    EXPECT_EQ(entries[0].message.rfind("The report folder cannot be created: ", 0), 0u) << entries[0].message;

    ASSERT_TRUE(CrashHandler::Install(Wide(Save() / "deep"), L"app", L"1.0"));
    EXPECT_TRUE(CrashHandler::Installed);
    EXPECT_TRUE(fs::is_directory(Save() / "deep"));
    EXPECT_FALSE(CrashHandler::Install(Wide(Save()), L"app", L"1.0"));
    EXPECT_TRUE(CrashHandler::AddCopyDirectoryOnCrash(L"/tmp"));
    EXPECT_TRUE(CrashHandler::UnInstall());
    EXPECT_FALSE(CrashHandler::Installed);
    EXPECT_TRUE(CrashHandler::AddCopyDirectoryOnCrash(L"/tmp"));
    ASSERT_TRUE(CrashHandler::Install(Wide(Save()), L"app", L"1.0"));
}

TEST_F(CrashHandlerTest, TheCallbackAsksForTheNextStageAndRefusesForeignOrMissingData) {
    ASSERT_TRUE(CrashHandler::Install(Wide(Save()), L"app", L"1.0"));
    const fs::path source = MakeTree(m_dir.Path() / "Cfg", {"a.txt"});
    ASSERT_TRUE(CrashHandler::AddCopyDirectoryOnCrash(Wide(source)));
    int foreign = 0;
    std::vector<int> results;
    const auto entries = vlibtest::EntriesOf([&] {
        results.push_back(Call(CR_CB_STAGE_PREPARE, Save() / "r1"));
        results.push_back(CrashHandler::CrashCallbackImpl::CrashCallback(nullptr));
        results.push_back(Call(CR_CB_STAGE_FINISH, Save() / "r2", &foreign));
    });
    EXPECT_EQ(results, (std::vector<int>{CR_CB_NEXT_STAGE, CR_CB_DODEFAULT, CR_CB_DODEFAULT}));
    EXPECT_EQ(Messages(entries),
              (std::vector<std::string>{"CrashCallback called", "CrashCallback called", "brak struktury pInfo",
                                        "CrashCallback called",
                                        "dane pomocnicze crasha uszkodzone, zapisanie tylko minidumpa"}));
    for (const auto& entry : entries) EXPECT_EQ(entry.function, "CrashHandler::CrashCallbackImpl::CrashCallback");
    EXPECT_EQ(Tree(Save()), std::vector<std::string>{});
}

// Each folder is copied into the report folder (its name without extension)
// under its last element without extension, numbered when names collide,
// trailing separators of either kind ignored, and never with the save folder
// inside it; a step that fails is logged and the rest still copied.
TEST_F(CrashHandlerTest, CopyFoldersAreNamedByTheirLastElementAndAFailingStepIsLoggedAndSkipped) {
    const fs::path work = MakeTree(m_dir.Path() / "Work", {"a.txt", "reports/old/x.txt"});
    ASSERT_TRUE(CrashHandler::Install(Wide(work / "reports"), L"app", L"1.0"));
    const fs::path first = MakeTree(m_dir.Path() / "First", {"a.txt", "b.txt"});
    const fs::path a = MakeTree(m_dir.Path() / "one" / "Cfg.old", {"a.txt", "sub/b.txt"});
    const fs::path b = MakeTree(m_dir.Path() / "two" / "Cfg", {"c.txt"});
    const fs::path c = MakeTree(m_dir.Path() / "three" / "Cfg", {"d.txt"});
    for (const std::wstring& folder :
         {Wide(m_dir.Path() / "Missing"), Wide(first), Wide(a), Wide(b) + L"/", Wide(c) + L"\\", Wide(work)}) {
        ASSERT_TRUE(CrashHandler::AddCopyDirectoryOnCrash(folder));
    }
    const fs::path report = work / "reports" / "crash-1";
    fs::create_directories(report / "First" / "a.txt");  // a folder where a.txt should go: that copy fails
    const auto entries = vlibtest::EntriesOf(
        [&] { EXPECT_EQ(Call(CR_CB_STAGE_FINISH, work / "reports" / "crash-1.tmp"), CR_CB_DODEFAULT); });
    EXPECT_EQ(Tree(report), (std::vector<std::string>{"Cfg/", "Cfg/a.txt", "Cfg/sub/", "Cfg/sub/b.txt", "Cfg_2/",
                                                      "Cfg_2/c.txt", "Cfg_3/", "Cfg_3/d.txt", "First/", "First/a.txt/",
                                                      "First/b.txt", "Missing/", "Work/", "Work/a.txt"}));
    const auto messages = Messages(entries);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_NE(messages[1].find("Missing"), std::string::npos) << messages[1];
    EXPECT_NE(messages[2].find("a.txt"), std::string::npos) << messages[2];
}

TEST_F(CrashHandlerTest, TheDesktopIsCopiedWithItsCompanionFolderLessDataFilesAndStopsAtALargeFile) {
    ASSERT_TRUE(CrashHandler::Install(Wide(Save()), L"app", L"1.0"));
    const fs::path work = MakeTree(m_dir.Path() / "Work", {"Main.dsk", "Main/a.txt", "Main/b.dat", "Main/c.bin",
                                                           "Main/D.DAT", "Main/sub/e.txt", "Main/sub/f.bin"});
    ASSERT_TRUE(CrashHandler::SetCopyT5DesktopOnCrash(Wide(work / "Main.dsk")));
    Call(CR_CB_STAGE_FINISH, Save() / "r1");
    EXPECT_EQ(Tree(Save() / "r1"),
              (std::vector<std::string>{"Desktop/", "Desktop/Main.dsk", "Desktop/Main/", "Desktop/Main/D.DAT",
                                        "Desktop/Main/a.txt", "Desktop/Main/sub/", "Desktop/Main/sub/e.txt"}));

    // A file over 5 MiB ends the walk; the desktop file is already copied.
    const fs::path big = MakeTree(m_dir.Path() / "Big", {"Big.dsk"});
    fs::create_directories(big / "Big");
    fs::resize_file(MakeTree(big / "Big", {"large.txt"}) / "large.txt", 0x500001);
    ASSERT_TRUE(CrashHandler::SetCopyT5DesktopOnCrash(Wide(big / "Big.dsk")));
    Call(CR_CB_STAGE_FINISH, Save() / "r2");
    EXPECT_EQ(Tree(Save() / "r2"), (std::vector<std::string>{"Desktop/", "Desktop/Big.dsk"}));

    // Without the companion folder nothing is made.
    fs::remove_all(big / "Big");
    Call(CR_CB_STAGE_FINISH, Save() / "r3");
    EXPECT_FALSE(fs::exists(Save() / "r3"));
}

TEST_F(CrashHandlerTest, FoldersAddedWhileACrashCopiesAreTakenWholeOrNotAtAll) {
    ASSERT_TRUE(CrashHandler::Install(Wide(Save()), L"app", L"1.0"));
    const fs::path source = MakeTree(m_dir.Path() / "Cfg", {"a.txt"});
    std::thread adder([&] {
        for (int i = 0; i < 40; ++i) CrashHandler::AddCopyDirectoryOnCrash(Wide(source));
    });
    for (int i = 0; i < 3; ++i) Call(CR_CB_STAGE_FINISH, Save() / ("r" + std::to_string(i)));
    adder.join();
    Call(CR_CB_STAGE_FINISH, Save() / "last");
    EXPECT_TRUE(fs::exists(Save() / "last" / "Cfg_40" / "a.txt"));
}

}  // namespace

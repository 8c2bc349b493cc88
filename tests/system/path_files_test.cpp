// The file operations of VTools::Path on real files in temporary folders:
// which failures return false, which write which log entries, which throw;
// copying, moving and replacing by write time; listings and masks; module
// paths; known folders under a temporary home.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "diagnostics/Log.h"
#include "platform/kernel/Module.h"
#include "platform/mfc/AfxString.h"
#include "platform/shell/Shell.h"
#include "system/Path.h"
#include "tests/support/AcpScope.h"
#include "tests/support/EnvScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

namespace fs = std::filesystem;
using namespace VTools::Path;
using vlibtest::LogCapture;
using vlibtest::LogEntry;
using vlibtest::TempDir;

std::wstring Wide(const fs::path& path) {
    return VTools::String::Utf8ToWide(path.string());
}

// The same path in Windows form, with '\\' separators.
std::wstring Backslashed(const fs::path& path) {
    std::wstring wide = Wide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

// The entries written since the capture began (the log's closing entry left off).
std::vector<LogEntry> Entries(LogCapture& log) {
    EXPECT_TRUE(VTools::Log::Instance().Flush());
    std::vector<LogEntry> entries = log.CloseAndRead();
    if (!entries.empty()) entries.pop_back();
    return entries;
}

std::string SystemText(std::errc error) {
    return VTools::String::Utf8ToAnsi(std::make_error_code(error).message());
}

void Touch(const fs::path& file, const std::string& bytes = "x") {
    std::ofstream(file, std::ios::binary) << bytes;
}

// Sets or unsets an environment variable for one scope.
using vlibtest::EnvScope;

using PathFiles = vlibtest::TempDirTest;

TEST_F(PathFiles, ExistenceTestsFollowLinksAndLogOnlyRealStatusErrors) {
    const fs::path dir = m_dir.Path() / "dir", file = m_dir.Path() / "file.txt";
    fs::create_directory(dir);
    Touch(file);
    fs::create_directory_symlink(dir, m_dir.Path() / "dirlink");
    fs::create_symlink(file, m_dir.Path() / "filelink");
    fs::create_symlink("loop2", m_dir.Path() / "loop1");
    fs::create_symlink("loop1", m_dir.Path() / "loop2");

    LogCapture log;
    EXPECT_TRUE(DirectoryExist(dir));
    EXPECT_TRUE(DirectoryExist(m_dir.Path() / "dirlink"));
    EXPECT_TRUE(DirectoryExist(m_dir.Path().string() + "\\dir"));  // '\\' separates here too
    EXPECT_FALSE(DirectoryExist(file));
    EXPECT_FALSE(DirectoryExist(m_dir.Path() / "missing"));
    EXPECT_FALSE(DirectoryExist(file / "below"));  // a file as folder: not found, not an error
    EXPECT_TRUE(FileExist(file));
    EXPECT_TRUE(FileExist(m_dir.Path() / "filelink"));
    EXPECT_FALSE(FileExist(dir));
    EXPECT_FALSE(FileExist(m_dir.Path() / "missing"));
    EXPECT_FALSE(FileExist(fs::path()));
    // A link loop is a status error that no permission bypasses.
    EXPECT_FALSE(DirectoryExist(m_dir.Path() / "loop1"));
    EXPECT_FALSE(FileExist(m_dir.Path() / "loop2"));

    const auto entries = Entries(log);
    ASSERT_EQ(entries.size(), 2u);
    const std::string loop = SystemText(std::errc::too_many_symbolic_link_levels);
    EXPECT_EQ(entries[0].function, "VTools::Path::DirectoryExist");
    EXPECT_EQ(entries[0].message, "Bład podczas sprawdzania istnienia katalogu: " + loop);
    EXPECT_EQ(entries[1].function, "VTools::Path::FileExist");
    EXPECT_EQ(entries[1].message, "Bład podczas sprawdzania pliku: " + loop);
}

TEST_F(PathFiles, CreateDirectoryIfNotExistReportsCreatedExistingAndBlockedFolders) {
    vlibtest::AcpScope acp(1250);
    const fs::path nested = m_dir.Path() / "a" / "b" / "c";
    Touch(m_dir.Path() / "taken");
    const fs::path blocked = m_dir.Path() / "taken" / "\xC5\x81\xC3\xB3\x64\xC5\xBA";  // "Łódź" in UTF-8

    LogCapture log;
    EXPECT_TRUE(CreateDirectoryIfNotExist(nested));
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_TRUE(CreateDirectoryIfNotExist(nested));  // nothing to create
    EXPECT_FALSE(CreateDirectoryIfNotExist(blocked));

    const auto entries = Entries(log);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].function, "VTools::Path::CreateDirectoryIfNotExist");
    EXPECT_EQ(entries[0].message, "Nie utworzono katalogu: " + (m_dir.Path() / "taken").string() + "/\xA3\xF3\x64\x9F");
    EXPECT_EQ(entries[1].message, "B\xB3\xB9\x64: " + SystemText(std::errc::not_a_directory));
    EXPECT_FALSE(CreateDirectoryIfNotExist(m_dir.Path() / "taken"));  // a file holds the name
}

TEST_F(PathFiles, RemovePathRemovesTreesAndLogsWhatItDid) {
    fs::create_directories(m_dir.Path() / "tree" / "sub");
    Touch(m_dir.Path() / "tree" / "sub" / "f.txt");
    Touch(m_dir.Path() / "single.txt");
    const std::wstring tree = Backslashed(m_dir.Path() / "tree");
    const std::wstring tooLong = Wide(m_dir.Path()) + L"/" + std::wstring(300, L'n');

    LogCapture log;
    EXPECT_TRUE(RemovePath(tree));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "tree"));
    EXPECT_TRUE(RemovePath(Wide(m_dir.Path() / "single.txt")));
    EXPECT_FALSE(RemovePath(Wide(m_dir.Path() / "missing")));
    EXPECT_FALSE(RemovePath(L""));
    EXPECT_FALSE(RemovePath(tooLong));

    const auto entries = Entries(log);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].function, "VTools::Path::RemovePath");
    EXPECT_EQ(entries[0].message, "Usuwanie: " + VTools::String::WideToAnsi(tree));
    EXPECT_EQ(entries[1].message, "Usuwanie: " + (m_dir.Path() / "single.txt").string());
    EXPECT_EQ(entries[2].message, VTools::String::Utf8ToAnsi("Błąd podczas usuwania katalogu: ") +
                                      VTools::String::WideToAnsi(tooLong) +
                                      ", ErrorMsg: " + SystemText(std::errc::filename_too_long));
}

// Runs `check` without root's power to bypass permissions: in a child process
// that drops to uid/gid 65534 when running as root, else here.  The child
// must not inherit an open log (its threads do not survive a fork), so this
// runs while none is open.
bool RunUnprivileged(bool (*check)(const fs::path&), const fs::path& folder) {
    if (geteuid() != 0) return check(folder);
    const pid_t child = fork();
    if (child == 0) {
        bool ok =
            setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0;
        ok = ok && check(folder);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// RemovePath on a tree with a file in a folder that the caller may not write.
bool RemoveLockedTree(const fs::path& folder) {
    const std::wstring tree = Wide(folder / "tree");
    std::vector<LogEntry> entries;
    bool removed = true;
    {
        LogCapture log;  // in a temporary folder of the child's own
        removed = RemovePath(tree);
        entries = Entries(log);
    }
    const std::string expected = VTools::String::Utf8ToAnsi("Błąd podczas usuwania katalogu: ") +
                                 VTools::String::WideToAnsi(tree) +
                                 ", ErrorMsg: " + SystemText(std::errc::permission_denied);
    const bool ok = !removed && entries.size() == 1 && entries[0].function == "VTools::Path::RemovePath" &&
                    entries[0].message == expected && fs::exists(folder / "tree" / "locked" / "kept.txt");
    if (!ok) {
        std::fprintf(stderr, "removed=%d entries=%zu first=%s\n", removed, entries.size(),
                     entries.empty() ? "" : entries[0].message.c_str());
    }
    return ok;
}

TEST_F(PathFiles, RemovePathLogsAFailureAndKeepsWhatItCouldNotRemove) {
    const fs::path tree = m_dir.Path() / "tree";
    fs::create_directories(tree / "locked");
    Touch(tree / "free.txt");
    Touch(tree / "locked" / "kept.txt");
    fs::permissions(m_dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(tree, fs::perms::all);
    fs::permissions(tree / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    EXPECT_TRUE(RunUnprivileged(&RemoveLockedTree, m_dir.Path()));
    fs::permissions(tree / "locked", fs::perms::owner_all);
    EXPECT_TRUE(fs::exists(tree / "locked" / "kept.txt"));
}

TEST_F(PathFiles, MoveReplacesAnExistingFileAndThrowsOnFailure) {
    const fs::path a = m_dir.Path() / "a.txt", b = m_dir.Path() / "b.txt";
    Touch(a, "new");
    Touch(b, "old");
    Move(Backslashed(a), Wide(b));
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(TempDir::Read(b), "new");

    LogCapture log;
    try {
        Move(Wide(a), Wide(m_dir.Path() / "c.txt"));
        ADD_FAILURE() << "moving a missing file did not throw";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(error.what()).find("rename"), std::string::npos);
        EXPECT_EQ(error.path1(), a);
        EXPECT_EQ(error.path2(), m_dir.Path() / "c.txt");
    }
    EXPECT_TRUE(Entries(log).empty());
}

TEST_F(PathFiles, CopyFunctionsCopyOverwriteAndReportFailureByResult) {
    const fs::path src = m_dir.Path() / "src";
    fs::create_directories(src / "sub");
    Touch(src / "a.txt", "A");
    Touch(src / "sub" / "b.txt", "B");
    const fs::path out = m_dir.Path() / "out";
    fs::create_directory(out);
    Touch(out / "a.txt", "stale");

    LogCapture log;
    // One file: over an existing one, into a folder under its own name.
    EXPECT_TRUE(CopyFiles(Backslashed(src / "a.txt"), Wide(out / "a.txt")));
    EXPECT_EQ(TempDir::Read(out / "a.txt"), "A");
    EXPECT_TRUE(CopyFiles(Wide(src / "sub" / "b.txt"), Wide(out)));
    EXPECT_EQ(TempDir::Read(out / "b.txt"), "B");
    EXPECT_FALSE(CopyFiles(Wide(src / "missing.txt"), Wide(out / "x.txt")));
    EXPECT_FALSE(CopyFiles(Wide(src), Wide(out / "dircopy")));  // a folder is no file
    EXPECT_FALSE(CopyFiles(Wide(src / "a.txt"), Wide(m_dir.Path() / "nofolder" / "a.txt")));

    // A tree: the target folder is created (not its parents), files overwritten.
    const fs::path copy = m_dir.Path() / "copy";
    fs::create_directory(copy);
    Touch(copy / "a.txt", "stale");
    EXPECT_TRUE(CopyDirectoryRecursive(Wide(src), Backslashed(copy)));
    EXPECT_EQ(TempDir::Read(copy / "a.txt"), "A");
    EXPECT_EQ(TempDir::Read(copy / "sub" / "b.txt"), "B");
    EXPECT_TRUE(CopyDirectoryRecursive(Wide(src), Wide(m_dir.Path() / "fresh")));
    EXPECT_EQ(TempDir::Read(m_dir.Path() / "fresh" / "sub" / "b.txt"), "B");
    EXPECT_FALSE(CopyDirectoryRecursive(Wide(src), Wide(m_dir.Path() / "no" / "parent")));
    EXPECT_FALSE(CopyDirectoryRecursive(Wide(src / "a.txt"), Wide(m_dir.Path() / "fromfile")));
    EXPECT_FALSE(CopyDirectoryRecursive(Wide(m_dir.Path() / "missing"), Wide(m_dir.Path() / "frommissing")));
    EXPECT_TRUE(Entries(log).empty());
}

TEST_F(PathFiles, ReplaceDestFileCopiesOnlyAStrictlyNewerOrMissingFile) {
    const fs::path src = m_dir.Path() / "src", dst = m_dir.Path() / "dst";
    fs::create_directories(src);
    fs::create_directories(dst);
    const auto base = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const auto set = [&](const fs::path& file, const std::string& bytes, std::chrono::seconds offset) {
        Touch(file, bytes);
        fs::last_write_time(file, base + offset);
    };
    struct Case {
        const char* name;
        int sourceAge, targetAge;  // seconds after `base`; target -1: missing
        bool copied;
    };
    const Case cases[] = {{"newer.txt", 10, 5, true},
                          {"equal.txt", 5, 5, false},
                          {"older.txt", 5, 10, false},
                          {"absent.txt", 5, -1, true}};
    for (const Case& c : cases) {
        set(src / c.name, "source", std::chrono::seconds(c.sourceAge));
        if (c.targetAge >= 0) set(dst / c.name, "target", std::chrono::seconds(c.targetAge));
        // A folder ending with a separator takes no second one.
        ReplaceDestFileIfSourceFileIsNewer(Backslashed(src) + L"\\", Wide(dst), VTools::String::Utf8ToWide(c.name));
        EXPECT_EQ(TempDir::Read(dst / c.name), c.copied ? "source" : "target") << c.name;
    }
    EXPECT_NO_THROW(ReplaceDestFileIfSourceFileIsNewer(Wide(src), Wide(dst), L"nosuch.txt"));
    EXPECT_FALSE(fs::exists(dst / "nosuch.txt"));
    try {
        ReplaceDestFileIfSourceFileIsNewer(Wide(src), Wide(m_dir.Path() / "nodst"), L"newer.txt");
        ADD_FAILURE() << "copying into a missing folder did not throw";
    } catch (const fs::filesystem_error& error) {
        EXPECT_NE(std::string(error.what()).find("copy_file"), std::string::npos);
        EXPECT_EQ(error.path1(), src / "newer.txt");
        EXPECT_EQ(error.path2(), m_dir.Path() / "nodst" / "newer.txt");
    }
}

TEST_F(PathFiles, FindAllFilesInFolderSelectsByExtensionInAnyCase) {
    const fs::path top = m_dir.Path() / "top";
    fs::create_directories(top / "sub" / "deeper");
    fs::create_directories(top / "dir.txt");
    for (const char* name : {"a.txt", "B.TXT", "c.log", "noext", ".txt", "\xC5\x81\xC3\xB3\x64\xC5\xBA.txt"}) {
        Touch(top / name);
    }
    Touch(top / "sub" / "d.txt");
    Touch(top / "sub" / "deeper" / "e.Txt");
    const std::wstring t = Wide(top);
    const std::set<std::wstring> txt = {t + L"/a.txt", t + L"/B.TXT", t + L"/\u0141\u00F3d\u017A.txt"};
    std::set<std::wstring> deepTxt = txt;
    deepTxt.insert({t + L"/sub/d.txt", t + L"/sub/deeper/e.Txt"});
    const std::set<std::wstring> all = {t + L"/a.txt", t + L"/B.TXT", t + L"/c.log",
                                        t + L"/noext", t + L"/.txt",  t + L"/\u0141\u00F3d\u017A.txt"};
    const std::set<std::wstring> none;
    struct Case {
        const wchar_t* mask;
        bool recursive;
        const std::set<std::wstring>* expected;
    };
    const Case cases[] = {{L"*.txt", false, &txt},    {L".txt", false, &txt}, {L"x.TXT", false, &txt},
                          {L"*.txt", true, &deepTxt}, {L"*.*", false, &none}, {L"txt", false, &none},
                          {L"", false, &all}};
    for (const Case& c : cases) {
        std::vector<std::wstring> out = {L"kept"};
        const std::uint64_t count = FindAllFilesInFolder(Backslashed(top), c.mask, c.recursive, out);
        EXPECT_EQ(count, out.size());
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.front(), L"kept");
        EXPECT_EQ(std::set<std::wstring>(out.begin() + 1, out.end()), *c.expected)
            << VTools::String::WideToUtf8(c.mask) << (c.recursive ? " recursive" : "");
    }
    std::vector<std::wstring> out = {L"kept"};
    EXPECT_EQ(FindAllFilesInFolder(Wide(m_dir.Path() / "missing"), L"", true, out), 0u);
    EXPECT_EQ(out.size(), 1u);
}

TEST_F(PathFiles, FindAllSubFoldersListsDirectFoldersOnly) {
    const fs::path top = m_dir.Path() / "top";
    fs::create_directories(top / "one" / "nested");
    fs::create_directories(top / "two");
    Touch(top / "file");
    std::vector<std::wstring> out = {L"kept"};
    EXPECT_EQ(FindAllSubFolders(Wide(top), out), 3u);
    EXPECT_EQ(std::set<std::wstring>(out.begin() + 1, out.end()),
              (std::set<std::wstring>{Wide(top / "one"), Wide(top / "two")}));
    EXPECT_EQ(FindAllSubFolders(Wide(m_dir.Path() / "missing"), out), 3u);
}

TEST_F(PathFiles, ModulePathsNameTheExecutableAndLongLibraryPaths) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(GetModulePath(nullptr), Wide(exe.parent_path()));
    EXPECT_EQ(GetModuleName(nullptr, true), Wide(exe.filename()));
    int local = 0;
    EXPECT_EQ(GetModulePath(reinterpret_cast<HINSTANCE>(&local)), L"");
    EXPECT_EQ(GetModuleName(reinterpret_cast<HINSTANCE>(&local), true), L"");

    // A library whose path is longer than MAX_PATH comes back whole.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&SetLastError), &info), 0);
    fs::path deep = m_dir.Path();
    for (int i = 0; i < 6; ++i) deep /= std::string(50, static_cast<char>('a' + i));
    fs::create_directories(deep);
    fs::copy_file(info.dli_fname, deep / "libcopy.so.1");
    void* library = dlopen((deep / "libcopy.so.1").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    const HMODULE module = GetModuleHandleW(Wide(deep / "libcopy.so.1").c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModulePath(module), Wide(deep));
    EXPECT_EQ(GetModuleName(module, false), L"libcopy.so");
    dlclose(library);
}

// Every function that takes a wide path reaches the file through the
// platform's UTF-8 form of it: Polish letters and characters beyond the BMP
// (a surrogate pair) name the same files in every function, and the
// existence tests report by their result, never by throwing.
TEST_F(PathFiles, EveryFunctionTakesPolishAndNonBmpNames) {
    LogCapture log;
    for (const std::wstring& name :
         {std::wstring(L"za\u017C\u00F3\u0142\u0107"), std::wstring(L"wykres\xD83D\xDCC8")}) {
        const std::wstring root = Wide(m_dir.Path()) + L"/" + name;
        const std::wstring file = root + L"\\" + name + L".txt";
        const std::string label = VTools::String::WideToUtf8(name);
        EXPECT_TRUE(CreateDirectoryIfNotExist(root + L"/sub")) << label;
        EXPECT_TRUE(CreateDirectoryIfNotExist(root.c_str())) << label;  // exists already
        EXPECT_TRUE(DirectoryExist(root)) << label;
        EXPECT_TRUE(DirectoryExist(std::wstring_view(root))) << label;
        EXPECT_FALSE(FileExist(root.c_str())) << label;
        Touch(fs::path(VTools::String::WideToUtf8(root)) / (label + ".txt"), "contents");
        EXPECT_TRUE(FileExist(file)) << label;
        EXPECT_TRUE(FileExist(CString(file.c_str()))) << label;
        EXPECT_FALSE(DirectoryExist(file)) << label;
        EXPECT_FALSE(FileExist(root + L"/missing" + name)) << label;

        std::vector<std::wstring> files, folders;
        EXPECT_EQ(FindAllFilesInFolder(root, L"*.txt", false, files), 1u) << label;
        EXPECT_EQ(files, std::vector<std::wstring>{root + L"/" + name + L".txt"}) << label;
        EXPECT_EQ(FindAllSubFolders(root, folders), 1u) << label;
        EXPECT_EQ(folders, std::vector<std::wstring>{root + L"/sub"}) << label;

        EXPECT_TRUE(CopyFiles(file, root + L"/sub/" + name + L"-copy.txt")) << label;
        EXPECT_TRUE(CopyDirectoryRecursive(root + L"/sub", root + L"/" + name + L"-tree")) << label;
        EXPECT_TRUE(FileExist(root + L"/" + name + L"-tree/" + name + L"-copy.txt")) << label;
        ASSERT_TRUE(CreateDirectoryIfNotExist(root + L"/dest")) << label;
        ReplaceDestFileIfSourceFileIsNewer(root + L"/sub", root + L"/dest", name + L"-copy.txt");
        EXPECT_TRUE(FileExist(root + L"/dest/" + name + L"-copy.txt")) << label;
        Move(file, root + L"/" + name + L"-moved.txt");
        EXPECT_TRUE(FileExist(root + L"/" + name + L"-moved.txt")) << label;
        EXPECT_FALSE(FileExist(file)) << label;
        EXPECT_TRUE(RemovePath(root)) << label;
        EXPECT_FALSE(DirectoryExist(root)) << label;
    }
    // A lone surrogate names no file: false, never an exception.
    const std::wstring lone = Wide(m_dir.Path()) + L"/bad\xD800";
    EXPECT_FALSE(FileExist(lone));
    EXPECT_FALSE(DirectoryExist(lone));
    EXPECT_FALSE(CreateDirectoryIfNotExist(lone));
    EXPECT_FALSE(RemovePath(lone));
    Entries(log);
}

class KnownFolders : public vlibtest::TempDirTest {
protected:
    std::wstring Home() const { return Wide(m_dir.Path()); }
    EnvScope m_home{"HOME", m_dir.Path().c_str()};
    EnvScope m_config{"XDG_CONFIG_HOME", nullptr};
    EnvScope m_data{"XDG_DATA_HOME", nullptr};
};

TEST_F(KnownFolders, DocumentPathIsTheDefaultDocumentsFolderWithSubFoldersCreated) {
    // The user's own choice of Documents folder is not taken.
    fs::create_directories(m_dir.Path() / ".config");
    Touch(m_dir.Path() / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumenty\"\n");
    EXPECT_EQ(GetCurrentUserDocumentPath(L"", L""), Home() + L"/Documents/");
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / "Documents"));
    EXPECT_EQ(GetCurrentUserDocumentPath(L"App", L"Logs"), Home() + L"/Documents/App/Logs");
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / "Documents" / "App" / "Logs"));
    EXPECT_EQ(GetCurrentUserDocumentPath(L"", L"Only"), Home() + L"/Documents/Only");
    EXPECT_EQ(GetKnownFolderPath(FOLDERID_RoamingAppData, L"App", L""), Home() + L"/.config/App");
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / ".config" / "App"));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "Dokumenty"));
}

TEST_F(KnownFolders, FailuresThrowInsteadOfCreatingRelativeFolders) {
    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    const fs::path cwd = fs::current_path();
    fs::current_path(m_dir.Path());
    EXPECT_THROW(GetKnownFolderPath(unknown, L"Relative", L""), fs::filesystem_error);
    fs::current_path(cwd);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "Relative"));

    Touch(m_dir.Path() / "Documents");  // a file where the folder should be
    EXPECT_THROW(GetCurrentUserDocumentPath(L"App", L""), fs::filesystem_error);
    fs::remove(m_dir.Path() / "Documents");
    fs::create_directory(m_dir.Path() / "Documents");
    Touch(m_dir.Path() / "Documents" / "App");
    try {
        GetCurrentUserDocumentPath(L"App", L"Logs");
        ADD_FAILURE() << "a file in the way did not throw";
    } catch (const fs::filesystem_error& error) {
        EXPECT_NE(std::string(error.what()).find("create_directories"), std::string::npos);
    }
}

TEST_F(KnownFolders, SubFoldersWithPolishAndNonBmpNamesAreCreated) {
    const std::wstring polish = L"Notowania \u0141\u00F3d\u017A", other = L"\xD83D\xDCC8";
    EXPECT_EQ(GetCurrentUserDocumentPath(polish, other), Home() + L"/Documents/" + polish + L"/" + other);
    EXPECT_TRUE(DirectoryExist(Home() + L"/Documents/" + polish + L"/" + other));
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / "Documents" / VTools::String::WideToUtf8(polish) /
                                 VTools::String::WideToUtf8(other)));
}

}  // namespace

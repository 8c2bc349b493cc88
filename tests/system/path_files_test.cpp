// The file operations of VTools::Path on real files in temporary folders:
// which failures return false, which are logged, which throw.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

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
using vlibtest::EntriesOf;
using vlibtest::EnvScope;
using vlibtest::TempDir;
using vlibtest::Wide;

// The same path in Windows form, with '\\' separators.
std::wstring Backslashed(const fs::path& path) {
    std::wstring wide = Wide(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
}

std::string SystemText(std::errc error) {
    return VTools::String::Utf8ToAnsi(std::make_error_code(error).message());
}

std::string RemoveFailure(const std::wstring& path, std::errc error) {
    return VTools::String::Utf8ToAnsi("Błąd podczas usuwania katalogu: ") + VTools::String::WideToAnsi(path) +
           ", ErrorMsg: " + SystemText(error);
}

void Touch(const fs::path& file, const std::string& bytes = "x") {
    std::ofstream(file, std::ios::binary) << bytes;
}

using PathFiles = vlibtest::TempDirTest;

// Links are followed; a file as a folder is "not found", not an error; only
// real status errors (a link loop) are logged.
TEST_F(PathFiles, ExistenceTestsFollowLinksAndLogOnlyRealStatusErrors) {
    const fs::path dir = m_dir.Path() / "dir", file = m_dir.Path() / "file.txt";
    fs::create_directory(dir);
    Touch(file);
    fs::create_directory_symlink(dir, m_dir.Path() / "dirlink");
    fs::create_symlink(file, m_dir.Path() / "filelink");
    fs::create_symlink("loop2", m_dir.Path() / "loop1");
    fs::create_symlink("loop1", m_dir.Path() / "loop2");
    const auto entries = EntriesOf([&] {
        EXPECT_TRUE(DirectoryExist(dir) && DirectoryExist(m_dir.Path() / "dirlink"));
        EXPECT_TRUE(DirectoryExist(m_dir.Path().string() + "\\dir"));  // '\\' separates here too
        EXPECT_FALSE(DirectoryExist(file) || DirectoryExist(m_dir.Path() / "missing") || DirectoryExist(file / "x"));
        EXPECT_TRUE(FileExist(file) && FileExist(m_dir.Path() / "filelink"));
        EXPECT_FALSE(FileExist(dir) || FileExist(m_dir.Path() / "missing") || FileExist(fs::path()));
        EXPECT_FALSE(DirectoryExist(m_dir.Path() / "loop1"));
        EXPECT_FALSE(FileExist(m_dir.Path() / "loop2"));
    });
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
    const auto entries = EntriesOf([&] {
        EXPECT_TRUE(CreateDirectoryIfNotExist(nested));
        EXPECT_TRUE(CreateDirectoryIfNotExist(nested));  // nothing to create
        EXPECT_FALSE(CreateDirectoryIfNotExist(m_dir.Path() / "taken" / "\xC5\x81\xC3\xB3\x64\xC5\xBA"));
    });
    EXPECT_TRUE(fs::is_directory(nested));
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
    const auto entries = EntriesOf([&] {
        EXPECT_TRUE(RemovePath(tree));
        EXPECT_TRUE(RemovePath(Wide(m_dir.Path() / "single.txt")));
        EXPECT_FALSE(RemovePath(Wide(m_dir.Path() / "missing")) || RemovePath(L""));
        EXPECT_FALSE(RemovePath(tooLong));
    });
    EXPECT_FALSE(fs::exists(m_dir.Path() / "tree"));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].function, "VTools::Path::RemovePath");
    EXPECT_EQ(entries[0].message, "Usuwanie: " + VTools::String::WideToAnsi(tree));
    EXPECT_EQ(entries[1].message, "Usuwanie: " + (m_dir.Path() / "single.txt").string());
    EXPECT_EQ(entries[2].message, RemoveFailure(tooLong, std::errc::filename_too_long));
}

// RemovePath of a tree with a file in a folder that the caller may not write,
// without root's power to bypass permissions: in a child that drops to
// uid/gid 65534 when running as root.  The child must not inherit an open
// log (its threads do not survive a fork), so none is open at the fork.
TEST_F(PathFiles, RemovePathLogsAFailureAndKeepsWhatItCouldNotRemove) {
    const fs::path tree = m_dir.Path() / "tree";
    fs::create_directories(tree / "locked");
    Touch(tree / "free.txt");
    Touch(tree / "locked" / "kept.txt");
    fs::permissions(m_dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(tree, fs::perms::all);
    fs::permissions(tree / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const auto check = [&] {
        bool removed = true;
        const auto entries = EntriesOf([&] { removed = RemovePath(Wide(tree)); });
        return !removed && entries.size() == 1 && entries[0].function == "VTools::Path::RemovePath" &&
               entries[0].message == RemoveFailure(Wide(tree), std::errc::permission_denied) &&
               fs::exists(tree / "locked" / "kept.txt");
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(check());
    } else {
        const pid_t child = fork();
        if (child == 0) {
            const bool dropped = setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
                                 setresuid(65534, 65534, 65534) == 0;
            _exit(dropped && check() ? 0 : 1);
        }
        int status = 0;
        EXPECT_TRUE(child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
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
    EXPECT_TRUE(EntriesOf([&] {
                    try {
                        Move(Wide(a), Wide(m_dir.Path() / "c.txt"));
                        ADD_FAILURE() << "moving a missing file did not throw";
                    } catch (const fs::filesystem_error& error) {
                        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
                        EXPECT_EQ(error.path1(), a);
                    }
                }).empty());
}

// One file: over an existing one, into a folder under its own name.  A tree:
// the target folder is created (not its parents), files overwritten.
// Failures are reported by the result alone.
TEST_F(PathFiles, CopyFunctionsCopyOverwriteAndReportFailureByResult) {
    const fs::path src = m_dir.Path() / "src", out = m_dir.Path() / "out", copy = m_dir.Path() / "copy";
    fs::create_directories(src / "sub");
    fs::create_directory(out);
    fs::create_directory(copy);
    Touch(src / "a.txt", "A");
    Touch(src / "sub" / "b.txt", "B");
    Touch(out / "a.txt", "stale");
    Touch(copy / "a.txt", "stale");
    EXPECT_TRUE(EntriesOf([&] {
                    EXPECT_TRUE(CopyFiles(Backslashed(src / "a.txt"), Wide(out / "a.txt")));
                    EXPECT_TRUE(CopyFiles(Wide(src / "sub" / "b.txt"), Wide(out)));
                    EXPECT_FALSE(CopyFiles(Wide(src / "missing.txt"), Wide(out / "x.txt")));
                    EXPECT_FALSE(CopyFiles(Wide(src), Wide(out / "dircopy")));  // a folder is no file
                    EXPECT_FALSE(CopyFiles(Wide(src / "a.txt"), Wide(m_dir.Path() / "nofolder" / "a.txt")));
                    EXPECT_TRUE(CopyDirectoryRecursive(Wide(src), Backslashed(copy)));
                    EXPECT_TRUE(CopyDirectoryRecursive(Wide(src), Wide(m_dir.Path() / "fresh")));
                    EXPECT_FALSE(CopyDirectoryRecursive(Wide(src), Wide(m_dir.Path() / "no" / "parent")));
                    EXPECT_FALSE(CopyDirectoryRecursive(Wide(src / "a.txt"), Wide(m_dir.Path() / "fromfile")));
                    EXPECT_FALSE(CopyDirectoryRecursive(Wide(m_dir.Path() / "none"), Wide(m_dir.Path() / "x")));
                }).empty());
    EXPECT_EQ(TempDir::Read(out / "a.txt") + TempDir::Read(out / "b.txt"), "AB");
    EXPECT_EQ(TempDir::Read(copy / "a.txt") + TempDir::Read(copy / "sub" / "b.txt"), "AB");
    EXPECT_EQ(TempDir::Read(m_dir.Path() / "fresh" / "sub" / "b.txt"), "B");
}

TEST_F(PathFiles, ReplaceDestFileCopiesOnlyAStrictlyNewerOrMissingFile) {
    const fs::path src = m_dir.Path() / "src", dst = m_dir.Path() / "dst";
    fs::create_directories(src);
    fs::create_directories(dst);
    const auto base = fs::file_time_type::clock::now() - std::chrono::hours(1);
    const struct {
        const char* name;
        int sourceAge, targetAge;  // seconds after `base`; target -1: missing
        bool copied;
    } cases[] = {{"newer.txt", 10, 5, true},
                 {"equal.txt", 5, 5, false},
                 {"older.txt", 5, 10, false},
                 {"absent.txt", 5, -1, true}};
    for (const auto& c : cases) {
        Touch(src / c.name, "source");
        fs::last_write_time(src / c.name, base + std::chrono::seconds(c.sourceAge));
        if (c.targetAge >= 0) {
            Touch(dst / c.name, "target");
            fs::last_write_time(dst / c.name, base + std::chrono::seconds(c.targetAge));
        }
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

TEST_F(PathFiles, ListingsSelectByExtensionInAnyCaseAndListDirectFolders) {
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
    std::set<std::wstring> deepTxt = txt, all = txt;
    deepTxt.insert({t + L"/sub/d.txt", t + L"/sub/deeper/e.Txt"});
    all.insert({t + L"/c.log", t + L"/noext", t + L"/.txt"});
    const std::set<std::wstring> none;
    const struct {
        const wchar_t* mask;
        bool recursive;
        const std::set<std::wstring>* expected;
    } cases[] = {{L"*.txt", false, &txt}, {L".txt", false, &txt}, {L"x.TXT", false, &txt}, {L"*.txt", true, &deepTxt},
                 {L"*.*", false, &none},  {L"txt", false, &none}, {L"", false, &all}};
    for (const auto& c : cases) {
        std::vector<std::wstring> out = {L"kept"};
        const std::uint64_t count = FindAllFilesInFolder(Backslashed(top), c.mask, c.recursive, out);
        EXPECT_EQ(count, out.size());
        ASSERT_EQ(out.front(), L"kept");
        EXPECT_EQ(std::set<std::wstring>(out.begin() + 1, out.end()), *c.expected)
            << VTools::String::WideToUtf8(c.mask) << (c.recursive ? " recursive" : "");
    }
    std::vector<std::wstring> out = {L"kept"};
    EXPECT_EQ(FindAllFilesInFolder(Wide(m_dir.Path() / "missing"), L"", true, out), 0u);
    EXPECT_EQ(FindAllSubFolders(Wide(top), out), 3u);  // direct folders only, appended
    EXPECT_EQ(std::set<std::wstring>(out.begin() + 1, out.end()),
              (std::set<std::wstring>{t + L"/sub", t + L"/dir.txt"}));
    EXPECT_EQ(FindAllSubFolders(Wide(m_dir.Path() / "missing"), out), 3u);
}

TEST_F(PathFiles, ModulePathsNameTheExecutableAndLongLibraryPaths) {
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(GetModulePath(nullptr), Wide(exe.parent_path()));
    EXPECT_EQ(GetModuleName(nullptr, true), Wide(exe.filename()));
    int local = 0;
    EXPECT_EQ(
        GetModulePath(reinterpret_cast<HINSTANCE>(&local)) + GetModuleName(reinterpret_cast<HINSTANCE>(&local), true),
        L"");
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
// name the same files everywhere; a lone surrogate names no file and gives
// false, never an exception.
TEST_F(PathFiles, EveryFunctionTakesPolishAndNonBmpNames) {
    EntriesOf([&] {
        for (const std::wstring& name :
             {std::wstring(L"za\u017C\u00F3\u0142\u0107"), std::wstring(L"wykres\xD83D\xDCC8")}) {
            const std::wstring root = Wide(m_dir.Path()) + L"/" + name;
            const std::wstring file = root + L"\\" + name + L".txt";
            const std::string label = VTools::String::WideToUtf8(name);
            EXPECT_TRUE(CreateDirectoryIfNotExist(root + L"/sub") && CreateDirectoryIfNotExist(root.c_str())) << label;
            EXPECT_TRUE(DirectoryExist(root) && DirectoryExist(std::wstring_view(root))) << label;
            Touch(fs::path(VTools::String::WideToUtf8(root)) / (label + ".txt"), "contents");
            EXPECT_TRUE(FileExist(file) && FileExist(CString(file.c_str()))) << label;
            EXPECT_FALSE(FileExist(root.c_str()) || DirectoryExist(file) || FileExist(root + L"/no" + name)) << label;
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
            EXPECT_TRUE(FileExist(root + L"/" + name + L"-moved.txt") && !FileExist(file)) << label;
            EXPECT_TRUE(RemovePath(root) && !DirectoryExist(root)) << label;
        }
        const std::wstring lone = Wide(m_dir.Path()) + L"/bad\xD800";
        EXPECT_FALSE(FileExist(lone) || DirectoryExist(lone) || CreateDirectoryIfNotExist(lone) || RemovePath(lone));
    });
}

class KnownFolders : public vlibtest::TempDirTest {
protected:
    std::wstring Home() const { return Wide(m_dir.Path()); }
    EnvScope m_home{"HOME", m_dir.Path().c_str()};
    EnvScope m_config{"XDG_CONFIG_HOME", nullptr};
    EnvScope m_data{"XDG_DATA_HOME", nullptr};
};

// The user's own choice of Documents folder is not taken; sub-folders, Polish
// and beyond the BMP, are created.
TEST_F(KnownFolders, SubFoldersWithPolishAndNonBmpNamesAreCreated) {
    fs::create_directories(m_dir.Path() / ".config");
    Touch(m_dir.Path() / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumenty\"\n");
    EXPECT_EQ(GetCurrentUserDocumentPath(L"", L""), Home() + L"/Documents/");
    EXPECT_EQ(GetCurrentUserDocumentPath(L"App", L"Logs"), Home() + L"/Documents/App/Logs");
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / "Documents" / "App" / "Logs"));
    EXPECT_EQ(GetCurrentUserDocumentPath(L"", L"Only"), Home() + L"/Documents/Only");
    EXPECT_EQ(GetKnownFolderPath(FOLDERID_RoamingAppData, L"App", L""), Home() + L"/.config/App");
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / ".config" / "App"));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "Dokumenty"));
    const std::wstring polish = L"Notowania \u0141\u00F3d\u017A", other = L"\xD83D\xDCC8";
    EXPECT_EQ(GetCurrentUserDocumentPath(polish, other), Home() + L"/Documents/" + polish + L"/" + other);
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / "Documents" / VTools::String::WideToUtf8(polish) /
                                 VTools::String::WideToUtf8(other)));
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

}  // namespace

// The replace-by-rename writer: saves of one file that overlap, short
// temporary names, and the Windows errors of refused replacements (the
// properties of the file that comes back are checked through the settings
// and JSON saves, tests/support/SaveChecks.h).
#include "platform/kernel/ReplacingFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/LastError.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

namespace fs = std::filesystem;
using vplatform::ReplacingFileWriter;

using vlibtest::Names;
using vlibtest::Wide;

// A process of another user (uid and gid 4243) that runs `plant` and then
// stays until the end of the scope, keeping its descriptors (and the locks on
// them) open.
class OtherUser {
public:
    static constexpr uid_t kId = 4243;
    explicit OtherUser(const std::function<bool()>& plant) {
        int ready[2];
        if (pipe(ready) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            const char ok = setgid(kId) == 0 && setuid(kId) == 0 && plant() ? '1' : '0';
            if (write(ready[1], &ok, 1) != 1) _exit(1);
            for (;;) pause();
        }
        close(ready[1]);
        char ok = '0';
        m_planted = m_pid > 0 && read(ready[0], &ok, 1) == 1 && ok == '1';
        close(ready[0]);
    }
    ~OtherUser() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;
    bool Planted() const { return m_planted; }

private:
    pid_t m_pid = -1;
    bool m_planted = false;
};

// A sticky folder everyone may write, as /tmp, in a folder others may enter.
fs::path SharedFolder(const vlibtest::TempDir& dir) {
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    const fs::path shared = dir.Path() / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
    return shared;
}

// In a sticky folder everyone may write, a save follows only the links of
// its own user or of the folder's owner, as the kernel does: another user's
// link to the user's file fails with ERROR_ACCESS_DENIED and leaves the file.
TEST(ReplacingFile, AnotherUsersLinkInAStickyFolderIsNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a second user";
    vlibtest::TempDir dir;
    const fs::path shared = SharedFolder(dir);
    const fs::path victim = dir.Write("victim.json", "secret");
    const OtherUser other([&] { return symlink(victim.c_str(), (shared / "x.json").c_str()) == 0; });
    ASSERT_TRUE(other.Planted());
    EXPECT_TRUE(vlibtest::FailsWith(
        ERROR_ACCESS_DENIED, [&] { return vplatform::ReplaceFileContent(Wide(shared / "x.json"), "new") == 0; }));
    EXPECT_EQ(vlibtest::TempDir::Read(victim), "secret");
    EXPECT_TRUE(fs::is_symlink(shared / "x.json"));
    fs::create_symlink(victim, shared / "own.json");
    EXPECT_EQ(vplatform::ReplaceFileContent(Wide(shared / "own.json"), "mine"), ERROR_SUCCESS);
    EXPECT_EQ(vlibtest::TempDir::Read(victim), "mine");
}

// Temporary names cannot be computed beforehand: another user who occupies
// (and locks) the names a save could once be predicted to use does not stop
// it.
TEST(ReplacingFile, AnotherUsersFilesInAStickyFolderDoNotStopASave) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a second user";
    vlibtest::TempDir dir;
    const fs::path shared = SharedFolder(dir);
    const fs::path file = dir.Write("shared/x.json", "old");
    const OtherUser other([&] {
        std::uint32_t hash = 2166136261u;  // the hash of the name
        for (const char c : std::string("x.json")) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        for (int slot = 0; slot < 16; ++slot) {
            char name[32];
            std::snprintf(name, sizeof name, ".%08x~%x.tmp", hash, static_cast<unsigned>(slot));
            const int fd = open((shared / name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            if (fd < 0 || fcntl(fd, F_OFD_SETLK, &lock) != 0) return false;
        }
        return true;
    });
    ASSERT_TRUE(other.Planted());
    EXPECT_EQ(vplatform::ReplaceFileContent(Wide(file), "new"), ERROR_SUCCESS);
    EXPECT_EQ(vlibtest::TempDir::Read(file), "new");
}

TEST(ReplacingFile, OverlappingSavesOfOneFileEachReplaceItWhole) {
    vlibtest::TempDir dir;
    const fs::path file = dir.Write(std::string(200, 'f') + ".json", "old");
    ReplacingFileWriter first;
    ASSERT_EQ(first.Open(Wide(file)), ERROR_SUCCESS);
    ASSERT_EQ(first.Write("first"), ERROR_SUCCESS);
    // The first save's temporary file is in use: the second leaves it alone.
    const std::vector<std::string> during = Names(dir.Path());
    ASSERT_EQ(during.size(), 2u);
    EXPECT_LE(std::min(during[0].size(), during[1].size()), 32u);  // short, whatever the name's length
    EXPECT_EQ(vplatform::ReplaceFileContent(Wide(file), "second"), ERROR_SUCCESS);
    EXPECT_EQ(vlibtest::TempDir::Read(file), "second");
    EXPECT_EQ(Names(dir.Path()).size(), 2u);
    EXPECT_EQ(first.Commit(), ERROR_SUCCESS);
    EXPECT_EQ(vlibtest::TempDir::Read(file), "first");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{file.filename().string()});
}

TEST(ReplacingFile, RefusedReplacementsGiveWindowsErrorsAndChangeNothing) {
    vlibtest::TempDir dir;
    const fs::path readOnly = dir.Write("readonly.txt", "old");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(dir.Path() / "folder");
    fs::create_symlink("loop2", dir.Path() / "loop1");
    fs::create_symlink("loop1", dir.Path() / "loop2");
    const std::vector<std::string> before = Names(dir.Path());
    struct Case {
        std::wstring path;
        DWORD error;
    };
    const Case cases[] = {{Wide(readOnly), ERROR_ACCESS_DENIED},
                          {Wide(dir.Path() / "folder"), ERROR_ACCESS_DENIED},
                          {Wide(dir.Path() / "missing" / "file.txt"), ERROR_PATH_NOT_FOUND},
                          {Wide(dir.Path()) + L"/bad\xD800.txt", ERROR_INVALID_NAME},
                          {Wide(dir.Path() / "loop1"), ERROR_CANT_RESOLVE_FILENAME},
                          {L"", ERROR_PATH_NOT_FOUND}};
    for (const Case& c : cases) {
        EXPECT_TRUE(vlibtest::FailsWith(c.error, [&] { return vplatform::ReplaceFileContent(c.path, "new") == 0; }))
            << VTools::String::WideToUtf8(c.path);
    }
    EXPECT_EQ(vlibtest::TempDir::Read(readOnly), "old");
    EXPECT_EQ(Names(dir.Path()), before);
    ReplacingFileWriter unopened;
    EXPECT_EQ(unopened.Write("x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(unopened.Commit(), ERROR_INVALID_HANDLE);  // the first failure sticks
}

}  // namespace

#include "tests/support/SaveChecks.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/internal/Syscalls.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "text/StringConversion.h"

namespace vlibtest {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOld = "old contents";

struct stat Info(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(lstat(file.c_str(), &info), 0) << file;
    return info;
}

// Saving into this folder: creating new names there fails with EACCES, as in
// a folder the user may not write (which root, running the tests, could).
std::string g_lockedFolder;

int OpenRefusingNewNames(const char* path, int flags, mode_t mode) {
    if ((flags & O_CREAT) != 0 && std::string_view(path).starts_with(g_lockedFolder) && !fs::exists(fs::path(path))) {
        errno = EACCES;
        return -1;
    }
    return vplatform::test::RealSyscalls().open(path, flags, mode);
}

int HangingFsync(int) {
    for (;;) pause();
}

}  // namespace

void ExpectSavesKeepTheFile(const Save& save, const std::string& what) {
    TempDir dir;
    const bool root = geteuid() == 0;

    {
        SCOPED_TRACE(what + ": a private file");
        const fs::path file = dir.Write("private.dat", kOld);
        ASSERT_EQ(chmod(file.c_str(), 0600), 0);
        if (root) {
            ASSERT_EQ(chown(file.c_str(), 12345, 23456), 0);
        }
        EXPECT_TRUE(save(Wide(file)));
        const struct stat info = Info(file);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        if (root) {
            EXPECT_EQ(info.st_uid, 12345u);
            EXPECT_EQ(info.st_gid, 23456u);
        }
        EXPECT_NE(TempDir::Read(file), kOld);
    }
    {
        SCOPED_TRACE(what + ": a read-only file");
        const fs::path folder = dir.Path() / "readonly";
        fs::create_directory(folder);
        const fs::path file = dir.Write("readonly/file.dat", kOld);
        ASSERT_EQ(chmod(file.c_str(), 0444), 0);
        EXPECT_FALSE(save(Wide(file)));
        EXPECT_EQ(TempDir::Read(file), kOld);
        EXPECT_EQ(Info(file).st_mode & 07777, 0444u);
        EXPECT_EQ(Names(folder), std::vector<std::string>{"file.dat"});
    }
    {
        SCOPED_TRACE(what + ": a symbolic link");
        fs::create_directory(dir.Path() / "real");
        fs::create_directory(dir.Path() / "links");
        const fs::path target = dir.Write("real/file.dat", kOld);
        const fs::path link = dir.Path() / "links" / "file.dat";
        fs::create_symlink("../real/file.dat", link);
        EXPECT_TRUE(save(Wide(link)));
        std::error_code error;
        EXPECT_EQ(fs::read_symlink(link, error), "../real/file.dat");
        EXPECT_NE(TempDir::Read(target), kOld);
        EXPECT_EQ(Names(dir.Path() / "real"), std::vector<std::string>{"file.dat"});
        EXPECT_EQ(Names(dir.Path() / "links"), std::vector<std::string>{"file.dat"});
    }
    {
        SCOPED_TRACE(what + ": a folder that refuses new names");
        const fs::path folder = dir.Path() / "locked";
        fs::create_directory(folder);
        const fs::path file = dir.Write("locked/file.dat", kOld);
        const ino_t inode = Info(file).st_ino;
        g_lockedFolder = folder.string() + "/";
        {
            const SeamScope seam([](auto& s) { s.open = OpenRefusingNewNames; });
            EXPECT_TRUE(save(Wide(file)));
        }
        EXPECT_NE(TempDir::Read(file), kOld);
        EXPECT_EQ(Info(file).st_ino, inode);  // written in place
        EXPECT_EQ(Names(folder), std::vector<std::string>{"file.dat"});
    }
    {
        SCOPED_TRACE(what + ": a name of 250 bytes");
        const fs::path folder = dir.Path() / "long";
        fs::create_directory(folder);
        const std::string name = std::string(246, 'n') + ".dat";
        dir.Write("long/" + name, kOld);
        EXPECT_TRUE(save(Wide(folder / name)));
        EXPECT_NE(TempDir::Read(folder / name), kOld);
        EXPECT_EQ(Names(folder), std::vector<std::string>{name});
    }
    {
        SCOPED_TRACE(what + ": the leftover of a killed save");
        const fs::path folder = dir.Path() / "killed";
        fs::create_directory(folder);
        const fs::path file = dir.Write("killed/file.dat", kOld);
        // A child process saves and hangs in the flush before the rename; it
        // is killed there, leaving its temporary file.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            vplatform::Syscalls table = vplatform::test::RealSyscalls();
            table.fsync = HangingFsync;
            vplatform::test::SetSyscallsForTesting(table);
            save(Wide(file));
            _exit(1);
        }
        EXPECT_TRUE(WaitFor([&] { return Names(folder).size() == 2; }));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(TempDir::Read(file), kOld);
        EXPECT_TRUE(save(Wide(file)));
        EXPECT_NE(TempDir::Read(file), kOld);
        EXPECT_EQ(Names(folder), std::vector<std::string>{"file.dat"});
    }
}

}  // namespace vlibtest

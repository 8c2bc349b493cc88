// Named mutexes: one object per name in the process, existence shared with
// other processes through lock files that the kernel releases when a holder
// ends, names mapped to file names one to one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/kernel/Sync.h"
#include "tests/platform/kernel/HandleTestSupport.h"
#include "tests/support/Child.h"
#include "tests/support/EnvScope.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

namespace fs = std::filesystem;
using vlibtest::FailsWith;

// A name no other test or run uses.
std::wstring UniqueName(const char* what) {
    static std::atomic<int> counter{0};
    return VTools::String::Utf8ToWide(std::string("vlib-test-") + what + "-" + std::to_string(getpid()) + "-" +
                                      std::to_string(counter++));
}

class NamedMutex : public vlibtest::HandleCountTest {
protected:
    // Every lock file in a folder of the test's own.
    vlibtest::TempDir m_runtime;
    vlibtest::EnvScope m_env{"XDG_RUNTIME_DIR", m_runtime.Path().c_str()};

    // CreateMutexW and its last error.
    static HANDLE Create(const std::wstring& name, DWORD& error, BOOL owner = FALSE) {
        SetLastError(0xdeadbeef);
        const HANDLE mutex = CreateMutexW(nullptr, owner, name.c_str());
        error = GetLastError();
        return mutex;
    }

    static std::unique_ptr<vlibtest::Child> Holder(const std::wstring& name, const char* command = "mutex") {
        auto child = vlibtest::Child::Start({VLIB_DESKTOP_HELPER, command, VTools::String::WideToUtf8(name)});
        EXPECT_TRUE(child);
        return child;
    }
};

TEST_F(NamedMutex, TheFirstCreationCreatesAndLaterOnesOpenTheSameMutex) {
    const std::wstring name = UniqueName("same");
    DWORD error = 0;
    const HANDLE first = Create(name, error, TRUE);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, ERROR_SUCCESS);
    const HANDLE second = Create(name, error, TRUE);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
    // One mutex: owned through the first handle, so another thread waits in vain on the second.
    std::thread other([&] { EXPECT_EQ(WaitForSingleObject(second, 20), WAIT_TIMEOUT); });
    other.join();
    EXPECT_TRUE(ReleaseMutex(second));  // one mutex: released through either handle
    EXPECT_TRUE(FailsWith(ERROR_NOT_OWNER, [&] { return ReleaseMutex(first); }));
    // "Local\" names the same object; the name lives while any handle does.
    const HANDLE local = Create(L"Local\\" + name, error);
    EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
    CloseHandle(first);
    CloseHandle(second);
    CloseHandle(local);
    const HANDLE again = Create(name, error);
    EXPECT_EQ(error, ERROR_SUCCESS);
    CloseHandle(again);
}

// Names that a careless mapping would confuse (separators, escapes, dots,
// case, long names cut into folders) get lock files of their own, in a folder
// closed to others; names no object can have fail.
TEST_F(NamedMutex, NamesMapToDistinctLockFilesOrFail) {
    const std::wstring base = UniqueName("map");
    const std::wstring names[] = {base + L"/a",
                                  base + L"%002Fa",
                                  base + L"_a",
                                  base + L".",
                                  base + L"..",
                                  base + L"A",
                                  base + L"a",
                                  base + std::wstring(230, L'x'),
                                  base + std::wstring(230, L'x') + L"y",
                                  base + L"zażółć"};
    std::vector<HANDLE> handles;
    for (const auto& name : names) {
        DWORD error = 0;
        handles.push_back(Create(name, error));
        ASSERT_NE(handles.back(), nullptr) << error;
        EXPECT_EQ(error, ERROR_SUCCESS) << VTools::String::WideToUtf8(name);
    }
    for (const HANDLE handle : handles) CloseHandle(handle);
    struct stat info {};
    ASSERT_EQ(stat((m_runtime.Path() / "vlibincludes-objects").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    for (const auto& [name, expected] : {std::pair{std::wstring(L"a\\b"), ERROR_PATH_NOT_FOUND},
                                         std::pair{std::wstring(261, L'n'), ERROR_FILENAME_EXCED_RANGE}}) {
        DWORD error = 0;
        EXPECT_EQ(Create(name, error), nullptr);
        EXPECT_EQ(error, expected);
    }
}

// Other processes see the name while one holds it; a killed holder releases
// it, although a child it started (with its descriptors) lives on.
TEST_F(NamedMutex, ExistenceIsSharedWithOtherProcessesAndEndsWithTheHolder) {
    const std::wstring name = UniqueName("across");
    auto holder = Holder(name, "mutex-child");
    ASSERT_EQ(holder->ReadLine(), "created");
    const auto child = holder->ReadLine();
    ASSERT_TRUE(child && child->starts_with("child "));
    const pid_t childPid = std::stoi(child->substr(6));
    DWORD error = 0;
    HANDLE mutex = Create(name, error);
    EXPECT_EQ(error, ERROR_ALREADY_EXISTS);
    CloseHandle(mutex);
    auto second = Holder(name);
    EXPECT_EQ(second->ReadLine(), "existed");
    second->CloseInput();
    EXPECT_EQ(second->Wait(), 0);
    holder->Signal(SIGKILL);
    EXPECT_TRUE(holder->Wait());
    EXPECT_EQ(kill(childPid, 0), 0);
    mutex = Create(name, error);
    EXPECT_EQ(error, ERROR_SUCCESS);
    CloseHandle(mutex);
    kill(childPid, SIGKILL);
}

TEST_F(NamedMutex, WithoutARuntimeFolderAPrivateFolderServes) {
    const vlibtest::EnvScope none("XDG_RUNTIME_DIR", nullptr);
    const std::wstring name = UniqueName("private");
    DWORD error = 0;
    const HANDLE mutex = Create(name, error);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(error, ERROR_SUCCESS);
    struct stat info {};
    const std::string folder = "/tmp/vlibincludes-objects-" + std::to_string(getuid());
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, getuid());
    CloseHandle(mutex);
    // The name is the test's own: its file may go.
    fs::remove(folder + "/" + VTools::String::WideToUtf8(name) + ".lock");
}

TEST_F(NamedMutex, RaceCreateAndCloseTheSameNamesFromManyThreads) {
    const std::wstring names[] = {UniqueName("race"), UniqueName("race")};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                DWORD error = 0;
                const HANDLE mutex = Create(names[(t + i) % 2], error);
                ASSERT_NE(mutex, nullptr);
                EXPECT_TRUE(error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS);
                if (WaitForSingleObject(mutex, 1000) == WAIT_OBJECT_0) ReleaseMutex(mutex);
                CloseHandle(mutex);
            }
        });
    }
    for (auto& thread : threads) thread.join();
}

// Another user who makes /tmp/vlibincludes-objects-<uid> first takes
// nothing from the user: the user's processes meet in a private folder made
// with mkdtemp, which they find recorded in their cache folder; without a
// cache folder of its own a named mutex fails rather than seem alone.
TEST(NamedObjectsOfAnotherUser, AFolderAnotherUserMadeFirstNeitherStopsNorSplitsNamedMutexes) {
    if (geteuid() != 0) GTEST_SKIP() << "acting as other users needs root";
    const uid_t user = vlibtest::UnusedUid(0), other = vlibtest::UnusedUid(1);
    vlibtest::TempDir dir;
    chmod(dir.Path().c_str(), 0755);
    const fs::path home = dir.Path() / "home";
    fs::create_directory(home);
    ASSERT_EQ(chown(home.c_str(), user, user), 0);
    const std::string taken = "/tmp/vlibincludes-objects-" + std::to_string(user);
    fs::remove_all(taken);
    ASSERT_EQ(vlibtest::RunAsUser(other, [&] { return mkdir(taken.c_str(), 0777) == 0 ? 0 : 1; }), 0);
    const vlibtest::EnvScope noRuntime("XDG_RUNTIME_DIR", nullptr), noCache("XDG_CACHE_HOME", nullptr);
    const std::string name = "vlib-test-taken-" + std::to_string(getpid());
    auto start = [&](const fs::path& homeFolder) {
        auto argv = vlibtest::AsUser(user);
        argv.insert(argv.end(), {VLIB_DESKTOP_HELPER, "mutex", name});
        auto child = vlibtest::Child::Start(argv, {"HOME=" + homeFolder.string()});
        EXPECT_TRUE(child);
        return child;
    };
    const auto first = start(home);
    EXPECT_EQ(first->ReadLine(), "created");
    const auto second = start(home);
    EXPECT_EQ(second->ReadLine(), "existed");
    std::string recorded = vlibtest::TempDir::Read(home / ".cache/vlibincludes/state-folder");
    recorded = recorded.substr(0, recorded.find('\n'));
    struct stat info {};
    ASSERT_EQ(lstat((recorded + "/vlibincludes-objects").c_str(), &info), 0) << recorded;
    EXPECT_EQ(info.st_uid, user);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    // The test's folder is root's: no cache folder of the user's own.
    const auto homeless = start(dir.Path());
    EXPECT_EQ(homeless->ReadLine(), "failed " + std::to_string(ERROR_ACCESS_DENIED));
    for (const auto* child : {&first, &second}) {
        (*child)->CloseInput();
        EXPECT_EQ((*child)->Wait(), 0);
    }
    fs::remove_all(taken);
    fs::remove_all(recorded);
    fs::remove_all("/tmp/vlib-" + std::to_string(user));  // the helper's message table
}

}  // namespace

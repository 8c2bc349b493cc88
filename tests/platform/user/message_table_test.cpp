// The registered-message table shared by the user's processes: child
// processes with a private runtime folder race to register names, agree on
// every number, and refuse folders and files that others could change.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

extern char** environ;

namespace {

// What a child registered: the numbers in the order of its names, and the
// table it used ("local" or "shared <file>").
struct Registration {
    std::vector<unsigned> numbers;
    std::string table;
};

class Child {
public:
    // Starts the child on `names` with $XDG_RUNTIME_DIR set to `runtime`
    // (unset when null).
    Child(const vlibtest::TempDir& dir, const std::string& tag, const std::vector<std::string>& names,
          const char* runtime, int lockTimeout = 2000)
        : m_output((dir.Path() / (tag + ".out")).string()) {
        std::string text;
        for (const auto& name : names) text += name + "\n";
        const std::string file = dir.Write(tag + ".names", text).string();
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string_view(*entry).starts_with("XDG_RUNTIME_DIR=")) continue;
            environment.emplace_back(*entry);
        }
        if (runtime != nullptr) environment.push_back(std::string("XDG_RUNTIME_DIR=") + runtime);
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        const std::string child = VLIB_MESSAGE_TABLE_CHILD;
        const std::string timeout = std::to_string(lockTimeout);
        char* argv[] = {const_cast<char*>(child.c_str()), const_cast<char*>(timeout.c_str()),
                        const_cast<char*>(file.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, m_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv, envp.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    Registration Finish() {
        int status = 0;
        waitpid(m_pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        Registration result;
        std::ifstream in(m_output);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
                result.numbers.push_back(static_cast<unsigned>(std::stoul(line)));
            } else {
                result.table = line;
            }
        }
        return result;
    }

private:
    std::string m_output;
    pid_t m_pid = 0;
};

// A folder of the user's own, open to nobody else.
std::string PrivateFolder(const vlibtest::TempDir& dir, const std::string& name) {
    const auto path = dir.Path() / name;
    std::filesystem::create_directory(path);
    chmod(path.c_str(), 0700);
    return path.string();
}

std::string SwapCase(std::string name) {
    for (char& c : name) c = std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c);
    // Ż (C5 BB) and ż (C5 BC) swap too.
    for (std::size_t at = 0; (at = name.find("\xC5", at)) != std::string::npos; at += 2) {
        name[at + 1] = name[at + 1] == '\xBB' ? '\xBC' : '\xBB';
    }
    return name;
}

const std::string kTableName = "vlib-window-messages";

TEST(MessageTable, ProcessesRacingToRegisterAgreeOnEveryNumber) {
    vlibtest::TempDir dir;
    const std::string runtime = PrivateFolder(dir, "run");
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) names.push_back("Vlib_Kurs_\xC5\xBB" + std::to_string(i));
    std::vector<std::string> reversed(names.rbegin(), names.rend());
    for (std::size_t i = 0; i < reversed.size(); i += 2) reversed[i] = SwapCase(reversed[i]);
    Child first(dir, "first", names, runtime.c_str());
    Child second(dir, "second", reversed, runtime.c_str());
    const Registration a = first.Finish();
    const Registration b = second.Finish();
    ASSERT_EQ(a.numbers.size(), names.size());
    ASSERT_EQ(b.numbers.size(), names.size());
    EXPECT_EQ(a.table, "shared " + runtime + "/" + kTableName);
    EXPECT_EQ(b.table, a.table);
    std::set<unsigned> distinct;
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(a.numbers[i], b.numbers[names.size() - 1 - i]) << names[i];
        EXPECT_GE(a.numbers[i], 0xC000u);
        EXPECT_LE(a.numbers[i], 0xFFFFu);
        distinct.insert(a.numbers[i]);
    }
    EXPECT_EQ(distinct.size(), names.size());

    // A process started later finds the same numbers.
    std::vector<std::string> some;
    std::vector<unsigned> expected;
    for (std::size_t i = 3; i < names.size(); i += 7) {
        some.push_back(SwapCase(names[i]));
        expected.push_back(a.numbers[i]);
    }
    std::shuffle(some.begin(), some.end(), std::mt19937(7));
    std::shuffle(expected.begin(), expected.end(), std::mt19937(7));
    const Registration later = Child(dir, "later", some, runtime.c_str()).Finish();
    EXPECT_EQ(later.numbers, expected);
}

TEST(MessageTable, FoldersAndFilesOthersCouldChangeAreRefused) {
    vlibtest::TempDir dir;
    const std::string open = PrivateFolder(dir, "open");
    chmod(open.c_str(), 0755);
    const std::string target = PrivateFolder(dir, "target");
    const std::string link = (dir.Path() / "link").string();
    symlink(target.c_str(), link.c_str());
    const std::string readable = PrivateFolder(dir, "readable");
    close(::open((readable + "/" + kTableName).c_str(), O_CREAT | O_WRONLY, 0644));
    chmod((readable + "/" + kTableName).c_str(), 0644);
    const std::string damaged = PrivateFolder(dir, "damaged");
    dir.Write("damaged/" + kTableName, "not a message table, not at all");
    chmod((damaged + "/" + kTableName).c_str(), 0600);
    const std::vector<std::string> names = {"TaskLoopExecutor_ExecuteOneTask_PostSend",
                                            "TaskLoopExecutor_StopLoopTask_PostSend"};
    for (const std::string& runtime : {open, link, readable, damaged, std::string("relative/run")}) {
        const Registration result = Child(dir, "refused", names, runtime.c_str()).Finish();
        EXPECT_EQ(result.table, "local") << runtime;
        // The process's own table still keeps the two apart.
        ASSERT_EQ(result.numbers.size(), 2u);
        EXPECT_GE(result.numbers[0], 0xC000u);
        EXPECT_NE(result.numbers[0], result.numbers[1]);
    }
}

TEST(MessageTable, ALockHeldTooLongMakesTheProcessUseItsOwnTable) {
    vlibtest::TempDir dir;
    const std::string runtime = PrivateFolder(dir, "run");
    const std::vector<std::string> names = {"Vlib_First", "Vlib_Second"};
    EXPECT_EQ(Child(dir, "maker", names, runtime.c_str()).Finish().table, "shared " + runtime + "/" + kTableName);
    const int held = ::open((runtime + "/" + kTableName).c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    // Names it has not read yet need the lock; it gives up after 50 ms.
    const Registration blocked = Child(dir, "blocked", {"Vlib_Third", "Vlib_Fourth"}, runtime.c_str(), 50).Finish();
    EXPECT_EQ(blocked.table, "local");
    ASSERT_EQ(blocked.numbers.size(), 2u);
    EXPECT_NE(blocked.numbers[0], blocked.numbers[1]);
    close(held);
}

TEST(MessageTable, WithoutARuntimeFolderTheTableIsInAPrivateFolderInTmp) {
    vlibtest::TempDir dir;
    const Registration result = Child(dir, "tmp", {"Vlib_Tmp"}, nullptr).Finish();
    const std::string folder = "/tmp/vlib-" + std::to_string(geteuid());
    EXPECT_EQ(result.table, "shared " + folder + "/" + kTableName);
    struct stat info {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());
}

}  // namespace

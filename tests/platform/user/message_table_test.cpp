// The registered-message table shared by the user's processes: child
// processes with a private runtime folder race to register names, agree on
// every number, and refuse folders and files that others could change.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/Child.h"
#include "tests/support/EnvScope.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TempDir.h"

namespace {

// What a child registered: the numbers in the order of its names, and the
// table it used ("local" or "shared <file>").
struct Registration {
    std::vector<unsigned> numbers;
    std::string table;
};

// Starts the child on `names` with $XDG_RUNTIME_DIR set to `runtime` (unset
// when null); it gives up waiting for the table's lock after `lockTimeout` ms.
// With `forkOrder` the child forks and the two halves of the names are
// registered by the two processes at once (message_table_child.cpp).
std::unique_ptr<vlibtest::Child> Start(const vlibtest::TempDir& dir, const std::vector<std::string>& names,
                                       const char* runtime, int lockTimeout = 2000, const char* forkOrder = nullptr) {
    static int files = 0;
    std::string text;
    for (const auto& name : names) text += name + "\n";
    const auto file = dir.Write("names" + std::to_string(++files), text);
    const vlibtest::EnvScope environment("XDG_RUNTIME_DIR", runtime);
    std::vector<std::string> argv{VLIB_MESSAGE_TABLE_CHILD, std::to_string(lockTimeout), file.string()};
    if (forkOrder != nullptr) argv.emplace_back(forkOrder);
    return vlibtest::Child::Start(argv);
}

Registration Finish(const std::unique_ptr<vlibtest::Child>& child) {
    Registration result;
    if (!child) {
        ADD_FAILURE() << "the child did not start";
        return result;
    }
    while (const auto line = child->ReadLine()) {
        if (!line->empty() && std::isdigit(static_cast<unsigned char>(line->front()))) {
            result.numbers.push_back(static_cast<unsigned>(std::stoul(*line)));
        } else {
            result.table = *line;
        }
    }
    EXPECT_EQ(child->Wait(), 0);
    return result;
}

Registration Register(const vlibtest::TempDir& dir, const std::vector<std::string>& names, const char* runtime,
                      int lockTimeout = 2000) {
    return Finish(Start(dir, names, runtime, lockTimeout));
}

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
    const auto first = Start(dir, names, runtime.c_str());
    const auto second = Start(dir, reversed, runtime.c_str());
    const Registration a = Finish(first);
    const Registration b = Finish(second);
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
    EXPECT_EQ(Register(dir, some, runtime.c_str()).numbers, expected);
}

// A child forked without exec after the table file was opened shares that
// open file (its lock among others) with its parent: each must still get
// numbers of its own, which a later process finds again.
TEST(MessageTable, AParentAndItsForkedChildRegisteringAtOnceGiveEveryNameItsOwnNumber) {
    for (const char* order : {"parent-first", "child-first"}) {
        vlibtest::TempDir dir;
        const std::string runtime = PrivateFolder(dir, "run");
        std::vector<std::string> names;
        for (int i = 0; i < 4000; ++i) names.push_back("Vlib_Fork_" + std::to_string(i));
        const Registration forked = Finish(Start(dir, names, runtime.c_str(), 2000, order));
        ASSERT_EQ(forked.numbers.size(), names.size()) << order;
        EXPECT_EQ(std::set<unsigned>(forked.numbers.begin(), forked.numbers.end()).size(), names.size()) << order;
        EXPECT_EQ(Register(dir, names, runtime.c_str()).numbers, forked.numbers) << order;
    }
}

TEST(MessageTable, FoldersAndFilesOthersCouldChangeAreRefused) {
    vlibtest::TempDir dir;
    const std::string open = PrivateFolder(dir, "open");
    chmod(open.c_str(), 0755);
    const std::string link = (dir.Path() / "link").string();
    symlink(PrivateFolder(dir, "target").c_str(), link.c_str());
    const std::string readable = PrivateFolder(dir, "readable");
    close(::open((readable + "/" + kTableName).c_str(), O_CREAT | O_WRONLY, 0644));
    chmod((readable + "/" + kTableName).c_str(), 0644);
    const std::string damaged = PrivateFolder(dir, "damaged");
    dir.Write("damaged/" + kTableName, "not a message table, not at all");
    chmod((damaged + "/" + kTableName).c_str(), 0600);
    for (const std::string& runtime : {open, link, readable, damaged, std::string("relative/run")}) {
        const Registration result =
            Register(dir, {"TaskLoopExecutor_ExecuteOneTask_PostSend", "TaskLoopExecutor_StopLoopTask_PostSend"},
                     runtime.c_str());
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
    EXPECT_EQ(Register(dir, {"Vlib_First", "Vlib_Second"}, runtime.c_str()).table,
              "shared " + runtime + "/" + kTableName);
    const int held = ::open((runtime + "/" + kTableName).c_str(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    // Names it has not read yet need the lock; it gives up after 50 ms.
    const Registration blocked = Register(dir, {"Vlib_Third", "Vlib_Fourth"}, runtime.c_str(), 50);
    EXPECT_EQ(blocked.table, "local");
    ASSERT_EQ(blocked.numbers.size(), 2u);
    EXPECT_NE(blocked.numbers[0], blocked.numbers[1]);
    close(held);
}

TEST(MessageTable, WithoutARuntimeFolderTheTableIsInAPrivateFolderInTmp) {
    vlibtest::TempDir dir;
    const std::string folder = "/tmp/vlib-" + std::to_string(geteuid());
    EXPECT_EQ(Register(dir, {"Vlib_Tmp"}, nullptr).table, "shared " + folder + "/" + kTableName);
    struct stat info {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());
}

// Another user who makes /tmp/vlib-<uid> first neither splits the user's
// numbers (the user's processes meet in a private folder made with mkdtemp,
// recorded in their cache folder) nor makes a process number alone
// silently: without a cache folder of its own it says so, once.
TEST(MessageTable, AFolderAnotherUserMadeFirstNeitherSplitsNumbersNorGoesUnsaid) {
    if (geteuid() != 0) GTEST_SKIP() << "acting as other users needs root";
    const uid_t user = vlibtest::UnusedUid(0), other = vlibtest::UnusedUid(1);
    vlibtest::TempDir dir;
    chmod(dir.Path().c_str(), 0755);
    const auto home = dir.Path() / "home";
    std::filesystem::create_directory(home);
    ASSERT_EQ(chown(home.c_str(), user, user), 0);
    const std::string taken = "/tmp/vlib-" + std::to_string(user);
    std::filesystem::remove_all(taken);
    ASSERT_EQ(vlibtest::RunAsUser(other, [&] { return mkdir(taken.c_str(), 0777) == 0 ? 0 : 1; }), 0);
    const vlibtest::EnvScope noRuntime("XDG_RUNTIME_DIR", nullptr), noCache("XDG_CACHE_HOME", nullptr);
    std::vector<std::string> names{"Vlib_Taken_A", "Vlib_Taken_B", "Vlib_Taken_C"};
    const auto file = dir.Write("names", names[0] + "\n" + names[1] + "\n" + names[2] + "\n");
    const auto reversedFile = dir.Write("reversed", names[2] + "\n" + names[1] + "\n" + names[0] + "\n");
    // Its numbers, its table, and every other line it wrote (standard error too).
    auto run = [&](const std::filesystem::path& names, const std::filesystem::path& homeFolder,
                   std::vector<std::string>& said) {
        std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh"};
        for (auto& arg : vlibtest::AsUser(user)) argv.push_back(arg);
        argv.insert(argv.end(), {VLIB_MESSAGE_TABLE_CHILD, "2000", names.string()});
        const auto child = vlibtest::Child::Start(argv, {"HOME=" + homeFolder.string()});
        Registration result;
        while (const auto line = child ? child->ReadLine() : std::nullopt) {
            if (!line->empty() && std::isdigit(static_cast<unsigned char>(line->front()))) {
                result.numbers.push_back(static_cast<unsigned>(std::stoul(*line)));
            } else if (line->starts_with("shared ") || *line == "local") {
                result.table = *line;
            } else {
                said.push_back(*line);
            }
        }
        EXPECT_TRUE(child && child->Wait() == 0);
        return result;
    };
    std::vector<std::string> said;
    const Registration first = run(file, home, said);
    const Registration second = run(reversedFile, home, said);
    std::string recorded = vlibtest::TempDir::Read(home / ".cache/vlibincludes/state-folder");
    recorded = recorded.substr(0, recorded.find('\n'));
    EXPECT_EQ(first.table, "shared " + recorded + "/" + kTableName);
    EXPECT_EQ(second.table, first.table);
    ASSERT_EQ(first.numbers.size(), 3u);
    EXPECT_EQ(first.numbers, std::vector<unsigned>(second.numbers.rbegin(), second.numbers.rend()));
    EXPECT_TRUE(said.empty());
    // The test's folder is root's: no cache folder of the user's own.
    const Registration alone = run(file, dir.Path(), said);
    EXPECT_EQ(alone.table, "local");
    EXPECT_EQ(alone.numbers.size(), 3u);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("numbers its registered messages alone"), std::string::npos) << said[0];
    std::filesystem::remove_all(taken);
    std::filesystem::remove_all(recorded);
}

}  // namespace

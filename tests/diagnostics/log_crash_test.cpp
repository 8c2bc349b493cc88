// A process killed while its threads write to the log leaves whole entries
// in queue order, but for the one being written.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <map>
#include <random>

#include "tests/support/LogCapture.h"
#include "tests/support/Wait.h"

extern char** environ;

namespace {

TEST(LogCrash, KilledWriterLeavesWholeEntriesInQueueOrderButTheLast) {
    std::mt19937 random(12345);
    for (int round = 0; round < 3; ++round) {
        vlibtest::TempDir dir;
        const std::string file = (dir.Path() / "log.txt").string();
        const std::string child = VLIB_LOG_WRITER_CHILD;
        char* argv[] = {const_cast<char*>(child.c_str()), const_cast<char*>(file.c_str()), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);
        // Killed without warning once the file holds a random amount.
        const std::uintmax_t size = 200'000 + random() % 400'000;
        EXPECT_TRUE(vlibtest::WaitFor([&] {
            std::error_code error;
            return std::filesystem::file_size(file, error) >= size && !error;
        }));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        // SIGKILL may cut the write under way at a page boundary (the kernel
        // stops copying for a fatal signal): the last entry may be torn,
        // none before it.
        const std::string bytes = vlibtest::TempDir::Read(file);
        const std::size_t end = bytes.rfind("\r\n-\r\n") + 5;
        ASSERT_NE(end, std::string::npos + 5);
        EXPECT_LT(bytes.size() - end, 1100u) << "round " << round << ": more than the last entry is torn";
        bool complete = false;
        const auto entries = vlibtest::ParseLog(bytes.substr(0, end), &complete);
        EXPECT_TRUE(complete) << "round " << round << ": a torn entry after " << entries.size() << " entries";
        EXPECT_GT(entries.size(), 10u);
        std::map<std::string, unsigned long> next;
        for (const auto& entry : entries) EXPECT_EQ(std::stoul(entry.message), next[entry.line]++) << entry.line;
    }
}

}  // namespace

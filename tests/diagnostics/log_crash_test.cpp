// A process killed while its threads write to the log leaves only whole
// entries, in queue order.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "tests/support/LogCapture.h"

extern char** environ;

namespace {

TEST(LogCrash, KilledWriterLeavesOnlyWholeEntriesInQueueOrder) {
    std::mt19937 random(12345);
    for (int round = 0; round < 3; ++round) {
        vlibtest::TempDir dir;
        const std::string file = (dir.Path() / "log.txt").string();
        const std::string child = VLIB_LOG_WRITER_CHILD;
        char* argv[] = {const_cast<char*>(child.c_str()), const_cast<char*>(file.c_str()), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ), 0);

        // Let it write for a while, then kill it without warning.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((!std::filesystem::exists(file) || std::filesystem::file_size(file) < 200'000) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        bool complete = false;
        const auto entries = vlibtest::ParseLog(vlibtest::TempDir::Read(file), &complete);
        EXPECT_TRUE(complete) << "round " << round << ": a torn entry after " << entries.size() << " entries";
        EXPECT_GT(entries.size(), 10u);
        std::map<std::string, unsigned long> next;
        for (const auto& entry : entries) {
            const unsigned long n = std::stoul(entry.message);
            EXPECT_EQ(n, next[entry.line]) << "thread " << entry.line;
            next[entry.line] = n + 1;
        }
    }
}

}  // namespace

// A process killed while its threads write to the log leaves whole entries
// in queue order, but for the one being written; one that returns from main
// without closing the log loses none.
#include <gtest/gtest.h>

#include <signal.h>

#include <map>
#include <random>

#include "tests/support/Child.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Wait.h"

namespace {

TEST(LogCrash, KilledWriterLeavesWholeEntriesInQueueOrderButTheLast) {
    std::mt19937 random(12345);
    for (int round = 0; round < 3; ++round) {
        vlibtest::TempDir dir;
        const std::string file = (dir.Path() / "log.txt").string();
        const auto child = vlibtest::Child::Start({VLIB_LOG_WRITER_CHILD, file});
        ASSERT_NE(child, nullptr);
        // Killed without warning once the file holds a random amount.
        const std::uintmax_t size = 200'000 + random() % 400'000;
        EXPECT_TRUE(vlibtest::WaitFor([&] {
            std::error_code error;
            return std::filesystem::file_size(file, error) >= size && !error;
        }));
        child->Signal(SIGKILL);
        ASSERT_EQ(child->Wait(), 128 + SIGKILL);

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

TEST(LogCrash, EntriesWrittenJustBeforeMainReturnsReachTheFileWithoutAClosingEntry) {
    constexpr int kEntries = 40;
    for (int run = 0; run < 50; ++run) {
        vlibtest::TempDir dir;
        const std::string file = (dir.Path() / "log.txt").string();
        const auto child = vlibtest::Child::Start({VLIB_LOG_WRITER_CHILD, file, "return", std::to_string(kEntries)});
        ASSERT_NE(child, nullptr);
        ASSERT_EQ(child->Wait(), 0);
        bool complete = false;
        const auto entries = vlibtest::ParseLog(vlibtest::TempDir::Read(file), &complete);
        EXPECT_TRUE(complete) << "run " << run;
        std::map<std::string, int> next;
        for (const auto& entry : entries) EXPECT_EQ(std::stoi(entry.message), next[entry.line]++) << entry.line;
        ASSERT_EQ(next, (std::map<std::string, int>{{"1", kEntries}, {"2", kEntries}})) << "run " << run;
    }
}

}  // namespace

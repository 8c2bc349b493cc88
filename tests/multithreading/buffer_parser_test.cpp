#include "multithreading/BufferParser.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "platform/kernel/Threads.h"
#include "tests/support/AcpScope.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Wait.h"

namespace {

using Multithreading::BufferManager;
using Multithreading::BufferParser;
using vlibtest::WaitFor;

TEST(BufferManager, CopyDataAssemblesAMessageAcrossCalls) {
    const std::string bytes = "0123456789";
    BufferManager buffer(bytes.data(), bytes.size());
    char destination[20] = {};
    std::uint64_t copied = 0;
    buffer.CopyData(4, copied, destination);
    EXPECT_EQ(copied, 4u);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "456789");
    buffer.CopyData(4, copied, destination);  // nothing missing
    EXPECT_EQ(copied, 4u);
    buffer.CopyData(20, copied, destination);
    EXPECT_EQ(copied, 10u);
    EXPECT_EQ(buffer.Size(), 0u);
    EXPECT_EQ(std::string(destination, 10), bytes);
    EXPECT_EQ(buffer.GetDataAsString(), bytes);  // whatever was consumed
}

TEST(BufferManager, DeclaredLengthBelowWhatWasCopiedThrowsAndChangesNothing) {
    vlibtest::AcpScope acp(CP_UTF8);
    BufferManager buffer(std::vector<char>{'a', 'b', 'c'});
    char destination[8];
    std::uint64_t copied = 5;
    try {
        buffer.CopyData(3, copied, destination);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Deklarowana długość bufora jest mniejsza od rozmiaru bufora.");
    }
    EXPECT_EQ(copied, 5u);
    EXPECT_EQ(buffer.Size(), 3u);
}

TEST(BufferManager, CopiesKeepBytesAndPositionAndAMovedFromBufferIsEmpty) {
    BufferManager buffer(std::string("a\0bc", 4).data(), 4);
    char sink[2];
    std::uint64_t copied = 0;
    buffer.CopyData(2, copied, sink);
    const BufferManager copy = buffer;
    EXPECT_EQ(copy.Size(), 2u);
    EXPECT_EQ(copy.GetDataAsString(), std::string("a\0bc", 4));
    BufferManager moved = std::move(buffer);
    EXPECT_EQ(moved.Size(), 2u);
    EXPECT_EQ(buffer.Size(), 0u);  // NOLINT(bugprone-use-after-move): its position went with the bytes
    EXPECT_EQ(buffer.begin(), buffer.end());
}

TEST(BufferParser, ChunksFromTwoThreadsAreParsedOnceInQueueOrderOnTheParserThread) {
    BufferParser parser("Parser");
    std::mutex mutex;
    std::vector<std::string> seen;
    std::set<DWORD> threads;
    parser.StartParsing([&](BufferManager& buffer) {
        std::lock_guard lock(mutex);
        seen.push_back(buffer.GetDataAsString());
        threads.insert(GetCurrentThreadId());
    });
    std::vector<std::thread> adders;
    for (char who : {'a', 'b'}) {
        adders.emplace_back([&parser, who] {
            for (int i = 0; i < 500; ++i) {
                const std::string chunk = who + std::to_string(i);
                parser.AddBuffer(chunk.data(), chunk.size());
            }
        });
    }
    for (auto& a : adders) a.join();
    parser.AddBuffer("", 0);  // never passed to the callback
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard lock(mutex);
        return seen.size() == 1000 && parser.BuffersCount() == 0;
    }));
    parser.StopParsing();
    std::map<char, int> next;
    for (const auto& chunk : seen) EXPECT_EQ(std::stoi(chunk.substr(1)), next[chunk[0]]++);
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), GetCurrentThreadId());
}

TEST(BufferParser, StopFinishesTheChunkInProgressAndDropsTheQueue) {
    BufferParser parser("Stop");
    std::atomic<int> parsed{0};
    std::atomic<bool> inside{false};
    parser.StartParsing([&](BufferManager&) {
        inside = true;
        WaitFor([&] { return !parser.IsRunning(); });  // the stop has begun
        ++parsed;
    });
    for (int i = 0; i < 5; ++i) parser.AddBuffer("x", 1);
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
    parser.StopParsing();
    EXPECT_EQ(parsed, 1);
    EXPECT_EQ(parser.BuffersCount(), 0u);
    parser.AddBuffer("y", 1);
    EXPECT_EQ(parser.BuffersCount(), 1u);
    parser.ClearBuffers();
    EXPECT_EQ(parser.BuffersCount(), 0u);
}

TEST(BufferParser, EachFailingChunkIsLoggedAndParsingGoesOn) {
    vlibtest::LogCapture log;
    BufferParser parser("Failing");
    std::atomic<int> calls{0};
    parser.StartParsing([&](BufferManager& buffer) {
        ++calls;
        char destination[4];
        std::uint64_t copied = 9;
        if (buffer.GetDataAsString() == "bad") buffer.CopyData(1, copied, destination);
    });
    for (const char* chunk : {"bad", "good", "bad", "good"}) parser.AddBuffer(chunk, std::strlen(chunk));
    ASSERT_TRUE(WaitFor([&] { return calls == 4; }));
    parser.StopParsing();
    const auto entries = log.CloseAndRead(2);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].function, "Multithreading::BufferParser::StartParsing::<lambda_1>::operator ()");
    EXPECT_TRUE(entries[0].message.ends_with(" bufora.")) << entries[0].message;
}

}  // namespace

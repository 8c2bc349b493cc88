// SHCreateMemStream: reading, writing past the end, seeking, sizes, copies
// and reference counts.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/shell/ShlwApi.h"

namespace {

LARGE_INTEGER Move(LONGLONG value) {
    return LARGE_INTEGER{.QuadPart = value};
}

std::string ReadRest(IStream* stream) {
    std::string out;
    char block[4];
    ULONG read = 0;
    do {
        EXPECT_EQ(stream->Read(block, sizeof block, &read), S_OK);
        out.append(block, read);
    } while (read == sizeof block);
    return out;
}

TEST(MemStreamTest, ReadsItsCopyInBlocksUntilAShortRead) {
    std::string data = "0123456789";
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(data.data()), 10);
    ASSERT_NE(stream, nullptr);
    data[0] = 'X';  // the stream holds its own copy
    EXPECT_EQ(ReadRest(stream), "0123456789");
    ULONG read = 99;
    char byte = 0;
    EXPECT_EQ(stream->Read(&byte, 1, &read), S_OK);  // at the end: nothing, no failure
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(stream->Read(nullptr, 1, &read), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stream->Release(), 0u);
}

TEST(MemStreamTest, SeeksFromEachOriginButNotBeforeTheStart) {
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>("abcdef"), 6);
    const struct {
        LONGLONG move;
        DWORD origin;
        HRESULT result;
        ULONGLONG position;
    } cases[] = {
        {2, STREAM_SEEK_SET, S_OK, 2},
        {1, STREAM_SEEK_CUR, S_OK, 3},
        {-1, STREAM_SEEK_END, S_OK, 5},
        {10, STREAM_SEEK_END, S_OK, 16},
        {-1, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION, 16},
        {0, 3, STG_E_INVALIDFUNCTION, 16},
        {1LL << 33, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION, 16},
    };
    for (const auto& c : cases) {
        ULARGE_INTEGER position{};
        EXPECT_EQ(stream->Seek(Move(c.move), c.origin, &position), c.result) << c.move;
        ULARGE_INTEGER now{};
        stream->Seek(Move(0), STREAM_SEEK_CUR, &now);
        EXPECT_EQ(now.QuadPart, c.position) << c.move;
    }
    stream->Release();
}

TEST(MemStreamTest, WritingPastTheEndGrowsWithZerosAndStatTellsTheSize) {
    IStream* stream = SHCreateMemStream(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    ULONG written = 0;
    ASSERT_EQ(stream->Seek(Move(3), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Write("xy", 2, &written), S_OK);
    EXPECT_EQ(written, 2u);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, STGTY_STREAM);
    EXPECT_EQ(stat.cbSize.QuadPart, 5u);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stream->Stat(&stat, 7), STG_E_INVALIDFLAG);
    stream->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(ReadRest(stream), std::string("\0\0\0xy", 5));

    ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{.QuadPart = 2}), S_OK);
    stream->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(ReadRest(stream), std::string(2, '\0'));
    EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{.QuadPart = 1ULL << 32}), STG_E_MEDIUMFULL);
    stream->Release();
}

TEST(MemStreamTest, CopyCloneAndInterfacesShareNoData) {
    IStream* source = SHCreateMemStream(reinterpret_cast<const BYTE*>("hello world"), 11);
    IStream* target = SHCreateMemStream(nullptr, 0);
    source->Seek(Move(6), STREAM_SEEK_SET, nullptr);
    IStream* clone = nullptr;
    ASSERT_EQ(source->Clone(&clone), S_OK);
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(source->CopyTo(target, ULARGE_INTEGER{.QuadPart = 100}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 5u);
    EXPECT_EQ(written.QuadPart, 5u);
    target->Seek(Move(0), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(ReadRest(target), "world");
    EXPECT_EQ(ReadRest(clone), "world");  // the clone starts where the source was

    void* unknown = nullptr;
    ASSERT_EQ(clone->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 1u);
    const GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(clone->QueryInterface(other, &unknown), E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);
    for (IStream* s : {source, target, clone}) EXPECT_EQ(s->Release(), 0u);
}

TEST(MemStreamTest, RaceOfWritersLosesNoBytes) {
    IStream* stream = SHCreateMemStream(nullptr, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([stream] {
            stream->AddRef();
            for (int i = 0; i < 1000; ++i) stream->Write("ab", 2, nullptr);
            stream->Release();
        });
    }
    for (auto& thread : threads) thread.join();
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.cbSize.QuadPart, 8000u);
    EXPECT_EQ(stream->Release(), 0u);
}

}  // namespace

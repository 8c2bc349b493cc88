// Global memory blocks: movable blocks behind handles of their own table,
// fixed blocks whose handle is their address, lock counts, sizes, and
// refusals of stale and foreign handles.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/kernel/Memory.h"
#include "tests/platform/kernel/HandleTestSupport.h"

namespace {

using vlibtest::FailsWith;

TEST(GlobalMemory, MovableBlocksLockToTheSameAddressAndCountTheirLocks) {
    const HGLOBAL block = GlobalAlloc(GHND, 10);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 10u);
    auto* first = static_cast<char*>(GlobalLock(block));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::memcmp(first, "\0\0\0\0\0\0\0\0\0\0", 10), 0);  // GMEM_ZEROINIT
    EXPECT_NE(static_cast<void*>(first), block);                   // a handle, not the address
    EXPECT_EQ(GlobalLock(block), first);
    EXPECT_TRUE(GlobalUnlock(block));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GlobalUnlock(block));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_TRUE(FailsWith(ERROR_NOT_LOCKED, [&] { return GlobalUnlock(block); }));
    EXPECT_EQ(GlobalFree(block), nullptr);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalMemory, FixedBlocksAreTheirOwnHandleAndFreedOrForgedPointersFail) {
    for (const UINT flags : {GMEM_FIXED, GPTR, GMEM_FIXED | GMEM_SHARE}) {
        const HGLOBAL block = GlobalAlloc(flags, 6);
        ASSERT_NE(block, nullptr) << flags;
        if (flags == GPTR) {
            EXPECT_EQ(std::memcmp(block, "\0\0\0\0\0\0", 6), 0);
        }
        std::memcpy(block, "fixed", 6);  // used as a pointer at once, as callers do
        EXPECT_EQ(GlobalLock(block), block);
        EXPECT_EQ(GlobalHandle(block), block);
        EXPECT_EQ(GlobalSize(block), 6u);
        EXPECT_TRUE(GlobalUnlock(block));  // no lock count
        EXPECT_STREQ(static_cast<const char*>(block), "fixed");
        EXPECT_EQ(GlobalFree(block), nullptr);
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalFree(block) == nullptr; }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalSize(block) != 0; }));
        EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalHandle(block) != nullptr; }));
    }
    // A movable block's address leads back to its handle.
    const HGLOBAL movable = GlobalAlloc(GMEM_MOVEABLE, 4);
    void* address = GlobalLock(movable);
    EXPECT_EQ(GlobalHandle(address), movable);
    GlobalUnlock(movable);
    EXPECT_EQ(GlobalFree(movable), nullptr);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalHandle(address) != nullptr; }));
    const HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalFree(static_cast<char*>(fixed) + 1) == nullptr; }));
    EXPECT_EQ(GlobalFree(fixed), nullptr);
}

TEST(GlobalMemory, FreedAndForgedHandlesFail) {
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 0u);
    EXPECT_NE(GlobalLock(block), nullptr);
    ASSERT_EQ(GlobalFree(block), nullptr);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalSize(block) != 0; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalLock(block) != nullptr; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalFree(block) == nullptr; }));
    // A local block, an event and an address are no global blocks.
    const HLOCAL local = LocalAlloc(LMEM_FIXED, 4);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalSize(local) != 0; }));
    LocalFree(local);
    int value = 0;
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalFree(&value) == nullptr; }));
    for (const UINT flags : {GMEM_FIXED | 0x0100u, GMEM_MOVEABLE | 0x0100u}) {
        EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [&] { return GlobalAlloc(flags, 4) != nullptr; }));
    }
}

}  // namespace

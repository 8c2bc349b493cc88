// UuidCreate, UuidFromStringA, UuidToStringA and RpcStringFreeA: the field
// layout of random UUIDs, the accepted text form, round trips.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>

#include "platform/WinError.h"
#include "platform/com/Rpc.h"
#include "tests/support/Seam.h"

namespace {

std::string ToString(const UUID& uuid) {
    RPC_CSTR text = nullptr;
    EXPECT_EQ(UuidToStringA(&uuid, &text), RPC_S_OK);
    std::string result(reinterpret_cast<char*>(text));
    EXPECT_EQ(RpcStringFreeA(&text), RPC_S_OK);
    EXPECT_EQ(text, nullptr);
    return result;
}

RPC_STATUS FromString(const char* text, UUID& uuid) {
    std::string copy = text;
    return UuidFromStringA(reinterpret_cast<RPC_CSTR>(copy.data()), &uuid);
}

TEST(Rpc, CreateGivesDistinctVersionFourUuidsAndLeavesTheLastError) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        UUID uuid;
        SetLastError(0xdeadbeef);
        ASSERT_EQ(UuidCreate(&uuid), RPC_S_OK);
        EXPECT_EQ(GetLastError(), 0xdeadbeef);
        ASSERT_EQ(uuid.Data3 >> 12, 4);
        ASSERT_EQ(uuid.Data4[0] >> 6, 2);
        const std::string text = ToString(uuid);
        ASSERT_EQ(text[14], '4');
        ASSERT_NE(std::string("89ab").find(text[19]), std::string::npos);
        UUID back;
        ASSERT_EQ(FromString(text.c_str(), back), RPC_S_OK);
        ASSERT_EQ(std::memcmp(&back, &uuid, sizeof uuid), 0);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 2000u);
    EXPECT_EQ(UuidCreate(nullptr), RPC_S_INVALID_ARG);
}

TEST(Rpc, FromStringAcceptsOnlyTheBare36CharacterForm) {
    UUID uuid;
    ASSERT_EQ(FromString("6B29fc40-CA47-1067-b31d-00C04FB4A9BF", uuid), RPC_S_OK);
    EXPECT_EQ(uuid.Data1, 0x6B29FC40u);
    EXPECT_EQ(uuid.Data2, 0xCA47);
    EXPECT_EQ(uuid.Data3, 0x1067);
    const std::uint8_t data4[] = {0xB3, 0x1D, 0x00, 0xC0, 0x4F, 0xB4, 0xA9, 0xBF};
    EXPECT_EQ(std::memcmp(uuid.Data4, data4, 8), 0);
    EXPECT_EQ(ToString(uuid), "6b29fc40-ca47-1067-b31d-00c04fb4a9bf");

    for (const char* bad : {"", "6b29fc40-ca47-1067-b31d-00c04fb4a9b", "6b29fc40-ca47-1067-b31d-00c04fb4a9bf0",
                            "{6b29fc40-ca47-1067-b31d-00c04fb4a9bf}", "6b29fc40-ca47-1067-b31d00-c04fb4a9bf",
                            "6b29fc40-ca47-1067-b31d-00c04fb4a9bx", "+b29fc40-ca47-1067-b31d-00c04fb4a9bf",
                            "6b29fc40 ca47 1067 b31d 00c04fb4a9bf"}) {
        UUID unchanged = uuid;
        EXPECT_EQ(FromString(bad, unchanged), RPC_S_INVALID_STRING_UUID) << bad;
        EXPECT_EQ(std::memcmp(&unchanged, &uuid, sizeof uuid), 0) << bad;
    }
    ASSERT_EQ(UuidFromStringA(nullptr, &uuid), RPC_S_OK);
    EXPECT_EQ(ToString(uuid), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(UuidFromStringA(nullptr, nullptr), RPC_S_INVALID_ARG);
    EXPECT_EQ(RpcStringFreeA(nullptr), RPC_S_INVALID_ARG);
}

// Without the kernel's random source UuidCreate says so, and its stand-in
// values stay distinct even when the clock does not move.
TEST(Rpc, CreateWithoutKernelRandomnessGivesLocalOnlyDistinctUuids) {
    const vlibtest::SeamScope seam([](auto& s) {
        s.getrandom = [](void*, size_t, unsigned int) -> ssize_t { return errno = ENOSYS, -1; };
        s.clock_gettime = [](clockid_t, timespec* now) { return *now = {1'700'000'000, 0}, 0; };
    });
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        UUID uuid{};
        EXPECT_EQ(UuidCreate(&uuid), RPC_S_UUID_LOCAL_ONLY);
        EXPECT_EQ(uuid.Data3 >> 12, 4);
        seen.insert(ToString(uuid));
    }
    EXPECT_EQ(seen.size(), 100u);
}

}  // namespace

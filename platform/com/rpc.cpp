// UUIDs from the kernel's random source, and their text form.
#include "platform/com/Rpc.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/internal/Syscalls.h"
#include "platform/kernel/internal/Clock.h"

namespace {

// Fills `bytes` from getrandom (blocking only until the kernel's pool is
// first initialised); false when the call is not available or fails.
bool KernelRandom(unsigned char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = vplatform::Sys().getrandom(bytes + done, size - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A value unique on this computer only: the clock, the process and a counter,
// spread by a 64-bit mixer.
void LocalBytes(unsigned char* bytes) {
    static std::atomic<std::uint64_t> counter{0};
    const auto mix = [](std::uint64_t x) {
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ull;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebull;
        return x ^ (x >> 31);
    };
    const timespec clock = vplatform::clock::Now();
    const std::uint64_t now =
        static_cast<std::uint64_t>(clock.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(clock.tv_nsec);
    const std::uint64_t first = mix(now ^ (static_cast<std::uint64_t>(vplatform::Sys().getpid()) << 40));
    const std::uint64_t second = mix(first ^ counter.fetch_add(1, std::memory_order_relaxed));
    std::memcpy(bytes, &first, 8);
    std::memcpy(bytes + 8, &second, 8);
}

int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The number written by `count` hexadecimal digits at `text`; -1 for any other
// character.
long long HexNumber(const unsigned char* text, int count) {
    long long value = 0;
    for (int i = 0; i < count; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

extern "C" {

RPC_STATUS UuidCreate(UUID* uuid) {
    if (uuid == nullptr) return RPC_S_INVALID_ARG;
    unsigned char bytes[16];
    const bool random = KernelRandom(bytes, sizeof bytes);
    if (!random) LocalBytes(bytes);
    std::memcpy(uuid, bytes, sizeof bytes);
    uuid->Data3 = static_cast<std::uint16_t>((uuid->Data3 & 0x0FFF) | 0x4000);
    uuid->Data4[0] = static_cast<std::uint8_t>((uuid->Data4[0] & 0x3F) | 0x80);
    return random ? RPC_S_OK : RPC_S_UUID_LOCAL_ONLY;
}

RPC_STATUS UuidFromStringA(RPC_CSTR stringUuid, UUID* uuid) {
    if (uuid == nullptr) return RPC_S_INVALID_ARG;
    if (stringUuid == nullptr) {
        *uuid = UUID{};
        return RPC_S_OK;
    }
    constexpr int kLength = 36;
    for (int i = 0; i < kLength; ++i) {
        if (stringUuid[i] == 0) return RPC_S_INVALID_STRING_UUID;
    }
    if (stringUuid[kLength] != 0) return RPC_S_INVALID_STRING_UUID;
    for (const int dash : {8, 13, 18, 23}) {
        if (stringUuid[dash] != '-') return RPC_S_INVALID_STRING_UUID;
    }
    UUID parsed{};
    const long long data1 = HexNumber(stringUuid, 8);
    const long long data2 = HexNumber(stringUuid + 9, 4);
    const long long data3 = HexNumber(stringUuid + 14, 4);
    if (data1 < 0 || data2 < 0 || data3 < 0) return RPC_S_INVALID_STRING_UUID;
    parsed.Data1 = static_cast<std::uint32_t>(data1);
    parsed.Data2 = static_cast<std::uint16_t>(data2);
    parsed.Data3 = static_cast<std::uint16_t>(data3);
    for (int i = 0; i < 8; ++i) {
        const long long byte = HexNumber(stringUuid + (i < 2 ? 19 + 2 * i : 24 + 2 * (i - 2)), 2);
        if (byte < 0) return RPC_S_INVALID_STRING_UUID;
        parsed.Data4[i] = static_cast<std::uint8_t>(byte);
    }
    *uuid = parsed;
    return RPC_S_OK;
}

RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* stringUuid) {
    if (stringUuid == nullptr) return RPC_S_INVALID_ARG;
    const UUID value = uuid != nullptr ? *uuid : UUID{};
    auto* text = static_cast<char*>(std::malloc(37));
    if (text == nullptr) return RPC_S_OUT_OF_MEMORY;
    std::snprintf(text, 37, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<unsigned>(value.Data1),
                  value.Data2, value.Data3, value.Data4[0], value.Data4[1], value.Data4[2], value.Data4[3],
                  value.Data4[4], value.Data4[5], value.Data4[6], value.Data4[7]);
    *stringUuid = reinterpret_cast<RPC_CSTR>(text);
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeA(RPC_CSTR* string) {
    if (string == nullptr) return RPC_S_INVALID_ARG;
    std::free(*string);
    *string = nullptr;
    return RPC_S_OK;
}
}

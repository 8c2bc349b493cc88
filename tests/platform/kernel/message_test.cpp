// FormatMessage's system texts and buffer rules, and LocalAlloc / LocalFree.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "platform/kernel/Memory.h"
#include "platform/kernel/Message.h"
#include "tests/support/LastError.h"

namespace {

using vlibtest::FailsWith;
constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

std::string Allocated(DWORD code, DWORD language = 0) {
    LPSTR text = nullptr;
    const DWORD length = FormatMessageA(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, language,
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0) {
        EXPECT_EQ(text, nullptr);
        return "<none>";
    }
    std::string result(text, length);
    EXPECT_EQ(std::strlen(text), length);
    EXPECT_EQ(LocalFree(text), nullptr);
    return result;
}

TEST(FormatMessage, ReturnsTheSystemsEnglishTexts) {
    EXPECT_EQ(Allocated(2), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(Allocated(122), "The data area passed to a system call is too small.\r\n");
    EXPECT_EQ(Allocated(10061), "No connection could be made because the target machine actively refused it.\r\n");
    EXPECT_EQ(Allocated(5, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)), "Access is denied.\r\n");
    EXPECT_EQ(Allocated(5, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)), "Access is denied.\r\n");
    for (DWORD code = 10035; code <= 10061; ++code) EXPECT_TRUE(Allocated(code).ends_with(".\r\n")) << code;
    // HRESULTs: facility 7 wraps a Win32 code and takes its text; the COM
    // codes have their own.
    EXPECT_EQ(Allocated(0x80070005u), "Access is denied.\r\n");
    EXPECT_EQ(Allocated(0x8000FFFFu), "Catastrophic failure\r\n");
    EXPECT_EQ(Allocated(0x8007FFFFu), "<none>");
    wchar_t wide[64];
    ASSERT_EQ(FormatMessageW(kSystem, nullptr, 5, 0, wide, 64, nullptr), 19u);
    EXPECT_STREQ(wide, L"Access is denied.\r\n");
    LPWSTR allocated = nullptr;  // at least the size asked for
    ASSERT_EQ(FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 5, 0,
                             reinterpret_cast<LPWSTR>(&allocated), 500, nullptr),
              19u);
    EXPECT_EQ(LocalSize(allocated), 500 * sizeof(wchar_t));
    EXPECT_EQ(LocalFree(allocated), nullptr);
}

// The codes are collected from the platform's sources: every ERROR_ or WSAE
// name its code uses (in SetLastError, returns, error tables) with the value
// its headers give.
TEST(FormatMessage, EveryErrorCodeThePlatformCanSetHasATextEndingInCrLf) {
    const std::regex definition(R"(\b((?:ERROR|WSAE)[A-Z0-9_]*)\s*=\s*(0x[0-9A-Fa-f]+|[0-9]+)u?\s*;)");
    const std::regex use(R"(\b(?:ERROR|WSAE)_?[A-Z0-9_]+\b)");
    std::map<std::string, DWORD> values;
    std::set<std::string> used;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(VLIB_SOURCE_DIR "/platform")) {
        const auto extension = entry.path().extension();
        if (extension != ".h" && extension != ".cpp") continue;
        std::ifstream file(entry.path());
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (std::sregex_iterator it(text.begin(), text.end(), definition), end; it != end; ++it) {
            values[(*it)[1]] = static_cast<DWORD>(std::stoul((*it)[2], nullptr, 0));
        }
        for (std::sregex_iterator it(text.begin(), text.end(), use), end; it != end; ++it) used.insert(it->str());
    }
    std::set<DWORD> codes;
    for (const auto& name : used) {
        if (const auto found = values.find(name); found != values.end()) codes.insert(found->second);
    }
    ASSERT_GT(codes.size(), 50u);  // the sources were found and read
    for (const DWORD code : codes) EXPECT_TRUE(Allocated(code).ends_with(".\r\n")) << code;
}

TEST(FormatMessage, FailsAsWindowsDoes) {
    char buffer[256];
    const auto format = [&](DWORD flags, DWORD code, DWORD language, LPSTR out, DWORD size) {
        return [=] { return FormatMessageA(flags, nullptr, code, language, out, size, nullptr) != 0; };
    };
    const std::string access = "Access is denied.\r\n";
    const auto fits = static_cast<DWORD>(access.size() + 1);
    EXPECT_TRUE(FailsWith(ERROR_MR_MID_NOT_FOUND, format(kSystem, 9999, 0, buffer, 256)));
    EXPECT_TRUE(FailsWith(ERROR_MR_MID_NOT_FOUND, [] { return Allocated(0xFFFFFFFEu) != "<none>"; }));
    // The caller's buffer must hold the text and its zero.
    EXPECT_TRUE(FailsWith(ERROR_INSUFFICIENT_BUFFER, format(kSystem, 5, 0, buffer, fits - 1)));
    EXPECT_TRUE(vlibtest::SucceedsQuietly(format(kSystem, 5, 0, buffer, fits)));
    EXPECT_EQ(buffer, access);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, format(FORMAT_MESSAGE_IGNORE_INSERTS, 5, 0, buffer, 256)));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, format(kSystem, 5, 0, nullptr, 256)));
    EXPECT_TRUE(FailsWith(ERROR_RESOURCE_LANG_NOT_FOUND, format(kSystem, 5, MAKELANGID(0x15, 1), buffer, 256)));
    // ERROR_MR_MID_NOT_FOUND's own text holds inserts.
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, format(FORMAT_MESSAGE_FROM_SYSTEM, 317, 0, buffer, 256)));
    EXPECT_TRUE(format(FORMAT_MESSAGE_FROM_SYSTEM, 5, 0, buffer, 256)());
}

TEST(LocalMemory, AllocatesZeroedBlocksAndRefusesForeignPointers) {
    auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 64), std::string(64, '\0'));
    EXPECT_EQ(LocalSize(block), 64u);
    HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
    EXPECT_NE(empty, nullptr);
    EXPECT_NE(empty, block);
    EXPECT_EQ(LocalFree(empty), nullptr);
    EXPECT_TRUE(vlibtest::SucceedsQuietly([] { return LocalFree(nullptr) == nullptr; }));
    EXPECT_EQ(LocalFree(block), nullptr);
    int local = 0;
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return LocalFree(block) != block; }));  // already freed
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return LocalFree(&local) != &local; }));
    EXPECT_TRUE(FailsWith(ERROR_INVALID_PARAMETER, [] { return LocalAlloc(0x0002 /* LMEM_MOVEABLE */, 8); }));
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's allocator aborts instead of failing
    EXPECT_TRUE(FailsWith(ERROR_NOT_ENOUGH_MEMORY, [] { return LocalAlloc(LMEM_FIXED, ~SIZE_T{0} / 2); }));
#endif
}

}  // namespace

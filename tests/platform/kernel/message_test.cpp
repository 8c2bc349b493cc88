// FormatMessage's system texts and buffer rules, and LocalAlloc / LocalFree.
#include <gtest/gtest.h>

#include <cstring>
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
    // Every code the platform can report has a text, ending in CR LF.
    for (DWORD code :
         {0u,    1u,    2u,    3u,    4u,    5u,     6u,     8u,     13u,    14u,    17u,   18u,  19u,  29u,
          30u,   31u,   32u,   38u,   50u,   80u,    87u,    109u,   112u,   120u,   122u,  123u, 126u, 127u,
          131u,  132u,  145u,  161u,  183u,  203u,   206u,   223u,   232u,   234u,   258u,  267u, 317u, 1004u,
          1113u, 1117u, 1460u, 1815u, 1921u, 10004u, 10009u, 10013u, 10014u, 10022u, 10024u}) {
        EXPECT_TRUE(Allocated(code).ends_with(".\r\n")) << code;
    }
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

// Tests of FormatMessage's system texts, its buffer rules and LocalAlloc /
// LocalFree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/kernel/Memory.h"
#include "platform/kernel/Message.h"

namespace {

constexpr DWORD kSentinel = 0xdeadbeef;
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
    EXPECT_EQ(Allocated(0), "The operation completed successfully.\r\n");
    EXPECT_EQ(Allocated(2), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(Allocated(5), "Access is denied.\r\n");
    EXPECT_EQ(Allocated(87), "The parameter is incorrect.\r\n");
    EXPECT_EQ(Allocated(112), "There is not enough space on the disk.\r\n");
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
        const std::string text = Allocated(code);
        EXPECT_TRUE(text.size() > 2 && text.ends_with(".\r\n")) << code << ": " << text;
    }
    for (DWORD code = 10035; code <= 10061; ++code) EXPECT_TRUE(Allocated(code).ends_with(".\r\n")) << code;

    // HRESULTs: facility 7 wraps a Win32 code and takes its text; the COM
    // codes have their own.
    EXPECT_EQ(Allocated(0x80070005u), "Access is denied.\r\n");
    EXPECT_EQ(Allocated(0x80004005u), "Unspecified error\r\n");
    EXPECT_EQ(Allocated(0x8000FFFFu), "Catastrophic failure\r\n");
    EXPECT_EQ(Allocated(0x8007FFFFu), "<none>");

    wchar_t wide[64];
    ASSERT_EQ(FormatMessageW(kSystem, nullptr, 5, 0, wide, 64, nullptr), 19u);
    EXPECT_STREQ(wide, L"Access is denied.\r\n");
}

TEST(FormatMessage, FailsAsWindowsDoes) {
    char buffer[256];
    SetLastError(kSentinel);
    EXPECT_EQ(FormatMessageA(kSystem, nullptr, 9999, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(Allocated(0xFFFFFFFEu), "<none>");
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);

    // The caller's buffer must hold the text and its zero.
    const std::string access = "Access is denied.\r\n";
    SetLastError(kSentinel);
    EXPECT_EQ(FormatMessageA(kSystem, nullptr, 5, 0, buffer, static_cast<DWORD>(access.size()), nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    SetLastError(kSentinel);
    EXPECT_EQ(FormatMessageA(kSystem, nullptr, 5, 0, buffer, static_cast<DWORD>(access.size() + 1), nullptr),
              access.size());
    EXPECT_EQ(buffer, access);
    EXPECT_EQ(GetLastError(), kSentinel);

    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 5, 0, buffer, 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageA(kSystem, nullptr, 5, 0, nullptr, 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FormatMessageA(kSystem, nullptr, 5, MAKELANGID(0x15, 1), buffer, 256, nullptr), 0u);  // Polish
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
    // ERROR_MR_MID_NOT_FOUND's own text holds inserts.
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 317, 0, buffer, 256, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_NE(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, 256, nullptr), 0u);
}

TEST(FormatMessage, AllocatesAtLeastTheRequestedSize) {
    LPWSTR text = nullptr;
    ASSERT_EQ(FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 5, 0, reinterpret_cast<LPWSTR>(&text),
                             500, nullptr),
              19u);
    EXPECT_EQ(LocalSize(text), 500 * sizeof(wchar_t));
    EXPECT_STREQ(text, L"Access is denied.\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
}

TEST(LocalMemory, AllocatesZeroedBlocksAndRefusesForeignPointers) {
    auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(LocalSize(block), 64u);

    HLOCAL empty = LocalAlloc(LMEM_FIXED, 0);
    EXPECT_NE(empty, nullptr);
    EXPECT_NE(empty, block);
    EXPECT_EQ(LocalFree(empty), nullptr);

    SetLastError(kSentinel);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), kSentinel);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(block), block);  // already freed
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    int local = 0;
    SetLastError(kSentinel);
    EXPECT_EQ(LocalFree(&local), &local);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    EXPECT_EQ(LocalAlloc(0x0002 /* LMEM_MOVEABLE */, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's allocator aborts instead of failing
    EXPECT_EQ(LocalAlloc(LMEM_FIXED, ~SIZE_T{0} / 2), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
#endif
}

}  // namespace

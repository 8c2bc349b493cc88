// The one rule from wide Windows-form paths to file-system names and back.
#include "platform/kernel/FileSystemPath.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/Files.h"

namespace {

TEST(FileSystemPath, WidePathsBecomeUtf8WithSlashesOrFailAsCreateFileWDoes) {
    struct Case {
        std::wstring wide;
        const char* narrow;  // nullptr: no form
        DWORD error;
    };
    const Case cases[] = {
        {L"C:\\Dane\\plik.txt", "C:/Dane/plik.txt", 0},
        {L"/tmp/za\u017C\u00F3\u0142\u0107", "/tmp/za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87", 0},
        {L"wykres\xD83D\xDCC8.txt", "wykres\xF0\x9F\x93\x88.txt", 0},
        {L"bad\xD800.txt", nullptr, ERROR_INVALID_NAME},
        {L"bad\xDC00", nullptr, ERROR_INVALID_NAME},
        {std::wstring(L"a\0b", 3), nullptr, ERROR_INVALID_NAME},
        {L"", nullptr, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        std::string out = "untouched";
        SetLastError(0xdeadbeef);
        const BOOL converted = vplatform::ToFileSystemPath(c.wide, out);
        EXPECT_EQ(converted != FALSE, c.narrow != nullptr) << out;
        EXPECT_EQ(out, c.narrow != nullptr ? c.narrow : "untouched");
        EXPECT_EQ(GetLastError(), c.narrow != nullptr ? 0xdeadbeef : c.error);
        if (c.narrow != nullptr && c.wide.find(L'\\') == std::wstring::npos) {
            std::wstring back;
            EXPECT_TRUE(vplatform::FromFileSystemPath(out, back));
            EXPECT_EQ(back, c.wide);
        }
        // CreateFileW agrees on which paths have no form.
        if (c.narrow == nullptr && c.error == ERROR_INVALID_NAME && c.wide.find(L'\0') == std::wstring::npos) {
            EXPECT_EQ(CreateFileW(c.wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                      INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
        }
    }
    std::wstring wide = L"untouched";
    EXPECT_FALSE(vplatform::FromFileSystemPath("bad\xFF.txt", wide));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(wide, L"untouched");
}

}  // namespace

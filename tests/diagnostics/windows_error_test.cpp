// Tests of the error and exception texts of VTools::WindowsError.
#include <gtest/gtest.h>

#include <string>

#include "diagnostics/WindowsError.h"
#include "platform/mfc/AfxException.h"
#include "tests/support/AcpScope.h"

namespace {

using namespace VTools::WindowsError;

TEST(WindowsError, ErrorTextsEndBeforeTheLineEnd) {
    EXPECT_EQ(ErrorToString(2), "The system cannot find the file specified.");
    EXPECT_EQ(ErrorToString(0), "The operation completed successfully.");
    EXPECT_EQ(ErrorToString(10054), "An existing connection was forcibly closed by the remote host.");
    EXPECT_EQ(TranlateErrorMessage(2), "Error code: 2, message: The system cannot find the file specified.");
    EXPECT_EQ(TranlateErrorMessage(112), "Error code: 112, message: There is not enough space on the disk.");

    EXPECT_EQ(ErrorToString(4242), "Unknow error");
    EXPECT_EQ(TranlateErrorMessage(-2147024891), "Error code: -2147024891, message: Unknow error");
}

TEST(WindowsError, ExceptionTextsCarryThePolishPrefix) {
    const std::wstring failed = L"Wyj\u0105tek MFC: B\u0142\u0105d podczas formatowania wyj\u0105tku";
    EXPECT_EQ(ExceptionToWString(nullptr), failed);
    const CUserException user;
    EXPECT_EQ(ExceptionToWString(&user), failed);

    const CFileException file(CFileException::fileNotFound, 2, L"dane.txt");
    EXPECT_EQ(ExceptionToWString(&file), L"Wyj\u0105tek MFC: dane.txt was not found.");
    const CMemoryException memory;
    EXPECT_EQ(ExceptionToWString(&memory), L"Wyj\u0105tek MFC: Out of memory.");

    // The message buffer holds 999 characters.
    const CFileException longName(CFileException::fileNotFound, 2, std::wstring(2000, L'n').c_str());
    EXPECT_EQ(ExceptionToWString(&longName), L"Wyj\u0105tek MFC: " + std::wstring(999, L'n'));

    {
        const vlibtest::AcpScope acp(1250);
        EXPECT_EQ(ExceptionToString(&file), "Wyj\xB9tek MFC: dane.txt was not found.");
    }
    const vlibtest::AcpScope acp(CP_UTF8);
    EXPECT_EQ(ExceptionToString(nullptr),
              "Wyj\xC4\x85tek MFC: B\xC5\x82\xC4\x85"
              "d podczas formatowania wyj\xC4\x85tku");
}

}  // namespace

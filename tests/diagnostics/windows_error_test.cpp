// Tests of the error and exception texts of VTools::WindowsError.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "diagnostics/WindowsError.h"
#include "platform/mfc/AfxException.h"
#include "tests/support/AcpScope.h"

namespace {

using namespace VTools::WindowsError;

// Win32 codes, HRESULTs wrapping them, COM's own HRESULTs, and codes without
// a text (also wrapped in an HRESULT): the text ends before its line end.
TEST(WindowsError, ErrorTextsAreTheSystemsUpToTheLineEnd) {
    const struct {
        std::uint32_t code;
        const char* text;
    } cases[] = {
        {0, "The operation completed successfully."},
        {2, "The system cannot find the file specified."},
        {0x80070005u, "Access is denied."},                                                    // E_ACCESSDENIED
        {0x80072746u, "An existing connection was forcibly closed by the remote host."},       // WSAECONNRESET
        {0x80004005u, "Unspecified error"},                                                    // E_FAIL
        {0x8000000Au, "The data necessary to complete this operation is not yet available."},  // E_PENDING
        {0x800401F0u, "CoInitialize has not been called."},                                    // CO_E_NOTINITIALIZED
        {4242, "Unknow error"},
        {0x80071092u, "Unknow error"},  // HRESULT of 4242
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorToString(static_cast<std::int32_t>(c.code)), c.text) << std::hex << c.code;
    EXPECT_EQ(TranlateErrorMessage(112), "Error code: 112, message: There is not enough space on the disk.");
    EXPECT_EQ(TranlateErrorMessage(-2147024891), "Error code: -2147024891, message: Access is denied.");
}

TEST(WindowsError, ExceptionTextsCarryThePolishPrefix) {
    const std::wstring failed = L"Wyj\u0105tek MFC: B\u0142\u0105d podczas formatowania wyj\u0105tku";
    EXPECT_EQ(ExceptionToWString(nullptr), failed);
    const CUserException user;
    EXPECT_EQ(ExceptionToWString(&user), failed);
    const CFileException file(CFileException::fileNotFound, 2, L"dane.txt");
    EXPECT_EQ(ExceptionToWString(&file), L"Wyj\u0105tek MFC: dane.txt was not found.");
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

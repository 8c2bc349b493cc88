// Tests of the MFC exceptions: ownership through Delete, the pointer throw and
// catch flow, and the messages.
#include <gtest/gtest.h>

#include <string>

#include "platform/kernel/WinError.h"
#include "platform/mfc/AfxException.h"

namespace {

// Counts destructions, to see whether Delete freed the object.
class CountedException : public CFileException {
public:
    explicit CountedException(int& destroyed, BOOL autoDelete) : m_destroyed(destroyed) { m_bAutoDelete = autoDelete; }
    ~CountedException() override { ++m_destroyed; }

private:
    int& m_destroyed;
};

std::wstring Message(const CException& e, UINT size = 256, BOOL* result = nullptr) {
    std::wstring buffer(size, L'#');
    UINT help = 7;
    const BOOL ok = e.GetErrorMessage(buffer.data(), size, &help);
    EXPECT_EQ(help, 0u);
    if (result != nullptr) *result = ok;
    return buffer.substr(0, buffer.find(L'\0'));
}

TEST(AfxException, DeleteFreesOnlyAutoDeleteObjects) {
    int destroyed = 0;
    (new CountedException(destroyed, TRUE))->Delete();
    EXPECT_EQ(destroyed, 1);

    {
        CountedException onStack(destroyed, FALSE);
        onStack.Delete();
        EXPECT_EQ(destroyed, 1);
    }
    EXPECT_EQ(destroyed, 2);
}

TEST(AfxException, ThrownPointersAreCaughtAsTheirBases) {
    try {
        AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, L"dane.bin");
    } catch (CException* e) {
        auto* file = dynamic_cast<CFileException*>(e);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->m_cause, CFileException::diskFull);
        EXPECT_EQ(file->m_lOsError, static_cast<LONG>(ERROR_DISK_FULL));
        EXPECT_EQ(file->m_strFileName, L"dane.bin");
        e->Delete();
    }

    // Out-of-memory reports need no allocation: one static object, which
    // Delete leaves alone.
    CException* first = nullptr;
    CException* second = nullptr;
    try {
        AfxThrowMemoryException();
    } catch (CMemoryException* e) {
        first = e;
        e->Delete();
    }
    try {
        AfxThrowMemoryException();
    } catch (CException* e) {
        second = e;
        e->Delete();
    }
    EXPECT_EQ(first, second);
    EXPECT_EQ(Message(*second), L"Out of memory.");

    bool caught = false;
    try {
        AfxThrowUserException();
    } catch (CUserException* e) {
        caught = true;
        e->Delete();
    }
    EXPECT_TRUE(caught);
    try {
        CFileException::ThrowOsError(ERROR_SHARING_VIOLATION, L"x.txt");
    } catch (CFileException* e) {
        EXPECT_EQ(e->m_cause, CFileException::sharingViolation);
        e->Delete();
    }
    CFileException::ThrowOsError(ERROR_SUCCESS);  // returns
}

TEST(AfxException, MessagesNameTheFile) {
    EXPECT_EQ(Message(CFileException(CFileException::fileNotFound)), L"An unnamed file was not found.");
    EXPECT_EQ(Message(CFileException(CFileException::fileNotFound, 2, L"raport.txt")), L"raport.txt was not found.");
    EXPECT_EQ(Message(CFileException(CFileException::accessDenied)), L"Access to an unnamed file was denied.");
    EXPECT_EQ(Message(CArchiveException(CArchiveException::endOfFile, L"a.dat")),
              L"An attempt was made to access a.dat past its end.");
    EXPECT_EQ(Message(CInvalidArgException()), L"Encountered an improper argument.");
    EXPECT_EQ(Message(CNotSupportedException()), L"An unsupported operation was attempted.");

    EXPECT_EQ(CFileException::OsErrorToException(ERROR_FILE_NOT_FOUND), CFileException::fileNotFound);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_PATH_NOT_FOUND), CFileException::badPath);
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_DISK_FULL), CFileException::diskFull);
    EXPECT_EQ(CFileException::OsErrorToException(12345), CFileException::genericException);
}

TEST(AfxException, GetErrorMessageTruncatesAndReportsMissingMessages) {
    BOOL ok = FALSE;
    EXPECT_EQ(Message(CFileException(CFileException::fileNotFound, 2, L"abc"), 6, &ok), L"abc w");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Message(CUserException(), 256, &ok), L"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(Message(CException(), 256, &ok), L"");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(CMemoryException().GetErrorMessage(nullptr, 10));
    wchar_t untouched = L'#';
    EXPECT_FALSE(CMemoryException().GetErrorMessage(&untouched, 0));
    EXPECT_EQ(untouched, L'#');
}

}  // namespace

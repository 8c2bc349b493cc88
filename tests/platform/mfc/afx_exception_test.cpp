// The MFC exceptions: ownership through Delete, the pointer throw and catch
// flow, and the messages.
#include <gtest/gtest.h>

#include <string>

#include "platform/WinError.h"
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

// The CException* a call throws (its caller releases it), or null.
template <class Call>
CException* Thrown(Call call) {
    try {
        call();
    } catch (CException* e) {
        return e;
    }
    return nullptr;
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

TEST(AfxException, ThrownPointersCarryTheirCauseAndOutOfMemoryIsOneStaticObject) {
    auto* file = dynamic_cast<CFileException*>(
        Thrown([] { AfxThrowFileException(CFileException::diskFull, ERROR_DISK_FULL, L"dane.bin"); }));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->m_cause, CFileException::diskFull);
    EXPECT_EQ(file->m_lOsError, static_cast<LONG>(ERROR_DISK_FULL));
    EXPECT_EQ(file->m_strFileName, L"dane.bin");
    file->Delete();
    file = dynamic_cast<CFileException*>(Thrown([] { CFileException::ThrowOsError(ERROR_SHARING_VIOLATION, L"x"); }));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->m_cause, CFileException::sharingViolation);
    file->Delete();
    EXPECT_EQ(Thrown([] { CFileException::ThrowOsError(ERROR_SUCCESS); }), nullptr);

    // Reporting a failed allocation allocates nothing; Delete leaves it alone.
    CException* first = Thrown([] { AfxThrowMemoryException(); });
    first->Delete();
    CException* second = Thrown([] { AfxThrowMemoryException(); });
    EXPECT_EQ(first, second);
    EXPECT_EQ(Message(*second), L"Out of memory.");
    second->Delete();
    CException* user = Thrown([] { AfxThrowUserException(); });
    EXPECT_NE(dynamic_cast<CUserException*>(user), nullptr);
    user->Delete();
}

TEST(AfxException, MessagesNameTheFileAndAreCutToTheBuffer) {
    EXPECT_EQ(Message(CFileException(CFileException::fileNotFound)), L"An unnamed file was not found.");
    EXPECT_EQ(Message(CFileException(CFileException::fileNotFound, 2, L"raport.txt")), L"raport.txt was not found.");
    EXPECT_EQ(Message(CFileException(CFileException::accessDenied)), L"Access to an unnamed file was denied.");
    EXPECT_EQ(Message(CArchiveException(CArchiveException::endOfFile, L"a.dat")),
              L"An attempt was made to access a.dat past its end.");
    EXPECT_EQ(Message(CNotSupportedException()), L"An unsupported operation was attempted.");
    EXPECT_EQ(CFileException::OsErrorToException(ERROR_PATH_NOT_FOUND), CFileException::badPath);
    EXPECT_EQ(CFileException::OsErrorToException(12345), CFileException::genericException);
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

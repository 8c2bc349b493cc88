// MFC exceptions and their English messages.
#include "platform/mfc/AfxException.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

#include "platform/WinError.h"

// --- CException -------------------------------------------------------------------

CException::~CException() = default;

void CException::Delete() {
    if (m_bAutoDelete) delete this;
}

BOOL CException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
    CopyMessage(L"", lpszError, nMaxError, pnHelpContext);
    return FALSE;
}

BOOL CException::CopyMessage(const wchar_t* message, LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) {
    if (pnHelpContext != nullptr) *pnHelpContext = 0;
    if (lpszError == nullptr || nMaxError == 0) return FALSE;
    const std::wstring_view text(message);
    const std::size_t count = std::min<std::size_t>(text.size(), nMaxError - 1);
    text.copy(lpszError, count);
    lpszError[count] = L'\0';
    return TRUE;
}

// --- Simple exceptions ---------------------------------------------------------------

BOOL CSimpleException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
    const wchar_t* message = Message();
    if (message == nullptr) return CException::GetErrorMessage(lpszError, nMaxError, pnHelpContext);
    return CopyMessage(message, lpszError, nMaxError, pnHelpContext);
}

const wchar_t* CMemoryException::Message() const {
    return L"Out of memory.";
}

const wchar_t* CNotSupportedException::Message() const {
    return L"An unsupported operation was attempted.";
}

const wchar_t* CInvalidArgException::Message() const {
    return L"Encountered an improper argument.";
}

const wchar_t* CResourceException::Message() const {
    return L"A required resource was unavailable.";
}

CUserException::~CUserException() = default;

// --- Exceptions naming a file ----------------------------------------------------------

namespace {

// Replaces "%1" in `pattern` with the file's name, or with "an unnamed file"
// for an empty name ("An unnamed file" when it begins the message); a real
// name is kept exactly as given.
std::wstring NameInMessage(std::wstring_view pattern, const CString& name) {
    std::wstring message(pattern);
    const auto at = message.find(L"%1");
    if (at == std::wstring::npos) return message;
    const std::wstring_view shown = !name.IsEmpty() ? std::wstring_view(name)
                                    : at == 0       ? std::wstring_view(L"An unnamed file")
                                                    : std::wstring_view(L"an unnamed file");
    message.replace(at, 2, shown);
    return message;
}

constexpr const wchar_t* kFileMessages[] = {
    L"No error occurred.",
    L"An unknown error occurred while accessing %1.",
    L"%1 was not found.",
    L"%1 contains an invalid path.",
    L"%1 could not be opened because there are too many open files.",
    L"Access to %1 was denied.",
    L"An invalid file handle was associated with %1.",
    L"%1 could not be removed because it is the current directory.",
    L"%1 could not be created because the directory is full.",
    L"Seek failed on %1.",
    L"A hardware I/O error was reported while accessing %1.",
    L"A sharing violation occurred while accessing %1.",
    L"A locking violation occurred while accessing %1.",
    L"Disk full while accessing %1.",
    L"An attempt was made to access %1 past its end.",
};

constexpr const wchar_t* kArchiveMessages[] = {
    L"No error occurred.",
    L"An unknown error occurred while accessing %1.",
    L"An attempt was made to write to %1 while it was being read.",
    L"An attempt was made to access %1 past its end.",
    L"An attempt was made to read from %1 while it was being written.",
    L"%1 has a bad format.",
    L"%1 contained an unexpected object.",
    L"%1 contains an incorrect schema.",
    L"The buffer of %1 is full.",
};

template <std::size_t N>
const wchar_t* PatternFor(const wchar_t* const (&table)[N], int cause) {
    // An unknown cause reads as the generic one.
    return cause >= 0 && static_cast<std::size_t>(cause) < N ? table[cause] : table[1];
}

}  // namespace

CFileException::CFileException(int cause, LONG lOsError, LPCWSTR lpszArchiveName)
    : CException(TRUE), m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszArchiveName) {}

BOOL CFileException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
    const std::wstring message = NameInMessage(PatternFor(kFileMessages, m_cause), m_strFileName);
    return CopyMessage(message.c_str(), lpszError, nMaxError, pnHelpContext);
}

int CFileException::OsErrorToException(LONG lOsError) {
    switch (static_cast<DWORD>(lOsError)) {
        case ERROR_SUCCESS:
            return none;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_NO_MORE_FILES:
        case ERROR_MOD_NOT_FOUND:
            return fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_NOT_SAME_DEVICE:
        case ERROR_DIRECTORY:
        case ERROR_CANT_RESOLVE_FILENAME:
        case ERROR_INVALID_PARAMETER:
            return badPath;
        case ERROR_TOO_MANY_OPEN_FILES:
            return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
        case ERROR_WRITE_FAULT:
            return accessDenied;
        case ERROR_INVALID_HANDLE:
            return invalidFile;
        case ERROR_DIR_NOT_EMPTY:
            return removeCurrentDir;
        case ERROR_NEGATIVE_SEEK:
        case ERROR_SEEK_ON_DEVICE:
        case ERROR_READ_FAULT:
            return badSeek;
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE:
            return hardIO;
        case ERROR_SHARING_VIOLATION:
            return sharingViolation;
        case ERROR_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
            return diskFull;
        case ERROR_HANDLE_EOF:
            return endOfFile;
        default:
            return genericException;
    }
}

int CFileException::ErrnoToException(int nErrno) {
    switch (nErrno) {
        case EPERM:
        case EACCES:
        case EROFS:
        case EEXIST:
            return accessDenied;
        case ENOENT:
        case ENXIO:
            return fileNotFound;
        case ENOTDIR:
        case EINVAL:
        case ENAMETOOLONG:
        case EXDEV:
            return badPath;
        case EMFILE:
        case ENFILE:
            return tooManyOpenFiles;
        case EBADF:
            return invalidFile;
        case ENOTEMPTY:
        case EBUSY:
            return removeCurrentDir;
        case ESPIPE:
            return badSeek;
        case EIO:
            return hardIO;
        case EDEADLK:
            return lockViolation;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return diskFull;
        default:
            return genericException;
    }
}

void CFileException::ThrowOsError(LONG lOsError, LPCWSTR lpszFileName) {
    if (lOsError != 0) AfxThrowFileException(OsErrorToException(lOsError), lOsError, lpszFileName);
}

void CFileException::ThrowErrno(int nErrno, LPCWSTR lpszFileName) {
    if (nErrno != 0) AfxThrowFileException(ErrnoToException(nErrno), nErrno, lpszFileName);
}

CArchiveException::CArchiveException(int cause, LPCWSTR lpszArchiveName)
    : CException(TRUE), m_cause(cause), m_strFileName(lpszArchiveName) {}

BOOL CArchiveException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const {
    const std::wstring message = NameInMessage(PatternFor(kArchiveMessages, m_cause), m_strFileName);
    return CopyMessage(message.c_str(), lpszError, nMaxError, pnHelpContext);
}

// --- Throwing ------------------------------------------------------------------------

void AfxThrowMemoryException() {
    static CMemoryException exception(FALSE);
    throw &exception;
}

void AfxThrowNotSupportedException() {
    static CNotSupportedException exception(FALSE);
    throw &exception;
}

void AfxThrowInvalidArgException() {
    static CInvalidArgException exception(FALSE);
    throw &exception;
}

void AfxThrowResourceException() {
    static CResourceException exception(FALSE);
    throw &exception;
}

void AfxThrowUserException() {
    throw new CUserException;
}

void AfxThrowFileException(int cause, LONG lOsError, LPCWSTR lpszFileName) {
    throw new CFileException(cause, lOsError, lpszFileName);
}

void AfxThrowArchiveException(int cause, LPCWSTR lpszArchiveName) {
    throw new CArchiveException(cause, lpszArchiveName);
}

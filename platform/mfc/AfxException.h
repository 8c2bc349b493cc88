// MFC exceptions: CException and the classes library code throws and catches
// as pointers (`throw new CFileException(...)`, `catch (CException* e)
// { ...; e->Delete(); }`), with their English messages.
//
// Ownership follows MFC: whoever catches the pointer releases it with
// Delete(), which deletes the object only when it was created with
// bAutoDelete TRUE (the default, for objects made with new).  An exception
// created on the stack or as a static object passes FALSE, and Delete leaves
// it alone.  AfxThrowMemoryException, AfxThrowNotSupportedException,
// AfxThrowInvalidArgException and AfxThrowResourceException throw one static
// object each, as MFC does (no allocation is needed to report a failed
// allocation); the other AfxThrow functions throw a new object.
//
// GetErrorMessage writes the message to the caller's buffer: at most
// nMaxError - 1 characters and a terminating zero, cut when longer.  It
// returns TRUE when the exception has a message; FALSE for CException itself
// and CUserException (and for a null buffer or nMaxError 0), after writing an
// empty text when it can.  A help context, when asked for, is always 0: the
// platform has no help files.
//
// Threads: an exception object belongs to the thread that caught it.  The four
// static objects thrown by AfxThrowMemoryException and its kin are never
// changed after construction, so threads may throw, catch, read and Delete them
// at once.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxString.h"

using PUINT = UINT*;

class VPLATFORM_API CException {
public:
    explicit CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
    CException(const CException&) = delete;
    CException& operator=(const CException&) = delete;
    virtual ~CException();

    // Deletes the object when it was created with bAutoDelete TRUE; otherwise
    // does nothing.  The pointer must not be used afterwards either way.
    void Delete();

    virtual BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const;

protected:
    // Copies `message` with the truncation rule above; returns TRUE unless the
    // buffer is unusable.
    static BOOL CopyMessage(const wchar_t* message, LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext);

    BOOL m_bAutoDelete;
};

// An exception whose message is a fixed text.
class VPLATFORM_API CSimpleException : public CException {
public:
    explicit CSimpleException(BOOL bAutoDelete = TRUE) : CException(bAutoDelete) {}
    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const override;

protected:
    // The fixed text, or null for none (GetErrorMessage then returns FALSE).
    virtual const wchar_t* Message() const { return nullptr; }
};

// "Out of memory."
class VPLATFORM_API CMemoryException : public CSimpleException {
public:
    explicit CMemoryException(BOOL bAutoDelete = TRUE) : CSimpleException(bAutoDelete) {}

protected:
    const wchar_t* Message() const override;
};

// "An unsupported operation was attempted."
class VPLATFORM_API CNotSupportedException : public CSimpleException {
public:
    explicit CNotSupportedException(BOOL bAutoDelete = TRUE) : CSimpleException(bAutoDelete) {}

protected:
    const wchar_t* Message() const override;
};

// "Encountered an improper argument."
class VPLATFORM_API CInvalidArgException : public CSimpleException {
public:
    explicit CInvalidArgException(BOOL bAutoDelete = TRUE) : CSimpleException(bAutoDelete) {}

protected:
    const wchar_t* Message() const override;
};

// "A required resource was unavailable."
class VPLATFORM_API CResourceException : public CSimpleException {
public:
    explicit CResourceException(BOOL bAutoDelete = TRUE) : CSimpleException(bAutoDelete) {}

protected:
    const wchar_t* Message() const override;
};

// Ends an operation that the user has already been told about: no message.
class VPLATFORM_API CUserException : public CSimpleException {
public:
    explicit CUserException(BOOL bAutoDelete = TRUE) : CSimpleException(bAutoDelete) {}
    ~CUserException() override;
};

// A failed file operation: the cause, the operating system's error code and
// the file's name.  The message names the file, or "an unnamed file" when the
// name is empty, e.g. "report.txt was not found.", "An unnamed file was not
// found.", "Access to an unnamed file was denied.".
class VPLATFORM_API CFileException : public CException {
public:
    enum {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    explicit CFileException(int cause = none, LONG lOsError = -1, LPCWSTR lpszArchiveName = nullptr);

    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const override;

    // The cause that a Windows error code (GetLastError) stands for; an
    // unknown code gives genericException.
    static int OsErrorToException(LONG lOsError);
    // The cause that a C runtime errno value stands for; an unknown value
    // gives genericException.
    static int ErrnoToException(int nErrno);
    // Throw a new CFileException with the cause of the error unless the error
    // is 0 (ERROR_SUCCESS), in which case they return.
    static void ThrowOsError(LONG lOsError, LPCWSTR lpszFileName = nullptr);
    static void ThrowErrno(int nErrno, LPCWSTR lpszFileName = nullptr);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

// A failed serialisation: the cause and the archive's file name.
class VPLATFORM_API CArchiveException : public CException {
public:
    enum {
        none,
        genericException,
        readOnly,
        endOfFile,
        writeOnly,
        badIndex,
        badClass,
        badSchema,
        bufferFull,
    };

    explicit CArchiveException(int cause = none, LPCWSTR lpszArchiveName = nullptr);

    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const override;

    int m_cause;
    CString m_strFileName;
};

// Each throws a CException-derived pointer and never returns.
[[noreturn]] VPLATFORM_API void AfxThrowMemoryException();
[[noreturn]] VPLATFORM_API void AfxThrowNotSupportedException();
[[noreturn]] VPLATFORM_API void AfxThrowInvalidArgException();
[[noreturn]] VPLATFORM_API void AfxThrowResourceException();
[[noreturn]] VPLATFORM_API void AfxThrowUserException();
[[noreturn]] VPLATFORM_API void AfxThrowFileException(int cause, LONG lOsError = -1, LPCWSTR lpszFileName = nullptr);
[[noreturn]] VPLATFORM_API void AfxThrowArchiveException(int cause, LPCWSTR lpszArchiveName = nullptr);

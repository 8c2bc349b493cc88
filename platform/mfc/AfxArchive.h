// MFC's binary serialisation: the CFile interface, the memory file CMemFile
// and the archive CArchive that writes and reads values through a buffer over
// a file.
//
// Byte layout.  Every value is written in a fixed width, little-endian
// whatever the host, as MFC writes it on Windows: BYTE, char, signed char and
// bool (0 or 1) take one byte; WORD, short and wchar_t two; int, LONG, UINT,
// DWORD and float four; LONGLONG, ULONGLONG, long long and double eight
// (floating-point values as their IEEE 754 bits).  A CString is written in
// MFC's Unicode form: the marker bytes FF FE FF (BYTE 0xFF, WORD 0xFFFE), a
// length prefix and the UTF-16LE code units.  The length prefix is one BYTE
// below 255; else 0xFF and a WORD below 0xFFFE; else 0xFF, 0xFFFF and a DWORD
// below 0xFFFFFFFF; else 0xFF, 0xFFFF, 0xFFFFFFFF and a QWORD.  Reading a
// CString accepts that form and MFC's narrow form (the same length prefix
// without the marker, then bytes in the ANSI code page).
//
// Failures are thrown as MFC exception pointers (catch CException*, release
// with Delete()):
//   - reading a value past the end of the data: CArchiveException with cause
//     endOfFile (AfxThrowArchiveException);
//   - writing into a loading archive: cause readOnly; reading from a storing
//     one: cause writeOnly; any use after Close or Abort: genericException;
//   - a string length beyond what a CString holds (2^31 - 1 units):
//     genericException;
//   - writing past the end of a memory file that may not grow:
//     CMemoryException (AfxThrowMemoryException), as MFC does; seeking before
//     the start: CFileException badSeek.
// Allocation failure of a growing memory file throws CMemoryException too.
//
// Threads: nothing here locks.  A CArchive, and the CFile under it, are used by
// one thread at a time; archives over different files are independent.
#pragma once

#include <cstdint>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"
#include "platform/mfc/AfxException.h"
#include "platform/mfc/AfxString.h"

// The file interface an archive works on.  The base class itself holds no
// file: its members throw CNotSupportedException (Abort does nothing).
class VPLATFORM_API CFile {
public:
    enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    virtual ULONGLONG GetLength() const;
    virtual ULONGLONG GetPosition() const;
    // Reads up to `nCount` bytes and returns how many were read (0 at the end).
    virtual UINT Read(void* lpBuf, UINT nCount);
    // Writes all `nCount` bytes or throws.
    virtual void Write(const void* lpBuf, UINT nCount);
    // Moves the position and returns the new one.
    virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    virtual void Flush();
    virtual void Close();
    // Closes without throwing.
    virtual void Abort();
};

// A file held in memory.  A memory file either owns its buffer (allocated with
// malloc and grown in steps of at least `nGrowBytes`) or is attached to the
// caller's buffer.  An attached buffer with nGrowBytes 0 is the whole file
// (its length is the buffer's size) and writing beyond it throws
// CMemoryException; with nGrowBytes above 0 the file starts empty and, when
// it must grow past the buffer, moves its content into a buffer of its own
// (the caller's buffer is never reallocated or freed, so it may live on the
// stack or come from new).
//
// Detach hands the buffer out and leaves the file empty: the caller then owns
// a buffer that the file allocated and frees it with free(), as with MFC;
// an attached buffer goes back to its owner.  Close and the destructor free
// an owned buffer.
class VPLATFORM_API CMemFile : public CFile {
public:
    explicit CMemFile(UINT nGrowBytes = 1024);
    CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
    ~CMemFile() override;

    void Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
    BYTE* Detach();

    ULONGLONG GetLength() const override { return m_nFileSize; }
    ULONGLONG GetPosition() const override { return m_nPosition; }
    UINT Read(void* lpBuf, UINT nCount) override;
    void Write(const void* lpBuf, UINT nCount) override;
    // A position beyond the end is allowed; writing there fills the gap with
    // zeros.  Before the start: CFileException badSeek.
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
    void Flush() override {}
    void Close() override;
    void Abort() override { Close(); }

private:
    void Reset();
    void GrowFile(ULONGLONG newLength);

    UINT m_nGrowBytes;
    ULONGLONG m_nPosition = 0;
    ULONGLONG m_nBufferSize = 0;
    ULONGLONG m_nFileSize = 0;
    BYTE* m_lpBuffer = nullptr;
    bool m_bAutoDelete = true;
};

// Writes (store) or reads (load) values through a buffer over a CFile, which
// the caller owns and which must outlive the archive.  A storing archive
// passes its buffer to the file when the buffer is full, on Flush and on
// Close; destroying a storing archive that was not closed flushes it too
// (unless created with bNoFlushOnDelete), swallowing any exception that the
// flush throws.
class VPLATFORM_API CArchive {
public:
    enum Mode { store = 0, load = 1, bNoFlushOnDelete = 2 };

    // `nBufSize` below 128 is taken as 128.  `lpBuf`, when given, must hold
    // nBufSize bytes and outlive the archive; otherwise the archive allocates
    // its buffer.
    CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    BOOL IsLoading() const { return (m_nMode & load) != 0; }
    BOOL IsStoring() const { return (m_nMode & load) == 0; }
    CFile* GetFile() const { return m_pFile; }

    // Storing: writes the buffered bytes to the file and flushes the file.
    // Loading: gives the bytes read ahead back to the file (seeks back).
    void Flush();
    // Flushes and detaches from the file; later use throws.
    void Close();
    // Detaches from the file without flushing; never throws.
    void Abort() noexcept;

    // Reads up to `nMax` bytes; returns how many (fewer only at the end).
    UINT Read(void* lpBuf, UINT nMax);
    void Write(const void* lpBuf, UINT nMax);

    CArchive& operator<<(BYTE value) { return Put(value); }
    CArchive& operator<<(WORD value) { return Put(value); }
    CArchive& operator<<(DWORD value) { return Put(value); }
    CArchive& operator<<(ULONGLONG value) { return Put(value); }
    CArchive& operator<<(unsigned long long value) { return Put(static_cast<ULONGLONG>(value)); }
    CArchive& operator<<(std::int8_t value) { return Put(static_cast<BYTE>(value)); }
    CArchive& operator<<(short value) { return Put(static_cast<WORD>(value)); }
    CArchive& operator<<(int value) { return Put(static_cast<DWORD>(value)); }
    CArchive& operator<<(LONGLONG value) { return Put(static_cast<ULONGLONG>(value)); }
    CArchive& operator<<(long long value) { return Put(static_cast<ULONGLONG>(value)); }
    CArchive& operator<<(char value) { return Put(static_cast<BYTE>(value)); }
    CArchive& operator<<(wchar_t value) { return Put(static_cast<WORD>(value)); }
    CArchive& operator<<(bool value) { return Put(static_cast<BYTE>(value ? 1 : 0)); }
    CArchive& operator<<(float value);
    CArchive& operator<<(double value);

    CArchive& operator>>(BYTE& value) { return Get(value); }
    CArchive& operator>>(WORD& value) { return Get(value); }
    CArchive& operator>>(DWORD& value) { return Get(value); }
    CArchive& operator>>(ULONGLONG& value) { return Get(value); }
    CArchive& operator>>(unsigned long long& value) { return GetAs<ULONGLONG>(value); }
    CArchive& operator>>(std::int8_t& value) { return GetAs<BYTE>(value); }
    CArchive& operator>>(short& value) { return GetAs<WORD>(value); }
    CArchive& operator>>(int& value) { return GetAs<DWORD>(value); }
    CArchive& operator>>(LONGLONG& value) { return GetAs<ULONGLONG>(value); }
    CArchive& operator>>(long long& value) { return GetAs<ULONGLONG>(value); }
    CArchive& operator>>(char& value) { return GetAs<BYTE>(value); }
    // A unit above 0xFFFF never comes back: wchar_t holds UTF-16 units.
    CArchive& operator>>(wchar_t& value) { return GetAs<WORD>(value); }
    // Any byte other than 0 reads as true.
    CArchive& operator>>(bool& value);
    CArchive& operator>>(float& value);
    CArchive& operator>>(double& value);

    friend VPLATFORM_API CArchive& operator<<(CArchive& ar, const CString& string);
    friend VPLATFORM_API CArchive& operator>>(CArchive& ar, CString& string);

private:
    template <typename T>
    CArchive& Put(T value) {
        BYTE bytes[sizeof(T)];
        for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
        Write(bytes, sizeof(T));
        return *this;
    }
    template <typename T>
    CArchive& Get(T& value) {
        BYTE bytes[sizeof(T)];
        ReadExactly(bytes, sizeof(T));
        T result = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            result = static_cast<T>(result | static_cast<T>(bytes[i]) << (8 * i));
        value = result;
        return *this;
    }
    template <typename Wire, typename T>
    CArchive& GetAs(T& value) {
        Wire wire;
        Get(wire);
        value = static_cast<T>(wire);
        return *this;
    }

    // Reads exactly `count` bytes or throws CArchiveException endOfFile.
    void ReadExactly(void* lpBuf, UINT count);
    void CheckOpen() const;
    void FlushBuffer();

    CFile* m_pFile;
    UINT m_nMode;
    UINT m_nBufSize;
    bool m_bUserBuf;
    BYTE* m_lpBufStart;
    BYTE* m_lpBufCur;
    BYTE* m_lpBufMax;
};

// The string length prefix of an archive, as the CString operators write and
// read it: AfxWriteStringLength writes the Unicode marker when `bUnicode` and
// then the length; AfxReadStringLength returns the length and sets
// `nCharSize` to 1 (narrow) or 2 (UTF-16) after the marker.
VPLATFORM_API void AfxWriteStringLength(CArchive& ar, UINT_PTR nLength, BOOL bUnicode);
VPLATFORM_API UINT_PTR AfxReadStringLength(CArchive& ar, int& nCharSize);

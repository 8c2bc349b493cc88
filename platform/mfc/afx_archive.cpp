// CFile, CMemFile and CArchive.
#include "platform/mfc/AfxArchive.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/nls/CodePage.h"

// --- CFile ----------------------------------------------------------------------

CFile::~CFile() = default;

ULONGLONG CFile::GetLength() const {
    AfxThrowNotSupportedException();
}

ULONGLONG CFile::GetPosition() const {
    AfxThrowNotSupportedException();
}

UINT CFile::Read(void*, UINT) {
    AfxThrowNotSupportedException();
}

void CFile::Write(const void*, UINT) {
    AfxThrowNotSupportedException();
}

ULONGLONG CFile::Seek(LONGLONG, UINT) {
    AfxThrowNotSupportedException();
}

void CFile::Flush() {
    AfxThrowNotSupportedException();
}

void CFile::Close() {
    AfxThrowNotSupportedException();
}

void CFile::Abort() {}

// --- CMemFile -------------------------------------------------------------------

CMemFile::CMemFile(UINT nGrowBytes) : m_nGrowBytes(nGrowBytes) {}

CMemFile::CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) : m_nGrowBytes(nGrowBytes) {
    Attach(lpBuffer, nBufferSize, nGrowBytes);
}

CMemFile::~CMemFile() {
    Close();
}

void CMemFile::Reset() {
    m_lpBuffer = nullptr;
    m_nBufferSize = 0;
    m_nFileSize = 0;
    m_nPosition = 0;
    m_bAutoDelete = true;
}

void CMemFile::Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) {
    Close();
    m_lpBuffer = lpBuffer;
    m_nBufferSize = lpBuffer != nullptr ? nBufferSize : 0;
    m_nGrowBytes = nGrowBytes;
    m_nFileSize = nGrowBytes == 0 ? m_nBufferSize : 0;
    m_nPosition = 0;
    m_bAutoDelete = false;
}

BYTE* CMemFile::Detach() {
    BYTE* buffer = m_lpBuffer;
    Reset();
    return buffer;
}

void CMemFile::Close() {
    if (m_bAutoDelete) std::free(m_lpBuffer);
    Reset();
}

void CMemFile::GrowFile(ULONGLONG newLength) {
    if (newLength <= m_nBufferSize) return;
    if (m_nGrowBytes == 0) AfxThrowMemoryException();
    // Grow geometrically (in whole steps of m_nGrowBytes) so that an archive of
    // many small writes costs linear time, not one reallocation per step.
    ULONGLONG size = std::max<ULONGLONG>(newLength, m_nBufferSize + m_nBufferSize / 2);
    size = (size + m_nGrowBytes - 1) / m_nGrowBytes * m_nGrowBytes;
    BYTE* grown = nullptr;
    if (m_bAutoDelete) {
        grown = static_cast<BYTE*>(std::realloc(m_lpBuffer, size));
        if (grown == nullptr) AfxThrowMemoryException();
    } else {
        // The caller's buffer is copied into one the file owns, never
        // reallocated: it may not come from malloc.
        grown = static_cast<BYTE*>(std::malloc(size));
        if (grown == nullptr) AfxThrowMemoryException();
        if (m_nFileSize != 0) std::memcpy(grown, m_lpBuffer, m_nFileSize);
        m_bAutoDelete = true;
    }
    m_lpBuffer = grown;
    m_nBufferSize = size;
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
    if (nCount == 0 || m_nPosition >= m_nFileSize) return 0;
    const auto count = static_cast<UINT>(std::min<ULONGLONG>(nCount, m_nFileSize - m_nPosition));
    std::memcpy(lpBuf, m_lpBuffer + m_nPosition, count);
    m_nPosition += count;
    return count;
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount == 0) return;
    const ULONGLONG end = m_nPosition + nCount;
    if (end > m_nBufferSize) GrowFile(end);
    // A gap left by seeking past the end reads as zeros.
    if (m_nPosition > m_nFileSize) std::memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
    std::memcpy(m_lpBuffer + m_nPosition, lpBuf, nCount);
    m_nPosition = end;
    m_nFileSize = std::max(m_nFileSize, end);
}

ULONGLONG CMemFile::Seek(LONGLONG lOff, UINT nFrom) {
    LONGLONG base = 0;
    switch (nFrom) {
        case begin:
            base = 0;
            break;
        case current:
            base = static_cast<LONGLONG>(m_nPosition);
            break;
        case end:
            base = static_cast<LONGLONG>(m_nFileSize);
            break;
        default:
            AfxThrowInvalidArgException();
    }
    LONGLONG position = 0;
    if (__builtin_add_overflow(base, lOff, &position) || position < 0) {
        AfxThrowFileException(CFileException::badSeek);
    }
    m_nPosition = static_cast<ULONGLONG>(position);
    return m_nPosition;
}

// --- CArchive -------------------------------------------------------------------

CArchive::CArchive(CFile* pFile, UINT nMode, int nBufSize, void* lpBuf)
    : m_pFile(pFile),
      m_nMode(nMode),
      m_nBufSize(static_cast<UINT>(std::max(nBufSize, 128))),
      m_bUserBuf(lpBuf != nullptr) {
    if (pFile == nullptr) AfxThrowInvalidArgException();
    m_lpBufStart = m_bUserBuf ? static_cast<BYTE*>(lpBuf) : new BYTE[m_nBufSize];
    m_lpBufCur = m_lpBufStart;
    // Storing: the free room runs to the end of the buffer.  Loading: nothing
    // read ahead yet.
    m_lpBufMax = IsStoring() ? m_lpBufStart + m_nBufSize : m_lpBufStart;
}

CArchive::~CArchive() {
    if (m_pFile != nullptr && IsStoring() && (m_nMode & bNoFlushOnDelete) == 0) {
        try {
            Flush();
        } catch (CException* e) {
            e->Delete();
        } catch (...) {
        }
    }
    m_pFile = nullptr;
    if (!m_bUserBuf) delete[] m_lpBufStart;
}

void CArchive::CheckOpen() const {
    if (m_pFile == nullptr) AfxThrowArchiveException(CArchiveException::genericException);
}

void CArchive::FlushBuffer() {
    if (m_lpBufCur != m_lpBufStart) {
        const auto count = static_cast<UINT>(m_lpBufCur - m_lpBufStart);
        // Reset first: a file that throws must not see the same bytes again
        // from the destructor's flush.
        m_lpBufCur = m_lpBufStart;
        m_pFile->Write(m_lpBufStart, count);
    }
}

void CArchive::Flush() {
    CheckOpen();
    if (IsStoring()) {
        FlushBuffer();
        m_pFile->Flush();
    } else if (m_lpBufMax != m_lpBufCur) {
        m_pFile->Seek(-static_cast<LONGLONG>(m_lpBufMax - m_lpBufCur), CFile::current);
        m_lpBufCur = m_lpBufMax = m_lpBufStart;
    }
}

void CArchive::Close() {
    CheckOpen();
    Flush();
    m_pFile = nullptr;
}

void CArchive::Abort() noexcept {
    m_pFile = nullptr;
    m_lpBufCur = m_lpBufStart;
    m_lpBufMax = IsStoring() ? m_lpBufStart + m_nBufSize : m_lpBufStart;
}

void CArchive::Write(const void* lpBuf, UINT nMax) {
    CheckOpen();
    if (IsLoading()) AfxThrowArchiveException(CArchiveException::readOnly);
    auto source = static_cast<const BYTE*>(lpBuf);
    while (nMax != 0) {
        const auto room = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
        if (room == 0) {
            FlushBuffer();
            // A block at least as large as the buffer goes to the file at once.
            if (nMax >= m_nBufSize) {
                m_pFile->Write(source, nMax);
                return;
            }
            continue;
        }
        const UINT count = std::min(room, nMax);
        std::memcpy(m_lpBufCur, source, count);
        m_lpBufCur += count;
        source += count;
        nMax -= count;
    }
}

UINT CArchive::Read(void* lpBuf, UINT nMax) {
    CheckOpen();
    if (IsStoring()) AfxThrowArchiveException(CArchiveException::writeOnly);
    auto target = static_cast<BYTE*>(lpBuf);
    UINT done = 0;
    while (done < nMax) {
        auto available = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
        if (available == 0) {
            const UINT wanted = nMax - done;
            if (wanted >= m_nBufSize) {
                // Large blocks go straight from the file into the caller's memory.
                const UINT count = m_pFile->Read(target + done, wanted);
                done += count;
                if (count == 0) break;
                continue;
            }
            m_lpBufCur = m_lpBufStart;
            m_lpBufMax = m_lpBufStart + m_pFile->Read(m_lpBufStart, m_nBufSize);
            available = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
            if (available == 0) break;
        }
        const UINT count = std::min(available, nMax - done);
        std::memcpy(target + done, m_lpBufCur, count);
        m_lpBufCur += count;
        done += count;
    }
    return done;
}

void CArchive::ReadExactly(void* lpBuf, UINT count) {
    // The common case, a value wholly in the buffer, without the loop.
    if (m_pFile != nullptr && IsLoading() && static_cast<UINT>(m_lpBufMax - m_lpBufCur) >= count) {
        std::memcpy(lpBuf, m_lpBufCur, count);
        m_lpBufCur += count;
        return;
    }
    if (Read(lpBuf, count) != count) AfxThrowArchiveException(CArchiveException::endOfFile);
}

CArchive& CArchive::operator<<(float value) {
    return Put(std::bit_cast<DWORD>(value));
}

CArchive& CArchive::operator<<(double value) {
    return Put(std::bit_cast<ULONGLONG>(value));
}

CArchive& CArchive::operator>>(bool& value) {
    BYTE byte = 0;
    Get(byte);
    value = byte != 0;
    return *this;
}

CArchive& CArchive::operator>>(float& value) {
    DWORD bits = 0;
    Get(bits);
    value = std::bit_cast<float>(bits);
    return *this;
}

CArchive& CArchive::operator>>(double& value) {
    ULONGLONG bits = 0;
    Get(bits);
    value = std::bit_cast<double>(bits);
    return *this;
}

// --- Strings ------------------------------------------------------------------------

void AfxWriteStringLength(CArchive& ar, UINT_PTR nLength, BOOL bUnicode) {
    if (bUnicode) {
        ar << static_cast<BYTE>(0xFF);
        ar << static_cast<WORD>(0xFFFE);
    }
    if (nLength < 0xFF) {
        ar << static_cast<BYTE>(nLength);
    } else if (nLength < 0xFFFE) {
        ar << static_cast<BYTE>(0xFF);
        ar << static_cast<WORD>(nLength);
    } else if (nLength < 0xFFFFFFFFu) {
        ar << static_cast<BYTE>(0xFF);
        ar << static_cast<WORD>(0xFFFF);
        ar << static_cast<DWORD>(nLength);
    } else {
        ar << static_cast<BYTE>(0xFF);
        ar << static_cast<WORD>(0xFFFF);
        ar << static_cast<DWORD>(0xFFFFFFFFu);
        ar << static_cast<ULONGLONG>(nLength);
    }
}

UINT_PTR AfxReadStringLength(CArchive& ar, int& nCharSize) {
    nCharSize = 1;
    BYTE byteLength = 0;
    ar >> byteLength;
    if (byteLength < 0xFF) return byteLength;
    WORD wordLength = 0;
    ar >> wordLength;
    if (wordLength == 0xFFFE) {
        // The Unicode marker: the length prefix starts over.
        nCharSize = 2;
        ar >> byteLength;
        if (byteLength < 0xFF) return byteLength;
        ar >> wordLength;
    }
    if (wordLength < 0xFFFF) return wordLength;
    DWORD dwordLength = 0;
    ar >> dwordLength;
    if (dwordLength < 0xFFFFFFFFu) return dwordLength;
    ULONGLONG qwordLength = 0;
    ar >> qwordLength;
    return qwordLength;
}

CArchive& operator<<(CArchive& ar, const CString& string) {
    const std::wstring_view text = string;
    AfxWriteStringLength(ar, text.size(), TRUE);
    // Units in chunks, converted to little-endian bytes.
    BYTE chunk[1024];
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t count = std::min<std::size_t>(text.size() - at, sizeof chunk / 2);
        for (std::size_t i = 0; i < count; ++i) {
            const auto unit = static_cast<WORD>(text[at + i]);
            chunk[2 * i] = static_cast<BYTE>(unit);
            chunk[2 * i + 1] = static_cast<BYTE>(unit >> 8);
        }
        ar.Write(chunk, static_cast<UINT>(2 * count));
        at += count;
    }
    return ar;
}

CArchive& operator>>(CArchive& ar, CString& string) {
    int charSize = 1;
    const UINT_PTR length = AfxReadStringLength(ar, charSize);
    if (length > static_cast<UINT_PTR>(INT_MAX)) AfxThrowArchiveException(CArchiveException::genericException);
    // Read in pieces, so that a corrupt length cannot make us allocate more
    // than the data really holds before the end of the data is found.
    std::string bytes;
    const std::size_t total = static_cast<std::size_t>(length) * static_cast<std::size_t>(charSize);
    constexpr std::size_t kPiece = 1u << 20;
    while (bytes.size() < total) {
        const std::size_t count = std::min(kPiece, total - bytes.size());
        const std::size_t at = bytes.size();
        bytes.resize(at + count);
        if (ar.Read(bytes.data() + at, static_cast<UINT>(count)) != count) {
            AfxThrowArchiveException(CArchiveException::endOfFile);
        }
    }
    std::wstring text;
    if (charSize == 2) {
        text.resize(static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<wchar_t>(static_cast<BYTE>(bytes[2 * i]) | static_cast<BYTE>(bytes[2 * i + 1]) << 8);
        }
    } else if (!bytes.empty()) {
        const int size = static_cast<int>(bytes.size());
        const int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
        if (units <= 0) AfxThrowArchiveException(CArchiveException::genericException);
        text.resize(static_cast<std::size_t>(units));
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), units);
    }
    string = std::move(text);
    return ar;
}

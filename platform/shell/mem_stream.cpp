// SHCreateMemStream: a reference-counted stream over a growable byte vector.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include "platform/shell/ShlwApi.h"

namespace {

// The largest size a memory stream takes: sizes travel as ULONG.
constexpr std::uint64_t kMaxSize = std::numeric_limits<ULONG>::max();

class MemoryStream final : public IStream {
public:
    MemoryStream(const BYTE* data, std::size_t size, std::size_t position)
        : m_data(data, data + size), m_position(position) {}

    HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISequentialStream) ||
            IsEqualIID(riid, IID_IStream)) {
            AddRef();
            *ppvObject = static_cast<IStream*>(this);
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead != nullptr) *pcbRead = 0;
        if (pv == nullptr) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(m_mutex);
        const std::uint64_t available = m_position < m_data.size() ? m_data.size() - m_position : 0;
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(cb, available));
        if (count != 0) std::memcpy(pv, m_data.data() + m_position, count);
        m_position += count;
        if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(count);
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten != nullptr) *pcbWritten = 0;
        if (pv == nullptr) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(m_mutex);
        const std::uint64_t end = m_position + std::uint64_t{cb};
        if (end > kMaxSize) return STG_E_MEDIUMFULL;
        try {
            if (end > m_data.size()) m_data.resize(static_cast<std::size_t>(end));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        if (cb != 0) std::memcpy(m_data.data() + m_position, pv, cb);
        m_position = static_cast<std::size_t>(end);
        if (pcbWritten != nullptr) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override {
        std::lock_guard lock(m_mutex);
        std::int64_t base = 0;
        if (dwOrigin == STREAM_SEEK_CUR) {
            base = static_cast<std::int64_t>(m_position);
        } else if (dwOrigin == STREAM_SEEK_END) {
            base = static_cast<std::int64_t>(m_data.size());
        } else if (dwOrigin != STREAM_SEEK_SET) {
            return STG_E_INVALIDFUNCTION;
        }
        const std::int64_t move = dlibMove.QuadPart;
        if ((move < 0 && base + move < 0) || (move > 0 && static_cast<std::uint64_t>(move) > kMaxSize - base)) {
            return STG_E_INVALIDFUNCTION;
        }
        m_position = static_cast<std::size_t>(base + move);
        if (plibNewPosition != nullptr) plibNewPosition->QuadPart = m_position;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER libNewSize) override {
        if (libNewSize.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
        std::lock_guard lock(m_mutex);
        try {
            m_data.resize(static_cast<std::size_t>(libNewSize.QuadPart));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override {
        if (pcbRead != nullptr) pcbRead->QuadPart = 0;
        if (pcbWritten != nullptr) pcbWritten->QuadPart = 0;
        if (pstm == nullptr) return STG_E_INVALIDPOINTER;
        std::vector<BYTE> chunk;
        {
            // Copied out first: the target may be this stream.
            std::lock_guard lock(m_mutex);
            const std::uint64_t available = m_position < m_data.size() ? m_data.size() - m_position : 0;
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(cb.QuadPart, available));
            try {
                chunk.assign(m_data.begin() + static_cast<std::ptrdiff_t>(m_position),
                             m_data.begin() + static_cast<std::ptrdiff_t>(m_position + count));
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
            m_position += count;
        }
        if (pcbRead != nullptr) pcbRead->QuadPart = chunk.size();
        ULONG written = 0;
        const HRESULT result = pstm->Write(chunk.data(), static_cast<ULONG>(chunk.size()), &written);
        if (pcbWritten != nullptr) pcbWritten->QuadPart = written;
        return result;
    }

    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }

    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override {
        if (pstatstg == nullptr) return STG_E_INVALIDPOINTER;
        if (grfStatFlag != STATFLAG_DEFAULT && grfStatFlag != STATFLAG_NONAME) return STG_E_INVALIDFLAG;
        std::lock_guard lock(m_mutex);
        *pstatstg = STATSTG{};
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = m_data.size();
        pstatstg->grfMode = STGM_READWRITE;
        return S_OK;
    }

    HRESULT Clone(IStream** ppstm) override {
        if (ppstm == nullptr) return STG_E_INVALIDPOINTER;
        *ppstm = nullptr;
        std::lock_guard lock(m_mutex);
        try {
            *ppstm = new MemoryStream(m_data.data(), m_data.size(), m_position);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    ~MemoryStream() = default;

    std::atomic<ULONG> m_references{1};
    std::mutex m_mutex;
    std::vector<BYTE> m_data;  // under m_mutex
    std::size_t m_position;    // under m_mutex; may lie past the end
};

}  // namespace

extern "C" {

IStream* SHCreateMemStream(const BYTE* pInit, UINT cbInit) {
    try {
        return new MemoryStream(pInit, pInit != nullptr ? cbInit : 0, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
}

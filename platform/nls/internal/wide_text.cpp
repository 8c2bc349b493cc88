#include "platform/nls/internal/WideText.h"

#include <algorithm>
#include <cstdint>

#include "platform/nls/internal/utf.h"

namespace vplatform {
namespace {

bool IsContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// The bytes of the character a byte starts, as its high bits tell; 1 for a
// continuation byte and for 0xF8–0xFF, which start none.
std::size_t LengthOfLead(char byte) {
    const auto b = static_cast<unsigned char>(byte);
    if (b < 0xC0 || b >= 0xF8) return 1;
    return b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
}

}  // namespace

bool WideText::Reserve(std::size_t more) noexcept {
    constexpr std::size_t kMostUnits = SIZE_MAX / sizeof(wchar_t) / 2;
    if (more > kMostUnits - m_size - 1) return false;
    const std::size_t needed = m_size + more + 1;
    if (needed <= m_capacity) return true;
    // Doubling keeps small growths few; a large block grows by moving pages.
    const std::size_t capacity = std::max(needed, std::min(m_capacity * 2, kMostUnits));
    void* grown = std::realloc(m_units.get(), capacity * sizeof(wchar_t));
    if (grown == nullptr) return false;
    (void)m_units.release();
    m_units.reset(static_cast<std::byte*>(grown));
    m_capacity = capacity;
    return true;
}

bool WideText::AppendLatin1(const char* bytes, std::size_t count) noexcept {
    if (!Reserve(count)) return false;
    std::transform(bytes, bytes + count, End(),
                   [](char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); });
    m_size += count;
    return true;
}

MallocBytes WideText::Release(std::size_t& bytes) noexcept {
    if (!Reserve(0)) return nullptr;
    Units()[m_size] = L'\0';
    bytes = (m_size + 1) * sizeof(wchar_t);
    // Giving back the room reserved beyond the text moves nothing.
    if (void* fitted = std::realloc(m_units.get(), bytes)) {
        (void)m_units.release();
        m_units.reset(static_cast<std::byte*>(fitted));
    }
    m_size = 0;
    m_capacity = 0;
    return std::move(m_units);
}

bool Utf8PieceDecoder::Add(const char* bytes, std::size_t count, WideText& out) noexcept {
    std::size_t at = 0;
    if (m_carried > 0) {
        // The cut character takes the continuation bytes it still lacks; a
        // byte of another kind ends it ill-formed.
        const std::size_t length = LengthOfLead(m_carry[0]);
        while (m_carried < length && at < count && IsContinuation(bytes[at])) m_carry[m_carried++] = bytes[at++];
        if (m_carried < length && at == count) return true;  // still cut
        if (!Decode(m_carry, m_carried, out)) return false;
        m_carried = 0;
    }
    // A character cut at the end waits for the next piece: its lead is one
    // of the last three bytes, with fewer bytes after it than it needs.
    std::size_t end = count;
    for (std::size_t back = 1; back <= 3 && back <= count - at; ++back) {
        const char byte = bytes[count - back];
        if (IsContinuation(byte)) continue;
        if (LengthOfLead(byte) > back) end = count - back;
        break;
    }
    if (!Decode(bytes + at, end - at, out)) return false;
    m_carried = count - end;
    std::copy(bytes + end, bytes + count, m_carry);
    return true;
}

bool Utf8PieceDecoder::Finish(WideText& out) noexcept {
    const bool decoded = Decode(m_carry, m_carried, out);
    m_carried = 0;
    return decoded;
}

bool Utf8PieceDecoder::Decode(const char* bytes, std::size_t count, WideText& out) noexcept {
    if (count == 0) return true;
    // A byte gives one unit at most (four give two).
    if (!out.Reserve(count)) return false;
    const std::size_t units = internal::Utf8ToUtf16(bytes, count, out.End(), count);
    out.Written(units);
    return true;
}

}  // namespace vplatform

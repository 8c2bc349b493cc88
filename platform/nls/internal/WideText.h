// A wide text received in pieces: the clipboard's reading decodes each
// piece of a transfer as it arrives, while the owner sends the next, and
// hands the units over whole as a global memory block.
//
// The units live in malloc'ed memory grown with realloc, which moves the
// pages of a large block instead of copying them, so neither growing nor
// handing over copies the text.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "platform/PlatformExport.h"

namespace vplatform {

struct FreeBytes {
    void operator()(void* bytes) const noexcept { std::free(bytes); }
};
// Bytes from malloc, freed with free.
using MallocBytes = std::unique_ptr<std::byte[], FreeBytes>;

class VPLATFORM_API WideText {
public:
    // Room for `more` units past the end and a NUL after them; false when
    // memory runs out (the text is kept).
    bool Reserve(std::size_t more) noexcept;
    // Appends `count` Latin-1 bytes, one unit each; false when memory runs
    // out.
    bool AppendLatin1(const char* bytes, std::size_t count) noexcept;

    wchar_t* End() noexcept { return Units() + m_size; }
    // Counts `count` units written at End() after a Reserve of as many.
    void Written(std::size_t count) noexcept { m_size += count; }
    std::size_t Size() const noexcept { return m_size; }
    const wchar_t* Data() const noexcept { return Units(); }

    // The units and a NUL after them, in a block of exactly
    // (Size() + 1) * sizeof(wchar_t) bytes given in `bytes`; null when
    // memory runs out.  The text is empty afterwards.
    MallocBytes Release(std::size_t& bytes) noexcept;

private:
    wchar_t* Units() const noexcept { return reinterpret_cast<wchar_t*>(m_units.get()); }
    MallocBytes m_units;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;  // units, the NUL's room included
};

// Decodes UTF-8 that arrives in pieces split anywhere into a WideText, with
// the same units MultiByteToWideChar(CP_UTF8, 0) gives for the whole: a
// character cut at the end of a piece waits for the rest, and each maximal
// ill-formed subsequence becomes one U+FFFD.
class VPLATFORM_API Utf8PieceDecoder {
public:
    // False when memory runs out.
    bool Add(const char* bytes, std::size_t count, WideText& out) noexcept;
    // Decodes what is left of a cut character at the end of the text.
    bool Finish(WideText& out) noexcept;

private:
    bool Decode(const char* bytes, std::size_t count, WideText& out) noexcept;

    char m_carry[4] = {};
    std::size_t m_carried = 0;
};

}  // namespace vplatform

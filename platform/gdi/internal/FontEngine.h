// Realised fonts: a LOGFONTW resolved by fontconfig to a face and opened with
// FreeType at the pixel size GDI's rules give it.
//
// One engine lock guards every fontconfig and FreeType call (the library, the
// configuration and the faces); it is the innermost lock of the GDI area
// (taken with a DC's lock held, never the reverse).  Advances are cached per
// realised font and read without any lock: the code points below kFlat
// (Latin, Greek, Cyrillic) in one flat table of atomics, the rest of the
// Basic Multilingual Plane in pages of 256 atomics made on first use, others
// in a map under the engine lock.
// Fonts with the same LOGFONTW share one realised font while any of them
// lives.
//
// Threads: every member may be called from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/PlatformExport.h"
#include "platform/gdi/Fonts.h"

struct FT_FaceRec_;

namespace vplatform::gdi {

// The next code point of UTF-16 text at `*index`, which moves past it: a
// surrogate pair is one code point, a lone surrogate stands for itself, and
// a unit above 0xFFFF is taken as that code point.
inline char32_t NextCodePoint(const wchar_t* text, std::size_t count, std::size_t* index) {
    const auto unit = static_cast<char32_t>(text[*index]);
    ++*index;
    if (unit >= 0xD800 && unit < 0xDC00 && *index < count) {
        const auto low = static_cast<char32_t>(text[*index]);
        if (low >= 0xDC00 && low < 0xE000) {
            ++*index;
            return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return unit;
}

class VPLATFORM_API FontInstance {
public:
    FontInstance(const FontInstance&) = delete;
    FontInstance& operator=(const FontInstance&) = delete;
    ~FontInstance();

    const TEXTMETRICW& Metrics() const { return m_metrics; }
    // The resolved face's family name, file (UTF-8) and index in the file.
    const std::wstring& Family() const { return m_family; }
    const std::string& File() const { return m_file; }
    int FaceIndex() const { return m_faceIndex; }
    // The em height and the horizontal em in pixels.
    int PixelsPerEm() const { return m_ppem; }
    int HorizontalPixelsPerEm() const { return m_xppem; }

    // The hinted advance of a code point in whole pixels (the missing glyph's
    // for a code point the face lacks).
    int Advance(char32_t codePoint) {
        if (codePoint < kFlat) {
            const std::int32_t advance = m_flat[codePoint].load(std::memory_order_relaxed);
            if (advance >= 0) return advance;
        } else if (codePoint < 0x10000) {
            const Page* page = m_pages[codePoint >> 8].load(std::memory_order_acquire);
            if (page != nullptr) {
                const std::int32_t advance = page->advances[codePoint & 0xFF].load(std::memory_order_relaxed);
                if (advance >= 0) return advance;
            }
        }
        return LoadAdvance(codePoint);
    }

    // The width of `count` UTF-16 units: the sum of the advances, a
    // surrogate pair being one code point.
    long long Width(const wchar_t* text, std::size_t count) {
        return WidthUnless(text, count, [](wchar_t) { return false; });
    }
    // The same in one pass with a check of each unit: -1 as soon as
    // `special` holds for one.
    template <class Special>
    long long WidthUnless(const wchar_t* text, std::size_t count, Special special) {
        long long width = 0;
        std::size_t i = 0;
        // Units of the flat table whose advances are known: one load each.
        for (; i < count; ++i) {
            const wchar_t unit = text[i];
            if (special(unit)) return -1;
            const auto codePoint = static_cast<char32_t>(unit);
            if (codePoint >= kFlat) break;
            const std::int32_t advance = m_flat[codePoint].load(std::memory_order_relaxed);
            if (advance < 0) break;
            width += advance;
        }
        // The rest, from the first unit the table could not answer (checked
        // already), one code point at a time.
        if (i < count) {
            width += Advance(NextCodePoint(text, count, &i));
            while (i < count) {
                if (special(text[i])) return -1;
                width += Advance(NextCodePoint(text, count, &i));
            }
        }
        return width;
    }
    // How many units fit in `maxWidth` pixels (a pair whole or not at all),
    // with the width of those units in `width`.
    std::size_t Fit(const wchar_t* text, std::size_t count, long long maxWidth, long long* width);

private:
    friend std::shared_ptr<FontInstance> RealizeFont(const LOGFONTW& logfont, unsigned long* error);

    struct Page {
        Page();
        std::array<std::atomic<std::int32_t>, 256> advances;
    };

    // Code points below this have their advances in m_flat.
    static constexpr char32_t kFlat = 0x500;

    FontInstance();
    int LoadAdvance(char32_t codePoint);

    FT_FaceRec_* m_face = nullptr;  // under the engine lock
    TEXTMETRICW m_metrics{};
    std::wstring m_family;
    std::string m_file;
    int m_faceIndex = 0;
    int m_ppem = 0;
    int m_xppem = 0;
    std::array<std::atomic<std::int32_t>, kFlat> m_flat;  // -1: not loaded yet
    std::array<std::atomic<Page*>, 256> m_pages{};        // the pages below kFlat stay null
    std::map<char32_t, int> m_astral;                     // under the engine lock
};

// The realised font of a LOGFONTW, shared with every live one of the same
// LOGFONTW.  Null with `*error` set (ERROR_FILE_NOT_FOUND when no face can be
// found or read, ERROR_NOT_ENOUGH_MEMORY) otherwise.
VPLATFORM_API std::shared_ptr<FontInstance> RealizeFont(const LOGFONTW& logfont, unsigned long* error);

}  // namespace vplatform::gdi

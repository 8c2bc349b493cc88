// Fonts, text metrics, text extents and DrawTextW's layout.
#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinError.h"
#include "platform/gdi/DrawText.h"
#include "platform/gdi/Fonts.h"
#include "platform/gdi/internal/Objects.h"
#include "platform/nls/CodePage.h"

namespace vplatform::gdi {
namespace {

constexpr wchar_t kTab = L'\t';
constexpr wchar_t kLineFeed = L'\n';
constexpr wchar_t kReturn = L'\r';
constexpr wchar_t kSpace = L' ';
constexpr wchar_t kPrefix = L'&';
constexpr wchar_t kEllipsis[] = L"...";

std::shared_ptr<Dc> FindDc(HDC hdc) {
    auto dc = Find<Dc>(hdc);
    if (!dc) SetLastError(ERROR_INVALID_HANDLE);
    return dc;
}

// The calling thread's measuring cache (Objects.h describes it): the DC it
// measured on last, the font selected there then, and that font realised.
struct Measuring {
    HDC hdc = nullptr;
    std::shared_ptr<Dc> dc;
    std::shared_ptr<GdiObject> font;
    FontInstance* instance = nullptr;
};

// The cache is made at a thread's first measuring call and freed by its
// owner as the thread's C++ objects end; calls made after that (from the
// platform's own thread-end work) go without it.  Initial-exec and trivial,
// so that the fast path reads it with one load and no guard.
__attribute__((tls_model("initial-exec"))) constinit thread_local Measuring* t_measuring = nullptr;
__attribute__((tls_model("initial-exec"))) constinit thread_local bool t_measuringEnded = false;

struct MeasuringOwner {
    bool armed = false;  // set as the cache is made, which registers this destructor
    ~MeasuringOwner() {
        t_measuringEnded = true;
        delete std::exchange(t_measuring, nullptr);
    }
};
thread_local MeasuringOwner t_measuringOwner;

// The realised font of `hdc` when the thread's cache holds it, or null.
FontInstance* CachedFont(HDC hdc) {
    const Measuring* cache = t_measuring;
    if (cache == nullptr || cache->instance == nullptr || cache->hdc != hdc ||
        cache->dc->selectedFont.load(std::memory_order_acquire) != cache->font.get()) {
        return nullptr;
    }
    return cache->instance;
}

// The realised font of the font selected in `dc` (found for `hdc`), kept in
// the thread's cache; null with the last error set (ERROR_INVALID_HANDLE for
// a DC closed since it was found).
FontInstance* RealizeDcFont(HDC hdc, const std::shared_ptr<Dc>& dc) {
    std::shared_ptr<GdiObject> font;
    {
        const std::lock_guard lock(dc->mutex);
        if (dc->closed) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        font = dc->state.font.object;
    }
    unsigned long error = 0;
    FontInstance* instance = static_cast<const Font&>(*font).Realize(&error);
    if (instance == nullptr) {
        SetLastError(error);
        return nullptr;
    }
    if (t_measuring == nullptr && !t_measuringEnded) {
        t_measuring = new (std::nothrow) Measuring;
        t_measuringOwner.armed = true;
    }
    if (t_measuring != nullptr) {
        // The references it held go after the new ones are in (their
        // destructors take locks).
        Measuring replaced = std::exchange(*t_measuring, Measuring{hdc, dc, std::move(font), instance});
    }
    return instance;
}

// The DC of a measuring call: the font from the thread's cache, or the DC
// from the handle table (false, with ERROR_INVALID_HANDLE, for a handle
// that names no live DC).
class MeasuringDc {
public:
    explicit MeasuringDc(HDC hdc) : m_hdc(hdc), m_font(CachedFont(hdc)) {
        if (m_font == nullptr) m_dc = FindDc(hdc);
    }
    explicit operator bool() const { return m_font != nullptr || m_dc != nullptr; }
    // The realised font selected in the DC; null with the last error set.
    FontInstance* Font() {
        if (m_font == nullptr) m_font = RealizeDcFont(m_hdc, m_dc);
        return m_font;
    }

private:
    HDC m_hdc;
    FontInstance* m_font;
    std::shared_ptr<Dc> m_dc;
};

LONG ClampLong(long long value) {
    return static_cast<LONG>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

bool IsBreak(wchar_t c) {
    return c == kReturn || c == kLineFeed;
}

// DrawTextW's layout in the measuring mode: lines, their widths and their
// number, as user32 computes them.
class Layout {
public:
    Layout(FontInstance& font, const wchar_t* text, std::size_t count, UINT flags, long long rectWidth,
           long long tabWidth)
        : m_font(font),
          m_text(text),
          m_count(count),
          m_flags(flags),
          m_rectWidth(rectWidth),
          m_tabWidth(std::max<long long>(tabWidth, 1)) {}

    // Lays the whole text out: the widest line and the number of lines.
    void Run(long long* width, long long* lines) {
        *width = 0;
        *lines = 0;
        std::size_t position = 0;
        do {
            *width = std::max(*width, NextLine(position));
            ++*lines;
        } while (position < m_count);
    }

private:
    bool Has(UINT flag) const { return (m_flags & flag) != 0; }

    // True when nothing or exactly one line break is left from `position`.
    bool RestIsNoneOrOneBreak(std::size_t position) const {
        const std::size_t left = m_count - position;
        if (left == 0) return true;
        if (!IsBreak(m_text[position])) return false;
        if (left == 1) return true;
        return left == 2 && IsBreak(m_text[position + 1]) && m_text[position + 1] != m_text[position];
    }

    // Copies the next segment (up to a tab that is expanded, a line break or
    // the end) into m_segment without its prefix characters, with the source
    // position after each copied unit in m_sourceEnd.
    void CopySegment(std::size_t& position) {
        m_segment.clear();
        m_sourceEnd.clear();
        const bool prefixes = !Has(DT_NOPREFIX);
        const bool tabs = Has(DT_EXPANDTABS);
        const bool breaks = !Has(DT_SINGLELINE);
        while (position < m_count) {
            const wchar_t c = m_text[position];
            if ((c == kTab && tabs) || (IsBreak(c) && breaks)) break;
            if (prefixes && c == kPrefix && m_count - position > 1) {
                ++position;  // the prefix itself is not shown
                if (m_text[position] != kPrefix) continue;
            }
            m_segment.push_back(m_text[position]);
            ++position;
            m_sourceEnd.push_back(position);
        }
    }

    // Breaks a segment that does not fit (`fit` units do) at a space: the
    // units that stay on the line and the units used up (the line and the
    // one space dropped after it).
    void BreakWords(std::size_t fit, std::size_t* lineLength, std::size_t* used) const {
        const std::size_t length = m_segment.size();
        const wchar_t* s = m_segment.data();
        std::size_t p = fit;
        bool found = fit != 0;
        if (found) {
            if (s[p] == kSpace) {
                --p;  // the word before the space fitted
            } else {
                while (p > 0 && s[--p] != kSpace) {
                }
                found = p != 0 || s[p] == kSpace;
            }
        }
        if (found) {
            // A left-aligned line keeps the spaces that fit after its last word.
            if (!Has(DT_RIGHT | DT_CENTER) || s[p] != kSpace) ++p;
            *lineLength = p;
            *used = p + (p < length && s[p] == kSpace ? 1 : 0);
            return;
        }
        if ((m_flags & (DT_EDITCONTROL | DT_WORD_ELLIPSIS | DT_PATH_ELLIPSIS)) == DT_EDITCONTROL) {
            // Within the word, after the last unit that fits (at least one
            // character).
            std::size_t keep = fit;
            if (keep == 0) NextCodePoint(s, length, &keep);
            *lineLength = *used = keep;
            return;
        }
        // The whole word, which widens the rectangle.
        p = fit;
        while (p < length && s[p] != kSpace) ++p;
        *lineLength = p;
        *used = p + (p < length ? 1 : 0);
    }

    // Measures the line starting at `position` and moves past it.
    long long NextLine(std::size_t& position) {
        long long x = 0;
        while (position < m_count) {
            if (m_text[position] == kTab && Has(DT_EXPANDTABS)) {
                x = (x / m_tabWidth + 1) * m_tabWidth;
                for (++position; position < m_count && m_text[position] == kTab; ++position) x += m_tabWidth;
            }
            const std::size_t segmentStart = position;
            CopySegment(position);
            const long long room = m_rectWidth - x;
            long long width = 0;
            const std::size_t fit = m_font.Fit(m_segment.data(), m_segment.size(), room, &width);
            bool fits = fit >= m_segment.size();
            std::size_t length = m_segment.size();
            bool broken = false;
            if (!fits && Has(DT_WORDBREAK)) {
                std::size_t used = 0;
                BreakWords(fit, &length, &used);
                used = std::max<std::size_t>(used, 1);
                if (used < m_segment.size()) position = m_sourceEnd[used - 1];
                if (position == segmentStart) ++position;  // always move on
                width = m_font.Width(m_segment.data(), length);
                fits = width <= room;
                broken = true;
            } else if (!fits) {
                width = m_font.Width(m_segment.data(), length);
            }
            if ((!fits && Has(DT_WORD_ELLIPSIS)) || (!fits && Has(DT_END_ELLIPSIS) && RestIsNoneOrOneBreak(position))) {
                const long long ellipsis = m_font.Width(kEllipsis, 3);
                long long kept = 0;
                if (room - ellipsis > 0) m_font.Fit(m_segment.data(), length, room - ellipsis, &kept);
                width = kept + ellipsis;
                if (Has(DT_EXPANDTABS)) {
                    // The rest of the line is cut off with it.
                    while (position < m_count && (Has(DT_SINGLELINE) || !IsBreak(m_text[position]))) ++position;
                }
            }
            x += width;
            if (broken || position >= m_count) break;
            if (IsBreak(m_text[position])) {
                const wchar_t first = m_text[position++];
                if (position < m_count && IsBreak(m_text[position]) && m_text[position] != first) ++position;
                break;
            }
            // A tab: the next segment continues the line.
        }
        return x;
    }

    FontInstance& m_font;
    const wchar_t* m_text;
    std::size_t m_count;
    UINT m_flags;
    long long m_rectWidth;
    long long m_tabWidth;
    std::wstring m_segment;
    std::vector<std::size_t> m_sourceEnd;
};

// The width of a text that lays out as one line of all its units, in one
// pass; -1 when it holds a break, tab or prefix character that the flags make
// special, or when the flags break or shorten lines.
long long PlainLineWidth(FontInstance& font, const wchar_t* text, std::size_t count, UINT flags) {
    if (flags & (DT_WORDBREAK | DT_END_ELLIPSIS | DT_WORD_ELLIPSIS)) return -1;
    const bool breaks = !(flags & DT_SINGLELINE);
    const bool tabs = (flags & DT_EXPANDTABS) != 0;
    const bool prefixes = !(flags & DT_NOPREFIX);
    return font.WidthUnless(text, count, [=](wchar_t c) {
        return c <= kPrefix && ((breaks && IsBreak(c)) || (tabs && c == kTab) || (prefixes && c == kPrefix));
    });
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(size, 0)), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

}  // namespace

void ForgetMeasured(const HandleObject* object) {
    Measuring* cache = t_measuring;
    if (cache == nullptr || (cache->dc.get() != object && cache->font.get() != object)) return;
    // Released after the cache is emptied (the destructors take locks).
    Measuring forgotten = std::exchange(*cache, Measuring{});
}

}  // namespace vplatform::gdi

using namespace vplatform::gdi;
using vplatform::GdiHandles;

extern "C" {

HFONT CreateFontIndirectW(const LOGFONTW* lplf) {
    if (lplf == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The face name is kept as Windows keeps it: at most 31 units and a NUL,
    // so that GetObjectW never hands back a name without its end.
    LOGFONTW logfont = *lplf;
    WCHAR* const end = std::find(logfont.lfFaceName, logfont.lfFaceName + LF_FACESIZE - 1, L'\0');
    std::fill(end, logfont.lfFaceName + LF_FACESIZE, L'\0');
    try {
        return static_cast<HFONT>(GdiHandles().Insert(std::make_shared<Font>(logfont)));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

HFONT CreateFontW(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                  DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision, DWORD iClipPrecision,
                  DWORD iQuality, DWORD iPitchAndFamily, LPCWSTR pszFaceName) {
    LOGFONTW logfont{};
    logfont.lfHeight = cHeight;
    logfont.lfWidth = cWidth;
    logfont.lfEscapement = cEscapement;
    logfont.lfOrientation = cOrientation;
    logfont.lfWeight = cWeight;
    logfont.lfItalic = static_cast<BYTE>(bItalic);
    logfont.lfUnderline = static_cast<BYTE>(bUnderline);
    logfont.lfStrikeOut = static_cast<BYTE>(bStrikeOut);
    logfont.lfCharSet = static_cast<BYTE>(iCharSet);
    logfont.lfOutPrecision = static_cast<BYTE>(iOutPrecision);
    logfont.lfClipPrecision = static_cast<BYTE>(iClipPrecision);
    logfont.lfQuality = static_cast<BYTE>(iQuality);
    logfont.lfPitchAndFamily = static_cast<BYTE>(iPitchAndFamily);
    for (int i = 0; pszFaceName != nullptr && pszFaceName[i] != 0 && i < LF_FACESIZE; ++i) {
        logfont.lfFaceName[i] = pszFaceName[i];
    }
    return CreateFontIndirectW(&logfont);
}

BOOL GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm) {
    MeasuringDc dc(hdc);
    if (!dc) return FALSE;
    if (lptm == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FontInstance* font = dc.Font();
    if (font == nullptr) return FALSE;
    *lptm = font->Metrics();
    return TRUE;
}

BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, LPSIZE psizl) {
    return GetTextExtentExPointW(hdc, lpString, c, -1, nullptr, nullptr, psizl);
}

BOOL GetTextExtentExPointW(HDC hdc, LPCWSTR lpszString, int cchString, int nMaxExtent, LPINT lpnFit, LPINT lpnDx,
                           LPSIZE lpSize) {
    MeasuringDc dc(hdc);
    if (!dc) return FALSE;
    if (cchString < 0 || lpSize == nullptr || (lpszString == nullptr && cchString > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FontInstance* font = dc.Font();
    if (font == nullptr) return FALSE;
    const auto count = static_cast<std::size_t>(cchString);
    if (count == 0) {
        // No text has no extent, its height included.
        if (lpnFit != nullptr) *lpnFit = 0;
        *lpSize = SIZE{0, 0};
        return TRUE;
    }
    long long width = 0;
    if (lpnFit == nullptr && lpnDx == nullptr) {
        width = font->Width(lpszString, count);
    } else {
        int fit = 0;
        for (std::size_t i = 0; i < count;) {
            const std::size_t start = i;
            width += font->Advance(NextCodePoint(lpszString, count, &i));
            if (nMaxExtent < 0 || width <= nMaxExtent) fit = static_cast<int>(i);
            for (std::size_t unit = start; lpnDx != nullptr && unit < i; ++unit) lpnDx[unit] = ClampLong(width);
        }
        if (lpnFit != nullptr) *lpnFit = fit;
    }
    lpSize->cx = ClampLong(width);
    lpSize->cy = font->Metrics().tmHeight;
    return TRUE;
}

int GetTextFaceW(HDC hdc, int c, LPWSTR lpName) {
    MeasuringDc dc(hdc);
    if (!dc) return 0;
    if (lpName != nullptr && c < 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    FontInstance* font = dc.Font();
    if (font == nullptr) return 0;
    const std::wstring& family = font->Family();
    if (lpName == nullptr) return static_cast<int>(family.size() + 1);
    const std::size_t copied = std::min<std::size_t>(family.size(), static_cast<std::size_t>(c - 1));
    std::wmemcpy(lpName, family.data(), copied);
    lpName[copied] = 0;
    return static_cast<int>(copied);
}

DWORD vplatformGetFontFileW(HFONT hfont, LPWSTR file, DWORD cchFile, LPDWORD faceIndex) {
    const auto font = Find<Font>(hfont);
    if (!font) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    try {
        unsigned long error = 0;
        FontInstance* instance = font->Realize(&error);
        if (instance == nullptr) {
            SetLastError(error);
            return 0;
        }
        const std::wstring path = FromUtf8(instance->File());
        if (faceIndex != nullptr) *faceIndex = static_cast<DWORD>(instance->FaceIndex());
        if (file == nullptr || cchFile < path.size() + 1) return static_cast<DWORD>(path.size() + 1);
        std::wmemcpy(file, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

int DrawTextW(HDC hdc, LPCWSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    MeasuringDc dc(hdc);
    if (!dc) return 0;
    if (lpchText == nullptr || lprc == nullptr || cchText < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    long long tabCharacters = 8;
    if (format & DT_TABSTOP) {
        // The high byte is the tab stop, not flags.
        if (((format >> 8) & 0xFF) != 0) tabCharacters = (format >> 8) & 0xFF;
        format &= ~UINT{0xFF00};
    }
    if (!(format & DT_CALCRECT)) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return 0;
    }
    if (format & DT_SINGLELINE) format &= ~DT_WORDBREAK;
    try {
        FontInstance* font = dc.Font();
        if (font == nullptr) return 0;
        const TEXTMETRICW& metrics = font->Metrics();
        const long long lineHeight = metrics.tmHeight + ((format & DT_EXTERNALLEADING) ? metrics.tmExternalLeading : 0);
        if (cchText == 0) return ClampLong(lineHeight);
        std::size_t count = static_cast<std::size_t>(cchText);
        if (cchText == -1) {
            count = std::min<std::size_t>(std::wcslen(lpchText), INT_MAX);
            if (count == 0) {
                lprc->right = lprc->left;
                lprc->bottom = ClampLong(lprc->top + ((format & DT_SINGLELINE) ? lineHeight : 0));
                return ClampLong(lineHeight);
            }
        }
        long long lines = 1;
        long long width = PlainLineWidth(*font, lpchText, count, format);
        if (width < 0) {
            Layout layout(*font, lpchText, count, format, static_cast<long long>(lprc->right) - lprc->left,
                          metrics.tmAveCharWidth * tabCharacters);
            layout.Run(&width, &lines);
        }
        const long long height = lines * lineHeight;
        lprc->right = ClampLong(lprc->left + width);
        lprc->bottom = ClampLong(lprc->top + height);
        return ClampLong(height);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

}  // extern "C"

// Realising logical fonts with fontconfig and FreeType.
#include "platform/gdi/internal/FontEngine.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_DRIVER_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>

#include "platform/WinError.h"
#include "platform/internal/Syscalls.h"
#include "platform/nls/CodePage.h"
#include "platform/nls/internal/Utf8.h"

namespace vplatform::gdi {
namespace {

// The largest em the platform realises, in pixels.
constexpr long long kMaxPixelsPerEm = 16384;

// The Windows interface faces and the old fixed faces have no files here:
// rules of the platform's own configuration send them to the Liberation
// faces, ahead of whatever the system's rules add.  Arial, Times New Roman
// and Courier New come to the Liberation faces through fontconfig's own
// metric aliases.
constexpr const char* kRules = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <alias binding="same"><family>MS Shell Dlg</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>MS Shell Dlg 2</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>MS Sans Serif</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>Microsoft Sans Serif</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>Tahoma</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>Segoe UI</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>System</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>Courier</family><prefer><family>Liberation Mono</family></prefer></alias>
  <alias binding="same"><family>Fixedsys</family><prefer><family>Liberation Mono</family></prefer></alias>
  <alias binding="same"><family>Terminal</family><prefer><family>Liberation Mono</family></prefer></alias>
</fontconfig>
)";

// FreeType's allocator, given to a library of our own so that FreeType's
// default properties (FREETYPE_PROPERTIES) are never read.
void* FtAlloc(FT_Memory, long size) {
    return std::malloc(static_cast<std::size_t>(size));
}
void FtFree(FT_Memory, void* block) {
    std::free(block);
}
void* FtRealloc(FT_Memory, long, long size, void* block) {
    return std::realloc(block, static_cast<std::size_t>(size));
}
FT_MemoryRec_ g_ftMemory{nullptr, FtAlloc, FtFree, FtRealloc};

// A LOGFONTW as the cache compares it: the face name case-folded (Windows
// compares face names without case), the fields that change the metrics.
struct FontKey {
    std::wstring face;
    LONG height, width, weight;
    BYTE italic, underline, strikeOut, charSet, pitchAndFamily;

    auto Tie() const {
        return std::tie(face, height, width, weight, italic, underline, strikeOut, charSet, pitchAndFamily);
    }
    bool operator<(const FontKey& other) const { return Tie() < other.Tie(); }
};

std::wstring FaceName(const LOGFONTW& logfont) {
    std::wstring face;
    for (int i = 0; i < LF_FACESIZE && logfont.lfFaceName[i] != 0; ++i) face.push_back(logfont.lfFaceName[i]);
    return face;
}

FontKey MakeKey(const LOGFONTW& logfont) {
    FontKey key{FaceName(logfont),   logfont.lfHeight,    logfont.lfWidth,   logfont.lfWeight,        logfont.lfItalic,
                logfont.lfUnderline, logfont.lfStrikeOut, logfont.lfCharSet, logfont.lfPitchAndFamily};
    for (wchar_t& c : key.face) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return key;
}

struct Engine {
    std::mutex mutex;
    FT_Library library = nullptr;
    FcConfig* config = nullptr;
    bool tried = false;
    std::map<FontKey, std::weak_ptr<FontInstance>> cache;

    // With the mutex held: the library and the configuration, made once.
    bool Ready() {
        if (!tried) {
            tried = true;
            FT_Library made = nullptr;
            if (FT_New_Library(&g_ftMemory, &made) == 0) {
                FT_Add_Default_Modules(made);
                // Version 40: advances are the linearly scaled ones rounded
                // to whole pixels, whatever the font's instructions do.
                FT_UInt version = TT_INTERPRETER_VERSION_40;
                FT_Property_Set(made, "truetype", "interpreter-version", &version);
                library = made;
            }
            config = FcInitLoadConfigAndFonts();
            if (config != nullptr) {
                FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kRules), FcTrue);
            }
        }
        return library != nullptr && config != nullptr;
    }
};

Engine& TheEngine() {
    static auto* engine = new Engine;  // never destroyed: fonts may outlive static destruction
    return *engine;
}

std::wstring FromUtf8(const char* text) {
    if (text == nullptr || *text == 0) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(size, 1)), L'\0');
    if (size > 0) MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
    out.resize(out.size() - 1);
    return out;
}

// The face fontconfig resolves a LOGFONTW to: file, index and family.
struct Resolved {
    std::string file;
    int index = 0;
    std::wstring family;
};

bool Resolve(Engine& engine, const LOGFONTW& logfont, long long pixels, Resolved* out) {
    std::wstring face = FaceName(logfont);
    if (face.empty()) {
        // No face: the fixed or the proportional interface face.
        const bool fixed =
            (logfont.lfPitchAndFamily & 0x03) == FIXED_PITCH || (logfont.lfPitchAndFamily & 0xF0) == FF_MODERN;
        face = fixed ? L"Courier New" : L"MS Shell Dlg";
    }
    FcPattern* pattern = FcPatternCreate();
    if (pattern == nullptr) return false;
    const std::string family = Utf8Of(face);
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    const LONG weight = logfont.lfWeight <= 0 ? FW_NORMAL : std::min<LONG>(logfont.lfWeight, 1000);
    FcPatternAddDouble(pattern, FC_WEIGHT, FcWeightFromOpenTypeDouble(weight));
    FcPatternAddInteger(pattern, FC_SLANT, logfont.lfItalic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddDouble(pattern, FC_PIXEL_SIZE, static_cast<double>(pixels));
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(engine.config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcPattern* match = Sys().fc_font_match(engine.config, pattern);
    FcPatternDestroy(pattern);
    if (match == nullptr) return false;
    FcChar8* file = nullptr;
    FcChar8* matchedFamily = nullptr;
    int index = 0;
    const bool found = FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr;
    if (found) {
        out->file = reinterpret_cast<const char*>(file);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) out->index = index;
        if (FcPatternGetString(match, FC_FAMILY, 0, &matchedFamily) == FcResultMatch) {
            out->family = FromUtf8(reinterpret_cast<const char*>(matchedFamily));
        }
    }
    FcPatternDestroy(match);
    return found;
}

// GDI's rounding of a length in font units scaled to 26.6 pixels.
LONG ScaledPixels(FT_Long units, FT_Fixed scale) {
    return static_cast<LONG>((FT_MulFix(units, scale) + 32) >> 6);
}

long long ClampPixels(long long pixels) {
    return std::clamp<long long>(pixels, 1, kMaxPixelsPerEm);
}

// Windows' ascent and descent of the face in font units (the OS/2 ones, else
// the horizontal header's).
void WindowsAscentDescent(FT_Face face, const TT_OS2* os2, const TT_HoriHeader* hhea, FT_Long* ascent,
                          FT_Long* descent) {
    if (os2 != nullptr && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent != 0) {
        *ascent = os2->usWinAscent;
        *descent = os2->usWinDescent;
    } else if (hhea != nullptr && hhea->Ascender - hhea->Descender != 0) {
        *ascent = hhea->Ascender;
        *descent = -hhea->Descender;
    } else {
        *ascent = face->ascender;
        *descent = -face->descender;
    }
}

// The cell of a pixel em size: its rounded ascent plus its rounded descent.
LONG CellOfEm(long long ppem, FT_Long ascent, FT_Long descent, long long unitsPerEm) {
    const FT_Fixed scale = FT_DivFix(static_cast<FT_Long>(ppem * 64), static_cast<FT_Long>(unitsPerEm));
    return ScaledPixels(ascent, scale) + ScaledPixels(descent, scale);
}

// The metrics of the face at its current size; `cell` (when not 0) is the
// cell height asked for, which ascent and descent then add up to.
TEXTMETRICW ComputeMetrics(FT_Face face, const LOGFONTW& logfont, LONG cell) {
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
    if (os2 != nullptr && os2->version == 0xFFFF) os2 = nullptr;
    FT_Long ascent = 0, descent = 0;
    WindowsAscentDescent(face, os2, hhea, &ascent, &descent);
    const FT_Fixed xScale = face->size->metrics.x_scale;
    const FT_Fixed yScale = face->size->metrics.y_scale;

    TEXTMETRICW tm{};
    tm.tmAscent = ScaledPixels(ascent, yScale);
    tm.tmDescent = ScaledPixels(descent, yScale);
    if (cell != 0 && tm.tmAscent + tm.tmDescent != cell && ascent + descent > 0) {
        // No whole em gives this cell: the cell is shared out in the ratio of
        // ascent to descent, as a font with vertical metrics per size does.
        tm.tmAscent =
            static_cast<LONG>((cell * static_cast<long long>(ascent) + (ascent + descent) / 2) / (ascent + descent));
        tm.tmDescent = cell - tm.tmAscent;
    }
    tm.tmHeight = tm.tmAscent + tm.tmDescent;
    tm.tmInternalLeading = ScaledPixels(ascent + descent - face->units_per_EM, yScale);
    if (hhea != nullptr) {
        const FT_Long gap = hhea->Line_Gap - ((ascent + descent) - (hhea->Ascender - hhea->Descender));
        tm.tmExternalLeading = std::max<LONG>(0, ScaledPixels(gap, yScale));
    }
    tm.tmAveCharWidth = os2 != nullptr && os2->xAvgCharWidth > 0 ? ScaledPixels(os2->xAvgCharWidth, xScale)
                                                                 : ScaledPixels(face->max_advance_width / 2, xScale);
    tm.tmAveCharWidth = std::max<LONG>(tm.tmAveCharWidth, 1);
    tm.tmMaxCharWidth = ScaledPixels(face->bbox.xMax - face->bbox.xMin, xScale);
    tm.tmWeight =
        os2 != nullptr ? os2->usWeightClass : ((face->style_flags & FT_STYLE_FLAG_BOLD) ? FW_BOLD : FW_NORMAL);
    tm.tmOverhang = 0;
    tm.tmDigitizedAspectX = 96;
    tm.tmDigitizedAspectY = 96;
    tm.tmFirstChar = os2 != nullptr ? os2->usFirstCharIndex : 0x20;
    tm.tmLastChar = os2 != nullptr ? os2->usLastCharIndex : 0xFFFF;
    tm.tmDefaultChar = os2 != nullptr && os2->version >= 2 ? os2->usDefaultChar : 0;
    tm.tmBreakChar = os2 != nullptr && os2->version >= 2 && os2->usBreakChar != 0 ? os2->usBreakChar : L' ';
    tm.tmItalic = logfont.lfItalic ? 255 : 0;
    tm.tmUnderlined = logfont.lfUnderline ? 255 : 0;
    tm.tmStruckOut = logfont.lfStrikeOut ? 255 : 0;
    BYTE family = FF_SWISS;
    if (FT_IS_FIXED_WIDTH(face)) {
        family = FF_MODERN;
    } else if (os2 != nullptr && os2->panose[0] == 2 && (os2->panose[1] < 11 || os2->panose[1] > 13)) {
        family = FF_ROMAN;  // a Latin text face with serifs
    }
    tm.tmPitchAndFamily = static_cast<BYTE>(family | TMPF_VECTOR | (FT_IS_SFNT(face) ? TMPF_TRUETYPE : 0) |
                                            (FT_IS_FIXED_WIDTH(face) ? 0 : TMPF_FIXED_PITCH));
    tm.tmCharSet = logfont.lfCharSet == DEFAULT_CHARSET ? ANSI_CHARSET : logfont.lfCharSet;
    return tm;
}

}  // namespace

FontInstance::Page::Page() {
    for (auto& advance : advances) advance.store(-1, std::memory_order_relaxed);
}

FontInstance::FontInstance() {
    for (auto& advance : m_flat) advance.store(-1, std::memory_order_relaxed);
}

FontInstance::~FontInstance() {
    if (m_face != nullptr) {
        const std::lock_guard lock(TheEngine().mutex);
        FT_Done_Face(m_face);
    }
    for (auto& page : m_pages) delete page.load(std::memory_order_relaxed);
}

int FontInstance::LoadAdvance(char32_t codePoint) {
    const std::lock_guard lock(TheEngine().mutex);
    Page* page = nullptr;
    if (codePoint < kFlat) {
        const std::int32_t known = m_flat[codePoint].load(std::memory_order_relaxed);
        if (known >= 0) return known;
    } else if (codePoint < 0x10000) {
        page = m_pages[codePoint >> 8].load(std::memory_order_relaxed);
        if (page != nullptr) {
            const std::int32_t known = page->advances[codePoint & 0xFF].load(std::memory_order_relaxed);
            if (known >= 0) return known;
        } else {
            page = new (std::nothrow) Page;
            if (page != nullptr) m_pages[codePoint >> 8].store(page, std::memory_order_release);
        }
    } else {
        const auto known = m_astral.find(codePoint);
        if (known != m_astral.end()) return known->second;
    }
    FT_UInt glyph = FT_Get_Char_Index(m_face, codePoint);
    FT_Error error = FT_Load_Glyph(m_face, glyph, FT_LOAD_DEFAULT);
    if (error != 0 && glyph != 0) {
        glyph = 0;
        error = FT_Load_Glyph(m_face, glyph, FT_LOAD_DEFAULT);
    }
    const int advance =
        error == 0 ? static_cast<int>(std::clamp<FT_Pos>((m_face->glyph->advance.x + 32) >> 6, 0, 1 << 24)) : 0;
    if (codePoint < kFlat) {
        m_flat[codePoint].store(advance, std::memory_order_relaxed);
    } else if (page != nullptr) {
        page->advances[codePoint & 0xFF].store(advance, std::memory_order_relaxed);
    } else if (codePoint >= 0x10000) {
        try {
            m_astral.emplace(codePoint, advance);
        } catch (const std::bad_alloc&) {
            // Measured again next time.
        }
    }
    return advance;
}

std::size_t FontInstance::Fit(const wchar_t* text, std::size_t count, long long maxWidth, long long* width) {
    long long sum = 0;
    std::size_t i = 0;
    while (i < count) {
        std::size_t next = i;
        const int advance = Advance(NextCodePoint(text, count, &next));
        if (sum + advance > maxWidth) break;
        sum += advance;
        i = next;
    }
    if (width != nullptr) *width = sum;
    return i;
}

std::shared_ptr<FontInstance> RealizeFont(const LOGFONTW& logfont, unsigned long* error) {
    Engine& engine = TheEngine();
    std::shared_ptr<FontInstance> result;  // released after the lock, should it be the last reference
    const std::lock_guard lock(engine.mutex);
    *error = ERROR_SUCCESS;
    FT_Face face = nullptr;  // closed here until an instance owns it
    try {
        const FontKey key = MakeKey(logfont);
        const auto cached = engine.cache.find(key);
        if (cached != engine.cache.end()) {
            result = cached->second.lock();
            if (result) return result;
        }
        if (!engine.Ready()) {
            *error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        const long long height = logfont.lfHeight;
        Resolved resolved;
        if (!Resolve(engine, logfont, ClampPixels(height == 0 ? 16 : (height < 0 ? -height : height)), &resolved) ||
            Sys().ft_new_face(engine.library, resolved.file.c_str(), resolved.index, &face) != 0 || face == nullptr ||
            !FT_IS_SCALABLE(face)) {
            if (face != nullptr) FT_Done_Face(face);
            *error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        // GDI's sizes: a negative height is the em, a positive one the cell
        // (Windows ascent + descent), 0 a 16-pixel cell.  For a cell the em
        // is the whole one whose rounded ascent and descent make the cell
        // (the nearest em, or one beside it); where none does, the nearest em
        // with the cell shared out between ascent and descent.
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
        FT_Long ascent = 0, descent = 0;
        WindowsAscentDescent(face, os2, hhea, &ascent, &descent);
        const long long unitsPerEm = face->units_per_EM > 0 ? face->units_per_EM : 2048;
        long long ppem = -height;
        LONG cell = 0;
        if (height >= 0) {
            const long long asked = height == 0 ? 16 : height;
            const long long units = ascent + descent > 0 ? ascent + descent : unitsPerEm;
            ppem = (unitsPerEm * asked + units / 2) / units;
            if (ppem == ClampPixels(ppem)) {  // beyond the em sizes the cell is not kept
                cell = static_cast<LONG>(asked);
                for (const long long candidate : {ppem, ppem - 1, ppem + 1}) {
                    if (candidate == ClampPixels(candidate) &&
                        CellOfEm(candidate, ascent, descent, unitsPerEm) == cell) {
                        ppem = candidate;
                        break;
                    }
                }
            }
        }
        ppem = ClampPixels(ppem);
        long long xppem = ppem;
        if (logfont.lfWidth != 0 && os2 != nullptr && os2->version != 0xFFFF && os2->xAvgCharWidth > 0) {
            const long long width = logfont.lfWidth < 0 ? -static_cast<long long>(logfont.lfWidth) : logfont.lfWidth;
            xppem = ClampPixels((width * unitsPerEm + os2->xAvgCharWidth / 2) / os2->xAvgCharWidth);
        }
        if (FT_Set_Pixel_Sizes(face, static_cast<FT_UInt>(xppem), static_cast<FT_UInt>(ppem)) != 0) {
            FT_Done_Face(face);
            *error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        std::shared_ptr<FontInstance> made(new FontInstance);
        made->m_metrics = ComputeMetrics(face, logfont, cell);
        made->m_family = std::move(resolved.family);
        made->m_file = std::move(resolved.file);
        made->m_faceIndex = resolved.index;
        made->m_ppem = static_cast<int>(ppem);
        made->m_xppem = static_cast<int>(xppem);
        if (engine.cache.size() >= 64)
            std::erase_if(engine.cache, [](const auto& entry) { return entry.second.expired(); });
        engine.cache[key] = made;
        made->m_face = std::exchange(face, nullptr);  // from here the instance closes it
        result = std::move(made);
        return result;
    } catch (const std::bad_alloc&) {
        if (face != nullptr) FT_Done_Face(face);
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
}

}  // namespace vplatform::gdi

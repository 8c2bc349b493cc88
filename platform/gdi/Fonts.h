// Fonts and text measuring: CreateFontIndirectW, GetTextMetricsW,
// GetTextExtentPoint32W, GetTextExtentExPointW, GetTextFaceW.
//
// A logical font (LOGFONTW) is realised the first time a DC measures with it:
// fontconfig picks the face (family, weight, slant) and FreeType reads it.
// The Windows interface faces (MS Shell Dlg, MS Shell Dlg 2, MS Sans Serif,
// Microsoft Sans Serif, Tahoma, Segoe UI, System, and an empty face name) go
// to Liberation Sans, the fixed faces (Courier, Fixedsys, Terminal) to
// Liberation Mono, by rules of the platform's own fontconfig configuration;
// fontconfig's metric aliases give Liberation Sans, Serif and Mono for Arial,
// Times New Roman and Courier New.
//
// Sizes follow GDI: a negative lfHeight is the em height in pixels, a
// positive one the cell height, which tmHeight then is exactly (the whole em
// whose rounded Windows ascent and descent add up to it; where none does,
// the nearest em, with the cell shared out between ascent and descent in
// their ratio, as a font with vertical metrics per size gives it), 0 a
// 16-pixel cell; a non-zero lfWidth scales the font horizontally so that its
// average character is that wide.
// TEXTMETRICW comes from the font's OS/2 Windows ascent and descent.
//
// Widths.  A text's width is the sum of its characters' hinted advances in
// whole pixels, as GDI gives them: no kerning, no ligatures, no shaping.  A
// surrogate pair is one character; a character the font lacks (a lone
// surrogate included) takes the width of the font's missing glyph; control
// characters are characters too.  The TrueType interpreter is fixed by the
// platform, so that no FREETYPE_PROPERTIES setting changes a width.  Advances
// are cached per font and read without a lock.
//
// Failures: a bad DC fails with ERROR_INVALID_HANDLE; a font whose face
// cannot be found or read fails the measuring calls with ERROR_FILE_NOT_FOUND
// (a font is realised once: later calls fail the same way).
//
// Threads: every function may be called from any thread.  A thread measuring
// again on the DC it measured on last (GetTextExtentExPointW and the other
// measuring calls) finds the DC and its font without a lock; for that it
// keeps the DC's and the font's objects (not their handles, which fail once
// closed) until it measures on another DC, releases or deletes them itself,
// or ends.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

using LPINT = INT*;

constexpr int LF_FACESIZE = 32;

constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_THIN = 100;
constexpr LONG FW_EXTRALIGHT = 200;
constexpr LONG FW_LIGHT = 300;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_REGULAR = 400;
constexpr LONG FW_MEDIUM = 500;
constexpr LONG FW_SEMIBOLD = 600;
constexpr LONG FW_BOLD = 700;
constexpr LONG FW_EXTRABOLD = 800;
constexpr LONG FW_HEAVY = 900;

constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE SYMBOL_CHARSET = 2;
constexpr BYTE EASTEUROPE_CHARSET = 238;
constexpr BYTE OEM_CHARSET = 255;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE OUT_TT_PRECIS = 4;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE CLEARTYPE_QUALITY = 5;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;
constexpr BYTE FF_SCRIPT = 0x40;
constexpr BYTE FF_DECORATIVE = 0x50;

// tmPitchAndFamily bits (TMPF_FIXED_PITCH set means a variable pitch).
constexpr BYTE TMPF_FIXED_PITCH = 0x01;
constexpr BYTE TMPF_VECTOR = 0x02;
constexpr BYTE TMPF_TRUETYPE = 0x04;

struct LOGFONTW {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
};
using LPLOGFONTW = LOGFONTW*;

struct TEXTMETRICW {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    WCHAR tmFirstChar;
    WCHAR tmLastChar;
    WCHAR tmDefaultChar;
    WCHAR tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};
using LPTEXTMETRICW = TEXTMETRICW*;

extern "C" {

// A logical font; nothing is looked up until it is used.  The face name is
// kept up to its first NUL, at most 31 units (GetObjectW gives them back with
// a NUL, also when the caller's name filled all 32).  Null with
// ERROR_INVALID_PARAMETER for a null LOGFONTW, ERROR_NOT_ENOUGH_QUOTA beyond
// the GDI quota.
VPLATFORM_API HFONT CreateFontIndirectW(const LOGFONTW* lplf);
// The same from its fields; a null face name is the empty one.
VPLATFORM_API HFONT CreateFontW(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                                DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision,
                                DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily, LPCWSTR pszFaceName);

// The metrics of the DC's font.  FALSE with ERROR_INVALID_PARAMETER for a null
// `lptm`.
VPLATFORM_API BOOL GetTextMetricsW(HDC hdc, LPTEXTMETRICW lptm);
// The width of `c` UTF-16 units of `lpString` in the DC's font (cx) and the
// font's height (cy); 0 × 0 for c = 0.  FALSE with ERROR_INVALID_PARAMETER for
// a negative count, a null `psizl`, or a null text with c > 0.
VPLATFORM_API BOOL GetTextExtentPoint32W(HDC hdc, LPCWSTR lpString, int c, LPSIZE psizl);
// As GetTextExtentPoint32W; also how many units fit in `nMaxExtent` pixels
// (`lpnFit`, when not null; a surrogate pair fits whole or not at all) and
// the width up to and including each unit (`lpnDx`, `cchString` entries, when
// not null).  A negative `nMaxExtent` does not limit.
VPLATFORM_API BOOL GetTextExtentExPointW(HDC hdc, LPCWSTR lpszString, int cchString, int nMaxExtent, LPINT lpnFit,
                                         LPINT lpnDx, LPSIZE lpSize);
// The family name of the face the DC's font resolved to ("Liberation Sans"
// for "MS Shell Dlg"), NUL-terminated and cut to `c` units with the NUL; the
// units copied without the NUL, or the length with the NUL for a null
// buffer.  0 with ERROR_INVALID_PARAMETER for a buffer with c < 1.
VPLATFORM_API int GetTextFaceW(HDC hdc, int c, LPWSTR lpName);

// A platform extension, no Windows function: the file (UTF-16) of the face a
// font resolves to, NUL-terminated, and its index in that file (`faceIndex`,
// when not null).  The length without the NUL, or the length with it when
// `cchFile` is too small (nothing written then).  0 with the measuring calls'
// errors.
VPLATFORM_API DWORD vplatformGetFontFileW(HFONT hfont, LPWSTR file, DWORD cchFile, LPDWORD faceIndex);

}  // extern "C"

// DrawTextW: text laid out in a rectangle as user32 lays it out.
//
// Only the measuring mode, DT_CALCRECT, is implemented (nothing is drawn on
// this platform): the rectangle's right and bottom move to the laid-out
// text's extent and the result is the text's height.  Layout:
// - lines end at CR, LF, CR LF and LF CR (CR CR is two breaks); a break at
//   the very end adds no empty line; with DT_SINGLELINE the break
//   characters are measured as characters (the font's missing glyph);
// - DT_WORDBREAK breaks lines at spaces to fit the rectangle's width; a space
//   that ends a line stays on it when it fits, one space after a break is
//   dropped, and a word longer than the width stands on a line of its own and
//   widens the rectangle (with DT_EDITCONTROL it is broken after the last
//   character that fits instead); the result's width is the widest line, also
//   when narrower than the rectangle;
// - '&' marks the next character as a prefix and is not measured, "&&" is
//   one '&', a '&' at the end is measured; DT_NOPREFIX measures every '&';
// - DT_EXPANDTABS moves a tab to the next multiple of 8 average character
//   widths (DT_TABSTOP: the high byte of the format instead of 8, which
//   leaves DT_CALCRECT and the other flags of that byte unset, as on
//   Windows); without it a tab is a character;
// - DT_END_ELLIPSIS and DT_WORD_ELLIPSIS shorten a line that does not fit
//   to the characters that fit followed by "..." (never written into the
//   text); DT_EXTERNALLEADING adds the font's external leading to each line;
// - DT_MODIFYSTRING, DT_PATH_ELLIPSIS, the alignment, clipping and
//   right-to-left flags do not change the measured rectangle.
// An empty text (cchText -1 on "") gives a rectangle of width 0 and height 0,
// or one line high with DT_SINGLELINE; cchText 0 leaves the rectangle as it
// was.  Both return the line height.
#pragma once

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

constexpr UINT DT_TOP = 0x00000000;
constexpr UINT DT_LEFT = 0x00000000;
constexpr UINT DT_CENTER = 0x00000001;
constexpr UINT DT_RIGHT = 0x00000002;
constexpr UINT DT_VCENTER = 0x00000004;
constexpr UINT DT_BOTTOM = 0x00000008;
constexpr UINT DT_WORDBREAK = 0x00000010;
constexpr UINT DT_SINGLELINE = 0x00000020;
constexpr UINT DT_EXPANDTABS = 0x00000040;
constexpr UINT DT_TABSTOP = 0x00000080;
constexpr UINT DT_NOCLIP = 0x00000100;
constexpr UINT DT_EXTERNALLEADING = 0x00000200;
constexpr UINT DT_CALCRECT = 0x00000400;
constexpr UINT DT_NOPREFIX = 0x00000800;
constexpr UINT DT_INTERNAL = 0x00001000;
constexpr UINT DT_EDITCONTROL = 0x00002000;
constexpr UINT DT_PATH_ELLIPSIS = 0x00004000;
constexpr UINT DT_END_ELLIPSIS = 0x00008000;
constexpr UINT DT_MODIFYSTRING = 0x00010000;
constexpr UINT DT_RTLREADING = 0x00020000;
constexpr UINT DT_WORD_ELLIPSIS = 0x00040000;
constexpr UINT DT_NOFULLWIDTHCHARBREAK = 0x00080000;
constexpr UINT DT_HIDEPREFIX = 0x00100000;
constexpr UINT DT_PREFIXONLY = 0x00200000;

extern "C" {

// Measures `cchText` UTF-16 units of `lpchText` (-1: up to its NUL) in the
// DC's font, laid out in `lprc` as described above.  The text's height, or 0
// with ERROR_INVALID_HANDLE for a bad DC, ERROR_INVALID_PARAMETER for a null
// text or rectangle or a count below -1, ERROR_CALL_NOT_IMPLEMENTED without
// DT_CALCRECT, or the measuring errors of platform/gdi/Fonts.h.  The text is
// never written to.
VPLATFORM_API int DrawTextW(HDC hdc, LPCWSTR lpchText, int cchText, LPRECT lprc, UINT format);

}  // extern "C"

// DCStateBuffer: changes a device context's background mode, font and text
// colour, or its clipping region, for the length of a scope and puts them
// back when it ends.
//
// The font-and-colour form sets the background mode, selects the font and
// sets the text colour, saving each previous value; the clipping form makes
// the rectangle's region the DC's clipping region.  The destructor restores
// the mode and the font, then the colour, then the DC's previous clipping
// region (none if it had none), so that nested buffers keep the outer
// clipping.  A null CDC, or one without a DC, is left alone: nothing is
// changed and nothing restored.  Nothing logs or throws.
//
// The CDC must outlive the buffer.  Threads: a buffer belongs to the thread
// of its DC.
#pragma once

#include <cstdint>

#include "VLibExport.h"
#include "platform/mfc/AfxGdi.h"

class VLIB_API DCStateBuffer {
public:
    // `font` may be null: the font is then left as it is.
    DCStateBuffer(CDC* dc, int backgroundMode, CFont* font, COLORREF textColor);
    DCStateBuffer(CDC* dc, const CRect& clip);
    DCStateBuffer(const DCStateBuffer&) = delete;
    DCStateBuffer& operator=(const DCStateBuffer&) = delete;
    virtual ~DCStateBuffer();

private:
    enum Changes : std::uint32_t { kModeAndFont = 1, kTextColor = 2, kClipping = 4 };

    int m_savedBackgroundMode = 0;
    // The handle of the font SelectObject replaced: the CFont it returned is
    // a temporary that the thread's idle clean-up may delete first.
    HGDIOBJ m_savedFont = nullptr;
    COLORREF m_savedTextColor = CLR_INVALID;
    CRgn m_clipRegion;
    CRgn m_previousClip;  // the DC's clipping region before, when it had one
    CDC* m_dc = nullptr;
    std::uint32_t m_changes = 0;
};

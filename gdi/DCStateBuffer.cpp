// DCStateBuffer.
#include "gdi/DCStateBuffer.h"

DCStateBuffer::DCStateBuffer(CDC* dc, int backgroundMode, CFont* font, COLORREF textColor) {
    if (dc == nullptr || dc->GetSafeHdc() == nullptr) return;
    m_dc = dc;
    m_savedBackgroundMode = dc->SetBkMode(backgroundMode);
    if (font != nullptr) {
        const CFont* previous = dc->SelectObject(font);
        m_savedFont = previous != nullptr ? previous->GetSafeHandle() : nullptr;
    }
    m_savedTextColor = dc->SetTextColor(textColor);
    m_changes = kModeAndFont | kTextColor;
}

DCStateBuffer::DCStateBuffer(CDC* dc, const CRect& clip) {
    if (dc == nullptr || dc->GetSafeHdc() == nullptr) return;
    m_dc = dc;
    if (m_previousClip.CreateRectRgn(0, 0, 0, 0) &&
        GetClipRgn(dc->GetSafeHdc(), static_cast<HRGN>(m_previousClip.GetSafeHandle())) != 1) {
        m_previousClip.DeleteObject();  // no clipping region before
    }
    if (!m_clipRegion.CreateRectRgnIndirect(&clip)) return;
    dc->SelectClipRgn(&m_clipRegion);
    m_changes = kClipping;
}

DCStateBuffer::~DCStateBuffer() {
    if (m_dc == nullptr) return;
    const HDC dc = m_dc->GetSafeHdc();
    if (m_changes & kModeAndFont) {
        if (m_savedBackgroundMode != 0) m_dc->SetBkMode(m_savedBackgroundMode);
        if (m_savedFont != nullptr) SelectObject(dc, m_savedFont);
    }
    if ((m_changes & kTextColor) && m_savedTextColor != CLR_INVALID) m_dc->SetTextColor(m_savedTextColor);
    if (m_changes & kClipping) {
        m_dc->SelectClipRgn(m_previousClip.GetSafeHandle() != nullptr ? &m_previousClip : nullptr);
        m_clipRegion.DeleteObject();
    }
}

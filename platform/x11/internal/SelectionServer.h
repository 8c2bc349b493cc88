// Serving text on an X selection (ICCCM): TARGETS, TIMESTAMP, UTF8_STRING,
// TEXT, text/plain;charset=utf-8 and STRING (ISO 8859-1, '?' for other
// characters), large texts through INCR transfers.  Used by the library's
// clipboard thread and by the clipboard keeper program, so it depends on
// nothing but Xlib and the C++ library.
//
// Threads: one thread, the one reading the connection's events.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vplatform::x11 {

class SelectionServer {
public:
    using Clock = std::chrono::steady_clock;
    // A requestor that does not take the next piece of an INCR transfer for
    // this long is dropped.
    static constexpr std::chrono::seconds kTransferStall{5};

    // Serves `selection` from `window`, a window of `display`'s client.
    SelectionServer(Display* display, Window window, Atom selection);

    // Owns the selection from `time` (a server time, not CurrentTime) with
    // `text` (UTF-8), or with no text at all for null.
    void Serve(std::shared_ptr<const std::string> text, Time time);
    bool Owned() const { return m_owned; }
    const std::shared_ptr<const std::string>& Text() const { return m_text; }

    enum class Result { NotMine, Handled, Lost };
    // Handles SelectionRequest, SelectionClear and the PropertyNotify events
    // of INCR transfers; Lost when another client took the selection.
    Result Handle(const XEvent& event);

    // Transfers stalled for kTransferStall are dropped at Expire.
    std::optional<Clock::time_point> NextDeadline() const;
    void Expire(Clock::time_point now);
    bool Transferring() const { return !m_transfers.empty(); }

    // The largest piece of data one property change carries here; larger
    // texts go through INCR.
    std::size_t ChunkSize() const { return m_chunk; }

private:
    struct Transfer {
        Window requestor;
        Atom property;
        Atom type;
        std::shared_ptr<const std::string> data;
        std::size_t offset;
        bool done;  // the final empty piece was written
        Clock::time_point deadline;
    };

    void Answer(const XSelectionRequestEvent& request);
    bool Provide(Window requestor, Atom property, Atom target);
    void Next(Transfer& transfer);

    Display* m_display;
    Window m_window;
    Atom m_selection;
    Atom m_targets, m_timestamp, m_utf8, m_textTarget, m_mimeUtf8, m_incr, m_multiple;
    std::size_t m_chunk;
    bool m_owned = false;
    Time m_time = CurrentTime;
    std::shared_ptr<const std::string> m_text;
    std::shared_ptr<const std::string> m_latin1;  // made at the first STRING request
    std::vector<Transfer> m_transfers;
};

// ISO 8859-1 of UTF-8 text: '?' for characters beyond U+00FF and for bytes
// that are no UTF-8.
std::string Latin1OfUtf8(const std::string& utf8);

}  // namespace vplatform::x11

// Serving a selection's text, with INCR for large texts.
#include "platform/x11/internal/SelectionServer.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <cstdint>

namespace vplatform::x11 {

std::string Latin1OfUtf8(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        std::uint32_t code = length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
        bool valid = length > 1 && i + length <= utf8.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        out += valid && code <= 0xFF ? static_cast<char>(code) : '?';
        i += valid ? length : 1;
    }
    return out;
}

SelectionServer::SelectionServer(Display* display, Window window, Atom selection)
    : m_display(display),
      m_window(window),
      m_selection(selection),
      m_targets(XInternAtom(display, "TARGETS", False)),
      m_timestamp(XInternAtom(display, "TIMESTAMP", False)),
      m_utf8(XInternAtom(display, "UTF8_STRING", False)),
      m_textTarget(XInternAtom(display, "TEXT", False)),
      m_mimeUtf8(XInternAtom(display, "text/plain;charset=utf-8", False)),
      m_incr(XInternAtom(display, "INCR", False)),
      m_multiple(XInternAtom(display, "MULTIPLE", False)) {
    // A quarter of the largest request, at most 256 KiB: larger texts go in pieces.
    long limit = XExtendedMaxRequestSize(display);
    if (limit == 0) limit = XMaxRequestSize(display);
    m_chunk = std::clamp<std::size_t>(static_cast<std::size_t>(limit), 4096, 256 * 1024);
}

void SelectionServer::Serve(std::shared_ptr<const std::string> text, Time time) {
    m_text = std::move(text);
    m_latin1.reset();
    m_time = time;
    m_owned = true;
}

SelectionServer::Result SelectionServer::Handle(const XEvent& event) {
    switch (event.type) {
        case SelectionRequest:
            if (event.xselectionrequest.owner != m_window || event.xselectionrequest.selection != m_selection) {
                return Result::NotMine;
            }
            Answer(event.xselectionrequest);
            return Result::Handled;
        case SelectionClear:
            if (event.xselectionclear.window != m_window || event.xselectionclear.selection != m_selection) {
                return Result::NotMine;
            }
            // Transfers under way go on with the data they hold.
            m_owned = false;
            m_text.reset();
            m_latin1.reset();
            return Result::Lost;
        case PropertyNotify:
            if (event.xproperty.state != PropertyDelete) return Result::NotMine;
            for (auto& transfer : m_transfers) {
                if (transfer.requestor == event.xproperty.window && transfer.property == event.xproperty.atom) {
                    Next(transfer);
                    std::erase_if(m_transfers, [](const Transfer& t) { return t.done; });
                    return Result::Handled;
                }
            }
            return Result::NotMine;
        default:
            return Result::NotMine;
    }
}

void SelectionServer::Answer(const XSelectionRequestEvent& request) {
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = m_display;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.property = None;
    reply.xselection.time = request.time;
    // Obsolete clients name no property: the target is the property then.
    const Atom property = request.property != None ? request.property : request.target;
    const bool current = m_owned && (request.time == CurrentTime || request.time >= m_time);
    if (current && Provide(request.requestor, property, request.target)) reply.xselection.property = property;
    XSendEvent(m_display, request.requestor, False, NoEventMask, &reply);
}

bool SelectionServer::Provide(Window requestor, Atom property, Atom target) {
    if (target == m_targets) {
        std::vector<Atom> targets = {m_targets, m_timestamp};
        if (m_text) targets.insert(targets.end(), {m_utf8, m_mimeUtf8, m_textTarget, XA_STRING});
        XChangeProperty(m_display, requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(targets.data()), static_cast<int>(targets.size()));
        return true;
    }
    if (target == m_timestamp) {
        const long time = static_cast<long>(m_time);
        XChangeProperty(m_display, requestor, property, XA_INTEGER, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&time), 1);
        return true;
    }
    if (!m_text || (target != m_utf8 && target != m_mimeUtf8 && target != m_textTarget && target != XA_STRING)) {
        return false;
    }
    std::shared_ptr<const std::string> data = m_text;
    if (target == XA_STRING) {
        if (!m_latin1) m_latin1 = std::make_shared<const std::string>(Latin1OfUtf8(*m_text));
        data = m_latin1;
    }
    const Atom type = target == m_textTarget ? m_utf8 : target;
    if (data->size() <= m_chunk) {
        XChangeProperty(m_display, requestor, property, type, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(data->data()), static_cast<int>(data->size()));
        return true;
    }
    // INCR: announce the size; each deletion of the property by the
    // requestor asks for the next piece.
    XSelectInput(m_display, requestor, PropertyChangeMask);
    const long size = static_cast<long>(data->size());
    XChangeProperty(m_display, requestor, property, m_incr, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&size), 1);
    std::erase_if(m_transfers, [&](const Transfer& t) { return t.requestor == requestor && t.property == property; });
    m_transfers.push_back({requestor, property, type, std::move(data), 0, false, Clock::now() + kTransferStall});
    return true;
}

void SelectionServer::Next(Transfer& transfer) {
    const std::size_t left = transfer.data->size() - transfer.offset;
    const std::size_t piece = std::min(left, m_chunk);
    XChangeProperty(m_display, transfer.requestor, transfer.property, transfer.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(transfer.data->data() + transfer.offset),
                    static_cast<int>(piece));
    transfer.offset += piece;
    transfer.deadline = Clock::now() + kTransferStall;
    if (piece == 0) {
        // The empty piece ends the transfer.
        transfer.done = true;
        const Window requestor = transfer.requestor;
        const bool more = std::any_of(m_transfers.begin(), m_transfers.end(),
                                      [&](const Transfer& t) { return &t != &transfer && t.requestor == requestor; });
        if (!more) XSelectInput(m_display, requestor, NoEventMask);
    }
}

std::optional<SelectionServer::Clock::time_point> SelectionServer::NextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& transfer : m_transfers) {
        if (!next || transfer.deadline < *next) next = transfer.deadline;
    }
    return next;
}

void SelectionServer::Expire(Clock::time_point now) {
    for (auto& transfer : m_transfers) {
        if (transfer.deadline > now) continue;
        transfer.done = true;
        XSelectInput(m_display, transfer.requestor, NoEventMask);
    }
    std::erase_if(m_transfers, [](const Transfer& t) { return t.done; });
}

}  // namespace vplatform::x11

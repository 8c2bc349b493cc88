// Text helpers of the mail client: narrow text in the ANSI code page or in
// UTF-8 to the UTF-8 that goes out, and back; secrets wiped from memory.
#pragma once

#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace vplatform::mail {

// Narrow text as a caller gave it, with the code page it is in (the ANSI
// code page of that moment, or UTF-8).  Converting it waits until it is
// needed, so that queueing a message costs its caller a copy only.
struct NarrowText {
    std::string bytes;
    UINT codePage = CP_UTF8;
};

// `text` (null: empty) as given to an object whose Utf8 property is `utf8`.
NarrowText Narrow(const char* text, bool utf8);
// As well-formed UTF-8 (what cannot be read becomes U+FFFD).
std::string ToUtf8(const NarrowText& text);
std::string ToUtf8(const char* text, bool utf8);
// UTF-8 text in the ANSI code page, or unchanged when `utf8`.
std::string FromUtf8(std::string_view text, bool utf8);
// Text for a getter of an object whose Utf8 property is `utf8`: the bytes as
// given when they are in that form already.
std::string Shown(const NarrowText& text, bool utf8);

// Overwrites the bytes of `text` (its whole buffer) and empties it.
void Wipe(std::string& text) noexcept;
void Wipe(std::wstring& text) noexcept;

// A password: its bytes are overwritten whenever the text is replaced or
// released, so no copy lingers in freed memory.
class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::string text) : m_text(std::move(text)) {}
    SecretText(const SecretText& other) : m_text(other.m_text) {}
    SecretText& operator=(const SecretText& other) {
        if (this != &other) {
            Wipe(m_text);
            m_text = other.m_text;
        }
        return *this;
    }
    ~SecretText() { Wipe(m_text); }

    const std::string& Get() const { return m_text; }
    bool operator==(const SecretText& other) const { return m_text == other.m_text; }

private:
    std::string m_text;
};

}  // namespace vplatform::mail

// Text helpers of the mail client: narrow text in the ANSI code page or in
// UTF-8 to the UTF-8 that goes out, and back; secrets wiped from memory.
#pragma once

#include <string>
#include <string_view>

namespace vplatform::mail {

// `text` (null: empty) read as the ANSI code page, or as UTF-8 when `utf8`,
// as well-formed UTF-8 (what cannot be read becomes U+FFFD).
std::string ToUtf8(const char* text, bool utf8);
// UTF-8 text in the ANSI code page, or unchanged when `utf8`.
std::string FromUtf8(std::string_view text, bool utf8);

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

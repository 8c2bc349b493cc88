// CString, and its printf formatting with the Windows C runtime's rules for
// wide format strings.
#include "platform/mfc/AfxString.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <ostream>
#include <stdexcept>
#include <string>

#include "platform/nls/CodePage.h"

namespace {

std::wstring_view ViewOf(LPCWSTR text) {
    return text ? std::wstring_view(text) : std::wstring_view();
}

// Converts narrow text from the ANSI code page; empty when the platform
// refuses the conversion (the last error tells why).
std::wstring WidenAnsi(const char* text, std::size_t length) {
    if (length == 0) return {};
    if (length > static_cast<std::size_t>(INT_MAX)) throw std::length_error("CString: narrow text too long");
    const int inLength = static_cast<int>(length);
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, inLength, nullptr, 0);
    if (needed <= 0) return {};
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, text, inLength, result.data(), needed);
    result.resize(static_cast<std::size_t>(std::max(written, 0)));
    return result;
}

std::wstring WidenAnsi(LPCSTR text) {
    return text ? WidenAnsi(text, std::strlen(text)) : std::wstring();
}

int Sign(int value) noexcept {
    return (value > 0) - (value < 0);
}

int ToIndex(std::size_t pos) noexcept {
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

// Clamps (first, count) to the text as MFC does: negatives count as 0, the
// range stops at the end.
std::pair<std::size_t, std::size_t> ClampRange(long long first, long long count, std::size_t size) {
    const auto length = static_cast<long long>(size);
    first = std::clamp(first, 0LL, length);
    count = std::clamp(count, 0LL, length - first);
    return {static_cast<std::size_t>(first), static_cast<std::size_t>(count)};
}

// ---------------------------------------------------------------------------
// Formatting.

struct ArgList {
    va_list ap;
};

enum class Size { Default, Char, Short, Long, LongLong, LongDouble };

struct Conversion {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    int width = 0;
    int precision = -1;  // -1: none
    Size size = Size::Default;
    bool narrowText = false;  // h: %c/%s take narrow text
    bool wideText = false;    // l or w: %C/%S take wide text
};

void AppendPadded(std::wstring& out, const Conversion& c, std::wstring_view text) {
    const std::size_t width = static_cast<std::size_t>(c.width);
    const std::size_t pad = width > text.size() ? width - text.size() : 0;
    if (!c.left) out.append(pad, c.zero ? L'0' : L' ');
    out.append(text);
    if (c.left) out.append(pad, L' ');
}

// Rebuilds the conversion as a narrow printf directive for snprintf.
std::string NarrowDirective(const Conversion& c, const char* length, char type) {
    std::string directive = "%";
    if (c.left) directive += '-';
    if (c.plus) directive += '+';
    if (c.space) directive += ' ';
    if (c.alternate) directive += '#';
    if (c.zero) directive += '0';
    if (c.width > 0) directive += std::to_string(c.width);
    if (c.precision >= 0) directive += '.' + std::to_string(c.precision);
    directive += length;
    directive += type;
    return directive;
}

// Formats one number with snprintf and appends it; the output is ASCII apart
// from a locale's decimal point, which is widened byte by byte.
template <typename T>
void AppendNumber(std::wstring& out, const std::string& directive, T value) {
    char local[128];
    int n = std::snprintf(local, sizeof local, directive.c_str(), value);
    if (n < 0) return;
    const char* text = local;
    std::string large;
    if (static_cast<std::size_t>(n) >= sizeof local) {
        large.resize(static_cast<std::size_t>(n) + 1);
        n = std::snprintf(large.data(), large.size(), directive.c_str(), value);
        if (n < 0) return;
        text = large.data();
    }
    for (int i = 0; i < n; ++i) out += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
}

long long SignedArg(ArgList& args, Size size) {
    switch (size) {
        case Size::Char:
            return static_cast<signed char>(va_arg(args.ap, int));
        case Size::Short:
            return static_cast<short>(va_arg(args.ap, int));
        case Size::LongLong:
            return va_arg(args.ap, long long);
        default:
            return va_arg(args.ap, int);
    }
}

unsigned long long UnsignedArg(ArgList& args, Size size) {
    switch (size) {
        case Size::Char:
            return static_cast<unsigned char>(va_arg(args.ap, unsigned));
        case Size::Short:
            return static_cast<unsigned short>(va_arg(args.ap, unsigned));
        case Size::LongLong:
            return va_arg(args.ap, unsigned long long);
        default:
            return va_arg(args.ap, unsigned);
    }
}

// Parses the conversion after '%' at `p`.  Returns the position after the
// conversion character, or null when the directive is incomplete.
const wchar_t* ParseConversion(const wchar_t* p, Conversion& c, ArgList& args) {
    for (;; ++p) {
        if (*p == L'-')
            c.left = true;
        else if (*p == L'+')
            c.plus = true;
        else if (*p == L' ')
            c.space = true;
        else if (*p == L'#')
            c.alternate = true;
        else if (*p == L'0')
            c.zero = true;
        else
            break;
    }
    auto number = [&p] {
        long long value = 0;
        for (; *p >= L'0' && *p <= L'9'; ++p) value = std::min<long long>(value * 10 + (*p - L'0'), INT_MAX);
        return static_cast<int>(value);
    };
    if (*p == L'*') {
        ++p;
        c.width = va_arg(args.ap, int);
        if (c.width < 0) {
            c.left = true;
            c.width = c.width == INT_MIN ? INT_MAX : -c.width;
        }
    } else {
        c.width = number();
    }
    if (*p == L'.') {
        ++p;
        if (*p == L'*') {
            ++p;
            c.precision = std::max(va_arg(args.ap, int), -1);
        } else {
            c.precision = number();
        }
    }
    switch (*p) {
        case L'h':
            ++p;
            c.narrowText = true;
            c.size = Size::Short;
            if (*p == L'h') {
                ++p;
                c.size = Size::Char;
            }
            break;
        case L'l':
            ++p;
            c.wideText = true;
            c.size = Size::Long;
            if (*p == L'l') {
                ++p;
                c.size = Size::LongLong;
            }
            break;
        case L'w':
            ++p;
            c.wideText = true;
            break;
        case L'L':
            ++p;
            c.size = Size::LongDouble;
            break;
        case L'I':
            // I32, I64, or I alone for a pointer-sized value.
            ++p;
            c.size = Size::LongLong;
            if ((p[0] == L'3' && p[1] == L'2') || (p[0] == L'6' && p[1] == L'4')) {
                if (p[0] == L'3') c.size = Size::Long;
                p += 2;
            }
            break;
        case L'z':
        case L'j':
        case L't':
            ++p;
            c.size = Size::LongLong;
            break;
        default:
            break;
    }
    return *p ? p + 1 : nullptr;
}

// Appends one conversion of type `type`; false for an unknown type.
bool AppendConversion(std::wstring& out, Conversion& c, wchar_t type, ArgList& args) {
    switch (type) {
        case L'd':
        case L'i': {
            const long long value = SignedArg(args, c.size);
            AppendNumber(out, NarrowDirective(c, "ll", 'd'), value);
            return true;
        }
        case L'u':
        case L'o':
        case L'x':
        case L'X': {
            const unsigned long long value = UnsignedArg(args, c.size);
            AppendNumber(out, NarrowDirective(c, "ll", static_cast<char>(type)), value);
            return true;
        }
        case L'e':
        case L'E':
        case L'f':
        case L'F':
        case L'g':
        case L'G':
        case L'a':
        case L'A':
            if (c.size == Size::LongDouble) {
                const long double value = va_arg(args.ap, long double);
                AppendNumber(out, NarrowDirective(c, "L", static_cast<char>(type)), value);
            } else {
                const double value = va_arg(args.ap, double);
                AppendNumber(out, NarrowDirective(c, "", static_cast<char>(type)), value);
            }
            return true;
        case L'p': {
            const auto value = reinterpret_cast<std::uintptr_t>(va_arg(args.ap, void*));
            c.precision = static_cast<int>(2 * sizeof(void*));
            AppendNumber(out, NarrowDirective(c, "ll", 'X'), static_cast<unsigned long long>(value));
            return true;
        }
        case L'c':
        case L'C': {
            const bool narrow = type == L'c' ? c.narrowText : !c.wideText;
            const int value = va_arg(args.ap, int);
            std::wstring text;
            if (narrow) {
                const char ch = static_cast<char>(value);
                text = WidenAnsi(&ch, 1);
            } else {
                text.assign(1, static_cast<wchar_t>(value));
            }
            AppendPadded(out, c, text);
            return true;
        }
        case L's':
        case L'S': {
            const bool narrow = type == L's' ? c.narrowText : !c.wideText;
            const auto limit = c.precision < 0 ? std::wstring_view::npos : static_cast<std::size_t>(c.precision);
            if (narrow) {
                const char* text = va_arg(args.ap, const char*);
                if (!text) text = "(null)";
                std::wstring wide = WidenAnsi(text, c.precision < 0 ? std::strlen(text) : strnlen(text, limit));
                AppendPadded(out, c, std::wstring_view(wide).substr(0, limit));
            } else {
                const wchar_t* text = va_arg(args.ap, const wchar_t*);
                if (!text) text = L"(null)";
                std::size_t length = 0;
                while (length < limit && text[length]) ++length;
                AppendPadded(out, c, std::wstring_view(text, length));
            }
            return true;
        }
        default:
            return false;
    }
}

std::wstring FormatText(LPCWSTR format, va_list ap) {
    std::wstring out;
    if (!format) return out;
    ArgList args;
    va_copy(args.ap, ap);
    const wchar_t* p = format;
    while (*p) {
        const wchar_t* percent = std::wcschr(p, L'%');
        if (!percent) {
            out.append(p);
            break;
        }
        out.append(p, percent);
        if (percent[1] == L'%') {
            out += L'%';
            p = percent + 2;
            continue;
        }
        Conversion c;
        const wchar_t* end = ParseConversion(percent + 1, c, args);
        if (!end) {
            out.append(percent);
            break;
        }
        if (!AppendConversion(out, c, end[-1], args)) out.append(percent, end);
        p = end;
    }
    va_end(args.ap);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and assignment.

CString::CString(LPCWSTR text) : m_text(ViewOf(text)) {}

CString::CString(LPCSTR text) : m_text(WidenAnsi(text)) {}

CString::CString(LPCWSTR text, int length) {
    if (length < 0 || (length > 0 && !text)) throw std::invalid_argument("CString: invalid text or length");
    m_text.assign(text ? text : L"", static_cast<std::size_t>(length));
}

CString::CString(wchar_t ch, int repeat) : m_text(static_cast<std::size_t>(std::max(repeat, 0)), ch) {}

CString::CString(std::wstring_view text) : m_text(text) {}

CString& CString::operator=(CString&& other) noexcept {
    m_text = std::exchange(other.m_text, {});
    return *this;
}

CString& CString::operator=(LPCWSTR text) {
    m_text.assign(ViewOf(text));
    return *this;
}

CString& CString::operator=(LPCSTR text) {
    m_text = WidenAnsi(text);
    return *this;
}

CString& CString::operator=(wchar_t ch) {
    m_text.assign(1, ch);
    return *this;
}

CString& CString::operator=(std::wstring_view text) {
    m_text.assign(text);
    return *this;
}

CString& CString::operator=(const std::wstring& text) {
    m_text = text;
    return *this;
}

CString& CString::operator=(std::wstring&& text) noexcept {
    m_text = std::move(text);
    return *this;
}

// ---------------------------------------------------------------------------
// Access and buffers.

wchar_t CString::GetAt(int index) const {
    if (index < 0 || index > GetLength()) throw std::out_of_range("CString::GetAt: index out of range");
    return m_text.c_str()[index];
}

void CString::SetAt(int index, wchar_t ch) {
    if (index < 0 || index >= GetLength()) throw std::out_of_range("CString::SetAt: index out of range");
    m_text[static_cast<std::size_t>(index)] = ch;
}

LPWSTR CString::GetBuffer(int minLength) {
    if (minLength < 0) throw std::invalid_argument("CString::GetBuffer: negative length");
    if (static_cast<std::size_t>(minLength) > m_text.size()) m_text.resize(static_cast<std::size_t>(minLength));
    return m_text.data();
}

LPWSTR CString::GetBufferSetLength(int length) {
    if (length < 0) throw std::invalid_argument("CString::GetBufferSetLength: negative length");
    m_text.resize(static_cast<std::size_t>(length));
    return m_text.data();
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < -1 || newLength > GetLength()) throw std::invalid_argument("CString::ReleaseBuffer: bad length");
    m_text.resize(newLength == -1 ? std::wcslen(m_text.c_str()) : static_cast<std::size_t>(newLength));
}

// ---------------------------------------------------------------------------
// Appending.

void CString::Append(LPCWSTR text) {
    m_text.append(ViewOf(text));
}

void CString::Append(LPCWSTR text, int length) {
    if (length < 0 || (length > 0 && !text)) throw std::invalid_argument("CString::Append: invalid text or length");
    std::size_t n = 0;
    while (n < static_cast<std::size_t>(length) && text[n]) ++n;
    m_text.append(text ? text : L"", n);
}

CString& CString::operator+=(const CString& text) {
    m_text += text.m_text;
    return *this;
}

CString& CString::operator+=(LPCWSTR text) {
    Append(text);
    return *this;
}

CString& CString::operator+=(LPCSTR text) {
    m_text += WidenAnsi(text);
    return *this;
}

CString& CString::operator+=(wchar_t ch) {
    m_text += ch;
    return *this;
}

namespace {
CString Concat(std::wstring_view a, std::wstring_view b) {
    std::wstring text;
    text.reserve(a.size() + b.size());
    text.append(a).append(b);
    return CString(std::move(text));
}
}  // namespace

CString operator+(const CString& a, const CString& b) {
    return Concat(a, b);
}
CString operator+(const CString& a, LPCWSTR b) {
    return Concat(a, ViewOf(b));
}
CString operator+(LPCWSTR a, const CString& b) {
    return Concat(ViewOf(a), b);
}
CString operator+(const CString& a, LPCSTR b) {
    return Concat(a, WidenAnsi(b));
}
CString operator+(LPCSTR a, const CString& b) {
    return Concat(WidenAnsi(a), b);
}
CString operator+(const CString& a, wchar_t b) {
    return Concat(a, std::wstring_view(&b, 1));
}
CString operator+(wchar_t a, const CString& b) {
    return Concat(std::wstring_view(&a, 1), b);
}

CString operator+(CString&& a, const CString& b) {
    a += b;
    return std::move(a);
}

CString operator+(CString&& a, LPCWSTR b) {
    a += b;
    return std::move(a);
}

CString operator+(CString&& a, LPCSTR b) {
    a += b;
    return std::move(a);
}

CString operator+(CString&& a, wchar_t b) {
    a += b;
    return std::move(a);
}

// ---------------------------------------------------------------------------
// Comparison.

int CString::Compare(LPCWSTR other) const noexcept {
    return Sign(std::wstring_view(m_text).compare(ViewOf(other)));
}

int CString::CompareNoCase(LPCWSTR other) const noexcept {
    const std::wstring_view b = ViewOf(other);
    const std::size_t n = std::min(m_text.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const wint_t x = std::towlower(static_cast<wint_t>(m_text[i]));
        const wint_t y = std::towlower(static_cast<wint_t>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return m_text.size() == b.size() ? 0 : (m_text.size() < b.size() ? -1 : 1);
}

// ---------------------------------------------------------------------------
// Substrings.

CString CString::Left(int count) const {
    return Mid(0, count);
}

CString CString::Mid(int first) const {
    return Mid(first, INT_MAX);
}

CString CString::Mid(int first, int count) const {
    const auto [pos, n] = ClampRange(first, count, m_text.size());
    return CString(std::wstring_view(m_text).substr(pos, n));
}

CString CString::Right(int count) const {
    const int n = std::clamp(count, 0, GetLength());
    return CString(std::wstring_view(m_text).substr(m_text.size() - static_cast<std::size_t>(n)));
}

CString CString::SpanIncluding(LPCWSTR set) const {
    const std::size_t n = m_text.find_first_not_of(ViewOf(set));
    return CString(std::wstring_view(m_text).substr(0, n));
}

CString CString::SpanExcluding(LPCWSTR set) const {
    const std::size_t n = m_text.find_first_of(ViewOf(set));
    return CString(std::wstring_view(m_text).substr(0, n));
}

// ---------------------------------------------------------------------------
// Searching.

int CString::Find(wchar_t ch, int start) const noexcept {
    if (start < 0 || start >= GetLength()) return -1;
    return ToIndex(m_text.find(ch, static_cast<std::size_t>(start)));
}

int CString::Find(LPCWSTR sub, int start) const noexcept {
    if (!sub || start < 0 || start > GetLength()) return -1;
    return ToIndex(m_text.find(sub, static_cast<std::size_t>(start)));
}

int CString::ReverseFind(wchar_t ch) const noexcept {
    return ToIndex(m_text.rfind(ch));
}

int CString::FindOneOf(LPCWSTR set) const noexcept {
    return ToIndex(m_text.find_first_of(ViewOf(set)));
}

// ---------------------------------------------------------------------------
// Editing.

int CString::Replace(wchar_t from, wchar_t to) {
    if (from == to) return 0;
    int count = 0;
    for (wchar_t& ch : m_text) {
        if (ch == from) {
            ch = to;
            ++count;
        }
    }
    return count;
}

int CString::Replace(LPCWSTR from, LPCWSTR to) {
    // Copies, since either argument may point into this string.
    const std::wstring old(ViewOf(from));
    const std::wstring replacement(ViewOf(to));
    if (old.empty()) return 0;
    std::size_t pos = m_text.find(old);
    if (pos == std::wstring::npos) return 0;
    std::wstring result;
    result.reserve(m_text.size());
    std::size_t done = 0;
    int count = 0;
    for (; pos != std::wstring::npos; pos = m_text.find(old, done)) {
        result.append(m_text, done, pos - done).append(replacement);
        done = pos + old.size();
        ++count;
    }
    result.append(m_text, done);
    m_text = std::move(result);
    return count;
}

int CString::Remove(wchar_t ch) {
    const auto removed = std::erase(m_text, ch);
    return static_cast<int>(removed);
}

int CString::Insert(int index, wchar_t ch) {
    m_text.insert(static_cast<std::size_t>(std::clamp(index, 0, GetLength())), 1, ch);
    return GetLength();
}

int CString::Insert(int index, LPCWSTR text) {
    if (text) m_text.insert(static_cast<std::size_t>(std::clamp(index, 0, GetLength())), text);
    return GetLength();
}

int CString::Delete(int index, int count) {
    const auto [pos, n] = ClampRange(index, count, m_text.size());
    m_text.erase(pos, n);
    return GetLength();
}

CString& CString::MakeUpper() {
    for (wchar_t& ch : m_text) ch = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(ch)));
    return *this;
}

CString& CString::MakeLower() {
    for (wchar_t& ch : m_text) ch = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch)));
    return *this;
}

CString& CString::MakeReverse() {
    std::reverse(m_text.begin(), m_text.end());
    return *this;
}

namespace {
bool IsSpace(wchar_t ch) {
    return std::iswspace(static_cast<wint_t>(ch)) != 0;
}
}  // namespace

CString& CString::Trim() {
    return TrimRight().TrimLeft();
}
CString& CString::Trim(wchar_t ch) {
    return TrimRight(ch).TrimLeft(ch);
}
CString& CString::Trim(LPCWSTR set) {
    return TrimRight(set).TrimLeft(set);
}

CString& CString::TrimLeft() {
    m_text.erase(m_text.begin(), std::find_if_not(m_text.begin(), m_text.end(), IsSpace));
    return *this;
}

CString& CString::TrimLeft(wchar_t ch) {
    m_text.erase(0, std::min(m_text.find_first_not_of(ch), m_text.size()));
    return *this;
}

CString& CString::TrimLeft(LPCWSTR set) {
    m_text.erase(0, std::min(m_text.find_first_not_of(ViewOf(set)), m_text.size()));
    return *this;
}

CString& CString::TrimRight() {
    m_text.erase(std::find_if_not(m_text.rbegin(), m_text.rend(), IsSpace).base(), m_text.end());
    return *this;
}

CString& CString::TrimRight(wchar_t ch) {
    const std::size_t last = m_text.find_last_not_of(ch);
    m_text.erase(last == std::wstring::npos ? 0 : last + 1);
    return *this;
}

CString& CString::TrimRight(LPCWSTR set) {
    const std::size_t last = m_text.find_last_not_of(ViewOf(set));
    m_text.erase(last == std::wstring::npos ? 0 : last + 1);
    return *this;
}

CString CString::Tokenize(LPCWSTR tokens, int& start) const {
    if (start < 0) throw std::invalid_argument("CString::Tokenize: negative start");
    const std::wstring_view set = ViewOf(tokens);
    if (set.empty()) {
        if (start < GetLength()) return Mid(start);
    } else if (start < GetLength()) {
        const std::size_t from = m_text.find_first_not_of(set, static_cast<std::size_t>(start));
        if (from != std::wstring::npos) {
            const std::size_t end = std::min(m_text.find_first_of(set, from), m_text.size());
            start = static_cast<int>(end) + 1;
            return CString(std::wstring_view(m_text).substr(from, end - from));
        }
    }
    start = -1;
    return CString();
}

// ---------------------------------------------------------------------------
// Formatting.

void CString::Format(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    m_text = FormatText(format, args);
    va_end(args);
}

void CString::FormatV(LPCWSTR format, va_list args) {
    m_text = FormatText(format, args);
}

void CString::AppendFormat(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    m_text += FormatText(format, args);
    va_end(args);
}

void CString::AppendFormatV(LPCWSTR format, va_list args) {
    m_text += FormatText(format, args);
}

std::wostream& operator<<(std::wostream& out, const CString& text) {
    return out << std::wstring_view(text);
}

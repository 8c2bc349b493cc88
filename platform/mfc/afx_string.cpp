// CString; its printf formatting is the wide format engine (wide_format.cpp).
#include "platform/mfc/AfxString.h"

#include <algorithm>
#include <climits>
#include <cwctype>
#include <ostream>
#include <stdexcept>
#include <string>

#include "platform/mfc/internal/WideFormat.h"

namespace {

using vplatform::mfc::WidenAnsi;

std::wstring_view ViewOf(LPCWSTR text) {
    return text ? std::wstring_view(text) : std::wstring_view();
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
    m_text = vplatform::mfc::FormatWide(format, args);
    va_end(args);
}

void CString::FormatV(LPCWSTR format, va_list args) {
    m_text = vplatform::mfc::FormatWide(format, args);
}

void CString::AppendFormat(LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    m_text += vplatform::mfc::FormatWide(format, args);
    va_end(args);
}

void CString::AppendFormatV(LPCWSTR format, va_list args) {
    m_text += vplatform::mfc::FormatWide(format, args);
}

std::wostream& operator<<(std::wostream& out, const CString& text) {
    return out << std::wstring_view(text);
}

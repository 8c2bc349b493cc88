// CString: the MFC wide string class, for library code written against MFC.
//
// The text is UTF-16, one code unit per `wchar_t` (characters beyond the BMP as
// surrogate pairs), held in a std::wstring with plain value semantics: copies
// are independent, a moved-from string is empty.  Lengths and indices are
// `int` units as in MFC; a text longer than INT_MAX units is not supported.
// Every member works on units: case mapping and white-space tests apply
// towupper/towlower/iswspace of the C runtime's current locale to each unit,
// and comparisons compare unit values.
//
// Narrow text (LPCSTR, %S and %hs in Format) is converted from the ANSI code
// page with MultiByteToWideChar(CP_ACP).  A conversion the platform refuses
// gives an empty text and leaves its reason in GetLastError, as in MFC; narrow
// text of 2^31 bytes or more throws std::length_error.
//
// Failure, unless a member says otherwise: an index out of range throws
// std::out_of_range, a negative length std::invalid_argument; position and
// count arguments of the substring and editing members are clamped to the text
// instead, as in MFC; allocation failure throws std::bad_alloc.
//
// Threads: a value class with no shared state: one CString is used by one
// thread at a time (or read by several); copies are independent.  Narrow
// conversions read the ANSI code page and case mapping the C locale, which
// must not change meanwhile (set them at start-up).
#pragma once

#include <compare>
#include <cstdarg>
#include <iosfwd>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/PlatformExport.h"
#include "platform/WinTypes.h"

class VPLATFORM_API CString {
public:
    CString() noexcept = default;
    CString(const CString&) = default;
    CString(CString&& other) noexcept : m_text(std::exchange(other.m_text, {})) {}
    // Null gives an empty string.
    CString(LPCWSTR text);
    // Narrow text in the ANSI code page; null gives an empty string.
    CString(LPCSTR text);
    // Exactly `length` units, zero units included.  Throws std::invalid_argument
    // for a negative length or a null `text` with a positive length.
    CString(LPCWSTR text, int length);
    // `ch` repeated `repeat` times; a repeat below 1 gives an empty string.
    explicit CString(wchar_t ch, int repeat = 1);
    CString(std::wstring_view text);
    CString(const std::wstring& text) : m_text(text) {}
    CString(std::wstring&& text) noexcept : m_text(std::move(text)) {}
    ~CString() = default;

    CString& operator=(const CString&) = default;
    CString& operator=(CString&& other) noexcept;
    CString& operator=(LPCWSTR text);
    CString& operator=(LPCSTR text);
    CString& operator=(wchar_t ch);
    CString& operator=(std::wstring_view text);
    CString& operator=(const std::wstring& text);
    CString& operator=(std::wstring&& text) noexcept;

    // --- Access ------------------------------------------------------------

    int GetLength() const noexcept { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const noexcept { return m_text.empty(); }
    void Empty() noexcept { m_text.clear(); }

    // The unit at `index`; `index` == GetLength() gives the terminating zero.
    // Throws std::out_of_range outside 0..GetLength().
    wchar_t GetAt(int index) const;
    wchar_t operator[](int index) const { return GetAt(index); }
    // Throws std::out_of_range outside 0..GetLength()-1.
    void SetAt(int index, wchar_t ch);

    // The zero-terminated text, valid until the string is next changed.
    LPCWSTR GetString() const noexcept { return m_text.c_str(); }
    operator LPCWSTR() const noexcept { return m_text.c_str(); }
    operator std::wstring_view() const noexcept { return m_text; }

    // --- Direct buffer access ---------------------------------------------
    //
    // GetBuffer returns a writable buffer holding the text followed by zeros,
    // of at least `minLength` units plus a terminating zero.  After writing,
    // ReleaseBuffer sets the length: to `newLength`, or with -1 to the units
    // before the first zero in the buffer.  As in MFC, no other member may be
    // used between the two calls (GetLength meanwhile reports the buffer's
    // size).

    // Throws std::invalid_argument for a negative `minLength`.
    LPWSTR GetBuffer(int minLength);
    LPWSTR GetBuffer() { return m_text.data(); }
    // Makes the length exactly `length` (new units are zero) and returns the
    // buffer.  Throws std::invalid_argument for a negative length.
    LPWSTR GetBufferSetLength(int length);
    // Throws std::invalid_argument for `newLength` below -1 or beyond the
    // buffer's size.
    void ReleaseBuffer(int newLength = -1);

    // --- Appending ---------------------------------------------------------

    // A null `text` appends nothing.
    void Append(LPCWSTR text);
    void Append(const CString& text) { m_text += text.m_text; }
    // Appends up to `length` units, stopping at a zero unit.  Throws
    // std::invalid_argument for a negative length or a null `text` with a
    // positive length.
    void Append(LPCWSTR text, int length);
    void AppendChar(wchar_t ch) { m_text += ch; }

    CString& operator+=(const CString& text);
    CString& operator+=(LPCWSTR text);
    CString& operator+=(LPCSTR text);
    CString& operator+=(wchar_t ch);

    // --- Comparison --------------------------------------------------------
    //
    // Compare and CompareNoCase return -1, 0 or 1.  A null LPCWSTR compares as
    // the empty string.  All six relational operators work with a CString or
    // an LPCWSTR on either side.

    int Compare(LPCWSTR other) const noexcept;
    // Compares after towlower of every unit.
    int CompareNoCase(LPCWSTR other) const noexcept;
    // Unit order, as Compare.
    int Collate(LPCWSTR other) const noexcept { return Compare(other); }

    friend bool operator==(const CString& a, const CString& b) noexcept { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, LPCWSTR b) noexcept { return a.Compare(b) == 0; }
    friend std::strong_ordering operator<=>(const CString& a, const CString& b) noexcept {
        return a.m_text.compare(b.m_text) <=> 0;
    }
    friend std::strong_ordering operator<=>(const CString& a, LPCWSTR b) noexcept { return a.Compare(b) <=> 0; }

    // --- Substrings ----------------------------------------------------------
    //
    // Arguments are clamped: a negative count or position counts as 0, a count
    // reaching past the end stops at the end.

    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;
    // The leading units that belong to `set` (none for a null `set`).
    CString SpanIncluding(LPCWSTR set) const;
    // The leading units that do not belong to `set` (all for a null `set`).
    CString SpanExcluding(LPCWSTR set) const;

    // --- Searching -----------------------------------------------------------
    //
    // Searches return the index of the match or -1.  A start outside the text
    // finds nothing; a null substring finds nothing; an empty one is found at
    // `start`.

    int Find(wchar_t ch, int start = 0) const noexcept;
    int Find(LPCWSTR sub, int start = 0) const noexcept;
    int ReverseFind(wchar_t ch) const noexcept;
    // The first unit that belongs to `set`; -1 for a null or empty `set`.
    int FindOneOf(LPCWSTR set) const noexcept;

    // --- Editing -------------------------------------------------------------

    // Replaces every `from` unit; returns the number replaced.
    int Replace(wchar_t from, wchar_t to);
    // Replaces every non-overlapping `from`, left to right; returns the number
    // replaced.  A null or empty `from` replaces nothing; a null `to` removes.
    int Replace(LPCWSTR from, LPCWSTR to);
    // Removes every `ch`; returns the number removed.
    int Remove(wchar_t ch);
    // Inserts before `index` (clamped to 0..GetLength()); returns the new
    // length.  A null `text` inserts nothing.
    int Insert(int index, wchar_t ch);
    int Insert(int index, LPCWSTR text);
    // Removes up to `count` units from `index` (both clamped); returns the new
    // length.
    int Delete(int index, int count = 1);

    CString& MakeUpper();
    CString& MakeLower();
    // Reverses the order of the units (surrogate pairs included, as in MFC).
    CString& MakeReverse();

    // Without argument: removes iswspace units.  With a unit or a set: removes
    // those units; a null or empty set removes nothing.
    CString& Trim();
    CString& Trim(wchar_t ch);
    CString& Trim(LPCWSTR set);
    CString& TrimLeft();
    CString& TrimLeft(wchar_t ch);
    CString& TrimLeft(LPCWSTR set);
    CString& TrimRight();
    CString& TrimRight(wchar_t ch);
    CString& TrimRight(LPCWSTR set);

    // Returns the next token at or after `start`, skipping leading units of
    // `tokens`, and moves `start` past the delimiter that ends it.  When no
    // token is left, returns an empty string and sets `start` to -1.  A null or
    // empty `tokens` returns the rest of the text and leaves `start` unchanged,
    // as in MFC.  Throws std::invalid_argument for a negative `start`.
    CString Tokenize(LPCWSTR tokens, int& start) const;

    // --- Formatting ----------------------------------------------------------
    //
    // printf formatting with the rules of the Windows C runtime's wide
    // functions:
    //   %s %ls %ws     const wchar_t* (null prints "(null)");
    //   %S %hs         const char* in the ANSI code page;
    //   %c %lc %wc     wchar_t (passed as int); %C %hc a char;
    //   %d %i %u %o %x %X with h, hh, l, ll, I, I32, I64, z, j, t: `l` and
    //                  I32 take a 32-bit value as on Windows (LONG, DWORD);
    //                  ll, I64, I, z, j and t a 64-bit one;
    //   %e %E %f %F %g %G %a %A take a double (L: long double);
    //   %p             a pointer, as 16 upper-case hexadecimal digits;
    //   %%             a percent sign.
    // Flags - + space # 0, width and precision ('*' too) apply; for strings
    // they count units.  An unknown or incomplete conversion (and %n) is
    // copied literally.
    //
    // Pass strings as LPCWSTR: `s.Format(L"%s", name.GetString())`.  Passing an
    // object of class type (a CString, a std::wstring) through the variable
    // arguments does not compile.

    void Format(LPCWSTR format, ...);
    void FormatV(LPCWSTR format, va_list args);
    void AppendFormat(LPCWSTR format, ...);
    void AppendFormatV(LPCWSTR format, va_list args);

    template <typename... Args>
    requires(std::is_class_v<std::remove_cvref_t<Args>> || ...) void Format(LPCWSTR format,
                                                                            const Args&... args) = delete;
    template <typename... Args>
    requires(std::is_class_v<std::remove_cvref_t<Args>> || ...) void AppendFormat(LPCWSTR format,
                                                                                  const Args&... args) = delete;

private:
    std::wstring m_text;
};

using CStringW = CString;

VPLATFORM_API CString operator+(const CString& a, const CString& b);
VPLATFORM_API CString operator+(const CString& a, LPCWSTR b);
VPLATFORM_API CString operator+(LPCWSTR a, const CString& b);
VPLATFORM_API CString operator+(const CString& a, LPCSTR b);
VPLATFORM_API CString operator+(LPCSTR a, const CString& b);
VPLATFORM_API CString operator+(const CString& a, wchar_t b);
VPLATFORM_API CString operator+(wchar_t a, const CString& b);
// Reuse the left operand's buffer in chains such as a + b + c.
VPLATFORM_API CString operator+(CString&& a, const CString& b);
VPLATFORM_API CString operator+(CString&& a, LPCWSTR b);
VPLATFORM_API CString operator+(CString&& a, LPCSTR b);
VPLATFORM_API CString operator+(CString&& a, wchar_t b);

VPLATFORM_API std::wostream& operator<<(std::wostream& out, const CString& text);

// The printf engine for wide format strings, with the Windows C runtime's
// rules (CString::Format and its kin).
#include "platform/mfc/internal/WideFormat.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <stdexcept>
#include <string>

#include "platform/nls/CodePage.h"

namespace vplatform::mfc {

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

namespace {

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

}  // namespace

std::wstring FormatWide(LPCWSTR format, va_list ap) {
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

}  // namespace vplatform::mfc

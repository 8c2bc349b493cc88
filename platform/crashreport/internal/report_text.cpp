// Crash-report text without allocation (for the signal handler).
#include "platform/crashreport/internal/ReportText.h"

#include <signal.h>

#include <cstring>

namespace vplatform::crash {
namespace {

// Decodes one code point at `text`; invalid or cut sequences give U+FFFD and
// consume one byte.
char32_t DecodeUtf8(const unsigned char*& text) {
    const unsigned char lead = *text;
    int length = 0;
    char32_t point = 0;
    if (lead < 0x80) {
        ++text;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07;
    } else {
        ++text;
        return 0xFFFD;
    }
    for (int i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            ++text;
            return 0xFFFD;
        }
        point = (point << 6) | (text[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
    if ((length == 3 && point < 0x800) || (length == 4 && (point < 0x10000 || point > 0x10FFFF)) ||
        (point >= 0xD800 && point <= 0xDFFF)) {
        ++text;
        return 0xFFFD;
    }
    text += length;
    return point;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

void AppendPadded(TextBuffer& out, std::int64_t value, int width) {
    char digits[24];
    int count = 0;
    std::uint64_t rest = value < 0 ? 0 : static_cast<std::uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    for (int i = count; i < width; ++i) out.Append("0", 1);
    while (count > 0) out.Append(&digits[--count], 1);
}

struct Split {
    std::int64_t year;
    int month, day, hour, minute, second;
};

Split SplitSeconds(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    Split split{};
    CivilFromDays(days, split.year, split.month, split.day);
    split.hour = static_cast<int>(rest / 3600);
    split.minute = static_cast<int>(rest / 60 % 60);
    split.second = static_cast<int>(rest % 60);
    return split;
}

}  // namespace

TextBuffer::TextBuffer(char* storage, std::size_t capacity) : m_storage(storage), m_capacity(capacity) {
    if (m_capacity > 0) m_storage[0] = '\0';
}

void TextBuffer::Append(const char* text, std::size_t length) {
    if (m_capacity == 0) return;
    const std::size_t room = m_capacity - 1 - m_size;
    if (length > room) length = room;
    std::memcpy(m_storage + m_size, text, length);
    m_size += length;
    m_storage[m_size] = '\0';
}

void TextBuffer::Append(const char* text) {
    if (text != nullptr) Append(text, std::strlen(text));
}

void TextBuffer::AppendDecimal(std::int64_t value) {
    if (value < 0) {
        Append("-", 1);
        // The most negative value has no positive counterpart: its digits
        // come out of the unsigned form.
        const std::uint64_t magnitude = 0 - static_cast<std::uint64_t>(value);
        char digits[24];
        int count = 0;
        std::uint64_t rest = magnitude;
        do {
            digits[count++] = static_cast<char>('0' + rest % 10);
            rest /= 10;
        } while (rest != 0);
        while (count > 0) Append(&digits[--count], 1);
        return;
    }
    AppendPadded(*this, value, 1);
}

void TextBuffer::AppendHex(std::uint64_t value, int width) {
    char digits[16];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    for (int i = count; i < width; ++i) Append("0", 1);
    while (count > 0) Append(&digits[--count], 1);
}

void TextBuffer::AppendJsonString(const char* text) {
    Append("\"", 1);
    const auto* at = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
    while (*at != 0) {
        const unsigned char byte = *at;
        if (byte == '"' || byte == '\\') {
            const char escaped[2] = {'\\', static_cast<char>(byte)};
            Append(escaped, 2);
            ++at;
        } else if (byte < 0x20) {
            Append("\\u00");
            AppendHex(byte, 2);
            ++at;
        } else if (byte < 0x80) {
            Append(reinterpret_cast<const char*>(at), 1);
            ++at;
        } else {
            const unsigned char* start = at;
            if (DecodeUtf8(at) == 0xFFFD && !(at - start == 3 && start[0] == 0xEF))
                Append("\xEF\xBF\xBD");
            else
                Append(reinterpret_cast<const char*>(start), static_cast<std::size_t>(at - start));
        }
    }
    Append("\"", 1);
}

void AppendCompactTime(TextBuffer& out, std::int64_t seconds) {
    const Split t = SplitSeconds(seconds);
    AppendPadded(out, t.year, 4);
    AppendPadded(out, t.month, 2);
    AppendPadded(out, t.day, 2);
    out.Append("-");
    AppendPadded(out, t.hour, 2);
    AppendPadded(out, t.minute, 2);
    AppendPadded(out, t.second, 2);
}

void AppendIsoTime(TextBuffer& out, std::int64_t utcSeconds, std::int32_t nanoseconds, long utcOffset) {
    const Split t = SplitSeconds(utcSeconds + utcOffset);
    AppendPadded(out, t.year, 4);
    out.Append("-");
    AppendPadded(out, t.month, 2);
    out.Append("-");
    AppendPadded(out, t.day, 2);
    out.Append("T");
    AppendPadded(out, t.hour, 2);
    out.Append(":");
    AppendPadded(out, t.minute, 2);
    out.Append(":");
    AppendPadded(out, t.second, 2);
    out.Append(".");
    AppendPadded(out, nanoseconds / 1'000'000, 3);
    out.Append(utcOffset < 0 ? "-" : "+");
    const long offset = utcOffset < 0 ? -utcOffset : utcOffset;
    AppendPadded(out, offset / 3600, 2);
    out.Append(":");
    AppendPadded(out, offset / 60 % 60, 2);
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        case SIGTRAP:
            return "SIGTRAP";
        case SIGSYS:
            return "SIGSYS";
        default:
            return "SIG?";
    }
}

void AppendFactsJson(TextBuffer& out, const CR_CRASH_FACTS& facts, pid_t pid, long utcOffset, const char* appName,
                     const char* appVersion, const char* stack) {
    out.Append("{\n  \"signal\": ");
    out.AppendDecimal(facts.nSignal);
    out.Append(",\n  \"signalName\": ");
    out.AppendJsonString(SignalName(facts.nSignal));
    out.Append(",\n  \"code\": ");
    out.AppendDecimal(facts.nCode);
    out.Append(",\n  \"address\": \"0x");
    out.AppendHex(facts.uAddress);
    out.Append("\",\n  \"pid\": ");
    out.AppendDecimal(pid);
    out.Append(",\n  \"threadId\": ");
    out.AppendDecimal(static_cast<std::int64_t>(facts.uThreadId));
    out.Append(",\n  \"threadName\": ");
    out.AppendJsonString(facts.szThreadName);
    out.Append(",\n  \"time\": \"");
    AppendIsoTime(out, facts.nTimeSeconds, facts.nTimeNanoseconds, utcOffset);
    out.Append("\",\n  \"application\": ");
    out.AppendJsonString(appName);
    out.Append(",\n  \"version\": ");
    out.AppendJsonString(appVersion);
    if (facts.bTerminate) {
        out.Append(",\n  \"terminate\": {\"type\": ");
        out.AppendJsonString(facts.szExceptionType);
        out.Append(", \"what\": ");
        out.AppendJsonString(facts.szExceptionWhat);
        out.Append("}");
    }
    out.Append(",\n  \"frames\": ");
    out.AppendDecimal(facts.nFrames);
    out.Append(",\n  \"stack\": ");
    out.AppendJsonString(stack);
    out.Append("\n}\n");
}

void Utf8ToUtf16(const char* in, wchar_t* out, std::size_t capacity) {
    if (capacity == 0) return;
    std::size_t size = 0;
    const auto* at = reinterpret_cast<const unsigned char*>(in);
    while (*at != 0) {
        const char32_t point = DecodeUtf8(at);
        const std::size_t units = point >= 0x10000 ? 2 : 1;
        if (size + units >= capacity) break;
        if (units == 2) {
            out[size++] = static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
            out[size++] = static_cast<wchar_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            out[size++] = static_cast<wchar_t>(point);
        }
    }
    out[size] = L'\0';
}

std::string Utf16ToUtf8(const wchar_t* in) {
    std::string out;
    if (in == nullptr) return out;
    for (; *in != 0; ++in) {
        char32_t point = static_cast<char32_t>(*in) & 0xFFFF;
        if (point >= 0xD800 && point <= 0xDBFF && in[1] >= 0xDC00 && in[1] <= 0xDFFF) {
            point = 0x10000 + ((point - 0xD800) << 10) + (static_cast<char32_t>(in[1]) - 0xDC00);
            ++in;
        } else if (point >= 0xD800 && point <= 0xDFFF) {
            point = 0xFFFD;
        }
        if (point < 0x80) {
            out += static_cast<char>(point);
        } else if (point < 0x800) {
            out += static_cast<char>(0xC0 | (point >> 6));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            out += static_cast<char>(0xE0 | (point >> 12));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (point >> 18));
            out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return out;
}

}  // namespace vplatform::crash

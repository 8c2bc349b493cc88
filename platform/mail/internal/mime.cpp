// The MIME composer: headers, encoded-words, RFC 2231 parameters,
// quoted-printable and base64.
#include "platform/mail/internal/Mime.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "platform/kernel/Time.h"

namespace vplatform::mail {
namespace {

// Header lines are folded before they pass this column where a fold point
// allows it; quoted-printable and base64 lines are this long at most.
constexpr std::size_t kFoldColumn = 76;
constexpr std::size_t kEncodedLineLength = 76;
// RFC 5322's hard limit on a line, CR LF not counted.
constexpr std::size_t kMaxLineLength = 998;
// Longest word of a plain ASCII subject or name that is written as it is;
// longer words go out as encoded-words, which can be split.
constexpr std::size_t kMaxPlainWord = 60;
// Longest file name written as a plain quoted parameter, and the length of
// one RFC 2231 continuation.
constexpr std::size_t kMaxPlainFileName = 60;
constexpr std::size_t kParameterSegment = 56;
constexpr std::size_t kMaxAddressLength = 254;
constexpr std::size_t kMaxDateLength = 100;
constexpr std::size_t kMaxMessageIdLength = 250;
constexpr std::size_t kMaxBoundaryLength = 70;

constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The length of the well-formed UTF-8 sequence at `text[at]`, or 0.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

}  // namespace

namespace {

// The length of the well-formed start of `text`; ASCII is checked eight
// bytes at a time.
std::size_t WellFormedPrefix(std::string_view text) {
    std::size_t valid = 0;
    while (valid < text.size()) {
        std::uint64_t word;
        if (valid + 8 <= text.size()) {
            std::memcpy(&word, text.data() + valid, 8);
            if ((word & 0x8080808080808080u) == 0) {
                valid += 8;
                continue;
            }
        }
        const std::size_t length = SequenceLength(text, valid);
        if (length == 0) break;
        valid += length;
    }
    return valid;
}

}  // namespace

bool IsWellFormedUtf8(std::string_view text) {
    return WellFormedPrefix(text) == text.size();
}

std::string WellFormedUtf8(std::string_view text) {
    // Well-formed text (the usual case) is copied as it is.
    const std::size_t valid = WellFormedPrefix(text);
    if (valid == text.size()) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    out.append(text.substr(0, valid));
    for (std::size_t at = valid; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

namespace {

// A header text: well-formed, control characters as spaces.
std::string HeaderText(std::string_view text) {
    std::string out = WellFormedUtf8(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = ' ';
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool IsPrintableAscii(std::string_view text) {
    for (const char c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// The fold tokens of a plain header text: each word with the spaces before
// it beyond the one that a fold (or the writer) puts there.
std::vector<std::string_view> PlainTokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = tokens.empty() || text[at] != ' ' ? at : at + 1;
        std::size_t end = start;
        while (end < text.size() && text[end] == ' ') ++end;
        while (end < text.size() && text[end] != ' ') ++end;
        tokens.push_back(text.substr(start, end - start));
        at = end;
    }
    return tokens;
}

// Printable ASCII whose tokens are short enough to fold between, and which a
// reader cannot take for an encoded-word.
bool IsPlainHeaderText(std::string_view text) {
    if (!IsPrintableAscii(text) || text.find("=?") != std::string_view::npos) return false;
    for (const std::string_view token : PlainTokens(text)) {
        if (token.size() > kMaxPlainWord) return false;
    }
    return true;
}

// Writes one header field, folding before tokens that would pass the fold
// column.
class HeaderWriter {
public:
    HeaderWriter(std::string& out, std::string_view name) : m_out(out), m_lineStart(out.size()) {
        m_out += name;
        m_out += ':';
    }
    ~HeaderWriter() { m_out += "\r\n"; }
    HeaderWriter(const HeaderWriter&) = delete;
    HeaderWriter& operator=(const HeaderWriter&) = delete;

    std::size_t Column() const { return m_out.size() - m_lineStart; }
    // Room left on the current line for a token after one space.
    std::size_t Room() const { return Column() + 1 >= kFoldColumn ? 0 : kFoldColumn - Column() - 1; }
    void Fold() {
        m_out += "\r\n";
        m_lineStart = m_out.size();
    }
    // Appends a space and `token`, on a new line when it does not fit and the
    // current line holds more than the field name.
    void Token(std::string_view token) {
        if (token.size() > Room() && m_hasToken) Fold();
        m_out += ' ';
        m_out += token;
        m_hasToken = true;
    }
    // Appends `text` as it is (no fold point inside).
    void Raw(std::string_view text) { m_out += text; }
    bool HasToken() const { return m_hasToken; }

private:
    std::string& m_out;
    std::size_t m_lineStart;
    bool m_hasToken = false;
};

// Writes `text` (well-formed UTF-8) as encoded-words, each filling the room
// of its line, never splitting a character.
void EncodedWords(HeaderWriter& writer, std::string_view text) {
    // "=?UTF-8?B?" and "?=" around the base64 text.
    constexpr std::size_t kFrame = 12;
    constexpr std::size_t kFullLine = kFoldColumn - 1;
    const auto capacityOf = [](std::size_t room) { return (room - kFrame) / 4 * 3; };
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t room = writer.Room();
        // At least one four-byte character must fit (8 base64 characters);
        // and text that fits one word on a line of its own is not split.
        const std::size_t rest = text.size() - at;
        const bool foldFirst = room < kFrame + 8 || (rest > capacityOf(room) && rest <= capacityOf(kFullLine));
        if (foldFirst && writer.HasToken()) {
            writer.Fold();
            room = kFullLine;
        }
        room = std::max(room, kFrame + 8);
        const std::size_t capacity = (room - kFrame) / 4 * 3;
        std::size_t end = at;
        while (end < text.size()) {
            const std::size_t length = std::max<std::size_t>(SequenceLength(text, end), 1);
            if (end + length - at > capacity) break;
            end += length;
        }
        writer.Token("=?UTF-8?B?" + EncodeBase64(text.substr(at, end - at), 0) + "?=");
        at = end;
    }
}

// Writes a subject: words folded between as they are, or encoded-words.
void Unstructured(HeaderWriter& writer, std::string_view text) {
    if (!IsPlainHeaderText(text)) {
        EncodedWords(writer, text);
        return;
    }
    for (const std::string_view token : PlainTokens(text)) {
        // A line of spaces alone would be taken for the end of the field.
        if (token.find_first_not_of(' ') == std::string_view::npos && writer.HasToken()) {
            writer.Raw(" " + std::string(token));
        } else {
            writer.Token(token);
        }
    }
}

// RFC 5322 atext or a space: a display name of these needs no quotes.
bool IsAtomText(std::string_view text) {
    for (const char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ') continue;
        if (std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) == std::string_view::npos) return false;
    }
    return true;
}

void Mailboxes(std::string& out, std::string_view field, const std::vector<Mailbox>& boxes) {
    HeaderWriter writer(out, field);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const std::string cleaned = HeaderText(boxes[i].name);
        const std::string_view name = Trim(cleaned);
        if (!name.empty()) {
            if (!IsPlainHeaderText(name) || name.size() > kMaxPlainWord) {
                EncodedWords(writer, name);
            } else if (IsAtomText(name)) {
                Unstructured(writer, name);
            } else {
                std::string quoted = "\"";
                for (const char c : name) {
                    if (c == '"' || c == '\\') quoted += '\\';
                    quoted += c;
                }
                writer.Token(quoted + '"');
            }
        }
        // Addresses were checked by the sender; here they are only kept
        // within the line and character limits whatever they hold.
        std::string address = HeaderText(boxes[i].address.substr(0, kMaxAddressLength));
        for (char& c : address) {
            if (c == ' ' || c == '<' || c == '>' || static_cast<unsigned char>(c) >= 0x80) c = '?';
        }
        writer.Token("<" + address + (i + 1 < boxes.size() ? ">," : ">"));
    }
}

bool IsAttributeChar(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

// Writes the parameter `name` with `value` (well-formed UTF-8 without
// controls): quoted when short printable ASCII, else RFC 2231 percent-encoded
// UTF-8 in continuations of whole characters.
void Parameter(HeaderWriter& writer, std::string_view name, std::string_view value, bool last) {
    const std::string_view separator = last ? "" : ";";
    if (IsPrintableAscii(value) && value.size() <= kMaxPlainFileName) {
        std::string token = std::string(name) + "=\"";
        for (const char c : value) {
            if (c == '"' || c == '\\') token += '\\';
            token += c;
        }
        writer.Token(token + '"' + std::string(separator));
        return;
    }
    std::vector<std::string> segments(1);
    for (std::size_t at = 0; at < value.size();) {
        const std::size_t length = std::max<std::size_t>(SequenceLength(value, at), 1);
        std::string encoded;
        for (std::size_t i = at; i < at + length && i < value.size(); ++i) {
            const auto c = static_cast<unsigned char>(value[i]);
            if (IsAttributeChar(c)) {
                encoded += static_cast<char>(c);
            } else {
                encoded += '%';
                encoded += kHex[c >> 4];
                encoded += kHex[c & 15];
            }
        }
        if (segments.back().size() + encoded.size() > kParameterSegment) segments.emplace_back();
        segments.back() += encoded;
        at += length;
    }
    for (std::size_t i = 0; i < segments.size(); ++i) {
        std::string token(name);
        if (segments.size() > 1) token += '*' + std::to_string(i);
        token += i == 0 ? "*=utf-8''" : "*=";
        token += segments[i];
        token += i + 1 < segments.size() ? ";" : separator;
        writer.Token(token);
    }
}

std::string ContentTypeOf(std::string_view fileName) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 18> kTypes{{
        {"txt", "text/plain"},
        {"csv", "text/csv"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"xml", "application/xml"},
        {"json", "application/json"},
        {"pdf", "application/pdf"},
        {"zip", "application/zip"},
        {"gz", "application/gzip"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"doc", "application/msword"},
        {"xls", "application/vnd.ms-excel"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"log", "text/plain"},
    }};
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return "application/octet-stream";
    std::string extension(fileName.substr(dot + 1));
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& [ext, type] : kTypes) {
        if (ext == extension) return std::string(type);
    }
    return "application/octet-stream";
}

// `text` with every line break (CR LF, CR or LF) as CR LF.
std::string NormalisedLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

// True when text (line breaks CR LF, CR or LF) can go out as 7bit: ASCII
// without NUL, lines within the limit.
bool IsSevenBit(std::string_view text) {
    std::size_t line = 0;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0 || u >= 0x80) return false;
        if (c == '\n' || c == '\r') {
            line = 0;
        } else if (++line > kMaxLineLength) {
            return false;
        }
    }
    return true;
}

// Quoted-printable of text whose line breaks may be CR LF, CR or LF; every
// break becomes CR LF.  Written into a buffer sized for the worst case (three
// characters per byte plus a soft break per 25 bytes).
std::string QuotedPrintable(std::string_view text) {
    static const auto kLiteral = [] {
        std::array<bool, 256> literal{};
        for (int c = 33; c <= 126; ++c) literal[static_cast<std::size_t>(c)] = c != '=';
        return literal;
    }();
    std::string out(text.size() * 4 + 16, '\0');
    char* p = out.data();
    std::size_t column = 0;
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < size && text[i + 1] == '\n') ++i;
            *p++ = '\r';
            *p++ = '\n';
            column = 0;
            continue;
        }
        const bool lineEnds = i + 1 == size || text[i + 1] == '\r' || text[i + 1] == '\n';
        const bool literal = kLiteral[c] || ((c == ' ' || c == '\t') && !lineEnds);
        const std::size_t width = literal ? 1 : 3;
        if (column + width > kEncodedLineLength - 1) {
            *p++ = '=';
            *p++ = '\r';
            *p++ = '\n';
            column = 0;
        }
        if (literal) {
            *p++ = static_cast<char>(c);
        } else {
            *p++ = '=';
            *p++ = kHex[c >> 4];
            *p++ = kHex[c & 15];
        }
        column += width;
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

bool IsBoundaryChar(char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
}

bool IsUsableBoundary(std::string_view boundary) {
    if (boundary.empty() || boundary.size() > kMaxBoundaryLength || boundary.back() == ' ') return false;
    for (const char c : boundary) {
        if (!IsBoundaryChar(c)) return false;
    }
    return true;
}

// Boundaries and message ids need to be unique, not secret: a generator
// seeded once per thread from the system's random source is enough.
// The generator's 2.5 KB state lives on the heap: the platform library has
// initial-exec thread-local variables, so its whole thread-local block must
// fit the small static reserve that a dlopen of the library draws on.
std::string RandomHex(std::size_t bytes) {
    thread_local std::unique_ptr<std::mt19937_64> random;
    if (!random) random = std::make_unique<std::mt19937_64>(std::random_device{}());
    std::string out;
    for (std::size_t i = 0; i < bytes; ++i) {
        const unsigned value = static_cast<unsigned>((*random)() & 0xFF);
        out += kHex[value >> 4];
        out += kHex[value & 15];
    }
    return out;
}

// The local time as an RFC 5322 date, for example "Tue, 05 Mar 2024 14:03:07 +0100".
std::string CurrentDate() {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // The platform's clock, shifted by the offset from UTC in force now.
    FILETIME utc;
    GetSystemTimeAsFileTime(&utc);
    FILETIME shifted;
    if (!FileTimeToLocalFileTime(&utc, &shifted)) shifted = utc;
    SYSTEMTIME local{};
    FileTimeToSystemTime(&shifted, &local);
    constexpr long long kTicksPerMinute = 600'000'000;
    const long offset = static_cast<long>(
        (static_cast<long long>(FileTimeTicks(shifted)) - static_cast<long long>(FileTimeTicks(utc))) /
        kTicksPerMinute);
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.wDayOfWeek % 7],
                  local.wDay, kMonths[(local.wMonth + 11) % 12], local.wYear, local.wHour, local.wMinute, local.wSecond,
                  offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

std::string DomainOf(std::string_view address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos || at + 1 >= address.size()) return "localhost";
    const std::string_view domain = address.substr(at + 1);
    for (const char c : domain) {
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!ok) return "localhost";
    }
    return std::string(domain);
}

std::string MessageIdOf(const EmailData& email) {
    std::string_view id = email.messageId;
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
    const bool usable = !id.empty() && id.size() <= kMaxMessageIdLength && IsPrintableAscii(id) &&
                        id.find_first_of(" <>") == std::string_view::npos;
    if (usable) return "<" + std::string(id) + ">";
    return "<" + RandomHex(16) + "@" + DomainOf(email.from.address) + ">";
}

// One body part's fields and encoded content (without a final line break).
struct EncodedBody {
    std::string type;
    std::string encoding;
    std::string content;
};

// True when `text` holds "<html" in any letter case.
bool ContainsHtmlTag(std::string_view text) {
    for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        if (at + 5 > text.size()) return false;
        bool match = true;
        for (std::size_t i = 0; i < 4 && match; ++i) {
            match = (text[at + 1 + i] | 0x20) == "html"[i];
        }
        if (match) return true;
    }
    return false;
}

EncodedBody EncodeBody(const std::string& body, const std::string& delimiter) {
    EncodedBody part;
    part.type = ContainsHtmlTag(body) ? "text/html; charset=utf-8" : "text/plain; charset=utf-8";
    std::string repaired;
    std::string_view text = body;
    if (!IsWellFormedUtf8(body)) text = repaired = WellFormedUtf8(body);
    if (IsSevenBit(text)) {
        part.encoding = "7bit";
        part.content = NormalisedLines(text);
    } else {
        part.encoding = "quoted-printable";
        part.content = QuotedPrintable(text);
    }
    // The boundary must not occur in the part's text; base64 cannot hold it.
    if (!delimiter.empty() && part.content.find(delimiter) != std::string::npos) {
        part.encoding = "base64";
        part.content = EncodeBase64(NormalisedLines(text), kEncodedLineLength);
    }
    return part;
}

}  // namespace

std::string EncodeBase64(std::string_view bytes, std::size_t lineLength) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4 + (lineLength ? bytes.size() / lineLength * 2 : 0));
    std::size_t column = 0;
    const auto put = [&](char c) {
        if (lineLength != 0 && column == lineLength) {
            out += "\r\n";
            column = 0;
        }
        out += c;
        ++column;
    };
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                                static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
        put(kBase64[v >> 18]);
        put(kBase64[(v >> 12) & 63]);
        put(kBase64[(v >> 6) & 63]);
        put(kBase64[v & 63]);
    }
    if (i < bytes.size()) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        put(kBase64[v >> 18]);
        put(kBase64[(v >> 12) & 63]);
        put(i + 1 < bytes.size() ? kBase64[(v >> 6) & 63] : '=');
        put('=');
    }
    return out;
}

std::string AddressProblem(std::string_view address) {
    if (address.size() > kMaxAddressLength) return "is longer than 254 bytes";
    for (const char c : address) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return "contains a control character";
        if (c == ' ') return "contains a space";
        if (c == '<' || c == '>') return "contains an angle bracket";
        if (u >= 0x80) return "contains a character outside ASCII";
    }
    return {};
}

std::string FileNameOfPath(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ComposeMime(const EmailData& email) {
    const std::string boundary = IsUsableBoundary(email.boundary) ? email.boundary : "=_VMail_" + RandomHex(12);
    const bool multipart = !email.attachments.empty();
    const std::string delimiter = multipart ? "--" + boundary : std::string();
    const EncodedBody body = EncodeBody(email.body, delimiter);

    std::string out;
    out.reserve(1024 + body.content.size());
    {
        const bool usable = !email.date.empty() && email.date.size() <= kMaxDateLength && IsPrintableAscii(email.date);
        HeaderWriter writer(out, "Date");
        writer.Raw(" " + (usable ? email.date : CurrentDate()));
    }
    Mailboxes(out, "From", {email.from});
    if (!email.to.empty()) Mailboxes(out, "To", email.to);
    const std::string subject = HeaderText(email.subject);
    if (!subject.empty()) {
        HeaderWriter writer(out, "Subject");
        Unstructured(writer, subject);
    }
    {
        HeaderWriter writer(out, "Message-ID");
        writer.Raw(" " + MessageIdOf(email));
    }
    out += "MIME-Version: 1.0\r\n";
    if (!multipart) {
        out += "Content-Type: " + body.type + "\r\n";
        out += "Content-Transfer-Encoding: " + body.encoding + "\r\n\r\n";
        out += body.content;
        if (!body.content.empty() && !body.content.ends_with("\r\n")) out += "\r\n";
        return out;
    }
    {
        HeaderWriter writer(out, "Content-Type");
        writer.Token("multipart/mixed;");
        writer.Token("boundary=\"" + boundary + "\"");
    }
    out += "\r\n";
    out += delimiter + "\r\n";
    out += "Content-Type: " + body.type + "\r\n";
    out += "Content-Transfer-Encoding: " + body.encoding + "\r\n\r\n";
    out += body.content;
    for (const Attachment& attachment : email.attachments) {
        std::string name = HeaderText(attachment.fileName);
        if (Trim(name).empty()) name = "attachment";
        out += "\r\n" + delimiter + "\r\n";
        {
            HeaderWriter writer(out, "Content-Type");
            writer.Token(ContentTypeOf(name) + ";");
            Parameter(writer, "name", name, true);
        }
        out += "Content-Transfer-Encoding: base64\r\n";
        {
            HeaderWriter writer(out, "Content-Disposition");
            writer.Token("attachment;");
            Parameter(writer, "filename", name, true);
        }
        out += "\r\n";
        if (attachment.bytes) out += EncodeBase64(*attachment.bytes, kEncodedLineLength);
    }
    out += "\r\n" + delimiter + "--\r\n";
    return out;
}

}  // namespace vplatform::mail

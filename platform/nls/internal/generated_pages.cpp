// Code pages generated from glibc's iconv at first use, and UTF-7.
//
// A single-byte page is read byte by byte into the same table the built-in
// pages use, so it runs through the same kernels.  A double-byte page is read
// pair by pair into a 64K-entry decoding table and a 64K-entry encoding table.
#include "platform/nls/internal/generated_pages.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/nls/internal/utf.h"

namespace vplatform::internal {
namespace {

struct Override {
    std::uint8_t byte;
    char16_t unit;
};

// Bytes that Windows defines and iconv does not (other than the C1 range):
// private-use characters, and the one point 1255 added later.
struct GeneratedPage {
    unsigned codePage;
    const char* iconvName;
    Override overrides[12];
};

constexpr GeneratedPage kSingleBytePages[] = {
    {1251, "CP1251", {}},
    {1253, "CP1253", {{0xAA, 0xF8F9}, {0xD2, 0xF8FA}, {0xFF, 0xF8FB}}},
    {1254, "CP1254", {}},
    {1255,
     "CP1255",
     {{0xCA, 0x05BA},
      {0xD9, 0xF88D},
      {0xDA, 0xF88E},
      {0xDB, 0xF88F},
      {0xDC, 0xF890},
      {0xDD, 0xF891},
      {0xDE, 0xF892},
      {0xDF, 0xF893},
      {0xFB, 0xF894},
      {0xFC, 0xF895},
      {0xFF, 0xF896}}},
    {1256, "CP1256", {}},
    {1257, "CP1257", {{0xA1, 0xF8FC}, {0xA5, 0xF8FD}}},
    {1258, "CP1258", {}},
    {874,
     "CP874",
     {{0xDB, 0xF8C1},
      {0xDC, 0xF8C2},
      {0xDD, 0xF8C3},
      {0xDE, 0xF8C4},
      {0xFC, 0xF8C5},
      {0xFD, 0xF8C6},
      {0xFE, 0xF8C7},
      {0xFF, 0xF8C8}}},
    {437, "CP437", {}},
    {850, "CP850", {}},
    {852, "CP852", {}},
};

struct DoubleBytePage {
    unsigned codePage;
    const char* iconvName;
    std::uint8_t leadRanges[4];
    char16_t unicodeDefault;
    Override singles[5];
};

constexpr DoubleBytePage kDoubleBytePages[] = {
    {932,
     "WINDOWS-31J",
     {0x81, 0x9F, 0xE0, 0xFC},
     0x30FB,
     {{0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3}}},
    {936, "CP936", {0x81, 0xFE}, 0x003F, {{0x80, 0x20AC}, {0xFF, 0xF8F5}}},
    {949, "CP949", {0x81, 0xFE}, 0x003F, {{0x80, 0x0080}, {0xFF, 0xF8F7}}},
    {950, "CP950", {0x81, 0xFE}, 0x003F, {{0x80, 0x0080}, {0xFF, 0xF8F8}}},
};

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (Ok()) iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // The single UTF-16 unit that the bytes decode to from a fresh state, or
    // 0 when they are undefined or give anything else.
    char16_t DecodeOne(const char* bytes, std::size_t n) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char out[16];
        char* in = const_cast<char*>(bytes);
        char* o = out;
        std::size_t inLeft = n, outLeft = sizeof out;
        if (iconv(m_cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) return 0;
        // Pages that combine characters hold the last one back until the end.
        if (iconv(m_cd, nullptr, nullptr, &o, &outLeft) == static_cast<std::size_t>(-1)) return 0;
        if (o - out != 2) return 0;
        const auto unit =
            static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
        return unit - 0xD800u < 0x800u ? 0 : unit;
    }

    // The one or two bytes the input converts to (as lead << 8 | trail), or
    // -1.
    int Convert(const char* bytes, std::size_t n) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        unsigned char out[8];
        char* in = const_cast<char*>(bytes);
        char* o = reinterpret_cast<char*>(out);
        std::size_t inLeft = n, outLeft = sizeof out;
        if (iconv(m_cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0) return -1;
        const std::size_t size = sizeof out - outLeft;
        return size == 1 ? out[0] : size == 2 ? (out[0] << 8) | out[1] : -1;
    }

    iconv_t Get() const { return m_cd; }

private:
    iconv_t m_cd;
};

std::unique_ptr<SingleByteCodePage> BuildSingleByte(const GeneratedPage& table) {
    Iconv cd("UTF-16LE", table.iconvName);
    if (!cd.Ok()) return nullptr;
    auto page = std::make_unique<SingleByteCodePage>();
    page->codePage = table.codePage;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        char16_t unit = b < 0x80 ? static_cast<char16_t>(b) : cd.DecodeOne(&byte, 1);
        for (const Override& o : table.overrides) {
            if (o.unit != 0 && o.byte == b) unit = o.unit;
        }
        if (unit == 0 && b != 0) unit = static_cast<char16_t>(b);  // the C1 range
        page->toWide[b] = unit;
    }
    if (!BuildEncodeRows(*page)) return nullptr;
    return page;
}

std::unique_ptr<DoubleByteCodePage> BuildDoubleByte(const DoubleBytePage& table) {
    Iconv cd("UTF-16LE", table.iconvName);
    if (!cd.Ok()) return nullptr;
    auto page = std::make_unique<DoubleByteCodePage>();
    page->codePage = table.codePage;
    page->unicodeDefault = table.unicodeDefault;
    page->pairs = std::make_unique<char16_t[]>(0x10000);
    page->fromWide = std::make_unique<std::uint16_t[]>(0x10000);
    for (std::size_t i = 0; i + 1 < std::size(table.leadRanges) && table.leadRanges[i] != 0; i += 2) {
        page->leadRanges[i] = table.leadRanges[i];
        page->leadRanges[i + 1] = table.leadRanges[i + 1];
        for (int b = table.leadRanges[i]; b <= table.leadRanges[i + 1]; ++b) page->lead[b] = true;
    }
    for (int b = 0; b < 256; ++b) {
        if (page->lead[b]) continue;
        const char byte = static_cast<char>(b);
        char16_t unit = b < 0x80 ? static_cast<char16_t>(b) : cd.DecodeOne(&byte, 1);
        for (const Override& o : table.singles) {
            if (o.unit != 0 && o.byte == b) unit = o.unit;
        }
        if (unit == 0 && b != 0) unit = table.unicodeDefault;
        page->single[b] = unit;
        if (b >= 0x80 && page->fromWide[unit] == 0) page->fromWide[unit] = static_cast<std::uint16_t>(b);
    }
    std::vector<char16_t> duplicates;
    for (int lead = 0x81; lead < 0x100; ++lead) {
        if (!page->lead[lead]) continue;
        for (int trail = 0x40; trail < 0x100; ++trail) {
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const char16_t unit = cd.DecodeOne(pair, 2);
            if (unit == 0) continue;
            const auto code = static_cast<std::uint16_t>((lead << 8) | trail);
            page->pairs[code] = unit;
            if (unit < 0x80) continue;
            if (page->fromWide[unit] == 0) {
                page->fromWide[unit] = code;
            } else {
                // A character of two pairs encodes to the one iconv chooses.
                duplicates.push_back(unit);
            }
        }
    }
    Iconv encoder(table.iconvName, "UTF-16LE");
    for (const char16_t unit : duplicates) {
        const char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        const int code = encoder.Ok() ? encoder.Convert(in, 2) : -1;
        if (code > 0xFF && page->pairs[static_cast<std::size_t>(code)] == unit) {
            page->fromWide[unit] = static_cast<std::uint16_t>(code);
        }
    }
    return page;
}

template <class Page, class Table, std::size_t N, class Build>
const Page* FindLazily(unsigned codePage, const Table (&tables)[N], Build build) {
    static std::once_flag once[N];
    static std::unique_ptr<Page> pages[N];
    for (std::size_t i = 0; i < N; ++i) {
        if (tables[i].codePage != codePage) continue;
        std::call_once(once[i], [&] { pages[i] = build(tables[i]); });
        return pages[i].get();
    }
    return nullptr;
}

}  // namespace

const SingleByteCodePage* FindGeneratedSingleByte(unsigned codePage) {
    return FindLazily<SingleByteCodePage>(codePage, kSingleBytePages, BuildSingleByte);
}

const DoubleByteCodePage* FindDoubleByte(unsigned codePage) {
    return FindLazily<DoubleByteCodePage>(codePage, kDoubleBytePages, BuildDoubleByte);
}

bool HaveUtf7() {
    static const bool have = Iconv("UTF-16LE", "UTF-7").Ok();
    return have;
}

std::size_t DoubleByteToUtf16(const DoubleByteCodePage& page, const char* src, std::size_t n, wchar_t* dst,
                              std::size_t capacity, bool& invalid) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(src);
    const auto* const e = s + n;
    std::size_t count = 0;
    while (s < e) {
        const unsigned b = *s;
        char16_t unit;
        if (b < 0x80) {
            unit = static_cast<char16_t>(b);
            ++s;
        } else if (!page.lead[b]) {
            unit = page.single[b];
            ++s;
        } else if (e - s >= 2 && (unit = page.pairs[(b << 8) | s[1]]) != 0) {
            s += 2;
        } else {
            // An undefined pair takes both bytes when the second could be a
            // trail byte; a control or ASCII punctuation after a lead byte is
            // kept for itself.
            invalid = true;
            unit = page.unicodeDefault;
            s += e - s >= 2 && s[1] >= 0x40 ? 2 : 1;
        }
        if (dst != nullptr) {
            if (count == capacity) return kNoRoom;
            dst[count] = static_cast<wchar_t>(unit);
        }
        ++count;
    }
    return count;
}

std::size_t Utf16ToDoubleByte(const DoubleByteCodePage& page, const wchar_t* src, std::size_t n, char* dst,
                              std::size_t capacity, const char* replacement, std::size_t replacementSize,
                              bool& usedReplacement) noexcept {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<std::uint32_t>(src[i]);
        std::uint32_t code = c < 0x80 ? c : 0;
        if (c >= 0x80 && c <= 0xFFFF) code = page.fromWide[c];
        const char* bytes;
        std::size_t size;
        char encoded[2];
        if (code == 0 && c != 0) {
            // A surrogate pair stands for one character the page lacks.
            if (c - 0xD800 < 0x400 && i + 1 < n && static_cast<std::uint32_t>(src[i + 1]) - 0xDC00 < 0x400) ++i;
            usedReplacement = true;
            bytes = replacement;
            size = replacementSize;
        } else if (code < 0x100) {
            encoded[0] = static_cast<char>(code);
            bytes = encoded;
            size = 1;
        } else {
            encoded[0] = static_cast<char>(code >> 8);
            encoded[1] = static_cast<char>(code & 0xFF);
            bytes = encoded;
            size = 2;
        }
        if (dst != nullptr) {
            if (capacity - count < size) return kNoRoom;
            for (std::size_t k = 0; k < size; ++k) dst[count + k] = bytes[k];
        }
        count += size;
    }
    return count;
}

namespace {

// Runs `cd` over all of `in`; an ill-formed input unit (`unitSize` bytes)
// becomes `replacement`.
std::string RunIconv(iconv_t cd, std::string in, std::size_t unitSize, const std::string& replacement) {
    std::string out(in.size() * 4 + 16, '\0');
    char* s = in.data();
    std::size_t left = in.size();
    char* o = out.data();
    std::size_t room = out.size();
    while (true) {
        const std::size_t r = left == 0 ? iconv(cd, nullptr, nullptr, &o, &room) : iconv(cd, &s, &left, &o, &room);
        if (r != static_cast<std::size_t>(-1)) {
            if (left == 0) {
                if (iconv(cd, nullptr, nullptr, &o, &room) != static_cast<std::size_t>(-1)) break;
            } else {
                continue;
            }
        }
        if (errno == E2BIG) {
            const std::size_t used = static_cast<std::size_t>(o - out.data());
            out.resize(out.size() * 2);
            o = out.data() + used;
            room = out.size() - used;
            continue;
        }
        // An ill-formed or cut sequence: replace one unit and go on from a
        // fresh state.
        const std::size_t used = static_cast<std::size_t>(o - out.data());
        out.resize(used);
        out += replacement;
        out.resize(out.size() + left * 4 + 16);
        o = out.data() + used + replacement.size();
        room = out.size() - used - replacement.size();
        const std::size_t skip = std::min(unitSize, left);
        s += skip;
        left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

}  // namespace

std::size_t Utf7ToUtf16(const char* src, std::size_t n, wchar_t* dst, std::size_t capacity) {
    Iconv cd("UTF-16LE", "UTF-7");
    const std::string out = RunIconv(cd.Get(), std::string(src, n), 1, std::string("\xFD\xFF", 2));
    const std::size_t units = out.size() / 2;
    if (dst == nullptr) return units;
    if (units > capacity) return kNoRoom;
    for (std::size_t i = 0; i < units; ++i) {
        dst[i] = static_cast<wchar_t>(static_cast<unsigned char>(out[2 * i]) |
                                      (static_cast<unsigned char>(out[2 * i + 1]) << 8));
    }
    return units;
}

std::size_t Utf16ToUtf7(const wchar_t* src, std::size_t n, char* dst, std::size_t capacity) {
    // Well-formed UTF-16LE first: lone surrogates and values beyond U+10FFFF
    // become U+FFFD, code points above the BMP surrogate pairs.
    std::string in;
    in.reserve(n * 2);
    const auto put = [&in](std::uint32_t u) {
        in += static_cast<char>(u & 0xFF);
        in += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<std::uint32_t>(src[i]);
        if (c - 0xD800 < 0x400 && i + 1 < n && static_cast<std::uint32_t>(src[i + 1]) - 0xDC00 < 0x400) {
            put(c);
            put(static_cast<std::uint32_t>(src[++i]));
        } else if (c - 0xD800 < 0x800 || c > 0x10FFFF) {
            put(0xFFFD);
        } else if (c > 0xFFFF) {
            put(0xD800 + ((c - 0x10000) >> 10));
            put(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            put(c);
        }
    }
    Iconv cd("UTF-7", "UTF-16LE");
    const std::string out = RunIconv(cd.Get(), std::move(in), 2, "+//0-");
    if (dst == nullptr) return out.size();
    if (out.size() > capacity) return kNoRoom;
    out.copy(dst, out.size());
    return out.size();
}

}  // namespace vplatform::internal

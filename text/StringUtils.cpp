#include "text/StringUtils.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cwctype>
#include <locale>
#include <regex>

#include "text/StringConversion.h"

namespace VTools::String {

namespace {

template <class Char>
std::size_t FindSeparator(std::basic_string_view<Char> text) {
    const auto dot = text.find(Char('.'));
    return dot != std::basic_string_view<Char>::npos ? dot : text.find(Char(','));
}

template <class Char>
void CutZeros(std::basic_string<Char>& text, std::optional<std::uint64_t> minimum) {
    const std::size_t separator = FindSeparator(std::basic_string_view<Char>(text));
    if (separator == std::basic_string<Char>::npos) return;
    // Saturating: a huge minimum protects the whole text.
    std::uint64_t protectedLength = 0;
    if (minimum) {
        const std::uint64_t base = separator + 1;
        protectedLength = *minimum > UINT64_MAX - base ? UINT64_MAX : base + *minimum;
    }
    std::size_t count = 0;
    while (text.size() - count > protectedLength && text[text.size() - count - 1] == Char('0')) ++count;
    if (count == 0) return;
    text.resize(text.size() - count);
    if (!text.empty() && text.size() - 1 == separator) text.pop_back();
}

template <class Char>
std::pair<bool, std::int32_t> AddZeros(std::basic_string<Char>& text, std::uint64_t precision) {
    const std::size_t separator = FindSeparator(std::basic_string_view<Char>(text));
    if (text.empty() || separator == std::basic_string<Char>::npos) return {false, 0};
    const std::uint64_t places = text.size() - separator - 1;
    // Computed modulo 2^32 and read as signed 32-bit.
    const auto missing = static_cast<std::int32_t>(static_cast<std::uint32_t>(precision - places));
    if (missing > 0) text.append(static_cast<std::size_t>(missing), Char('0'));
    return {true, missing};
}

}  // namespace

const std::string& EmptyString() {
    static const std::string value;
    return value;
}

const std::wstring& EmptyWString() {
    static const std::wstring value;
    return value;
}

const std::string& NullString() {
    static const std::string value = "null";
    return value;
}

const std::wstring& NullWString() {
    static const std::wstring value = L"null";
    return value;
}

std::wstring ToLower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return text;
}

std::wstring ToUpper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return text;
}

std::string ToLower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ToUpper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool IsEqualNoCase(std::wstring_view left, std::wstring_view right) {
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](wchar_t a, wchar_t b) {
               return std::towlower(static_cast<wint_t>(a)) == std::towlower(static_cast<wint_t>(b));
           });
}

bool IsEqualNoCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

void RemoveWhiteSpace(std::string& text) {
    const std::locale locale;
    std::erase_if(text, [&locale](char c) { return std::isspace(c, locale); });
}

void RemoveWhiteSpace(std::wstring& text) {
    std::erase_if(text, [](wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; });
}

bool IsNumber(std::string_view text) {
    const std::locale locale;
    return std::all_of(text.begin(), text.end(), [&locale](char c) { return std::isdigit(c, locale); });
}

bool IsNumber(std::wstring_view text) {
    const std::locale locale;
    return std::all_of(text.begin(), text.end(), [&locale](wchar_t c) {
        return static_cast<std::uint32_t>(c) <= 0xFF && std::isdigit(static_cast<char>(c), locale);
    });
}

bool IsEmail(std::string_view text) {
    const auto at = text.find('@');
    return at != std::string_view::npos && at + 1 < text.size();
}

std::optional<double> ToDouble(std::wstring_view text) {
    if (text.empty()) return std::nullopt;
    std::wstring dotted(text);
    std::replace(dotted.begin(), dotted.end(), L',', L'.');
    const std::string narrow = WideToAnsi(dotted);
    double value = 0;
    const auto [end, error] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (error != std::errc()) return std::nullopt;
    return value;
}

bool EndsWith(std::wstring_view text, std::wstring_view suffix) {
    return text.ends_with(suffix);
}

std::uint32_t ParsePrecision(std::wstring text) {
    std::replace(text.begin(), text.end(), L',', L'.');
    const auto last = text.rfind(L'.');
    if (last == std::wstring::npos) return 0;
    return static_cast<std::uint32_t>(text.size() - last - 1);
}

void CutUnnecesaryDecimalPlaces(std::wstring& text) {
    CutZeros(text, std::nullopt);
}
void CutUnnecesaryDecimalPlaces(std::string& text) {
    CutZeros(text, std::nullopt);
}
void CutUnnecesaryDecimalPlaces(std::wstring& text, std::uint64_t minimumDecimalPlaces) {
    CutZeros(text, minimumDecimalPlaces);
}
void CutUnnecesaryDecimalPlaces(std::string& text, std::uint64_t minimumDecimalPlaces) {
    CutZeros(text, minimumDecimalPlaces);
}

std::pair<bool, std::int32_t> AddZerosAfterDecimalPlace(std::wstring& text, std::uint64_t precision) {
    return AddZeros(text, precision);
}
std::pair<bool, std::int32_t> AddZerosAfterDecimalPlace(std::string& text, std::uint64_t precision) {
    return AddZeros(text, precision);
}

void ShortenForUI(std::wstring& text) {
    constexpr std::size_t kKept = 20;
    if (text.size() > kKept) {
        // The two halves of a surrogate pair across the cut go together.
        const bool pairAcross =
            text[kKept - 1] >= 0xD800 && text[kKept - 1] <= 0xDBFF && text[kKept] >= 0xDC00 && text[kKept] <= 0xDFFF;
        text.resize(pairAcross ? kKept - 1 : kKept);
        text += L"...";
    }
}

std::vector<std::string> Tokenize(const std::string& text, const std::string& pattern) {
    const std::regex expression(pattern);
    std::vector<std::string> tokens;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression); it != std::sregex_iterator(); ++it) {
        tokens.push_back(it->str());
    }
    return tokens;
}

bool DecodeBase64(const std::string& input, std::string& output) {
    if (input.size() % 4 != 0) return false;
    if (input.empty()) {
        output.clear();
        return true;
    }
    static constexpr auto kTable = [] {
        std::array<std::uint8_t, 256> table{};
        table.fill(64);
        constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t i = 0; i < alphabet.size(); ++i)
            table[static_cast<unsigned char>(alphabet[i])] = std::uint8_t(i);
        return table;
    }();
    // '=' pads only the last one or two places; every other character must
    // be of the alphabet ('=' is not in the table either).  Checked before
    // the output is touched.
    const std::size_t padding = input.ends_with("==") ? 2 : input.ends_with('=') ? 1 : 0;
    for (std::size_t i = 0; i < input.size() - padding; ++i) {
        if (kTable[static_cast<unsigned char>(input[i])] == 64) return false;
    }
    const std::size_t length = input.size() / 4 * 3 - padding;
    output.resize(length);
    std::size_t out = 0;
    for (std::size_t i = 0; i < input.size(); i += 4) {
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = input[i + j];
            group = group * 64 + (c == '=' ? 0u : kTable[static_cast<unsigned char>(c)]);
        }
        for (int shift = 16; shift >= 0 && out < length; shift -= 8) {
            output[out++] = static_cast<char>((group >> shift) & 0xFF);
        }
    }
    return true;
}

}  // namespace VTools::String

#include "text/StringConversion.h"

#include <cctype>
#include <cwctype>
#include <limits>
#include <type_traits>

#include "text/Converter.h"
#include "text/internal/ConversionCore.h"
#include "text/internal/Samples.h"

namespace VTools::String {

namespace {

// UTF-16 to UTF-8 in one call: every unit takes at most three bytes (a
// surrogate pair two units and four bytes), so a buffer of three bytes a unit
// fits every text but one holding wchar_t values above 0xFFFF, which falls
// back to the length query.  False when that is needed.
bool ConvertToUtf8InOneCall(std::wstring_view text, std::string& result) {
    internal::CheckConvertibleLength(text.size());
    constexpr std::size_t kMaximumBytesPerUnit = 3;
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) / kMaximumBytesPerUnit) return false;
    result.resize(text.size() * kMaximumBytesPerUnit);
    const int written = internal::PlatformConvert(CP_UTF8, text, result.data(), static_cast<int>(result.size()));
    if (written <= 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) internal::ThrowLastError();
        return false;
    }
    result.resize(static_cast<std::size_t>(written));
    // Give back what a mostly-ASCII text left unused in a large buffer.
    if (result.capacity() > 2 * result.size() + 4096) result.shrink_to_fit();
    return true;
}

// Converts `text` straight into the result string and cuts it at its first
// zero unit, which is what copying a converter's terminated buffer gives.
template <class Result, class Text>
Result ConvertString(Text text, UINT codePage) {
    Result result;
    if (text.empty()) return result;
    bool converted = false;
    if constexpr (std::is_same_v<Result, std::string>) {
        // The converters' first guess, one byte a unit, fails for every
        // non-ASCII text written as UTF-8 and costs a length query and a
        // second pass; the string functions size for the worst case instead.
        if (codePage == CP_UTF8 || (codePage == CP_ACP && GetACP() == CP_UTF8)) {
            converted = ConvertToUtf8InOneCall(text, result);
        }
    }
    if (!converted) internal::ConvertInto(codePage, text, result, 0);
    const auto zero = result.find(typename Result::value_type{0});
    if (zero != Result::npos) result.resize(zero);
    return result;
}

}  // namespace

std::wstring AnsiToWide(std::string_view text) {
    return ConvertString<std::wstring>(text, CP_ACP);
}

std::wstring Utf8ToWide(std::string_view text) {
    return ConvertString<std::wstring>(text, CP_UTF8);
}

std::string WideToAnsi(std::wstring_view text) {
    return ConvertString<std::string>(text, CP_ACP);
}

std::string WideToUtf8(std::wstring_view text) {
    return ConvertString<std::string>(text, CP_UTF8);
}

std::string AnsiToUtf8(std::string_view text) {
    return WideToUtf8(AnsiToWide(text));
}

std::string Utf8ToAnsi(std::string_view text) {
    return WideToAnsi(Utf8ToWide(text));
}

boost::json::string WideToJsonUtf8(std::wstring_view text) {
    const std::string utf8 = WideToUtf8(text);
    return boost::json::string(utf8);
}

std::string ToLowerString(std::wstring_view text) {
    std::string result = WideToAnsi(text);
    for (auto& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string ToUpperString(std::wstring_view text) {
    std::string result = WideToAnsi(text);
    for (auto& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::wstring ToLowerWString(std::string_view text) {
    std::wstring result = AnsiToWide(text);
    for (auto& c : result) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return result;
}

std::wstring ToUpperWString(std::string_view text) {
    std::wstring result = AnsiToWide(text);
    for (auto& c : result) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return result;
}

void TestStringConversionToWString() {
    for (const std::string_view sample : {internal::kSampleWindows1250, internal::kSampleUtf8}) {
        for (const UINT codePage : {CP_ACP, CP_ACP, CP_UTF8}) {
            ConverterMultiByteToWideChar converter(codePage);
            const std::wstring text = converter.Convert(sample);
        }
    }
}

void TestStringConversionToString() {
    for (int round = 0; round < 2; ++round) {
        for (const UINT codePage : {CP_ACP, CP_ACP, CP_UTF8}) {
            ConverterWideCharToMultiByte converter(codePage);
            const std::string text = converter.Convert(internal::SampleUtf16());
        }
    }
}

void TestStringConversion() {
    TestStringConversionToWString();
    TestStringConversionToString();
}

}  // namespace VTools::String

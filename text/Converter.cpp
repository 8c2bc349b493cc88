#include "text/Converter.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "text/internal/ConversionCore.h"
#include "text/internal/Samples.h"

namespace VTools {

namespace internal {
void ThrowLastError() {
    throw std::runtime_error("Last error: " + std::to_string(GetLastError()));
}
}  // namespace internal

namespace {

// Sizes `buffer` to length + 1 elements with the terminator last.
template <class Buffer>
std::int32_t PrepareTerminated(Buffer& buffer, std::uint64_t length, typename Buffer::value_type terminator) {
    internal::CheckConvertibleLength(length);
    buffer.resize(static_cast<std::size_t>(length) + 1);
    buffer.back() = terminator;
    return static_cast<std::int32_t>(length);
}

// The common body of both Convert operations.
template <class Buffer, class Text>
auto ConvertTerminated(Buffer& buffer, Text text, UINT codePage, typename Buffer::value_type terminator) {
    if (text.empty()) {
        buffer.assign(1, terminator);
        return buffer.data();
    }
    const std::size_t written = internal::ConvertInto(codePage, text, buffer, 1);
    buffer[written] = terminator;
    return buffer.data();
}

}  // namespace

// --- ConverterMultiByteToWideChar ------------------------------------------

const wchar_t ConverterMultiByteToWideChar::m_endOfStringSign = L'\0';

ConverterMultiByteToWideChar::ConverterMultiByteToWideChar() : m_codePage(CP_ACP) {}

ConverterMultiByteToWideChar::ConverterMultiByteToWideChar(UINT codePage) : m_codePage(codePage) {}

ConverterMultiByteToWideChar::ConverterMultiByteToWideChar(std::string_view text) : m_codePage(CP_ACP) {
    Convert(text);
}

ConverterMultiByteToWideChar::ConverterMultiByteToWideChar(std::string_view text, UINT codePage)
    : m_codePage(codePage) {
    Convert(text);
}

ConverterMultiByteToWideChar::ConverterMultiByteToWideChar(ConverterMultiByteToWideChar&& other) noexcept
    : m_codePage(other.m_codePage), m_buffer(std::move(other.m_buffer)) {
    other.m_buffer.clear();
}

ConverterMultiByteToWideChar& ConverterMultiByteToWideChar::operator=(ConverterMultiByteToWideChar&& other) noexcept {
    if (this != &other) {
        m_codePage = other.m_codePage;
        m_buffer = std::move(other.m_buffer);
        other.m_buffer.clear();
    }
    return *this;
}

const wchar_t* ConverterMultiByteToWideChar::Convert(std::string_view text) & {
    return Convert(text, m_codePage);
}

const wchar_t* ConverterMultiByteToWideChar::Convert(std::string_view text, UINT codePage) & {
    return ConvertTerminated(m_buffer, text, codePage, m_endOfStringSign);
}

std::int32_t ConverterMultiByteToWideChar::PrepareBuffer(std::uint64_t length) {
    return PrepareTerminated(m_buffer, length, m_endOfStringSign);
}

const wchar_t* ConverterMultiByteToWideChar::data() const& {
    return m_buffer.empty() ? nullptr : m_buffer.data();
}

ConverterMultiByteToWideChar::operator const wchar_t*() const& {
    return data();
}

ConverterMultiByteToWideChar::operator std::wstring_view() const& {
    return m_buffer.empty() ? std::wstring_view() : std::wstring_view(m_buffer.data(), m_buffer.size() - 1);
}

void ConverterMultiByteToWideChar::Test() {
    ConverterMultiByteToWideChar converter;
    std::wstring text = converter.Convert(internal::kSampleWindows1250, CP_ACP);
    text = converter.Convert(internal::kSampleWindows1250, 1250);
}

// --- ConverterWideCharToMultiByte ------------------------------------------

const char ConverterWideCharToMultiByte::m_endOfStringSign = '\0';

ConverterWideCharToMultiByte::ConverterWideCharToMultiByte() : m_codePage(CP_ACP) {}

ConverterWideCharToMultiByte::ConverterWideCharToMultiByte(UINT codePage) : m_codePage(codePage) {}

ConverterWideCharToMultiByte::ConverterWideCharToMultiByte(std::wstring_view text) : m_codePage(CP_ACP) {
    Convert(text);
}

ConverterWideCharToMultiByte::ConverterWideCharToMultiByte(std::wstring_view text, UINT codePage)
    : m_codePage(codePage) {
    Convert(text);
}

ConverterWideCharToMultiByte::ConverterWideCharToMultiByte(ConverterWideCharToMultiByte&& other) noexcept
    : m_codePage(other.m_codePage), m_buffer(std::move(other.m_buffer)) {
    other.m_buffer.clear();
}

ConverterWideCharToMultiByte& ConverterWideCharToMultiByte::operator=(ConverterWideCharToMultiByte&& other) noexcept {
    if (this != &other) {
        m_codePage = other.m_codePage;
        m_buffer = std::move(other.m_buffer);
        other.m_buffer.clear();
    }
    return *this;
}

const char* ConverterWideCharToMultiByte::Convert(std::wstring_view text) & {
    return Convert(text, m_codePage);
}

const char* ConverterWideCharToMultiByte::Convert(std::wstring_view text, UINT codePage) & {
    return ConvertTerminated(m_buffer, text, codePage, m_endOfStringSign);
}

std::int32_t ConverterWideCharToMultiByte::CalculatePredictedSize(std::uint64_t length) {
    return PrepareTerminated(m_buffer, length, m_endOfStringSign);
}

const char* ConverterWideCharToMultiByte::data() const& {
    return m_buffer.empty() ? nullptr : m_buffer.data();
}

ConverterWideCharToMultiByte::operator const char*() const& {
    return data();
}

ConverterWideCharToMultiByte::operator std::string_view() const& {
    return m_buffer.empty() ? std::string_view() : std::string_view(m_buffer.data(), m_buffer.size() - 1);
}

void ConverterWideCharToMultiByte::Test() {
    ConverterWideCharToMultiByte converter;
    std::string text = converter.Convert(internal::SampleUtf16(), CP_ACP);
}

// --- ISO 8859-2 ------------------------------------------------------------

IsoLatin2WideCharEncoding::IsoLatin2WideCharEncoding() : ConverterMultiByteToWideChar(28592) {}

IsoLatin2MultiByteEncoding::IsoLatin2MultiByteEncoding() : ConverterWideCharToMultiByte(28592) {}

}  // namespace VTools

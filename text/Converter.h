// Converters between narrow text in a code page and UTF-16 wide text.
//
// A converter owns an output buffer that it reuses from one conversion to the
// next, so a converter kept by the caller converts texts of similar length
// without allocating.  `Convert` returns a pointer into that buffer, valid until
// the next conversion, PrepareBuffer/CalculatePredictedSize, assignment or
// destruction of the converter; the accessors are lvalue-only so that no
// pointer or view into a dying temporary can be taken.
//
// Failure: a conversion the platform refuses (an unknown code page, a text of
// 2^31 units or more) throws std::exception with the message "Last error: "
// followed by the platform's error code in decimal.  Invalid input bytes and
// characters the target code page lacks are not errors: they take the
// platform's replacement (U+FFFD, '?').
//
// Threads: a converter is used by one thread at a time (Convert writes its
// buffer); separate converters are independent.  CP_ACP is read at each
// conversion: see platform/nls/CodePage.h for SetACP.
#pragma once

#include <string_view>
#include <vector>

#include "VLibExport.h"
#include "platform/WinTypes.h"

namespace VTools {

class VLIB_API ConverterMultiByteToWideChar {
public:
    static const wchar_t m_endOfStringSign;

    ConverterMultiByteToWideChar();
    explicit ConverterMultiByteToWideChar(UINT codePage);
    explicit ConverterMultiByteToWideChar(std::string_view text);
    ConverterMultiByteToWideChar(std::string_view text, UINT codePage);
    ConverterMultiByteToWideChar(const ConverterMultiByteToWideChar&) = default;
    ConverterMultiByteToWideChar(ConverterMultiByteToWideChar&& other) noexcept;
    ConverterMultiByteToWideChar& operator=(const ConverterMultiByteToWideChar&) = default;
    ConverterMultiByteToWideChar& operator=(ConverterMultiByteToWideChar&& other) noexcept;
    ~ConverterMultiByteToWideChar() = default;

    // Converts with the stored code page.
    const wchar_t* Convert(std::string_view text) &;
    // Converts with `codePage` for this call only.
    const wchar_t* Convert(std::string_view text, UINT codePage) &;
    // Makes the buffer length + 1 elements, the last one the terminator.
    std::int32_t PrepareBuffer(std::uint64_t length);

    // The buffer's first element; null before the first conversion.
    const wchar_t* data() const&;
    operator const wchar_t*() const&;
    // The converted text without its terminator; empty before a conversion.
    operator std::wstring_view() const&;
    // Not on temporaries: the pointer or view would outlive the buffer.
    const wchar_t* data() const&& = delete;
    operator const wchar_t*() const&& = delete;
    operator std::wstring_view() const&& = delete;

    // Self-test: converts the Windows-1250 sample with code pages 0 and 1250.
    static void Test();

private:
    UINT m_codePage;
    std::vector<wchar_t> m_buffer;
};

class VLIB_API ConverterWideCharToMultiByte {
public:
    static const char m_endOfStringSign;

    ConverterWideCharToMultiByte();
    explicit ConverterWideCharToMultiByte(UINT codePage);
    explicit ConverterWideCharToMultiByte(std::wstring_view text);
    ConverterWideCharToMultiByte(std::wstring_view text, UINT codePage);
    ConverterWideCharToMultiByte(const ConverterWideCharToMultiByte&) = default;
    ConverterWideCharToMultiByte(ConverterWideCharToMultiByte&& other) noexcept;
    ConverterWideCharToMultiByte& operator=(const ConverterWideCharToMultiByte&) = default;
    ConverterWideCharToMultiByte& operator=(ConverterWideCharToMultiByte&& other) noexcept;
    ~ConverterWideCharToMultiByte() = default;

    const char* Convert(std::wstring_view text) &;
    const char* Convert(std::wstring_view text, UINT codePage) &;
    // Makes the buffer length + 1 bytes, the last one the terminator.
    std::int32_t CalculatePredictedSize(std::uint64_t length);

    const char* data() const&;
    operator const char*() const&;
    operator std::string_view() const&;
    const char* data() const&& = delete;
    operator const char*() const&& = delete;
    operator std::string_view() const&& = delete;

    // Self-test: converts the UTF-16 sample with code page 0.
    static void Test();

private:
    UINT m_codePage;
    std::vector<char> m_buffer;
};

// ISO 8859-2 converters: code page 28592 by default.
class VLIB_API IsoLatin2WideCharEncoding : public ConverterMultiByteToWideChar {
public:
    IsoLatin2WideCharEncoding();
};

class VLIB_API IsoLatin2MultiByteEncoding : public ConverterWideCharToMultiByte {
public:
    IsoLatin2MultiByteEncoding();
};

}  // namespace VTools

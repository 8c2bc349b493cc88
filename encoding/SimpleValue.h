// A holder through which the host passes one simple value (a number, a flag, a
// text) or a nested value object.  It is a record, not a tagged variant: the
// text, the number (every numeric kind is kept in one double) and the nested
// value live side by side; each constructor fills one of them and each
// conversion reads one of them.  A text is never parsed as a number.
//
// Threads: a value: one object is used by one thread at a time (or read by
// several).
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "VLibExport.h"
#include "platform/mfc/AfxString.h"

// The polymorphic base through which nested values are owned.
class VLIB_API ISimpleValue {
public:
    ISimpleValue() = default;
    ISimpleValue(const ISimpleValue&) = default;
    ISimpleValue(ISimpleValue&&) = default;
    ISimpleValue& operator=(const ISimpleValue&) = default;
    ISimpleValue& operator=(ISimpleValue&&) = default;
    virtual ~ISimpleValue();
};

class VLIB_API SimpleValue : public ISimpleValue {
public:
    SimpleValue();
    SimpleValue(const CString& text);
    // The characters up to the first NUL.
    SimpleValue(const std::wstring& text);
    // A wide literal is a text, not a flag (a pointer would otherwise convert
    // to bool); a null pointer gives the empty text.  Narrow literals are
    // refused for the same reason.
    SimpleValue(const wchar_t* text);
    SimpleValue(const char* text) = delete;
    SimpleValue(double value);
    SimpleValue(bool value);
    SimpleValue(std::int32_t value);
    // Converted to the nearest double: from 2^53 on the lowest bits may be lost.
    SimpleValue(unsigned long long value);
    // The other standard integer types, so that every integer argument picks
    // one constructor unambiguously; all are stored as the nearest double.
    SimpleValue(unsigned int value);
    SimpleValue(long value);
    SimpleValue(unsigned long value);
    SimpleValue(long long value);
    explicit SimpleValue(std::unique_ptr<ISimpleValue> nested);
    SimpleValue(SimpleValue&& other) noexcept;
    SimpleValue& operator=(SimpleValue&& other) noexcept;
    SimpleValue(const SimpleValue&) = delete;
    SimpleValue& operator=(const SimpleValue&) = delete;
    ~SimpleValue() override;

    // The number is not 0.0.
    operator bool() const;
    operator double() const;
    // Truncated toward zero; saturates outside the 32-bit range, NaN gives 0.
    operator int() const;
    // Truncated toward zero over the full unsigned 64-bit range; a negative
    // number wraps as its signed 64-bit value does, NaN gives 0, numbers from
    // 2^64 on give the largest value.
    operator unsigned long long() const;
    // Any other arithmetic type, so that conversions to it are unambiguous:
    // unsigned types as unsigned long long, signed ones as int64 (saturating).
    template <class T>
    requires(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) operator T() const {
        if constexpr (std::is_floating_point_v<T>) {
            return static_cast<T>(m_number);
        } else if constexpr (std::is_unsigned_v<T>) {
            return static_cast<T>(static_cast<unsigned long long>(*this));
        } else {
            return static_cast<T>(SaturatedInt64());
        }
    }
    operator CString() const;

    // The nested value, or null; the object keeps ownership.
    const ISimpleValue* NestedValue() const&;
    // Not on temporaries: the pointer would outlive the nested value.
    const ISimpleValue* NestedValue() const&& = delete;

private:
    std::int64_t SaturatedInt64() const;

    CString m_text;
    double m_number = 0.0;
    std::unique_ptr<ISimpleValue> m_nested;
};

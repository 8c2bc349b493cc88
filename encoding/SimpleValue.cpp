#include "encoding/SimpleValue.h"

#include <cmath>
#include <limits>
#include <utility>

ISimpleValue::~ISimpleValue() = default;

SimpleValue::SimpleValue() = default;
SimpleValue::SimpleValue(const CString& text) : m_text(text) {}
SimpleValue::SimpleValue(const std::wstring& text) : m_text(text.c_str()) {}
SimpleValue::SimpleValue(const wchar_t* text) : m_text(text) {}
SimpleValue::SimpleValue(double value) : m_number(value) {}
SimpleValue::SimpleValue(bool value) : m_number(value ? 1.0 : 0.0) {}
SimpleValue::SimpleValue(std::int32_t value) : m_number(value) {}
SimpleValue::SimpleValue(unsigned long long value) : m_number(static_cast<double>(value)) {}
SimpleValue::SimpleValue(unsigned int value) : m_number(value) {}
SimpleValue::SimpleValue(long value) : m_number(static_cast<double>(value)) {}
SimpleValue::SimpleValue(unsigned long value) : m_number(static_cast<double>(value)) {}
SimpleValue::SimpleValue(long long value) : m_number(static_cast<double>(value)) {}
SimpleValue::SimpleValue(std::unique_ptr<ISimpleValue> nested) : m_nested(std::move(nested)) {}

SimpleValue::SimpleValue(SimpleValue&& other) noexcept
    : ISimpleValue(std::move(other)),
      m_text(other.m_text),
      m_number(other.m_number),
      m_nested(std::move(other.m_nested)) {}

SimpleValue& SimpleValue::operator=(SimpleValue&& other) noexcept {
    m_text = other.m_text;
    m_number = other.m_number;
    if (this != &other) m_nested = std::move(other.m_nested);
    return *this;
}

SimpleValue::~SimpleValue() = default;

SimpleValue::operator bool() const {
    return m_number != 0.0;
}

SimpleValue::operator double() const {
    return m_number;
}

SimpleValue::operator int() const {
    if (std::isnan(m_number)) return 0;
    if (m_number <= static_cast<double>(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    if (m_number >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return static_cast<int>(m_number);
}

SimpleValue::operator unsigned long long() const {
    constexpr double kTwo63 = 9223372036854775808.0;
    constexpr double kTwo64 = 18446744073709551616.0;
    if (std::isnan(m_number)) return 0;
    if (m_number < 0) return static_cast<unsigned long long>(SaturatedInt64());
    if (m_number >= kTwo64) return std::numeric_limits<unsigned long long>::max();
    if (m_number >= kTwo63) return static_cast<unsigned long long>(m_number - kTwo63) | (1ULL << 63);
    return static_cast<unsigned long long>(m_number);
}

std::int64_t SimpleValue::SaturatedInt64() const {
    constexpr double kTwo63 = 9223372036854775808.0;
    if (std::isnan(m_number)) return 0;
    if (m_number >= kTwo63) return std::numeric_limits<std::int64_t>::max();
    if (m_number < -kTwo63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(m_number);
}

SimpleValue::operator CString() const {
    return m_text;
}

const ISimpleValue* SimpleValue::NestedValue() const& {
    return m_nested.get();
}

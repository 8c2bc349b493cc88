#include "text/Validators.h"

#include <utility>

#include "text/StringUtils.h"

// --- StringValidatorBase -----------------------------------------------------

StringValidatorBase::StringValidatorBase(std::wstring characterSet) : m_characterSet(std::move(characterSet)) {}

StringValidatorBase::~StringValidatorBase() = default;

const std::wstring& StringValidatorBase::GetCharacterSet() const {
    return m_characterSet;
}

void StringValidatorBase::UpdateCharacterSet(std::wstring characterSet) {
    m_characterSet = std::move(characterSet);
}

bool StringValidatorBase::ValidateCharacter(wchar_t character) const {
    return m_characterSet.find(character) != std::wstring::npos;
}

bool StringValidatorBase::ValidateCharacters(std::wstring_view text) {
    for (const wchar_t c : text) {
        if (!ValidateCharacter(c)) return false;
    }
    return true;
}

// --- NumericStringValidator --------------------------------------------------

namespace {
constexpr NumericStringValidator::Rule operator|(NumericStringValidator::Rule a, NumericStringValidator::Rule b) {
    return static_cast<NumericStringValidator::Rule>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
bool IsSeparator(wchar_t c) {
    return c == L'.' || c == L',';
}
}  // namespace

NumericStringValidator::NumericStringValidator() : NumericStringValidator(true, true) {}

NumericStringValidator::NumericStringValidator(bool negativeAllowed, bool floatingPoint)
    : m_negativeAllowed(negativeAllowed), m_floatingPoint(floatingPoint) {
    UpdateCharacterSet(GenerateCharacterSet());
}

NumericStringValidator::~NumericStringValidator() = default;

void NumericStringValidator::SetMinimum(double minimum) {
    m_minimum = minimum;
    m_minimumSet = true;
}

void NumericStringValidator::SetMaximum(double maximum) {
    m_maximum = maximum;
    m_maximumSet = true;
}

void NumericStringValidator::FloatingPointAvailable(bool on) {
    if (m_floatingPoint == on) return;
    m_floatingPoint = on;
    std::wstring set = GetCharacterSet();
    for (const wchar_t separator : {L',', L'.'}) {
        const auto at = set.find(separator);
        if (on && at == std::wstring::npos) set.push_back(separator);
        if (!on && at != std::wstring::npos) set.erase(at, 1);
    }
    UpdateCharacterSet(std::move(set));
}

bool NumericStringValidator::GetLastValueValidationResult() const {
    return m_lastValueResult;
}

bool NumericStringValidator::ValidateFormat(std::wstring_view text) {
    if (!ValidateCharacters(text)) return false;
    m_text.assign(text);
    m_end = m_text.size();
    m_position = 0;
    // The steps run in order: each starts where the previous one stopped.
    Rule result = MatchSign();
    result = result | MatchDigits();
    if (m_floatingPoint) result = result | MatchPostfix();
    return m_position == m_end && (result & Invalid) == 0;
}

bool NumericStringValidator::ValidateValue(std::wstring_view text) {
    if (!ValidateFormat(text)) return false;
    m_lastValueResult = true;
    if (!m_minimumSet || !m_maximumSet) return true;
    const auto value = VTools::String::ToDouble(text);
    if (value && m_minimum <= *value && *value <= m_maximum) return true;
    m_lastValueResult = false;
    return false;
}

std::wstring NumericStringValidator::GenerateCharacterSet() const {
    std::wstring set = L"0123456789+";
    if (m_negativeAllowed) set += L'-';
    if (m_floatingPoint) set += L".,";
    return set;
}

wchar_t NumericStringValidator::Peek() const {
    return m_position < m_end ? m_text[m_position] : L'\0';
}

NumericStringValidator::Rule NumericStringValidator::MatchPrefix() {
    const Rule sign = MatchSign();
    return sign | MatchDigits();
}

NumericStringValidator::Rule NumericStringValidator::MatchSign() {
    const wchar_t c = Peek();
    if (c == L'+' || (m_negativeAllowed && c == L'-')) {
        ++m_position;
        return Matched;
    }
    return Absent;
}

NumericStringValidator::Rule NumericStringValidator::MatchDigits() {
    const std::uint64_t start = m_position;
    while (m_position < m_end && IsDigit(m_text[m_position])) ++m_position;
    return m_position > start ? Matched : Absent;
}

NumericStringValidator::Rule NumericStringValidator::MatchDot() {
    if (IsSeparator(Peek())) {
        ++m_position;
        return Matched;
    }
    return Absent;
}

NumericStringValidator::Rule NumericStringValidator::MatchPostfix() {
    if (MatchDot() == Matched) {
        MatchDigits();
        return Matched;
    }
    return IsDigit(Peek()) ? Invalid : Absent;
}

// --- IntegerValueStringValidator ---------------------------------------------

IntegerValueStringValidator::IntegerValueStringValidator(bool negativeAllowed)
    : NumericStringValidator(negativeAllowed, false) {}

IntegerValueStringValidator::~IntegerValueStringValidator() = default;

// Validators for text typed into numeric input fields, in three stages of
// rising strictness: each character against an allowed set
// (ValidateCharacter/ValidateCharacters), the whole text against the shape of
// a number, where unfinished entries such as a lone sign still pass
// (ValidateFormat), and the number's value against an inclusive range
// (ValidateValue).
//
// Nothing here throws on ordinary input; every check answers with its bool.
// A validator belongs to one thread: the checks write its members.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "VLibExport.h"

// The abstract root: a set of allowed characters (order and repeats do not
// matter) and the two checks every validator adds.
class VLIB_API StringValidatorBase {
public:
    StringValidatorBase() = default;
    explicit StringValidatorBase(std::wstring characterSet);
    StringValidatorBase(const StringValidatorBase&) = default;
    StringValidatorBase(StringValidatorBase&&) = default;
    StringValidatorBase& operator=(const StringValidatorBase&) = default;
    StringValidatorBase& operator=(StringValidatorBase&&) = default;
    virtual ~StringValidatorBase();

    const std::wstring& GetCharacterSet() const;
    void UpdateCharacterSet(std::wstring characterSet);

    // True when `character` is in the set (never with an empty set).
    virtual bool ValidateCharacter(wchar_t character) const;
    // True when ValidateCharacter accepts every character (true for "").
    virtual bool ValidateCharacters(std::wstring_view text);
    virtual bool ValidateFormat(std::wstring_view text) = 0;
    virtual bool ValidateValue(std::wstring_view text) = 0;

private:
    std::wstring m_characterSet;
};

// Signed or unsigned, whole or decimal numbers: an optional sign ('+', and
// '-' when negatives are allowed), digits, and with floating point an optional
// separator ('.' or ',') followed by optional digits.  The empty text, a lone
// sign, a lone separator and digits ending in the separator pass the format
// check.  The value check reads the text with VTools::String::ToDouble and
// applies the range only when both a minimum and a maximum are set.
class VLIB_API NumericStringValidator : public StringValidatorBase {
public:
    // Result bits of the matching steps, combined with OR.
    enum Rule : std::uint32_t { Absent = 1, Matched = 2, Invalid = 4 };

    NumericStringValidator();
    NumericStringValidator(bool negativeAllowed, bool floatingPoint);
    NumericStringValidator(const NumericStringValidator&) = default;
    NumericStringValidator(NumericStringValidator&&) = default;
    NumericStringValidator& operator=(const NumericStringValidator&) = default;
    NumericStringValidator& operator=(NumericStringValidator&&) = default;
    ~NumericStringValidator() override;

    void SetMinimum(double minimum);
    void SetMaximum(double maximum);
    // Turns the decimal part on or off, adding or removing '.' and ',' in the
    // character set; other characters of the set stay.
    void FloatingPointAvailable(bool on);
    // The result of the last value check that got past the format check.
    bool GetLastValueValidationResult() const;

    bool ValidateFormat(std::wstring_view text) override;
    bool ValidateValue(std::wstring_view text) override;

private:
    std::wstring GenerateCharacterSet() const;
    Rule MatchPrefix();
    Rule MatchSign();
    Rule MatchDigits();
    Rule MatchDot();
    Rule MatchPostfix();
    // The character at the read position, or 0 at or past the end.
    wchar_t Peek() const;

    std::wstring m_text;
    double m_minimum = 0.0;
    double m_maximum = 0.0;
    bool m_minimumSet = false;
    bool m_maximumSet = false;
    std::uint64_t m_position = UINT64_MAX;
    std::uint64_t m_end = 0;
    bool m_lastValueResult = false;
    bool m_negativeAllowed = true;
    bool m_floatingPoint = true;
};

// Whole numbers: a numeric validator with floating point off.
class VLIB_API IntegerValueStringValidator : public NumericStringValidator {
public:
    explicit IntegerValueStringValidator(bool negativeAllowed);
    IntegerValueStringValidator(const IntegerValueStringValidator&) = default;
    IntegerValueStringValidator& operator=(const IntegerValueStringValidator&) = default;
    ~IntegerValueStringValidator() override;
};

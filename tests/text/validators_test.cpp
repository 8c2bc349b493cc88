#include "text/Validators.h"

#include <gtest/gtest.h>

#include <utility>

#include "text/ParameterStatus.h"

namespace {

TEST(Validators, TheDefaultValidatorAcceptsUnfinishedNumbersAndRejectsMalformedOnes) {
    NumericStringValidator v;
    EXPECT_EQ(v.GetCharacterSet(), L"0123456789+-.,");
    for (const wchar_t* ok : {L"", L"-", L"+", L".", L"12.", L"-0,5", L"1234", L",5"}) {
        EXPECT_TRUE(v.ValidateFormat(ok)) << ok;
    }
    for (const wchar_t* bad : {L"1.2.3", L"1-2", L"--1", L"1e5", L"12a", L"1,2,"}) {
        EXPECT_FALSE(v.ValidateFormat(bad)) << bad;
    }
    v.UpdateCharacterSet(L"");
    EXPECT_FALSE(v.ValidateCharacter(L'1'));
    EXPECT_TRUE(v.ValidateCharacters(L""));
    EXPECT_FALSE(v.ValidateCharacters(L"1"));
}

TEST(Validators, FloatingPointAndSignsCanBeSwitchedKeepingOtherCharacters) {
    IntegerValueStringValidator whole(false);
    EXPECT_EQ(whole.GetCharacterSet(), L"0123456789+");
    EXPECT_FALSE(whole.ValidateCharacters(L"-5") || whole.ValidateFormat(L"-5") || whole.ValidateFormat(L"5.0"));
    EXPECT_TRUE(whole.ValidateFormat(L"+5"));
    IntegerValueStringValidator signedWhole(true);
    signedWhole.UpdateCharacterSet(signedWhole.GetCharacterSet() + L" ");
    signedWhole.FloatingPointAvailable(true);
    EXPECT_TRUE(signedWhole.ValidateCharacters(L"1,5") && signedWhole.ValidateFormat(L"1,5"));
    EXPECT_TRUE(signedWhole.ValidateCharacter(L' '));
    NumericStringValidator decimal;
    decimal.FloatingPointAvailable(false);
    decimal.FloatingPointAvailable(false);
    EXPECT_EQ(decimal.GetCharacterSet(), L"0123456789+-");
    EXPECT_FALSE(decimal.ValidateFormat(L"1.5"));
}

TEST(Validators, TheValueRangeAppliesOnlyWithBothBoundsAndCopiesAreIndependent) {
    NumericStringValidator v;
    v.SetMaximum(100);
    EXPECT_TRUE(v.ValidateValue(L"1000"));
    v.SetMinimum(0);
    NumericStringValidator copy = v;
    v.SetMaximum(10);
    EXPECT_TRUE(copy.ValidateValue(L"50") && copy.ValidateValue(L"100") && copy.ValidateValue(L"0,5"));
    EXPECT_FALSE(v.ValidateValue(L"50"));
    EXPECT_TRUE(v.ValidateValue(L"7"));
    EXPECT_TRUE(v.GetLastValueValidationResult());
    EXPECT_FALSE(v.ValidateValue(L"10,5"));
    EXPECT_FALSE(v.GetLastValueValidationResult());
    EXPECT_FALSE(v.ValidateValue(L""));    // nothing to read
    EXPECT_FALSE(v.ValidateValue(L"+5"));  // a leading '+' is not read
    EXPECT_TRUE(v.ValidateValue(L"7"));
    EXPECT_FALSE(v.ValidateValue(L"1.2.3"));  // a format failure leaves the last value result
    EXPECT_TRUE(v.GetLastValueValidationResult());
}

template <class T>
concept HasText = requires(T&& t) {
    std::forward<T>(t).Text();
};
static_assert(!HasText<ParameterStatus> && !HasText<const ParameterStatus>);
static_assert(HasText<const ParameterStatus&>);

}  // namespace

#include "text/Validators.h"

#include <gtest/gtest.h>

#include <utility>

#include "text/ParameterStatus.h"

namespace {

TEST(Validators, DefaultValidatorAcceptsUnfinishedNumbersAndRejectsMalformedOnes) {
    NumericStringValidator v;
    EXPECT_EQ(v.GetCharacterSet(), L"0123456789+-.,");
    for (const wchar_t* ok : {L"", L"-", L"+", L".", L"12.", L"-0,5", L"1234", L",5"}) {
        EXPECT_TRUE(v.ValidateFormat(ok)) << ok;
    }
    for (const wchar_t* bad : {L"1.2.3", L"1-2", L"--1", L"1e5", L"12a", L"1,2,"}) {
        EXPECT_FALSE(v.ValidateFormat(bad)) << bad;
    }
}

TEST(Validators, WholeNumberValidatorWithoutNegatives) {
    IntegerValueStringValidator v(false);
    EXPECT_EQ(v.GetCharacterSet(), L"0123456789+");
    EXPECT_FALSE(v.ValidateCharacters(L"-5"));
    EXPECT_FALSE(v.ValidateFormat(L"-5"));
    EXPECT_TRUE(v.ValidateFormat(L"+5"));
    EXPECT_FALSE(v.ValidateFormat(L"5.0"));
}

TEST(Validators, ValueRangeAppliesOnlyWithBothBounds) {
    NumericStringValidator v;
    v.SetMaximum(100);
    EXPECT_TRUE(v.ValidateValue(L"1000"));
    v.SetMinimum(0);
    EXPECT_TRUE(v.ValidateValue(L"50"));
    EXPECT_TRUE(v.ValidateValue(L"100"));
    EXPECT_TRUE(v.GetLastValueValidationResult());
    EXPECT_FALSE(v.ValidateValue(L"100,5"));
    EXPECT_FALSE(v.GetLastValueValidationResult());
    EXPECT_TRUE(v.ValidateValue(L"0,5"));
    EXPECT_FALSE(v.ValidateValue(L""));    // nothing to read
    EXPECT_FALSE(v.ValidateValue(L"+5"));  // a leading '+' is not read
    EXPECT_FALSE(v.GetLastValueValidationResult());
    EXPECT_TRUE(v.ValidateValue(L"7"));
    // A format failure leaves the last value result as it was.
    EXPECT_FALSE(v.ValidateValue(L"1.2.3"));
    EXPECT_TRUE(v.GetLastValueValidationResult());
}

TEST(Validators, FloatingPointCanBeSwitchedKeepingOtherCharacters) {
    IntegerValueStringValidator whole(true);
    whole.UpdateCharacterSet(whole.GetCharacterSet() + L" ");
    whole.FloatingPointAvailable(true);
    EXPECT_TRUE(whole.ValidateCharacters(L"1,5"));
    EXPECT_TRUE(whole.ValidateFormat(L"1,5"));
    EXPECT_TRUE(whole.ValidateCharacter(L' '));

    NumericStringValidator decimal;
    decimal.FloatingPointAvailable(false);
    EXPECT_EQ(decimal.GetCharacterSet(), L"0123456789+-");
    EXPECT_FALSE(decimal.ValidateFormat(L"1.5"));
    decimal.FloatingPointAvailable(false);
    EXPECT_EQ(decimal.GetCharacterSet(), L"0123456789+-");
}

TEST(Validators, CharacterStage) {
    NumericStringValidator v;
    v.UpdateCharacterSet(L"");
    EXPECT_FALSE(v.ValidateCharacter(L'1'));
    EXPECT_TRUE(v.ValidateCharacters(L""));
    EXPECT_FALSE(v.ValidateCharacters(L"1"));
}

TEST(Validators, CopiesAreIndependent) {
    NumericStringValidator v;
    v.SetMinimum(0);
    v.SetMaximum(10);
    NumericStringValidator copy = v;
    copy.SetMaximum(100);
    EXPECT_FALSE(v.ValidateValue(L"50"));
    EXPECT_TRUE(copy.ValidateValue(L"50"));
}

TEST(ParameterStatus, HoldsWhatWasSet) {
    ParameterStatus status;
    EXPECT_EQ(status.Status(), ParameterStatus::State{});
    EXPECT_TRUE(status.Text().empty());
    status.Set(static_cast<ParameterStatus::State>(3), L"Za du\u017Co");
    EXPECT_EQ(status.Status(), 3);
    EXPECT_EQ(status.Text(), L"Za du\u017Co");
    const ParameterStatus copy(static_cast<ParameterStatus::State>(-1), L"x");
    EXPECT_EQ(copy.Status(), -1);
}

template <class T>
concept HasText = requires(T&& t) {
    std::forward<T>(t).Text();
};

TEST(ParameterStatus, TextIsReadOnlyFromLiveStatuses) {
    static_assert(!HasText<ParameterStatus> && !HasText<const ParameterStatus>);
    static_assert(HasText<const ParameterStatus&>);
    const ParameterStatus status(static_cast<ParameterStatus::State>(1), L"x");
    EXPECT_EQ(status.Text(), L"x");
}

}  // namespace

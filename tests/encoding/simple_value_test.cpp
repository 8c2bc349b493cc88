#include "encoding/SimpleValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <utility>

namespace {

struct Marker : ISimpleValue {
    explicit Marker(int* destroyed) : m_destroyed(destroyed) {}
    ~Marker() override { ++*m_destroyed; }
    int* m_destroyed;
};

TEST(SimpleValue, EachConstructorFillsOneField) {
    const SimpleValue flag(true);
    EXPECT_EQ(static_cast<int>(flag), 1);
    EXPECT_EQ(static_cast<double>(flag), 1.0);
    EXPECT_TRUE(static_cast<bool>(flag));
    EXPECT_TRUE(static_cast<CString>(flag).IsEmpty());

    const SimpleValue text(std::wstring(L"12"));
    EXPECT_EQ(static_cast<int>(text), 0);
    EXPECT_EQ(static_cast<CString>(text), L"12");
    EXPECT_EQ(static_cast<CString>(SimpleValue(std::wstring(L"ab\0cd", 5))), L"ab");
    EXPECT_EQ(static_cast<CString>(SimpleValue(L"lit")), L"lit");
    EXPECT_FALSE(static_cast<bool>(SimpleValue(L"lit")));

    EXPECT_EQ(static_cast<int>(SimpleValue(2.9)), 2);
    EXPECT_EQ(static_cast<int>(SimpleValue(-2.9)), -2);
    EXPECT_EQ(static_cast<double>(SimpleValue(-7)), -7.0);
    const SimpleValue none;
    EXPECT_EQ(none.NestedValue(), nullptr);
}

TEST(SimpleValue, TextsCopyInitialise) {
    const SimpleValue fromCString = CString(L"ab");
    const SimpleValue fromWide = std::wstring(L"cd");
    EXPECT_EQ(static_cast<CString>(fromCString), L"ab");
    EXPECT_EQ(static_cast<CString>(fromWide), L"cd");
    const auto text = [](const SimpleValue& value) { return static_cast<CString>(value); };
    EXPECT_EQ(text(std::wstring(L"ef")), L"ef");
}

template <class T>
concept HasNestedValue = requires(T&& t) {
    std::forward<T>(t).NestedValue();
};

TEST(SimpleValue, NestedValueIsReadOnlyFromLiveValues) {
    static_assert(!HasNestedValue<SimpleValue> && !HasNestedValue<const SimpleValue>);
    static_assert(HasNestedValue<const SimpleValue&>);
    const SimpleValue value(std::make_unique<SimpleValue>(1));
    EXPECT_NE(value.NestedValue(), nullptr);
}

TEST(SimpleValue, UnsignedSixtyFourBitValuesUseTheWholeRange) {
    const SimpleValue big(9007199254740993ULL);
    EXPECT_EQ(static_cast<double>(big), 9007199254740992.0);
    EXPECT_EQ(static_cast<unsigned long long>(big), 9007199254740992ULL);
    const SimpleValue top(18446744073709549568ULL);  // the largest double below 2^64
    EXPECT_EQ(static_cast<unsigned long long>(top), 18446744073709549568ULL);
    EXPECT_EQ(static_cast<unsigned long long>(SimpleValue(1e30)), std::numeric_limits<unsigned long long>::max());
    EXPECT_EQ(static_cast<unsigned long long>(SimpleValue(std::nan(""))), 0u);
    EXPECT_EQ(static_cast<int>(SimpleValue(1e12)), std::numeric_limits<int>::max());
}

TEST(SimpleValue, EveryIntegerTypeConstructsAndConvertsUnambiguously) {
    EXPECT_EQ(static_cast<long>(SimpleValue(5L)), 5L);
    EXPECT_EQ(static_cast<unsigned long>(SimpleValue(5UL)), 5UL);
    EXPECT_EQ(static_cast<long long>(SimpleValue(-5LL)), -5LL);
    EXPECT_EQ(static_cast<unsigned>(SimpleValue(5U)), 5U);
    EXPECT_EQ(static_cast<short>(SimpleValue(static_cast<short>(-3))), -3);
    const std::uint64_t u = SimpleValue(std::uint64_t{42});
    EXPECT_EQ(u, 42u);
}

TEST(SimpleValue, MoveTakesTheNestedValueAndKeepsTextAndNumber) {
    int destroyed = 0;
    SimpleValue owner(std::make_unique<Marker>(&destroyed));
    const ISimpleValue* nested = owner.NestedValue();
    ASSERT_NE(nested, nullptr);
    SimpleValue moved(std::move(owner));
    EXPECT_EQ(moved.NestedValue(), nested);
    EXPECT_EQ(owner.NestedValue(), nullptr);  // NOLINT(bugprone-use-after-move)

    SimpleValue text(std::wstring(L"kurs"));
    SimpleValue target(3.5);
    target = std::move(text);
    EXPECT_EQ(static_cast<CString>(target), L"kurs");
    EXPECT_EQ(static_cast<CString>(text), L"kurs");  // NOLINT(bugprone-use-after-move)

    moved = SimpleValue(1.0);  // replaces and destroys the nested value
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(moved.NestedValue(), nullptr);

    SimpleValue self(std::make_unique<Marker>(&destroyed));
    SimpleValue& alias = self;
    self = std::move(alias);
    EXPECT_NE(self.NestedValue(), nullptr);
    EXPECT_EQ(destroyed, 1);
}

}  // namespace

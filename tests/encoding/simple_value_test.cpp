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

template <class T>
concept HasNestedValue = requires(T&& t) {
    std::forward<T>(t).NestedValue();
};
static_assert(!HasNestedValue<SimpleValue> && !HasNestedValue<const SimpleValue>);
static_assert(HasNestedValue<const SimpleValue&>);

// Each constructor fills one field: a text is never read as a number, nor a
// number as a text; texts end at their first zero.
TEST(SimpleValue, EachConstructorFillsOneField) {
    const SimpleValue flag(true), text(std::wstring(L"12"));
    EXPECT_EQ(static_cast<double>(flag), 1.0);
    EXPECT_TRUE(static_cast<CString>(flag).IsEmpty());
    EXPECT_EQ(static_cast<int>(text), 0);
    EXPECT_EQ(static_cast<CString>(text), L"12");
    EXPECT_EQ(static_cast<CString>(SimpleValue(std::wstring(L"ab\0cd", 5))), L"ab");
    EXPECT_FALSE(static_cast<bool>(SimpleValue(L"lit")));
    const SimpleValue fromCString = CString(L"ab");  // texts copy-initialise
    EXPECT_EQ(static_cast<CString>(fromCString), L"ab");
    const SimpleValue none;
    EXPECT_EQ(none.NestedValue(), nullptr);
}

// Every integer type constructs and converts unambiguously; conversions
// truncate toward zero and saturate, NaN reads as 0, and 64-bit unsigned
// values keep what a double holds.
TEST(SimpleValue, NumbersConvertByTruncationAndSaturation) {
    EXPECT_EQ(static_cast<int>(SimpleValue(2.9)), 2);
    EXPECT_EQ(static_cast<int>(SimpleValue(-2.9)), -2);
    EXPECT_EQ(static_cast<long>(SimpleValue(5L)) + static_cast<long long>(SimpleValue(-5LL)), 0);
    EXPECT_EQ(static_cast<short>(SimpleValue(static_cast<short>(-3))), -3);
    const std::uint64_t u = SimpleValue(std::uint64_t{42});
    EXPECT_EQ(u, 42u);
    EXPECT_EQ(static_cast<unsigned long long>(SimpleValue(9007199254740993ULL)), 9007199254740992ULL);
    EXPECT_EQ(static_cast<unsigned long long>(SimpleValue(18446744073709549568ULL)), 18446744073709549568ULL);
    EXPECT_EQ(static_cast<unsigned long long>(SimpleValue(1e30)), std::numeric_limits<unsigned long long>::max());
    EXPECT_EQ(static_cast<unsigned long long>(SimpleValue(std::nan(""))), 0u);
    EXPECT_EQ(static_cast<int>(SimpleValue(1e12)), std::numeric_limits<int>::max());
}

TEST(SimpleValue, MoveTakesTheNestedValueAndKeepsTextAndNumber) {
    int destroyed = 0;
    SimpleValue owner(std::make_unique<Marker>(&destroyed));
    const ISimpleValue* nested = owner.NestedValue();
    ASSERT_NE(nested, nullptr);
    SimpleValue moved(std::move(owner));
    EXPECT_EQ(moved.NestedValue(), nested);
    EXPECT_EQ(owner.NestedValue(), nullptr);  // NOLINT(bugprone-use-after-move)
    SimpleValue text(std::wstring(L"kurs")), target(3.5);
    target = std::move(text);
    EXPECT_EQ(static_cast<CString>(target), L"kurs");
    EXPECT_EQ(static_cast<CString>(text), L"kurs");  // NOLINT(bugprone-use-after-move)
    moved = SimpleValue(1.0);                        // replaces and destroys the nested value
    EXPECT_EQ(destroyed, 1);
    SimpleValue self(std::make_unique<Marker>(&destroyed));
    SimpleValue& alias = self;
    self = std::move(alias);
    EXPECT_NE(self.NestedValue(), nullptr);
    EXPECT_EQ(destroyed, 1);
}

}  // namespace

#include "diagnostics/LogPlace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

// Each place writes one entry with VLOG and one by hand, on the same line.
#define VLOG_AND_BY_HAND(name, message)                         \
    do {                                                        \
        VLOG(message);                                          \
        VTools::Log::Instance().Write(name, __LINE__, message); \
    } while (false)

namespace quotes {

void FreeFunction() {
    VLOG_AND_BY_HAND("quotes::FreeFunction", "free");
    [] { VLOG_AND_BY_HAND("quotes::FreeFunction", "lambda in a free function"); }();
}

class Table {
public:
    void Member() const { VLOG_AND_BY_HAND("quotes::Table::Member", "member"); }
    void WithLambda() {
        const auto inner = [this](int) { VLOG_AND_BY_HAND("quotes::Table::WithLambda", "lambda"); };
        inner(m_rows);
    }
    bool operator<(const Table&) const {
        VLOG_AND_BY_HAND("quotes::Table::operator<", "operator");
        return false;
    }

private:
    int m_rows = 1;
};

template <typename T>
T Larger(T a, T b) {
    VLOG_AND_BY_HAND("quotes::Larger", "template");
    return a < b ? b : a;
}

template <typename T>
struct Column {
    std::vector<T> Cells(const T&) {
        VLOG_AND_BY_HAND("quotes::Column::Cells", "class template");
        return {};
    }
};

namespace {
void Hidden() {
    VLOG_AND_BY_HAND("quotes::Hidden", "anonymous namespace");
}
}  // namespace

}  // namespace quotes

namespace {

// The entry's bytes without its time stamp.
std::string Unstamped(const vlibtest::LogEntry& entry) {
    return "\t\t" + entry.function + " ( " + entry.line + " )\r\n" + entry.message + "\r\n-\r\n";
}

TEST(LogPlace, VlogWritesTheEntryOfTheHandWrittenCallFromEveryKindOfFunction) {
    const auto entries = vlibtest::EntriesOf([] {
        quotes::FreeFunction();
        quotes::Table table;
        table.Member();
        table.WithLambda();
        (void)(table < table);
        quotes::Larger(1.5, 2.5);
        quotes::Larger(std::string("a"), std::string("b"));
        quotes::Column<std::vector<int>>().Cells({});
        quotes::Hidden();
    });
    ASSERT_EQ(entries.size(), 18u);
    for (std::size_t i = 0; i + 1 < entries.size(); i += 2) {
        EXPECT_EQ(Unstamped(entries[i]), Unstamped(entries[i + 1])) << entries[i + 1].message;
    }
}

std::string RuntimeName(std::string_view signature) {
    std::string name(signature.size() + 1, '\0');
    name.resize(VTools::LogPlace::detail::WriteName(signature, name.data()));
    return name;
}

TEST(LogPlace, NamesCarryNoReturnTypeParametersQualifiersOrTemplateArguments) {
    struct Case {
        std::string_view signature;
        std::string_view name;
    };
    // GCC's and Clang's forms of the same places.
    constexpr Case cases[] = {
        {"int main()", "main"},
        {"static std::map<int, int> a::B::C(std::vector<int>) const &", "a::B::C"},
        {"a::B::B()", "a::B::B"},
        {"a::B<T>::~B() [with T = int]", "a::B::~B"},
        {"a::B::operator bool() const", "a::B::operator bool"},
        {"bool a::B::operator()(const B&) const", "a::B::operator()"},
        {"bool a::operator<(const a::B<int>&, const a::B<int>&)", "a::operator<"},
        {"auto a::f()::(anonymous class)::operator()() const", "a::f"},
        {"T a::Max(T, T) [T = int]", "a::Max"},
        {"void (anonymous namespace)::g()", "g"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RuntimeName(c.signature), c.name) << c.signature;
    }
}

}  // namespace

// CString: construction, substrings, editing, comparison, buffers and
// Format's wide-printf rules.
#include <gtest/gtest.h>

#include <climits>
#include <cwchar>
#include <sstream>
#include <stdexcept>
#include <string>

#include "platform/mfc/AfxString.h"
#include "tests/support/AcpScope.h"

namespace {

template <typename T>
concept FormatAccepts = requires(CString s, const T& arg) {
    s.Format(L"%d", arg);
};
static_assert(FormatAccepts<int> && FormatAccepts<const wchar_t*>);
static_assert(!FormatAccepts<CString> && !FormatAccepts<std::wstring>);

TEST(CString, ConstructsFromWideAndNarrowText) {
    EXPECT_TRUE(CString(static_cast<LPCWSTR>(nullptr)).IsEmpty());
    EXPECT_TRUE(CString(static_cast<LPCSTR>(nullptr)).IsEmpty());
    EXPECT_EQ(CString(L"a\0b", 3).GetAt(2), L'b');
    EXPECT_TRUE(CString(L'x', -1).IsEmpty());
    EXPECT_THROW(CString(static_cast<LPCWSTR>(nullptr), 2), std::invalid_argument);
    EXPECT_THROW(CString(L"abc", -1), std::invalid_argument);
    CString moved(L"text");
    const CString target(std::move(moved));
    EXPECT_TRUE(moved.IsEmpty());  // NOLINT(bugprone-use-after-move)

    const vlibtest::AcpScope acp(CP_UTF8);
    EXPECT_EQ(CString("Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87"), L"Za\u017C\u00F3\u0142\u0107");
    const CString emoji("\xF0\x9F\x98\x80");
    ASSERT_EQ(emoji.GetLength(), 2);
    EXPECT_EQ(emoji[0], 0xD83D);
    CString appended(L"a");
    appended += "\xC5\x81";
    EXPECT_EQ("\xC5\x81" + appended + "y", L"\u0141a\u0141y");
}

TEST(CString, ConcatenatesIndexesAndStreams) {
    const CString s(L"ab");
    EXPECT_EQ(L"<" + s + L'>' + s + L">", L"<ab>ab>");
    EXPECT_EQ(s.GetAt(2), L'\0');
    EXPECT_THROW(s.GetAt(3), std::out_of_range);
    EXPECT_THROW(s.GetAt(-1), std::out_of_range);
    CString t = s;
    t.SetAt(1, L'z');
    EXPECT_EQ(s + t, L"abaz");
    EXPECT_THROW(t.SetAt(2, L'x'), std::out_of_range);
    std::wostringstream out;
    out << t << L'|' << CString(L"a\0b", 3);
    EXPECT_EQ(out.str(), std::wstring(L"az|a\0b", 6));
}

TEST(CString, SubstringsClampTheirArguments) {
    const CString s(L"abcdef");
    EXPECT_EQ(s.Left(-1) + L"|" + s.Left(99), L"|abcdef");
    EXPECT_EQ(s.Mid(-3) + L"|" + s.Mid(4) + L"|" + s.Mid(99), L"abcdef|ef|");
    EXPECT_EQ(s.Mid(2, -1) + L"|" + s.Mid(-2, 3) + L"|" + s.Mid(3, INT_MAX), L"|abc|def");
    EXPECT_EQ(s.Right(-1) + L"|" + s.Right(2) + L"|" + s.Right(99), L"|ef|abcdef");
    EXPECT_EQ(s.SpanIncluding(L"bac") + L"|" + s.SpanExcluding(L"dx"), L"abc|abc");
    EXPECT_EQ(s.SpanExcluding(nullptr), L"abcdef");
}

TEST(CString, FindsAndEdits) {
    const CString s(L"one two one");
    EXPECT_EQ(s.Find(L'o', 1), 6);
    EXPECT_EQ(s.Find(L'o', 11), -1);
    EXPECT_EQ(s.Find(L'o', -1), -1);
    EXPECT_EQ(s.Find(L"one", 1), 8);
    EXPECT_EQ(s.Find(L"", 11), 11);
    EXPECT_EQ(s.Find(static_cast<LPCWSTR>(nullptr)), -1);
    EXPECT_EQ(s.ReverseFind(L'o'), 8);
    EXPECT_EQ(s.FindOneOf(L"wt"), 4);

    CString r = s;
    EXPECT_EQ(r.Replace(L"one", L"three"), 2);
    EXPECT_EQ(r.Replace(L"three", nullptr), 2);
    EXPECT_EQ(r, L" two ");
    EXPECT_EQ(r.Replace(L"", L"x"), 0);
    CString aa(L"aaa");
    EXPECT_EQ(aa.Replace(L"aa", L"b"), 1);
    EXPECT_EQ(aa, L"ba");
    EXPECT_EQ(aa.Replace(aa.GetString(), L"c"), 1);  // the pattern lives in the string itself
    EXPECT_EQ(aa, L"c");
    EXPECT_EQ(r.Replace(L't', L'T'), 1);
    EXPECT_EQ(r.Remove(L' '), 2);
    EXPECT_EQ(r.Insert(-5, L'<'), 4);
    EXPECT_EQ(r.Insert(99, L">!"), 6);
    EXPECT_EQ(r, L"<Two>!");
    EXPECT_EQ(r.Delete(-1, 2), 4);
    EXPECT_EQ(r.Delete(2, 99), 2);
    EXPECT_EQ(r.Delete(5, 1), 2);
    EXPECT_EQ(r.MakeUpper(), L"WO");
    EXPECT_EQ(r.MakeLower().MakeReverse(), L"ow");
}

TEST(CString, TrimsAndTokenizesUntilStartIsMinusOne) {
    EXPECT_EQ(CString(L" \t x y \r\n").TrimLeft(), L"x y \r\n");
    EXPECT_EQ(CString(L" \t x y \r\n").Trim(), L"x y");
    EXPECT_EQ(CString(L"--a--").TrimLeft(L'-'), L"a--");
    EXPECT_EQ(CString(L"xyaxy").TrimRight(L"yx"), L"xya");
    EXPECT_EQ(CString(L"xyaxy").Trim(L""), L"xyaxy");
    EXPECT_EQ(CString(L"aaa").TrimRight(L'a'), L"");

    const CString s(L"%First Second#Third##");
    std::wstring seen;
    int pos = 0;
    for (CString token = s.Tokenize(L"% #", pos); pos != -1; token = s.Tokenize(L"% #", pos)) {
        seen += std::wstring(token) + L'|' + std::to_wstring(pos) + L' ';
    }
    EXPECT_EQ(seen, L"First|7 Second|14 Third|20 ");  // past the delimiter that ended the token
    EXPECT_THROW(s.Tokenize(L" ", pos), std::invalid_argument);
    pos = 1;
    EXPECT_EQ(s.Tokenize(L"", pos), L"First Second#Third##");
    EXPECT_EQ(pos, 1);
    pos = 0;
    EXPECT_EQ(CString(L"##").Tokenize(L"#", pos), L"");
    EXPECT_EQ(pos, -1);
}

TEST(CString, ComparesUnitValues) {
    const CString b(L"b");
    EXPECT_TRUE(b == L"b" && L"b" == b && b != L"c" && L"c" != b);
    EXPECT_TRUE(b < L"c" && L"a" < b && b > L"a" && L"c" > b && b <= L"b" && L"b" >= b);
    EXPECT_TRUE(CString(L"ab") < CString(L"abc"));
    EXPECT_TRUE(CString() == static_cast<LPCWSTR>(nullptr));
    EXPECT_NE(CString(L"a\0b", 3), CString(L"a\0c", 3));
    EXPECT_EQ(b.Compare(L"bb"), -1);
    EXPECT_EQ(CString(L"\uFFFF").Compare(L"a"), 1);
    EXPECT_EQ(CString(L"HeLLo").CompareNoCase(L"hello"), 0);
    EXPECT_EQ(CString(L"abc").CompareNoCase(L"AB"), 1);
}

TEST(CString, WritesThroughItsBuffer) {
    CString s(L"abc");
    LPWSTR buffer = s.GetBuffer(10);
    EXPECT_EQ(std::wcscmp(buffer, L"abc"), 0);
    std::wcscpy(buffer, L"0123456789");
    s.ReleaseBuffer();
    EXPECT_EQ(s, L"0123456789");
    s.GetBuffer(2)[1] = L'x';
    s.ReleaseBuffer(3);
    EXPECT_EQ(s, L"0x2");
    std::wmemset(s.GetBufferSetLength(5), L'y', 5);
    s.ReleaseBuffer();
    s.GetBuffer()[2] = L'\0';
    s.ReleaseBuffer();
    EXPECT_EQ(s, L"yy");
    EXPECT_THROW(s.GetBuffer(-1), std::invalid_argument);
    EXPECT_THROW(s.ReleaseBuffer(3), std::invalid_argument);
}

TEST(CString, FormatsWithWindowsRules) {
    const vlibtest::AcpScope acp(CP_UTF8);
    CString s;
    s.Format(L"[%5d|%-5d|%05d|%+d|%*d|%-*d]", 42, 42, -42, 7, 4, 1, -3, 2);
    EXPECT_EQ(s, L"[   42|42   |-0042|+7|   1|2  ]");
    s.Format(L"%x %#X %o %u %lu %hd %hhu", 255u, 255u, 8u, 3000000000u, 4294967295u, 70000, 300);
    EXPECT_EQ(s, L"ff 0XFF 10 3000000000 4294967295 4464 44");
    s.Format(L"%I64d %lld %I64X %zu %I32d", -9000000000LL, 1LL << 40, 0xABCDEF012345ULL, size_t{5}, -1);
    EXPECT_EQ(s, L"-9000000000 1099511627776 ABCDEF012345 5 -1");
    s.Format(L"%.2f %10.3e %g %.1Lf", 3.14159, 1234.56, 0.5, 2.76L);
    EXPECT_EQ(s, L"3.14  1.235e+03 0.5 2.8");
    s.Format(L"%s|%ls|%ws|%S|%hs|%.2s|%6.2S|%-4s|%04s|", L"\u0142", L"w", L"v", "\xC5\x81", "n", L"abc", "xyz", L"l",
             L"ab");
    EXPECT_EQ(s, L"\u0142|w|v|\u0141|n|ab|    xy|l   |00ab|");
    s.Format(L"%s %S %.3s", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr),
             static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(s, L"(null) (null) (nu");
    s.Format(L"%c%c%C%lc%3c%%", L'\u0105', 'a', 'b', L'z', L'r');
    EXPECT_EQ(s, L"\u0105abz  r%");
    s.Format(L"%p", reinterpret_cast<void*>(0xBEEF));
    EXPECT_EQ(s, L"000000000000BEEF");
    s.Format(L"%y %n %5% end%");
    EXPECT_EQ(s, L"%y %n %5% end%");
    s.Format(L"%s%s", s.GetString(), L"!");  // an argument pointing into the string itself
    EXPECT_EQ(s, L"%y %n %5% end%!");
    s.AppendFormat(L"%d", 1);
    EXPECT_EQ(s.Right(2), L"!1");
}

}  // namespace

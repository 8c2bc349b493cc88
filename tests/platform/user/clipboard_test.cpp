// The clipboard against xclip and xsel both ways on the binary's own Xvfb:
// Polish text, 10 MB through INCR, empty text, image-only owners, a silent
// owner, owners that go away, the hand-over when the owning process ends, the
// opening rules and the life of the data blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/Memory.h"
#include "platform/nls/CodePage.h"
#include "platform/user/Clipboard.h"
#include "platform/x11/internal/Desktop.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Child.h"
#include "tests/support/LastError.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"
#include "tests/support/XClients.h"
#include "tests/support/XServer.h"
#include "text/StringConversion.h"

namespace {

using vlibtest::FailsWith;
using VTools::String::Utf8ToWide;

const std::string kPolish = "Zażółć gęślą jaźń – ŁÓDŹ";

// About 10 MB of UTF-8 text.
std::string LargeText() {
    std::string text;
    for (int i = 0; text.size() < 10'000'000; ++i) text += std::to_string(i) + " " + kPolish + "\n";
    return text;
}

HGLOBAL Block(const std::wstring& text, bool terminated = true) {
    const SIZE_T units = text.size() + (terminated ? 1 : 0);
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, units * sizeof(wchar_t));
    auto* data = static_cast<wchar_t*>(GlobalLock(block));
    std::memcpy(data, text.c_str(), units * sizeof(wchar_t));
    GlobalUnlock(block);
    return block;
}

std::wstring TextOf(HANDLE block) {
    const auto* data = static_cast<const wchar_t*>(GlobalLock(block));
    std::wstring text(data, std::find(data, data + GlobalSize(block) / sizeof(wchar_t), L'\0'));
    GlobalUnlock(block);
    return text;
}

class Clipboard : public ::testing::Test {
protected:
    void SetUp() override {
        m_x = vlibtest::XServer::Shared();
        ASSERT_NE(m_x, nullptr);
    }

    // Puts text on the clipboard through the Win32 calls.
    static bool Set(const std::wstring& text) {
        if (!OpenClipboard(nullptr)) return false;
        const HGLOBAL block = Block(text);
        const bool ok = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, block) == block;
        CloseClipboard();
        return ok;
    }
    // The clipboard's text, or NoData with the error of GetClipboardData.
    static std::wstring Get() {
        EXPECT_TRUE(OpenClipboard(nullptr));
        SetLastError(0xdeadbeef);
        const HANDLE data = GetClipboardData(CF_UNICODETEXT);
        std::wstring text = data != nullptr ? TextOf(data) : NoData(GetLastError());
        CloseClipboard();
        return text;
    }
    static std::wstring NoData(DWORD error) { return L"(no data: error " + std::to_wstring(error) + L")"; }
    // Another program owns the clipboard with `text`: xclip or xsel, in the background.
    void SetByPeer(const std::string& text, bool xsel = false, const char* type = nullptr) {
        const auto file = m_dir.Write("input", text);
        const std::string command =
            xsel ? "xsel -b -i"
                 : std::string("xclip -selection clipboard -i") + (type != nullptr ? std::string(" -t ") + type : "");
        ASSERT_TRUE(m_x->Shell(command + " < '" + file.string() + "' > /dev/null 2>&1"));
    }

    vlibtest::XServer* m_x = nullptr;
    vlibtest::TempDir m_dir;
};

TEST_F(Clipboard, TextSetHereReadsBackInXclipAndXsel) {
    for (const std::string& text : {kPolish, std::string("one line\nand\ttabs"), LargeText()}) {
        ASSERT_TRUE(Set(Utf8ToWide(text)));
        EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o"}), text);
        EXPECT_EQ(m_x->Run({"xsel", "-b", "-o"}), text);
        EXPECT_EQ(Get(), Utf8ToWide(text));  // the process's own
    }
    // ISO 8859-1 for clients that ask for STRING.
    ASSERT_TRUE(Set(L"Zażółć é"));
    EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o", "-t", "STRING"}), "Za?\xf3?? \xe9");
}

TEST_F(Clipboard, AnEmptiedClipboardOffersNoText) {
    ASSERT_TRUE(Set(L"before"));
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_TRUE(EmptyClipboard());
    EXPECT_TRUE(CloseClipboard());
    EXPECT_FALSE(m_x->Run({"xclip", "-selection", "clipboard", "-o"}));
    EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"}), "TARGETS\nTIMESTAMP\n");
    EXPECT_EQ(Get(), NoData(ERROR_NOT_FOUND));
}

TEST_F(Clipboard, TextOfOtherProgramsReadsHere) {
    const std::string large = LargeText();
    // ISO 8859-1 from an owner that offers STRING only, small and through INCR.
    const std::string latin1 = "caf\xe9 \xfc\xdf \xff\n";
    std::string largeLatin1;
    while (largeLatin1.size() < 3'000'000) largeLatin1 += latin1;
    // Characters beyond the BMP and ill-formed UTF-8, cut by the pieces of
    // a transfer anywhere: read as MultiByteToWideChar decodes the whole.
    std::string illFormed;
    for (int i = 0; illFormed.size() < 3'000'000; ++i) {
        illFormed += std::to_string(i) + " \xf0\x9f\x98\x80 \xe2\x82 \xc0\x80 \xed\xa0\x80 \xf0\x9f\x98\xff\n";
    }
    std::wstring illFormedWide(illFormed.size(), L'\0');
    illFormedWide.resize(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, illFormed.data(), static_cast<int>(illFormed.size()),
                                                     illFormedWide.data(), static_cast<int>(illFormedWide.size()))));
    const auto fromLatin1 = [](const std::string& bytes) {
        std::wstring text;
        for (const unsigned char c : bytes) text.push_back(c);
        return text;
    };
    const struct {
        std::string bytes;
        bool xsel;
        const char* type;
        std::wstring text;
    } cases[] = {
        {kPolish, false, nullptr, Utf8ToWide(kPolish)},
        {kPolish, true, nullptr, Utf8ToWide(kPolish)},
        {"", false, nullptr, L""},
        {"beyond \xf0\x9f\x98\x80 the plane", false, nullptr, L"beyond \xd83d\xde00 the plane"},
        {large, false, nullptr, Utf8ToWide(large)},
        {large, true, nullptr, Utf8ToWide(large)},
        {illFormed, false, nullptr, illFormedWide},
        {latin1, false, "STRING", fromLatin1(latin1)},
        {largeLatin1, false, "STRING", fromLatin1(largeLatin1)},
    };
    for (const auto& c : cases) {
        SetByPeer(c.bytes, c.xsel, c.type);
        EXPECT_TRUE(vlibtest::WaitFor([&] { return Get() == c.text; })) << c.xsel << " " << c.bytes.size();
    }
}

TEST_F(Clipboard, OwnersWithoutTextGiveNoData) {
    SetByPeer("\x89PNG\r\n\x1a\n not really", false, "image/png");
    EXPECT_TRUE(vlibtest::WaitFor([&] { return Get() == NoData(ERROR_NOT_FOUND); }));
    // An owner that went away: nobody owns the clipboard.
    auto owner = vlibtest::Child::Start(
        {"xclip", "-quiet", "-selection", "clipboard", "-i", m_dir.Write("t", "going").string()});
    ASSERT_TRUE(owner);
    ASSERT_TRUE(vlibtest::WaitFor([&] { return Get() == L"going"; }));
    owner->Signal(SIGKILL);
    owner->Wait();
    EXPECT_TRUE(vlibtest::WaitFor([&] { return Get() == NoData(ERROR_NOT_FOUND); }));
}

TEST_F(Clipboard, ASilentOwnerTimesOut) {
    const vlibtest::SilentOwner owner(m_x->Display());
    ASSERT_TRUE(owner.Owns());
    EXPECT_EQ(Get(), NoData(ERROR_TIMEOUT));
    // Its late answer, if any, does not confuse the next reading.
    SetByPeer("after", false);
    EXPECT_TRUE(vlibtest::WaitFor([&] { return Get() == L"after"; }));
}

TEST_F(Clipboard, AnotherThreadCannotOpenWhileOneHasItOpen) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EXPECT_TRUE(OpenClipboard(nullptr));  // again, by the same thread
    std::thread other([] {
        EXPECT_TRUE(FailsWith(ERROR_ACCESS_DENIED, [] { return OpenClipboard(nullptr); }));
        EXPECT_TRUE(FailsWith(ERROR_CLIPBOARD_NOT_OPEN, [] { return GetClipboardData(CF_UNICODETEXT) != nullptr; }));
        EXPECT_FALSE(CloseClipboard());
    });
    other.join();
    EXPECT_TRUE(CloseClipboard());
    for (const auto& call : {+[] { return CloseClipboard() != FALSE; }, +[] { return EmptyClipboard() != FALSE; },
                             +[] { return SetClipboardData(CF_UNICODETEXT, nullptr) != nullptr; }}) {
        EXPECT_TRUE(FailsWith(ERROR_CLIPBOARD_NOT_OPEN, call));
    }
}

TEST_F(Clipboard, ABlockBelongsToTheClipboardUntilTheContentsChange) {
    ASSERT_TRUE(OpenClipboard(nullptr));
    const HGLOBAL first = Block(L"first");
    ASSERT_EQ(SetClipboardData(CF_UNICODETEXT, first), first);
    EXPECT_TRUE(FailsWith(ERROR_INVALID_HANDLE, [&] { return GlobalFree(first) != first; }));  // the clipboard's now
    EXPECT_EQ(GetClipboardData(CF_UNICODETEXT), first);
    // Text without a NUL ends at the block's end.
    const HGLOBAL second = Block(L"abc", false);
    ASSERT_EQ(SetClipboardData(CF_UNICODETEXT, second), second);
    EXPECT_EQ(GlobalSize(first), 0u);  // freed
    EXPECT_TRUE(CloseClipboard());
    EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o"}), "abc");
    // Another program takes the clipboard: the block goes at the next call.
    SetByPeer("theirs");
    EXPECT_TRUE(vlibtest::WaitFor([&] { return Get() == L"theirs"; }));
    EXPECT_EQ(GlobalSize(second), 0u);
    // A block the clipboard refuses stays the caller's.
    ASSERT_TRUE(OpenClipboard(nullptr));
    const HGLOBAL refused = Block(L"x");
    EXPECT_TRUE(FailsWith(ERROR_NOT_SUPPORTED, [&] { return SetClipboardData(CF_BITMAP, refused) != nullptr; }));
    EXPECT_TRUE(CloseClipboard());
    EXPECT_EQ(GlobalFree(refused), nullptr);
}

// Narrow text in a fixed block, set as Windows programs commonly do.
HGLOBAL NarrowBlock(const std::string& text) {
    const HGLOBAL block = GlobalAlloc(GMEM_FIXED, text.size() + 1);
    if (block != nullptr) std::memcpy(block, text.c_str(), text.size() + 1);
    return block;
}

std::string BytesOf(HANDLE block) {
    const auto* data = static_cast<const char*>(GlobalLock(block));
    std::string text(data, std::find(data, data + GlobalSize(block), '\0'));
    GlobalUnlock(block);
    return text;
}

// The clipboard's text in the three text formats, "-" for none.
std::vector<std::string> ThreeFormats() {
    std::vector<std::string> formats;
    EXPECT_TRUE(OpenClipboard(nullptr));
    for (const UINT format : {CF_UNICODETEXT, CF_TEXT, CF_OEMTEXT}) {
        const HANDLE data = GetClipboardData(format);
        formats.push_back(data == nullptr            ? "-"
                          : format == CF_UNICODETEXT ? VTools::String::WideToUtf8(TextOf(data))
                                                     : BytesOf(data));
    }
    CloseClipboard();
    return formats;
}

TEST_F(Clipboard, AnsiOemAndUnicodeTextAreMadeFromEachOtherInTheirCodePages) {
    const std::string polish = "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 \xE2\x82\xAC \xE4\xB8\xAD";  // Zażółć € 中
    const std::string cp1250 = "Za\xBF\xF3\xB3\xE6 \x80 ?";
    {
        const vlibtest::AcpScope acp(1250);
        // ANSI text set here: Unicode and UTF-8 for other programs.
        ASSERT_TRUE(OpenClipboard(nullptr));
        ASSERT_TRUE(EmptyClipboard());
        const HGLOBAL ansi = NarrowBlock("Za\xBF\xF3\xB3\xE6 \x80");
        ASSERT_EQ(SetClipboardData(CF_TEXT, ansi), ansi);
        EXPECT_EQ(GetClipboardData(CF_TEXT), ansi);
        ASSERT_TRUE(CloseClipboard());
        EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o"}),
                  "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 \xE2\x82\xAC");
        EXPECT_EQ(ThreeFormats()[0], "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 \xE2\x82\xAC");
        // Unicode text set here reads as ANSI, a missing character as '?'.
        ASSERT_TRUE(Set(Utf8ToWide(polish)));
        EXPECT_EQ(ThreeFormats()[1], cp1250);
        // Another program's text too (other than ours, so that the wait
        // ends only once the peer owns the clipboard).
        SetByPeer(polish + " (peer)");
        EXPECT_TRUE(vlibtest::WaitFor([&] { return ThreeFormats()[1] == cp1250 + " (peer)"; }));
    }
    // Under UTF-8 both narrow formats are UTF-8.
    const vlibtest::AcpScope acp(CP_UTF8);
    const std::string peer = polish + " (peer)";
    EXPECT_EQ(ThreeFormats(), (std::vector<std::string>{peer, peer, peer}));
    ASSERT_TRUE(OpenClipboard(nullptr));
    ASSERT_TRUE(EmptyClipboard());
    const std::string lodz =
        "OEM \xC5\x81\xC3\xB3"
        "d\xC5\xBA";  // OEM Łódź
    const HGLOBAL oem = NarrowBlock(lodz);
    ASSERT_EQ(SetClipboardData(CF_OEMTEXT, oem), oem);
    ASSERT_TRUE(CloseClipboard());
    EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o"}), lodz);
    EXPECT_EQ(ThreeFormats()[1], lodz);
    // Both set: other programs see the Unicode text, each format reads its own.
    ASSERT_TRUE(OpenClipboard(nullptr));
    ASSERT_TRUE(EmptyClipboard());
    const HGLOBAL wide = Block(L"wide");
    const HGLOBAL narrow = NarrowBlock("narrow");
    ASSERT_EQ(SetClipboardData(CF_UNICODETEXT, wide), wide);
    ASSERT_EQ(SetClipboardData(CF_TEXT, narrow), narrow);
    ASSERT_TRUE(CloseClipboard());
    EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o"}), "wide");
    EXPECT_EQ(ThreeFormats(), (std::vector<std::string>{"wide", "narrow", "wide"}));
}

TEST_F(Clipboard, TextOfAnEndingProcessGoesToTheManagerElseToTheKeeper) {
    ASSERT_FALSE(vplatform::x11::test::ClipboardKeeperPath().empty());
    // Another process sets the clipboard to `text` and ends.
    const auto setAndEnd = [&](const std::string& text) {
        auto helper = vlibtest::Child::Start({VLIB_DESKTOP_HELPER, "clipboard", m_dir.Write("text", text).string()});
        ASSERT_TRUE(helper);
        EXPECT_EQ(helper->ReadLine(), "set");
        EXPECT_EQ(helper->Wait(), 0);
    };
    {
        vlibtest::ClipboardManager manager(m_x->Display());
        setAndEnd(kPolish);
        EXPECT_EQ(manager.Saved(std::chrono::seconds(10)), kPolish);
    }
    // Without a manager the keeper serves it, large or small, after the process ended.
    for (const std::string& text : {kPolish, LargeText()}) {
        setAndEnd(text);
        EXPECT_EQ(m_x->Run({"xclip", "-selection", "clipboard", "-o"}), text);
    }
    // Taking the clipboard ends the keeper.
    ASSERT_TRUE(Set(L"mine"));
}

TEST_F(Clipboard, RaceOpenSetAndGetFromManyThreadsWhileAPeerReads) {
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) m_x->Run({"xclip", "-selection", "clipboard", "-o"});
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::wstring text = L"thread " + std::to_wstring(t);
            for (int i = 0; i < 20; ++i) {
                if (!OpenClipboard(nullptr)) {
                    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
                    continue;
                }
                EXPECT_TRUE(EmptyClipboard());
                const HGLOBAL block = Block(text);
                EXPECT_EQ(SetClipboardData(CF_UNICODETEXT, block), block);
                const HANDLE data = GetClipboardData(CF_UNICODETEXT);
                EXPECT_EQ(data, block);
                EXPECT_EQ(data != nullptr ? TextOf(data) : L"(none)", text);
                EXPECT_TRUE(CloseClipboard());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    done = true;
    reader.join();
}

}  // namespace

// CArchive and CMemFile: the exact bytes MFC writes (cross-checked with
// python3's struct module), string length prefixes, reading past the end,
// and memory files attached to fixed buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/mfc/AfxArchive.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Peer.h"

namespace {

using vlibtest::Hex;

// The bytes a storing archive writes for `write`.
std::string Stored(const std::function<void(CArchive&)>& write, int bufferSize = 4096) {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store, bufferSize);
        write(ar);
        ar.Close();
    }
    const auto length = file.GetLength();
    BYTE* buffer = file.Detach();
    std::string bytes(reinterpret_cast<const char*>(buffer), length);
    std::free(buffer);
    return bytes;
}

// Runs `read` on a loading archive over `bytes`.
void Loaded(std::string bytes, const std::function<void(CArchive&)>& read, int bufferSize = 4096) {
    CMemFile file(reinterpret_cast<BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
    CArchive ar(&file, CArchive::load, bufferSize);
    read(ar);
}

// The cause of the E that `action` throws (0 for one without a cause), or -1.
template <class E = CArchiveException>
int Cause(const std::function<void()>& action) {
    try {
        action();
    } catch (E* e) {
        int cause = 0;
        if constexpr (requires { e->m_cause; }) cause = e->m_cause;
        e->Delete();
        return cause;
    }
    return -1;
}

CString ReadString(CArchive& ar) {
    CString text;
    ar >> text;
    return text;
}

struct Scalars {
    BYTE b = 0xAB;
    WORD w = 0x1234;
    DWORD d = 0xDEADBEEF;
    LONG l = -2;
    LONGLONG ll = -3;
    ULONGLONG ull = 0x0102030405060708;
    short s = -4;
    std::int8_t i8 = -5;
    bool flag = true;
    float f = 1.5f;
    double dbl = -0.1;
    char c = 'x';
    wchar_t wc = L'\x0142';
    unsigned u = 7;
    long long sll = 8;
    unsigned long long ull2 = 9;
    void Store(CArchive& ar) const {
        ar << b << w << d << l << ll << ull << s << i8 << flag << f << dbl << c << wc << u << sll << ull2;
    }
    void Load(CArchive& ar) {
        ar >> b >> w >> d >> l >> ll >> ull >> s >> i8 >> flag >> f >> dbl >> c >> wc >> u >> sll >> ull2;
    }
};

TEST(Archive, ScalarsAreFixedWidthLittleEndianAsPythonPacksThem) {
    const auto peer = vlibtest::RunPeer(
        {"python3", "-c",
         "import struct,sys;sys.stdout.write(struct.pack('<BHIiqQhb?fdcHIqQ',0xAB,0x1234,0xDEADBEEF,-2,-3,"
         "0x0102030405060708,-4,-5,True,1.5,-0.1,b'x',0x142,7,8,9).hex())"});
    ASSERT_TRUE(peer.has_value()) << "python3 is needed";
    EXPECT_EQ(Hex(Stored([](CArchive& ar) { Scalars().Store(ar); })), *peer);
}

TEST(Archive, ScalarsReadBackAcrossBufferRefills) {
    // A 128-byte buffer (the smallest) makes values straddle refills: what is
    // read and stored again gives the same bytes.
    const std::string bytes = Stored(
        [](CArchive& ar) {
            for (int i = 0; i < 100; ++i) Scalars{.d = static_cast<DWORD>(i), .dbl = i / 3.0}.Store(ar);
        },
        16);
    std::vector<Scalars> read(100, Scalars{0, 0, 0, 0, 0, 0, 0, 0, false, 0, 0, 0, 0, 0, 0, 0});
    Loaded(
        bytes,
        [&](CArchive& ar) {
            for (auto& s : read) s.Load(ar);
        },
        16);
    EXPECT_EQ(Stored([&](CArchive& ar) {
                  for (const auto& s : read) s.Store(ar);
              }),
              bytes);
}

TEST(Archive, StringsUseTheUnicodeMarkerAndEscalatingLengthPrefixes) {
    // The prefix escalates at 255 (BYTE 0xFF) and at 0xFFFE, the marker's value.
    const std::pair<int, std::string> cases[] = {{0, "fffeff00"},
                                                 {254, "fffefffe"},
                                                 {255, "fffeffffff00"},
                                                 {0xFFFD, "fffefffffdff"},
                                                 {0xFFFE, "fffefffffffffeff0000"},
                                                 {0x10000, "fffeffffffff00000100"}};
    for (const auto& [length, prefix] : cases) {
        const CString text(L'\x0105', length);
        const std::string bytes = Stored([&](CArchive& ar) { ar << text; });
        ASSERT_EQ(Hex(bytes.substr(0, prefix.size() / 2)), prefix) << length;
        ASSERT_EQ(bytes.size(), prefix.size() / 2 + 2 * static_cast<std::size_t>(length));
        EXPECT_EQ(Hex(bytes.substr(prefix.size() / 2, 2)), length > 0 ? "0501" : "");
        Loaded(bytes, [&](CArchive& ar) { EXPECT_EQ(ReadString(ar), text) << length; });
    }
    // Surrogate pairs stay two units.
    EXPECT_EQ(Hex(Stored([](CArchive& ar) { ar << CString(L"a\xD83D\xDE00"); })),
              "fffeff036100"
              "3dd800de");
}

TEST(Archive, NarrowStringsAreReadInTheAnsiCodePage) {
    const vlibtest::AcpScope acp(1250);
    const std::pair<std::string, CString> cases[] = {
        {std::string("\x05\xA3\xF3\x64\x9F\x21", 6), CString(L"\x0141\x00F3\x0064\x017A!")},
        {"\xFF\x2C\x01" + std::string(300, 'q'), CString(L'q', 300)}};  // a WORD length after 0xFF
    for (const auto& [bytes, expected] : cases) {
        Loaded(bytes, [&](CArchive& ar) { EXPECT_EQ(ReadString(ar), expected); });
    }
}

TEST(Archive, ReadingPastTheEndThrowsEndOfFileAndRawReadsComeBackShort) {
    const auto readDword = [](CArchive& ar) {
        DWORD value;
        ar >> value;
    };
    const auto readString = [](CArchive& ar) { ReadString(ar); };
    // A length that claims more than the data holds, even an absurd one.
    const std::pair<std::string, std::function<void(CArchive&)>> cases[] = {
        {std::string("\x01\x02\x03", 3), readDword},
        {"", readDword},
        {"\5abc", readString},
        {std::string("\xFF\xFF\xFF\xF0\xFF\xFF\x7F") + "abc", readString}};
    for (const auto& [bytes, read] : cases) {
        EXPECT_EQ(Cause([&] { Loaded(bytes, read); }), CArchiveException::endOfFile) << Hex(bytes);
    }
    Loaded("ab", [](CArchive& ar) {
        char buffer[8];
        EXPECT_EQ(ar.Read(buffer, sizeof buffer), 2u);
    });
}

TEST(Archive, ModesAreEnforcedAndAStoringArchiveFlushesWhenDestroyed) {
    CMemFile file;
    {
        CArchive ar(&file, CArchive::store);
        ar << DWORD{1};
        EXPECT_EQ(file.GetLength(), 0u);  // still buffered
        BYTE byte;
        EXPECT_EQ(Cause([&] { ar >> byte; }), CArchiveException::writeOnly);
    }
    EXPECT_EQ(file.GetLength(), 4u);
    Loaded("abcd", [](CArchive& ar) {
        EXPECT_EQ(Cause([&] { ar << BYTE{1}; }), CArchiveException::readOnly);
        // Flush gives the bytes read ahead back to the file.
        BYTE byte;
        ar >> byte;
        ar.Flush();
        EXPECT_EQ(ar.GetFile()->GetPosition(), 1u);
        ar.Close();
        EXPECT_EQ(Cause([&] { ar >> byte; }), CArchiveException::genericException);
    });
    // A block larger than the buffer between buffered values keeps its place.
    const std::string block(10000, 'z');
    EXPECT_EQ(Stored([&](CArchive& ar) {
                  ar << BYTE{1};
                  ar.Write(block.data(), static_cast<UINT>(block.size()));
                  ar << BYTE{2};
              }),
              "\x01" + block + "\x02");
}

TEST(MemFile, AFixedBufferIsTheFileAndAGrowingOneIsNeverReallocated) {
    BYTE fixed[4] = {1, 2, 3, 4};
    CMemFile file(fixed, sizeof fixed);
    file.Seek(2, CFile::begin);
    file.Write("xy", 2);
    EXPECT_EQ(fixed[2], 'x');
    EXPECT_EQ(Cause<CMemoryException>([&] { file.Write("z", 1); }), 0);  // past a buffer that may not grow
    EXPECT_EQ(file.Detach(), fixed);

    // Growing: starts empty and moves into a buffer of its own, never
    // reallocating the caller's (a stack array here).
    BYTE small[2] = {};
    CMemFile growing(small, sizeof small, 16);
    EXPECT_EQ(growing.GetLength(), 0u);
    growing.Write("hello", 5);
    growing.Seek(3, CFile::end);
    growing.Write("!", 1);
    growing.SeekToBegin();
    char back[16] = {};
    EXPECT_EQ(growing.Read(back, sizeof back), 9u);
    EXPECT_EQ(std::string(back, 9), std::string("hello\0\0\0!", 9));
    EXPECT_EQ(Cause<CFileException>([&] { growing.Seek(-1, CFile::begin); }), CFileException::badSeek);
}

}  // namespace

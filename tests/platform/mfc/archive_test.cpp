// CArchive and CMemFile: the exact bytes MFC writes (cross-checked with
// python3's struct module), string length prefixes, reading past the end,
// and memory files attached to fixed buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/mfc/AfxArchive.h"
#include "tests/support/AcpScope.h"
#include "tests/support/Peer.h"

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

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

// The cause of the CArchiveException that `action` throws, or -1.
int ArchiveCause(const std::function<void()>& action) {
    try {
        action();
    } catch (CArchiveException* e) {
        const int cause = e->m_cause;
        e->Delete();
        return cause;
    }
    return -1;
}

void WriteScalars(CArchive& ar) {
    ar << BYTE{0xAB} << WORD{0x1234} << DWORD{0xDEADBEEF} << LONG{-2} << LONGLONG{-3} << ULONGLONG{0x0102030405060708}
       << short{-4} << std::int8_t{-5} << true << 1.5f << -0.1 << 'x' << L'\x0142' << 7u << 8LL << 9ULL;
}

TEST(Archive, ScalarsAreFixedWidthLittleEndian) {
    EXPECT_EQ(Hex(Stored(WriteScalars)),
              "ab"
              "3412"
              "efbeadde"
              "feffffff"
              "fdffffffffffffff"
              "0807060504030201"
              "fcff"
              "fb"
              "01"
              "0000c03f"
              "9a9999999999b9bf"
              "78"
              "4201"
              "07000000"
              "0800000000000000"
              "0900000000000000");

    if (!vlibtest::HavePeer("python3")) GTEST_SKIP() << "python3 not found";
    const auto peer = vlibtest::RunPeer(
        {"python3", "-c",
         "import struct,sys;sys.stdout.write(struct.pack('<BHIiqQhb?fdcHIqQ',0xAB,0x1234,0xDEADBEEF,-2,-3,"
         "0x0102030405060708,-4,-5,True,1.5,-0.1,b'x',0x142,7,8,9).hex())"});
    ASSERT_TRUE(peer.has_value());
    EXPECT_EQ(Hex(Stored(WriteScalars)), *peer);
}

TEST(Archive, ScalarsReadBackAcrossBufferRefills) {
    // A 128-byte buffer (the smallest) makes values straddle refills.
    const std::string bytes = Stored(
        [](CArchive& ar) {
            for (int i = 0; i < 100; ++i) WriteScalars(ar);
        },
        16);
    Loaded(
        bytes,
        [](CArchive& ar) {
            for (int i = 0; i < 100; ++i) {
                BYTE b;
                WORD w;
                DWORD d;
                LONG l;
                LONGLONG ll;
                ULONGLONG ull;
                short s;
                std::int8_t i8;
                bool flag;
                float f;
                double dbl;
                char c;
                wchar_t wc;
                unsigned u;
                long long sll;
                unsigned long long ull2;
                ar >> b >> w >> d >> l >> ll >> ull >> s >> i8 >> flag >> f >> dbl >> c >> wc >> u >> sll >> ull2;
                ASSERT_EQ(b, 0xAB);
                ASSERT_EQ(w, 0x1234);
                ASSERT_EQ(d, 0xDEADBEEF);
                ASSERT_EQ(l, -2);
                ASSERT_EQ(ll, -3);
                ASSERT_EQ(ull, 0x0102030405060708u);
                ASSERT_EQ(s, -4);
                ASSERT_EQ(i8, -5);
                ASSERT_TRUE(flag);
                ASSERT_EQ(f, 1.5f);
                ASSERT_EQ(dbl, -0.1);
                ASSERT_EQ(c, 'x');
                ASSERT_EQ(wc, L'\x0142');
                ASSERT_EQ(u, 7u);
                ASSERT_EQ(sll, 8);
                ASSERT_EQ(ull2, 9u);
            }
        },
        16);
}

TEST(Archive, StringsUseTheUnicodeMarkerAndEscalatingLengthPrefixes) {
    struct Case {
        int length;
        const char* prefix;
    };
    // The prefix escalates at 255 (BYTE 0xFF) and at 0xFFFE, the marker's value.
    for (const Case c :
         {Case{0, "fffeff00"}, Case{254, "fffefffe"}, Case{255, "fffeffffff00"}, Case{0xFFFD, "fffefffffdff"},
          Case{0xFFFE, "fffefffffffffeff0000"}, Case{0x10000, "fffeffffffff00000100"}}) {
        const CString text(L'\x0105', c.length);
        const std::string bytes = Stored([&](CArchive& ar) { ar << text; });
        const std::string prefix = c.prefix;
        ASSERT_EQ(Hex(bytes.substr(0, prefix.size() / 2)), prefix) << c.length;
        ASSERT_EQ(bytes.size(), prefix.size() / 2 + 2 * static_cast<std::size_t>(c.length));
        if (c.length > 0) {
            EXPECT_EQ(Hex(bytes.substr(prefix.size() / 2, 2)), "0501");
        }
        Loaded(bytes, [&](CArchive& ar) {
            CString back;
            ar >> back;
            EXPECT_EQ(back, text) << c.length;
        });
    }

    // Surrogate pairs stay two units.
    EXPECT_EQ(Hex(Stored([](CArchive& ar) { ar << CString(L"a\xD83D\xDE00"); })),
              "fffeff036100"
              "3dd800de");
}

TEST(Archive, NarrowStringsAreReadInTheAnsiCodePage) {
    const vlibtest::AcpScope acp(1250);
    Loaded(std::string("\x05\xA3\xF3\x64\x9F\x21", 6), [](CArchive& ar) {
        CString text;
        ar >> text;
        EXPECT_EQ(text, CString(L"\x0141\x00F3\x0064\x017A!"));
    });
    // A WORD length after 0xFF, narrow.
    std::string longer = "\xFF\x2C\x01" + std::string(300, 'q');
    Loaded(longer, [](CArchive& ar) {
        CString text;
        ar >> text;
        EXPECT_EQ(text, CString(L'q', 300));
    });
}

TEST(Archive, ReadingPastTheEndThrowsEndOfFile) {
    EXPECT_EQ(ArchiveCause([] {
                  Loaded(std::string("\x01\x02\x03", 3), [](CArchive& ar) {
                      DWORD value;
                      ar >> value;
                  });
              }),
              CArchiveException::endOfFile);
    EXPECT_EQ(ArchiveCause([] {
                  Loaded("", [](CArchive& ar) {
                      BYTE value;
                      ar >> value;
                  });
              }),
              CArchiveException::endOfFile);
    // A length that claims more than the data holds, even an absurd one.
    for (const std::string& bytes : {std::string("\x05"
                                                 "abc"),
                                     std::string("\xFF\xFF\xFF\xF0\xFF\xFF\x7F"
                                                 "abc",
                                                 10)}) {
        EXPECT_EQ(ArchiveCause([&] {
                      Loaded(bytes, [](CArchive& ar) {
                          CString text;
                          ar >> text;
                      });
                  }),
                  CArchiveException::endOfFile);
    }
    // Raw reads just come back short.
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
        EXPECT_TRUE(ar.IsStoring());
        EXPECT_EQ(ar.GetFile(), &file);
        EXPECT_EQ(file.GetLength(), 0u);  // still buffered
        BYTE byte;
        EXPECT_EQ(ArchiveCause([&] { ar >> byte; }), CArchiveException::writeOnly);
    }
    EXPECT_EQ(file.GetLength(), 4u);

    Loaded("abcd", [](CArchive& ar) {
        EXPECT_TRUE(ar.IsLoading());
        EXPECT_EQ(ArchiveCause([&] { ar << BYTE{1}; }), CArchiveException::readOnly);
        // Flush gives the bytes read ahead back to the file.
        BYTE byte;
        ar >> byte;
        ar.Flush();
        EXPECT_EQ(ar.GetFile()->GetPosition(), 1u);
        ar.Close();
        EXPECT_EQ(ArchiveCause([&] { ar >> byte; }), CArchiveException::genericException);
    });

    // A block larger than the buffer between buffered values keeps its place.
    const std::string block(10000, 'z');
    const std::string bytes = Stored([&](CArchive& ar) {
        ar << BYTE{1};
        ar.Write(block.data(), static_cast<UINT>(block.size()));
        ar << BYTE{2};
    });
    EXPECT_EQ(bytes, "\x01" + block + "\x02");
}

TEST(MemFile, AttachedBuffersAndGrowth) {
    // Not growing: the buffer is the file, and writing past it throws.
    BYTE fixed[4] = {1, 2, 3, 4};
    CMemFile file(fixed, sizeof fixed);
    EXPECT_EQ(file.GetLength(), 4u);
    file.Seek(2, CFile::begin);
    file.Write("xy", 2);
    EXPECT_EQ(fixed[2], 'x');
    bool threw = false;
    try {
        file.Write("z", 1);
    } catch (CMemoryException* e) {
        threw = true;
        e->Delete();
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(file.Detach(), fixed);
    EXPECT_EQ(file.GetLength(), 0u);

    // Growing: starts empty and moves into a buffer of its own, never
    // reallocating the caller's (a stack array here).
    BYTE small[2] = {};
    CMemFile growing(small, sizeof small, 16);
    EXPECT_EQ(growing.GetLength(), 0u);
    growing.Write("hello", 5);
    growing.Seek(3, CFile::end);
    growing.Write("!", 1);
    EXPECT_EQ(growing.GetLength(), 9u);
    growing.SeekToBegin();
    char back[16] = {};
    EXPECT_EQ(growing.Read(back, sizeof back), 9u);
    EXPECT_EQ(std::string(back, 9), std::string("hello\0\0\0!", 9));
    EXPECT_EQ(growing.Read(back, sizeof back), 0u);

    bool badSeek = false;
    try {
        growing.Seek(-1, CFile::begin);
    } catch (CFileException* e) {
        badSeek = e->m_cause == CFileException::badSeek;
        e->Delete();
    }
    EXPECT_TRUE(badSeek);
}

}  // namespace

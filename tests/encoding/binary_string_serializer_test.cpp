// BinaryStringSerializer: the hex text form and archives carried through it.
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "encoding/BinaryStringSerializer.h"
#include "tests/support/Peer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Text(const Bytes& bytes) {
    return BinaryStringSerializer::ConvertBinToText(bytes.data(), bytes.size());
}

Bytes Decoded(const std::string& text) {
    BinaryStringSerializer serializer(text);
    Bytes bytes;
    BYTE byte;
    try {
        for (;;) {
            serializer.GetArchive() >> byte;
            bytes.push_back(byte);
        }
    } catch (CArchiveException* e) {
        e->Delete();
    }
    return bytes;
}

// Every byte value at every position of the unrolled loops, against printf;
// decoding takes either case and ignores a last odd character, and a pair
// that is not two hex digits repeats the byte before it (0 first), also inside
// a block of eight pairs.
TEST(BinaryStringSerializer, TextIsTwoLowercaseDigitsPerByteAndDecodingIsTolerant) {
    Bytes bytes(4099);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i < 256 ? i : random());
    const std::string expected = vlibtest::Hex(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(Text(bytes), expected);
    EXPECT_EQ(Text({}), "");
    for (std::size_t size : {0u, 1u, 7u, 8u, 9u, 17u, 4099u}) {
        const Bytes part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        std::string upper = expected.substr(0, 2 * size);
        for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(Decoded(expected.substr(0, 2 * size)), part) << size;
        EXPECT_EQ(Decoded(upper + "7"), part) << size;
    }
    EXPECT_EQ(Decoded("zz12 1g-+334"), (Bytes{0x00, 0x12, 0x12, 0x12, 0x12, 0x34}));
    EXPECT_EQ(Decoded("0102030405060708090a0bxx0d0e0f10"),
              (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 11, 13, 14, 15, 16}));
}

TEST(BinaryStringSerializer, ConvertTextToBinNeedsTheExactCount) {
    std::uint8_t out[3] = {0xee, 0xee, 0xee};
    EXPECT_FALSE(BinaryStringSerializer::ConvertTextToBin("0a0b", out, 3));
    EXPECT_FALSE(BinaryStringSerializer::ConvertTextToBin("0a0b", out, 0));
    EXPECT_FALSE(BinaryStringSerializer::ConvertTextToBin("", out, 0));
    EXPECT_EQ(out[0], 0xee);
    EXPECT_TRUE(BinaryStringSerializer::ConvertTextToBin("0A0b", out, 2));
    EXPECT_EQ(out[0], 0x0a);
    EXPECT_EQ(out[1], 0x0b);
    EXPECT_EQ(out[2], 0xee);
}

TEST(BinaryStringSerializer, ArchivesRoundTripThroughTextAndJson) {
    // More than the archive's 4096-byte buffer and the file's growth steps.
    const CString name(L"Kurs WIG20 \x0105\x0119");
    std::string text;
    boost::json::value document;
    {
        BinaryStringSerializer store;
        auto& ar = store.GetArchive();
        for (int i = 0; i < 1000; ++i) ar << i << static_cast<double>(i) / 4;
        ar << name;
        document = store.ToJson();  // GetString() as a JSON string
        text = document.as_string().c_str();
    }
    EXPECT_EQ(text.size(), 2u * (1000 * 12 + 3 + 1 + 2 * 13));
    const auto check = [&](BinaryStringSerializer& load) {
        EXPECT_TRUE(load.OpenOk());
        EXPECT_TRUE(load.GetArchive().IsLoading());
        // A loading serializer has no text to give and keeps its bytes.
        EXPECT_EQ(load.GetString(), "");
        auto& ar = load.GetArchive();
        for (int i = 0; i < 1000; ++i) {
            int n;
            double d;
            ar >> n >> d;
            ASSERT_EQ(n, i);
            ASSERT_EQ(d, i / 4.0);
        }
        CString back;
        ar >> back;
        EXPECT_EQ(back, name);
    };
    BinaryStringSerializer fromText(text);
    check(fromText);
    BinaryStringSerializer fromJson(document);
    check(fromJson);
}

TEST(BinaryStringSerializer, EmptyOrNonStringInput) {
    const auto check = [](BinaryStringSerializer& load) {
        EXPECT_FALSE(load.OpenOk());
        EXPECT_TRUE(load.IsValid());
        EXPECT_EQ(load.GetString(), "");
        int cause = -1;
        try {
            BYTE byte;
            load.GetArchive() >> byte;
        } catch (CArchiveException* e) {
            cause = e->m_cause;
            e->Delete();
        }
        EXPECT_EQ(cause, CArchiveException::endOfFile);
    };
    BinaryStringSerializer fromText{std::string()};
    check(fromText);
    BinaryStringSerializer fromJson{boost::json::value(boost::json::string())};
    check(fromJson);
    for (const boost::json::value& value :
         {boost::json::value(nullptr), boost::json::value(12), boost::json::value(boost::json::array{"00"})}) {
        EXPECT_THROW(BinaryStringSerializer{value}, std::invalid_argument);
    }
}

}  // namespace

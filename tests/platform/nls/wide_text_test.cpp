// UTF-8 decoded piece by piece, split anywhere, gives the units of the whole
// text decoded at once, ill-formed sequences included; the units handed over
// end with a NUL and fill exactly the size given.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/nls/CodePage.h"
#include "platform/nls/internal/WideText.h"

namespace {

std::wstring Whole(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    std::wstring out(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), size, out.data(), static_cast<int>(out.size()));
    return out;
}

std::wstring InPieces(const std::string& bytes, const std::vector<std::size_t>& cuts) {
    vplatform::WideText text;
    vplatform::Utf8PieceDecoder decoder;
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
        EXPECT_TRUE(decoder.Add(bytes.data() + at, cut - at, text));
        at = cut;
    }
    EXPECT_TRUE(decoder.Add(bytes.data() + at, bytes.size() - at, text));
    EXPECT_TRUE(decoder.Finish(text));
    std::size_t size = 0;
    const vplatform::MallocBytes units = text.Release(size);
    EXPECT_EQ(text.Size(), 0u);
    EXPECT_EQ(size % sizeof(wchar_t), 0u);
    const auto* data = reinterpret_cast<const wchar_t*>(units.get());
    const std::size_t count = size / sizeof(wchar_t) - 1;
    EXPECT_EQ(data[count], L'\0');
    return std::wstring(data, count);
}

TEST(Utf8PieceDecoder, EveryCutGivesTheUnitsOfTheWholeText) {
    // An empty text (a NUL alone), well-formed characters of each length, and
    // the ill-formed kinds: a stray continuation, cut sequences, overlong
    // forms, surrogates, code points beyond U+10FFFF, bytes that start nothing.
    const std::string samples[] = {
        "",
        "a\xc5\x82\xe2\x82\xac\xf0\x9f\x98\x80z",
        "\x80\xbf",
        "\xc5\xe2\x82 \xf0\x9f\x98 \xf0\x9f",
        "\xc0\x80\xc1\xbf\xe0\x80\x80\xf0\x80\x80\x80",
        "\xed\xa0\x80\xed\xbf\xbf",
        "\xf4\x90\x80\x80\xf5\x80\x80\x80",
        "\xf8\x88\x80\x80\x80\xff\xfe",
        "\xe2\x82\xac\x80\x80",
    };
    for (const auto& sample : samples) {
        const std::wstring expected = Whole(sample);
        for (std::size_t i = 0; i <= sample.size(); ++i) {
            EXPECT_EQ(InPieces(sample, {i}), expected) << "cut at " << i << " of " << sample.size();
            for (std::size_t j = i; j <= sample.size(); ++j) {
                EXPECT_EQ(InPieces(sample, {i, j}), expected) << "cut at " << i << " and " << j;
            }
        }
    }
}

TEST(Utf8PieceDecoder, RandomBytesInRandomPiecesGiveTheUnitsOfTheWholeText) {
    std::mt19937 random(2024);
    // Bytes drawn mostly from lead and continuation ranges, so that cut and
    // ill-formed sequences are frequent.
    const unsigned char alphabet[] = {'a',  ' ',  0x80, 0x9f, 0xa0, 0xbf, 0xc2, 0xc5, 0xdf,
                                      0xe0, 0xe2, 0xed, 0xef, 0xf0, 0xf4, 0xf5, 0xff};
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 200, '\0');
        for (char& byte : bytes) byte = static_cast<char>(alphabet[random() % sizeof alphabet]);
        std::vector<std::size_t> cuts;
        for (std::size_t at = random() % 5; at < bytes.size(); at += random() % 5) cuts.push_back(at);
        EXPECT_EQ(InPieces(bytes, cuts), Whole(bytes)) << round;
    }
}

}  // namespace

// Inflating zlib streams made by python3's zlib.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "encoding/ZipCompressor.h"
#include "tests/support/Peer.h"
#include "tests/support/TempDir.h"

namespace VTools {

// The tests' way to the stream variant.
struct ZipCompressorStreamAccess {
    static int Inflate(FILE* source, FILE* destination) { return ZipCompressor().Inflate(source, destination); }
};

}  // namespace VTools

namespace {

using VTools::ZipCompressor;

// Compresses each data with python3's zlib, in one run: the options are the
// arguments of zlib.compressobj.
std::vector<std::string> CompressAll(const std::vector<std::pair<std::string, std::string>>& jobs) {
    const auto length = [](std::size_t n) {
        std::string bytes(8, '\0');
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(n >> (8 * i));
        return bytes;
    };
    std::string request;
    for (const auto& [data, options] : jobs) request += length(options.size()) + options + length(data.size()) + data;
    const auto out = vlibtest::RunPeer({"python3", "-c", R"(
import sys, zlib
data, out, at = sys.stdin.buffer.read(), sys.stdout.buffer, 0
def take():
    global at
    n = int.from_bytes(data[at:at + 8], 'little'); at += 8
    at += n
    return data[at - n:at]
while at < len(data):
    options = take().decode()
    c = eval('zlib.compressobj(' + options + ')')
    z = c.compress(take()) + c.flush()
    out.write(len(z).to_bytes(8, 'little') + z)
)"},
                                       request);
    EXPECT_TRUE(out.has_value());
    std::vector<std::string> results;
    for (std::size_t at = 0; out && at + 8 <= out->size();) {
        std::size_t n = 0;
        for (int i = 7; i >= 0; --i) n = n << 8 | static_cast<unsigned char>((*out)[at + i]);
        results.push_back(out->substr(at + 8, n));
        at += 8 + n;
    }
    EXPECT_EQ(results.size(), jobs.size());
    results.resize(jobs.size());
    return results;
}

std::string Compress(const std::string& data, const std::string& options = "") {
    return CompressAll({{data, options}})[0];
}

std::string Random(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string TextLike(std::size_t size, unsigned seed) {
    static const char* words[] = {"kurs ", "WIG20 ", "akcje ", "obrót ", "1234,50 ", "sesja\n", "spółka ", "wolumen "};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size) text += words[random() % 8];
    text.resize(size);
    return text;
}

struct Result {
    bool ok;
    std::string output;
};

// Inflates `input` behind a prefix already in the output.
Result Inflate(const std::string& input, const std::string& prefix = "prefix") {
    std::vector<char> in(input.begin(), input.end()), out(prefix.begin(), prefix.end());
    const bool ok = ZipCompressor().Inflate(in, out);
    return {ok, std::string(out.begin(), out.end())};
}

TEST(Inflate, ExpandsStreamsOfEverySizeAroundTheWorkingUnit) {
    const std::size_t sizes[] = {0, 1, 16383, 16384, 16385, 32768, 65536 + 7, 3 << 20};
    std::vector<std::pair<std::string, std::string>> jobs;
    for (const std::size_t size : sizes) {
        jobs.emplace_back(Random(size, static_cast<unsigned>(size)), "");
        jobs.emplace_back(TextLike(size, 7), "");
    }
    jobs.emplace_back(std::string(6 << 20, 'x'), "9");  // a high ratio, many working units
    const auto streams = CompressAll(jobs);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(std::to_string(jobs[i].first.size()) + " bytes, job " + std::to_string(i));
        const auto result = Inflate(streams[i], "");
        EXPECT_TRUE(result.ok);
        EXPECT_TRUE(result.output == jobs[i].first);
    }
}

TEST(Inflate, RefusedInputLeavesTheOutputAsItWas) {
    const std::string data = TextLike(200000, 3);
    const auto streams =
        CompressAll({{data, ""}, {data, "wbits=31"}, {data, "wbits=-15"}, {data, "zdict=b'kurs WIG20 akcje'"}});
    std::string damaged = streams[0];
    damaged.back() ^= 0x01;  // the checksum: found after everything was expanded
    const std::string cases[] = {
        "",         "not a zlib stream", Random(1000, 9), damaged,
        streams[1],  // gzip
        streams[2],  // raw deflate
        streams[3],  // needs a preset dictionary
    };
    for (const auto& input : cases) {
        SCOPED_TRACE(input.substr(0, 8));
        const auto result = Inflate(input);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.output, "prefix");
    }
}

// The expansion is appended to what the output holds; data after the stream
// is ignored; a cut stream fails but keeps what it expanded.
TEST(Inflate, DataAfterTheStreamIsIgnoredAndACutStreamKeepsItsStart) {
    const std::string hello("\x78\x9c\xcb\x48\xcd\xc9\xc9\x07\x00\x06\x2c\x02\x15", 13);
    EXPECT_EQ(Compress("hello"), hello);  // the peer writes what zlib's deflate writes
    const std::string data = TextLike(100000, 5);
    const std::string stream = Compress(data);
    const struct {
        std::string input;
        bool ok;
        std::string output;
    } cases[] = {{hello, true, "prefixhello"},
                 {hello.substr(0, hello.size() - 4), false, "prefixhello"},
                 {stream + "trailing bytes" + stream, true, "prefix" + data}};
    for (const auto& c : cases) {
        const auto result = Inflate(c.input);
        EXPECT_EQ(result.ok, c.ok);
        EXPECT_TRUE(result.output == c.output) << c.input.size();
    }
    const auto cut = Inflate(stream.substr(0, stream.size() / 2), "");
    EXPECT_FALSE(cut.ok);
    EXPECT_GT(cut.output.size(), 16384u);
    EXPECT_TRUE(data.starts_with(cut.output));
}

TEST(Inflate, OneVectorAsInputAndOutputAppendsTheExpansion) {
    const std::string data = TextLike(300000, 11);
    const auto streams = CompressAll({{data, ""}, {"hello", ""}});
    const std::string cut = streams[0].substr(0, streams[0].size() / 2);
    const struct {
        std::string input;
        bool ok;
        std::string appended;
    } cases[] = {{streams[0], true, data},
                 {streams[1], true, "hello"},
                 {cut, false, data.substr(0, Inflate(cut, "").output.size())},
                 {"not a zlib stream", false, ""}};
    for (const auto& c : cases) {
        std::vector<char> both(c.input.begin(), c.input.end());
        EXPECT_EQ(ZipCompressor().Inflate(both, both), c.ok);
        EXPECT_TRUE(std::string(both.begin(), both.end()) == c.input + c.appended) << c.input.size();
    }
}

// The private FILE variant: zlib's status codes, what was expanded before a
// failure written, and -1 for a stream that cannot be read or written.
TEST(InflateStream, ReportsZlibStatusCodes) {
    const vlibtest::TempDir dir;
    const auto run = [&](const std::string& input, const char* inMode = "rb", const char* outMode = "wb") {
        FILE* source = std::fopen(dir.Write("in.z", input).c_str(), inMode);
        FILE* destination = std::fopen((dir.Path() / "out").c_str(), outMode);
        const int status = VTools::ZipCompressorStreamAccess::Inflate(source, destination);
        std::fclose(source);
        std::fclose(destination);
        return std::make_pair(status, vlibtest::TempDir::Read(dir.Path() / "out"));
    };
    const std::string data = Random(50000, 4) + TextLike(100000, 4);
    const auto streams = CompressAll({{data, ""}, {"", ""}, {data, "zdict=b'abc'"}, {data, "wbits=31"}});
    const std::string& stream = streams[0];
    EXPECT_EQ(run(stream), std::make_pair(0, data));
    EXPECT_EQ(run(stream + "trailing").first, 0);
    EXPECT_EQ(run(streams[1]), std::make_pair(0, std::string()));
    const auto cut = run(stream.substr(0, stream.size() - 10));
    EXPECT_EQ(cut.first, -3);
    EXPECT_TRUE(data.starts_with(cut.second));
    for (const std::string& bad : {std::string("not a zlib stream"), streams[2], streams[3]}) {
        EXPECT_EQ(run(bad).first, -3);
    }
    EXPECT_EQ(run(stream, "ab").first, -1);        // a source opened for writing cannot be read
    EXPECT_EQ(run(stream, "rb", "rb").first, -1);  // nor a read-only destination written
}

}  // namespace

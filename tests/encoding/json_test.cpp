// JSON files: reading across the 4096-byte chunks, saving through a
// temporary file.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <boost/json.hpp>

#include "encoding/Json.h"
#include "platform/kernel/Files.h"
#include "tests/support/SaveChecks.h"
#include "tests/support/Seam.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

namespace fs = std::filesystem;
using VTools::Json::JsonParser;
using VTools::Json::JsonSerializer;

class Json : public vlibtest::TempDirTest {
protected:
    std::wstring W(const std::string& name) const { return VTools::String::Utf8ToWide((m_dir.Path() / name).string()); }
    boost::json::value Read(const std::string& name) { return m_parser.FromFile(W(name)); }
    std::vector<std::string> Names() const { return vlibtest::Names(m_dir.Path()); }

    JsonParser m_parser;
    JsonSerializer m_serializer;
};

// A document of about `size` bytes of quote-like records.
boost::json::value Quotes(std::size_t size) {
    boost::json::array quotes;
    std::size_t written = 0;
    for (int i = 0; written < size; ++i) {
        boost::json::object quote;
        quote["symbol"] = "WIG20-" + std::to_string(i) + " \xC5\x81\xC3\xB3\x64\xC5\xBA \"q\"\n";
        quote["price"] = 1234.5 + i / 100.0;
        quote["volume"] = i * 1000;
        quote["open"] = i % 2 == 0;
        quote["note"] = nullptr;
        written += boost::json::serialize(quote).size();
        quotes.push_back(std::move(quote));
    }
    return quotes;
}

TEST_F(Json, LargeDocumentsCrossChunkBorders) {
    // The file holds the compact serializer's output exactly.
    const boost::json::value quotes = Quotes(300 * 1024);
    ASSERT_TRUE(m_serializer.Save(W("quotes.json"), quotes));
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "quotes.json"), boost::json::serialize(quotes));
    EXPECT_EQ(Read("quotes.json"), quotes);
    const boost::json::object wrapped{{"quotes", quotes}};  // many of the serializer's chunks
    EXPECT_EQ(m_serializer.SerializeToString(wrapped), boost::json::serialize(wrapped));

    // A string, an escape, a number and a two-byte character straddling the
    // first border, and a file of exactly two chunks (the last read is empty).
    for (std::size_t offset = 4080; offset < 4100; ++offset) {
        const std::string text =
            "[\"" + std::string(offset - 2, 'a') + "\\u0105\xC5\x82\\n\",12345.678,\"" + std::string(20, 'b') + "\"]";
        m_dir.Write("border.json", text);
        ASSERT_EQ(Read("border.json"), boost::json::parse(text)) << offset;
    }
    std::string exact = "\"" + std::string(8190, 'c') + "\"";
    m_dir.Write("exact.json", exact);
    EXPECT_EQ(Read("exact.json"), boost::json::value(std::string(8190, 'c').c_str()));
}

TEST_F(Json, UnreadableOrInvalidFilesReadAsNull) {
    const std::string deep32 = std::string(32, '[') + std::string(32, ']');
    const std::string deep33 = std::string(33, '[') + std::string(33, ']');
    m_dir.Write("deep32.json", deep32);
    EXPECT_TRUE(Read("deep32.json").is_array());
    // Carriage returns are white space.
    m_dir.Write("crlf.json", "{\r\n\"a\": 1\r\n}\r\n");
    EXPECT_EQ(Read("crlf.json"), boost::json::parse(R"({"a":1})"));

    for (const std::string& text :
         {std::string("[1,2,"), std::string("{\"a\":[1,2"), deep33, std::string("null"), std::string(""),
          std::string("[1,]"), std::string("// c\n1"), std::string("\"\xFF\""), std::string("1 2"),
          std::string("[") + std::string(5000, ' ') + "1"}) {
        m_dir.Write("bad.json", text);
        EXPECT_TRUE(Read("bad.json").is_null()) << text.substr(0, 40);
    }
    EXPECT_TRUE(Read("missing.json").is_null());
    EXPECT_TRUE(m_parser.FromFile(L"").is_null());
    fs::create_directory(m_dir.Path() / "folder");
    EXPECT_TRUE(Read("folder").is_null());
}

TEST_F(Json, ReadsAFileThatAnotherHandleIsWriting) {
    m_dir.Write("open.json", "[1]");
    const HANDLE writer = CreateFileW(W("open.json").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Read("open.json"), boost::json::parse("[1]"));
    CloseHandle(writer);
}

TEST_F(Json, SaveCreatesMissingFoldersAndRefusesAnEmptyPath) {
    ASSERT_TRUE(m_serializer.Save(W("new/sub\\q.json"), boost::json::parse("[true]")));
    EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "new" / "sub" / "q.json"), "[true]");

    EXPECT_FALSE(m_serializer.Save(L"", boost::json::value(1)));
    EXPECT_EQ(Names(), std::vector<std::string>{"new"});
    // A folder that cannot be created: a file holds its name.
    m_dir.Write("file", "x");
    EXPECT_FALSE(m_serializer.Save(W("file/q.json"), boost::json::value(1)));
}

long g_budget = 0;  // bytes the disk still takes

TEST_F(Json, AFailedSaveKeepsThePreviousFile) {
    const boost::json::value previous = boost::json::parse(R"({"kept":[1,2,3]})");
    ASSERT_TRUE(m_serializer.Save(W("state.json"), previous));
    const std::string before = vlibtest::TempDir::Read(m_dir.Path() / "state.json");
    const boost::json::value quotes = Quotes(64 * 1024);

    // The disk fills after `budget` bytes; with -1 everything is written but
    // never reaches the disk.
    for (const long budget : {0L, 10L, 5000L, 60000L, -1L}) {
        g_budget = budget;
        const vlibtest::SeamScope seam([](auto& s) {
            s.write = [](int fd, const void* data, size_t size) -> ssize_t {
                if (g_budget == 0) return errno = ENOSPC, -1;
                if (g_budget < 0) return vplatform::test::RealSyscalls().write(fd, data, size);
                const auto n = vplatform::test::RealSyscalls().write(fd, data, std::min<size_t>(size, g_budget));
                if (n > 0) g_budget -= n;
                return n;
            };
            s.fsync = [](int fd) {
                return g_budget < 0 ? (errno = ENOSPC, -1) : vplatform::test::RealSyscalls().fsync(fd);
            };
        });
        EXPECT_FALSE(m_serializer.Save(W("state.json"), quotes)) << budget;
        EXPECT_EQ(vlibtest::TempDir::Read(m_dir.Path() / "state.json"), before) << budget;
        EXPECT_EQ(Names(), std::vector<std::string>{"state.json"}) << budget;
    }
    EXPECT_EQ(Read("state.json"), previous);
}

TEST_F(Json, ASaveKeepsTheFileItReplaces) {
    const boost::json::value value = boost::json::parse(R"({"quotes":[1,2,3]})");
    vlibtest::ExpectSavesKeepTheFile(
        [&](const std::wstring& path) {
            JsonSerializer serializer;
            JsonParser parser;
            return serializer.Save(path, value) && parser.FromFile(path) == value;
        },
        "JSON");
}

}  // namespace

// JsonParser::FromFile on arbitrary file content, cross-checked with
// Boost.JSON's parse of the same bytes: both accept the same documents and
// give equal values.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <boost/json.hpp>
// Boost.JSON's sources compiled into the target (its definitions take the
// place of the shared library's), so that the parser is instrumented and the
// fuzzer sees its coverage.
#include <boost/json/src.hpp>

#include "encoding/Json.h"
#include "tests/support/TempDir.h"
#include "text/StringConversion.h"

namespace {

const std::filesystem::path& InputFile() {
    static const vlibtest::TempDir folder;
    static const std::filesystem::path file = folder.Path() / "input.json";
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(InputFile(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    static VTools::Json::JsonParser parser;
    static const std::wstring path = VTools::String::Utf8ToWide(InputFile().string());
    const boost::json::value ours = parser.FromFile(path);

    boost::system::error_code error;
    const boost::json::value theirs = boost::json::parse(bytes, error);
    if (!ours.is_null() && (error || ours != theirs)) std::abort();
    if (!error && !theirs.is_null() && ours != theirs) std::abort();
    return 0;
}

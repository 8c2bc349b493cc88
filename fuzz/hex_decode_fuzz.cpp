// Hex text decoding of the binary serializer on arbitrary text: the loading
// archive, ConvertTextToBin and a straightforward decoder agree, encoding the
// bytes gives printf's digits back, and a CString read from the decoded bytes
// either succeeds or throws an archive exception.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "encoding/BinaryStringSerializer.h"

namespace {

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The decoding rule, one pair at a time.
std::vector<std::uint8_t> Reference(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t previous = 0;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const int high = Digit(text[i]), low = Digit(text[i + 1]);
        if (high >= 0 && low >= 0) previous = static_cast<std::uint8_t>(high * 16 + low);
        bytes.push_back(previous);
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::uint8_t> expected = Reference(text);

    BinaryStringSerializer load(text);
    if (load.OpenOk() != !text.empty() || !load.IsValid()) std::abort();
    std::vector<std::uint8_t> read(expected.size() + 1);
    const UINT count = load.GetArchive().Read(read.data(), static_cast<UINT>(read.size()));
    read.resize(count);
    if (read != expected) std::abort();

    std::vector<std::uint8_t> converted(expected.size());
    const bool ok = BinaryStringSerializer::ConvertTextToBin(text, converted.data(), expected.size());
    if (ok != !expected.empty() || (ok && converted != expected)) std::abort();

    const std::string encoded = BinaryStringSerializer::ConvertBinToText(expected.data(), expected.size());
    std::string digits;
    for (const auto b : expected) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        digits += pair;
    }
    if (encoded != digits || Reference(encoded) != expected) std::abort();

    BinaryStringSerializer strings(text);
    try {
        CString value;
        strings.GetArchive() >> value >> value;
    } catch (CArchiveException* e) {
        e->Delete();
    }
    return 0;
}

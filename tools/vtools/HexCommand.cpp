// vtools hex: bytes to the serializer's hex text and back.
#include "Command.h"
#include "encoding/BinaryStringSerializer.h"

namespace vtools {
namespace {

int Hex(const std::vector<std::string>& args) {
    if (args.empty() || args.size() > 2 || (args[0] != "encode" && args[0] != "decode")) {
        throw UsageError("expected 'encode [FILE]' or 'decode [FILE]'");
    }
    std::string input = ReadInput(args.size() == 2 ? args[1] : std::string());
    if (args[0] == "encode") {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
        WriteOutput(BinaryStringSerializer::ConvertBinToText(bytes, input.size()) + "\n");
        return 0;
    }
    // Line ends and spaces after the text are not part of it.
    while (!input.empty() && (input.back() == '\n' || input.back() == '\r' || input.back() == ' ')) input.pop_back();
    std::string bytes(input.size() / BinaryStringSerializer::NumberSignsInByte, '\0');
    if (!bytes.empty()) {
        BinaryStringSerializer::ConvertTextToBin(input, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
    }
    WriteOutput(bytes);
    return 0;
}

const Registration registration{{
    "hex",
    "turn bytes into hex text and back",
    "usage: vtools hex encode [FILE]\n"
    "       vtools hex decode [FILE]\n\n"
    "encode writes two lowercase hex digits per byte of FILE (or standard input)\n"
    "and a line end.  decode writes the bytes of the hex text, read in pairs as\n"
    "the library's serializer reads it: line ends after the text are dropped, a\n"
    "last odd character is ignored, and a pair that is not two hex digits\n"
    "repeats the byte before it.\n",
    Hex,
}};

}  // namespace
}  // namespace vtools

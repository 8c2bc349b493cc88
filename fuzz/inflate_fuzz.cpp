// Feeds arbitrary bytes to ZipCompressor::Inflate and checks it against
// zlib's own uncompress: a complete stream expands to the same bytes, what
// uncompress accepts Inflate accepts too, and the output's earlier content
// and the input are never touched.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "encoding/ZipCompressor.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr unsigned long kLimit = 1 << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> input(data, data + size);
    const std::vector<char> prefix = {'p', 'r', 'e'};
    std::vector<char> output = prefix;
    const bool complete = VTools::ZipCompressor().Inflate(input, output);
    Check(std::equal(prefix.begin(), prefix.end(), output.begin()));
    Check(input == std::vector<char>(data, data + size));

    static std::vector<unsigned char> peer(kLimit);
    unsigned long length = kLimit;
    const int status = uncompress(peer.data(), &length, data, size);
    if (complete) {
        Check(status == 0 || output.size() - prefix.size() > kLimit);
        if (status == 0) {
            Check(length == output.size() - prefix.size());
            Check(std::memcmp(peer.data(), output.data() + prefix.size(), length) == 0);
        }
    } else if (size > 0) {
        Check(status != 0);
    }
    return 0;
}

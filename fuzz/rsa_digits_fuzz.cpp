// Feeds arbitrary text to RsaWrapper::DecryptFromHash with a fixed 1024-bit
// key pair: whatever the digits, the call returns (an empty or a decrypted
// text) and never crashes.  Inputs starting with 'E' also encrypt the rest and
// check that the digit text decrypts back to it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "encoding/Rsa.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// A key pair made for this target only (openssl genrsa 1024).
constexpr const char* kPublicKey =
    "MIGfMA0GCSqGSIb3DQEBAQUAA4GNADCBiQKBgQDjusldVwqHLWGek+iMF/uDXpGDSP8AYwe7jiQ/vD3OuRn8YjUCfC7L6VtLLnnU+UxosBbTvkuQ"
    "epMBk9QX1xPXCJAzK3l67dLIQGGrTxzW2cV+GbEgIdkOfd0MsNYoFUFiAT8p17aKRQcD6z/h4az62pmWVTSc9ch7zR2yx8RxdwIDAQAB";
constexpr const char* kPrivateKey =
    "MIICXQIBAAKBgQDjusldVwqHLWGek+iMF/uDXpGDSP8AYwe7jiQ/vD3OuRn8YjUCfC7L6VtLLnnU\n"
    "+UxosBbTvkuQepMBk9QX1xPXCJAzK3l67dLIQGGrTxzW2cV+GbEgIdkOfd0MsNYoFUFiAT8p17aK\n"
    "RQcD6z/h4az62pmWVTSc9ch7zR2yx8RxdwIDAQABAoGBANHWd12OqqDMbDsWxxzvrE3sgeCbDn1o\n"
    "wuNLopMn/TvSy+MHCxlzHBvAtuKbvJ9F5+Y++4m4uyAyEetOMAyXniq1I813o1J6zvlzUHNUXaPn\n"
    "MU2jLbSF+TTZVzTaVFuNEy3AB9kaPd3IeqS3WozvTpujSOWDXcweaZCJ2LulryDBAkEA9pZvNVeJ\n"
    "sfG0p1YruaRb6H1D27AkrNw9N3Skx97nsrhqlPfKnADC2VS+3gLNT82oEudFLDUuvNuerWWsZgmU\n"
    "HwJBAOxsFB6fYZ2uW2asrjZSGvqwK6PiZKAvy5VpCnzCDKSa3HKdK3ALNVN63bljqAUl5yVZDUwN\n"
    "A+sAKlCRDSeBN6kCQQDVxyvYkfC1TXgyDrnPstdfYqIe5sGU/0cvObfV88Dpp4n3Zi/IObyzUA49\n"
    "SS6X/hK1eLz2i5DeeIRDjb79o1Y/AkArS/e7S/DykZXHjeQxqoOqWU0ErFdFRrt/10bGZjsugfXR\n"
    "P5tO356adSvZ4bhJiRF1s4NN5CxNgzA8pPPFwlJRAkBWcqWHPfj1P7V6g0Bq3G/QYGjrHmU5LuF/\n"
    "Cp4H1+1NffdWgMjXFeH2z+mgrCV34+Oqw7UdT51lBo7rnCMp2uC1\n";

std::vector<std::byte> Bytes(const char* text) {
    const std::string s = text;
    const auto* bytes = reinterpret_cast<const std::byte*>(s.data());
    return {bytes, bytes + s.size()};
}

const VTools::Encryption::Rsa::RsaWrapper& Wrapper() {
    static const VTools::Encryption::Rsa::RsaWrapper wrapper(Bytes(kPublicKey), Bytes(kPrivateKey));
    return wrapper;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string plaintext = Wrapper().DecryptFromHash(text);
    // Every decrypted block holds at most 117 bytes.
    Check(plaintext.size() <= (size / 3 + 1) / 128 * 117 + 117);
    if (size > 1 && text[0] == 'E' && size <= 600) {
        const std::string rest = text.substr(1);
        const std::string digits = Wrapper().EncryptAndHash(rest);
        Check(digits.size() == (rest.size() + 116) / 117 * 384);
        Check(Wrapper().DecryptFromHash(digits) == rest);
    }
    return 0;
}

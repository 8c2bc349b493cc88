#include "encoding/Sha.h"

#include <cryptopp/sha.h>

namespace VTools::Encryption::Sha {
namespace {

template <class Hash>
std::vector<unsigned char> Digest(gsl::span<const std::byte> data) {
    Hash hash;
    hash.Update(reinterpret_cast<const CryptoPP::byte*>(data.data()), data.size());
    std::vector<unsigned char> digest(Hash::DIGESTSIZE);
    hash.Final(digest.data());
    return digest;
}

}  // namespace

std::vector<unsigned char> EncryptionProvider::EncryptSHA1(gsl::span<const std::byte> data) {
    return Digest<CryptoPP::SHA1>(data);
}

std::vector<unsigned char> EncryptionProvider::EncryptSHA256(gsl::span<const std::byte> data) {
    return Digest<CryptoPP::SHA256>(data);
}

}  // namespace VTools::Encryption::Sha

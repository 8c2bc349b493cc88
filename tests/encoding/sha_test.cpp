// SHA-1 and SHA-256 digests against the standard test vectors.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "encoding/Sha.h"
#include "tests/support/Peer.h"

namespace {

using VTools::Encryption::Sha::EncryptionProvider;

std::string Hex(const std::vector<unsigned char>& digest) {
    return vlibtest::Hex(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

gsl::span<const std::byte> Bytes(const std::string& text) {
    return gsl::as_bytes(gsl::span<const char>(text.data(), text.size()));
}

TEST(Sha, DigestsMatchTheStandardTestVectors) {
    struct Vector {
        std::string message;
        const char* sha1;
        const char* sha256;
    };
    const Vector vectors[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "a49b2446a02c645bf419f995b67091253a04a259",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.message.substr(0, 16));
        const auto sha1 = EncryptionProvider::EncryptSHA1(Bytes(vector.message));
        const auto sha256 = EncryptionProvider::EncryptSHA256(Bytes(vector.message));
        EXPECT_EQ(Hex(sha1), vector.sha1);
        EXPECT_EQ(Hex(sha256), vector.sha256);
    }
    EXPECT_EQ(Hex(EncryptionProvider::EncryptSHA256({})), vectors[1].sha256);
}

}  // namespace
